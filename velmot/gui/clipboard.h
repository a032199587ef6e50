// CLIPBOARD: the process-wide access to the desktop's clipboard for plain
// text (platform/pasteboard/pasteboard.h): whether text is there, reading
// it as a wide string or as bytes in a code page, and writing it in place
// of the clipboard's content or appended to its text.
//
// Text travels in two flavours, UTF-8 and UTF-16. Reading takes from each
// item of the clipboard its UTF-16 text when it has one, else its first
// UTF-8 text, and joins the texts of several items in item order. Writing
// puts one item with both flavours. A clipboard without text (or that
// cannot be read) reads as nothing.
//
// Main thread only; the singleton is released at the program's end
// (TARVOAPP::Cleanup).
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/core/vtypes.h"

class VELMOT_EXPORT CLIPBOARD {
public:
    static CLIPBOARD* GetInstance();
    static void ReleaseInstance();
    virtual ~CLIPBOARD();
    CLIPBOARD(CLIPBOARD const&) = delete;
    CLIPBOARD& operator=(CLIPBOARD const&) = delete;

    bool IsTextAvailable() const;
    // The clipboard's text; empty when there is none.
    WSTRING ReadText() const;
    STRING ReadText(UNICODE_CODEPAGE codepage) const;
    // Writes the first `length` characters (-1: up to the terminator);
    // with `append` after the clipboard's text and a CR LF (the line end
    // only when there is text). True when a flavour was written. The wide
    // form does not use `codepage`; the byte form reads its bytes in it.
    bool WriteText(wchar_t const* text, int length, UNICODE_CODEPAGE codepage, bool append) const;
    bool WriteText(char const* text, int length, UNICODE_CODEPAGE codepage, bool append) const;
    // Appends the text of every item to `out` (null: only tests whether
    // there is any); true when text was found.
    bool GetUnicodeTextItem(WSTRING* out) const;

    static CLIPBOARD* pInstance;

private:
    CLIPBOARD();
};
