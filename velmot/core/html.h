// HTML to plain text in code page 1252.
//
// HTML is a lenient scanner, not a parser: it works character by character,
// knows only a handful of tags, replaces a fixed set of character entities,
// removes comments and tags (collecting the tags for the caller), reads an
// attribute of a tag, folds white space and dumps the tables of a page row by
// row. Every operation builds its result in a new buffer, so all bytes of the
// input (0xFF, a "y" with diaeresis in 1252, included) survive unless a rule
// removes them.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

class STRINGARRAY;
class WSTRING;

class VELMOT_EXPORT HTML {
public:
    // Replaces the umlauts, sharp s, non-breaking space, "&amp;", "&gt;",
    // "&lt;" and "&quot;" in one pass: a replaced text is never read again,
    // so "&amp;lt;" becomes "&lt;". Other entities stay as they are.
    static void ReplaceSpecialCharacters(STRING& text);
    // Each tag becomes `replacement` (0 or 0xFF: nothing); a ">" outside a
    // tag is removed; then ReplaceSpecialCharacters.
    static void KillTags(STRING& text, char replacement);
    // The text without its comments ("<!--" to the next "-->"). The rest of
    // a text after a comment that is never closed is dropped.
    static STRING UnComment(char const* html);
    static WSTRING UnComment(wchar_t const* html);
    // `text` receives everything outside tags, `tags` gets every tag.
    static void UnTag(char const* html, STRING& text, STRINGARRAY& tags);
    // The value of an attribute; empty when the tag does not have it.
    static STRING GetTagOption(char const* tag, char const* option);
    static void Unspace(STRING& text);
    // The readable text of a page, broken into lines of about 76 characters;
    // with `images` set, images appear as "[image=...]".
    static void HtmlToText(char const* html, STRING& text, STRINGARRAY& tags, bool images);
    // Every table of the page, innermost first, one line per row.
    static STRING PureTables(STRING const& html);
};
