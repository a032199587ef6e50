// Help books: a folder of HTML pages among the resources, registered under
// the book's title, whose pages are found by their anchors and shown in the
// desktop's browser.
//
// An anchor is the value of a name="..." or id="..." attribute in a page
// (the topic identifiers of the program, "CONTENT" for the contents). A
// book is indexed when it is registered: every *.html file directly in its
// folder, in name order; an anchor found in two pages belongs to the first.
// Anchors are looked up without regard to case and come back as the page
// writes them, since browsers match fragments exactly.
//
// Main thread or any one thread at a time.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Indexes the book in `folder` under `title`, in place of a book registered
// before under the same title. False when the folder holds no page.
bool RegisterHelpBook(std::string const& title, std::string const& folder);

// The address of the page that holds `anchor` in the book registered under
// `title`: "file://" with the page's path (percent-encoded) and
// "#<anchor>". Empty when there is no such book or anchor.
std::string HelpAnchorUrl(std::string const& title, std::string_view anchor);

// "file://" and the absolute path, its bytes outside the unreserved
// characters and "/" percent-encoded.
std::string FileUrl(std::string_view path);

} // namespace plat
