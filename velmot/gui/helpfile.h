// HELPFILE: the program's help, a book of HTML pages among the resources
// (folder "Help", or the information value "CFBundleHelpBookFolder", looked
// up like every resource: at the top, then in the language's folder, then
// in the English one) shown in the desktop's browser through the starting
// of documents (OSYS::ShowUrl).
//
// A topic is an identifier text ("HLP_MAIN", a dialog's layout name). The
// book declares its topics in a topic file beside the pages (the help file
// name with its last three characters made "ics", else "cnt"): each line
// gives the text after its first "=" (the whole line without one) up to
// the first blank. A topic is shown when it is declared; the page that
// holds the anchor of that name opens at it. Aliases map one identifier to
// another (at most 128, compared without regard to case). The book's title
// is read from its main page ("topic-ID_MAINWINDOW.html", else
// "topic-HLP_MAINWIN.html"): <meta name="AppleTitle" content="...">.
//
// Windows and controls carry their topic in the property 'HLPI' (windows:
// the layout name they were made from).
//
// Main thread only; the singleton is released at the program's end.
#pragma once

#include "velmot/core/stringarray.h"
#include "velmot/core/strings.h"
#include "velmot/gui/wincontrols.h"

class VELMOT_EXPORT HELPFILE {
public:
    struct _MAPPING {
        STRING From;
        STRING To;
    };
    static constexpr int MAXMAPPINGS = 128;

    static HELPFILE* GetInstance();
    static void ReleaseInstance();
    ~HELPFILE();
    HELPFILE(HELPFILE const&) = delete;
    HELPFILE& operator=(HELPFILE const&) = delete;

    // True once a help file name is set.
    bool IsValid() const;
    // Sets the help file, registers the book and reads the topic file.
    void SetFilename(char const* name, bool html);
    void SetMainTopic(char const* topic);
    // Adds an alias, or changes the target of an existing one.
    void AddMapping(char const* from, char const* to);
    // 1 when the browser was asked to show the topic, 0 when the topic is
    // not declared.
    int Display(char const* topic);
    // Shows the topic of the view or of one of its enclosing views, up to
    // the window's client view (whose topic is the window's); true when one
    // was shown.
    bool Display(CONTROLPARENT parent);
    // Shows the contents ("CONTENT"); 1 when the browser was asked.
    int Contents(bool unused = true);

    bool IsHtml = false;
    uintptr_t Reserved[3] = {};
    STRINGARRAY Topics;
    STRING Filename;
    STRING Reserved2;
    STRING MainTopic;
    STRING BookTitle;
    _MAPPING Mappings[MAXMAPPINGS];
    int32_t NumMappings = 0;

    static HELPFILE* pInstance;

private:
    HELPFILE();
    // Opens the page holding the anchor; false when the book has none.
    bool ShowAnchor(char const* anchor);

    STRING fFolder; // the book's folder, once registered
};
