// Small classes that the window parts and the session engine share.
//
// QORBUTTON, the owner-drawn button of the status line, the user bar and
// the tab bar; TOOLTIPS, help tags; TIMER, a session's online timer;
// AUTOLEARN, the learn-mode recorder; REMEMBERBUFFER(WIDE), sliding
// histories of characters; RECENTFILES, most-recently-used lists.
//
// TRANSCRLF: the CR/LF translator of sent, received, pasted and printed
// text. It remembers the previous character, so that the two characters of
// a line end that is already complete (CR LF, LF CR) become one line end of
// the wanted form and are not doubled.
#pragma once

#include "velmot/core/stringarray.h"
#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winchild.h"
#include "velmot/gui/winicons.h"

#include <cstdint>
#include <vector>

class TRANSCRLF {
public:
    // Line-end modes.
    static constexpr int KEEP = 0;   // CR and LF pass unchanged
    static constexpr int TOCRLF = 1; // each line end (CR, LF, CR LF, LF CR) becomes CR LF
    static constexpr int TOCR = 2;   // each line end becomes CR
    static constexpr int TOLF = 3;   // each line end becomes LF
    static constexpr int BINARY = 4; // unchanged; the callers' own variant

    explicit TRANSCRLF(int mode) : Mode(mode) {}

    // The translated form of ch into out (room for 2); the number of
    // characters written (0, 1 or 2). A mode of -1 takes the object's own.
    int Translate(char ch, char* out, int mode);
    int Translate(wchar_t ch, wchar_t* out, int mode);
    // The same packed into an int: first << 8 | second for two characters,
    // the character for one, 0 for none.
    int Translate(char ch, int mode);
    int DoTranslate(wchar_t ch, wchar_t* out, int mode);
    // A character other than CR and LF in the own mode: no output, only the
    // state (DoTranslate's answer for it, without the call).
    void Pass(wchar_t ch) { Previous = ch; }

    void SetMode(int mode) { Mode = mode; }
    int GetMode() const { return Mode; }

private:
    // Modes 2 and 3: line ends become target alone.
    int Single(wchar_t ch, wchar_t target, wchar_t other, wchar_t* out);

    int32_t Previous = 0;
    int32_t Mode;
};

class COREFONT;
class MENU;
class SESSION;

// QORBUTTON: a flat button with a text, an optional 16 x 16 picture and a
// rounded highlight while the mouse is over it or presses it. A click
// reaches the parent as the push button of its id. Main thread.
class QORBUTTON : public CHILDWINDOW {
public:
    static constexpr int ALIGN_CENTER = 4;
    static constexpr int TYPE_DISPLAYONLY = 3;

    QORBUTTON(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy);
    ~QORBUTTON() override;

    int OnPaint() override;
    bool OnMouseEvent(int message, int x, int y, int flags) override;

    virtual CONTROLID GetButtonId() const { return Id; }
    virtual STRING GetText() const;
    virtual WSTRING GetTextWide() const { return Text; }
    virtual void SetText(char const* text);
    virtual void SetTextWide(wchar_t const* text);
    virtual void SetTextAlign(int align) { Align = static_cast<uint16_t>(align); }
    virtual void SetDisabled(signed char disabled);
    virtual void SetType(int type) { Type = type; }
    virtual void SetImage(int id);

    // The owning bar's background (0: none).
    void SetBackground(COLORREF top, COLORREF bottom)
    {
        BackTop = top;
        BackBottom = bottom;
    }
    int HotState() const { return Hot; }

private:
    bool ReactsToMouse() const;
    void SetHot(int state);

    COREFONT* Font = nullptr;
    ICON Picture;
    int LoadedPicture = 0;
    CONTROLID Id;
    WSTRING Text;
    int PictureId = 0;
    uint16_t Align = ALIGN_CENTER;
    int32_t Type = 0;
    int32_t Hot = 0; // 0 normal, 1 mouse over, -1 pressed
    bool Pressed = false;
    bool Disabled = false;
    COLORREF BackTop = 0;
    COLORREF BackBottom = 0;
};

// TOOLTIPS: the help tags of the controls of one parent view.
class TOOLTIPS {
public:
    explicit TOOLTIPS(CONTROLPARENT parent) : Parent(parent) {}
    void SetTooltipWide(CONTROL const& control, wchar_t const* text);
    void SetTooltip(CONTROL const& control, char const* text);
    void DeleteTooltip(CONTROL const& control) { SetTooltipWide(control, L""); }

private:
    CONTROLPARENT Parent;
};

// TIMER: how long a session has been online; time stopped is left out.
class TIMER {
public:
    explicit TIMER(SESSION& session) : Session(&session) {}
    // A timer of no session.
    TIMER() = default;
    void Reset();
    void Run(int on);
    // "h:m:s" with 0 <= m, s <= 59; 0 (timer unchanged) for any other text.
    int Set(char const* text);
    // The running flag; the elapsed hours (not wrapped), minutes, seconds.
    int Query(int* h, int* m, int* s);
    long long QueryTime();
    bool IsRunning() const { return Running; }

    // The clock (milliseconds); tests replace it.
    static long long (*Now)();

private:
    SESSION* Session = nullptr;
    long long Start = 0;
    long long Stop = 0;
    bool Running = false;
};

// AUTOLEARN: the record of the learn mode: each received character and each
// typed key, three bytes a record (character, key, separator 1).
class AUTOLEARN {
public:
    explicit AUTOLEARN(SESSION& session) : Session(&session) {}
    // A record of no session.
    AUTOLEARN() = default;
    void SetActive(int on);
    void AddData(char received, wchar_t key);
    bool IsActive() const { return Active; }
    STRING const& Data() const { return Record; }
    int ReadPosition = 0;

private:
    SESSION* Session = nullptr;
    bool Active = false;
    STRING Record;
};

// REMEMBERBUFFER: the last characters received or typed, as a
// zero-terminated text of at most size + chunk characters; when it is full
// the oldest chunk goes.
class REMEMBERBUFFER {
public:
    REMEMBERBUFFER(int size, int chunk);
    virtual ~REMEMBERBUFFER() = default;
    int AddValue(int value);
    char const* Text() const { return Buffer.data(); }
    int Position() const { return Fill; }

private:
    std::vector<char> Buffer;
    int Size;
    int Chunk;
    int Fill = 0;
};

class REMEMBERBUFFERWIDE {
public:
    REMEMBERBUFFERWIDE(int size, int chunk);
    virtual ~REMEMBERBUFFERWIDE() = default;
    int AddValueWide(wchar_t value);
    wchar_t const* Text() const { return Buffer.data(); }
    int Position() const { return Fill; }

private:
    std::vector<wchar_t> Buffer;
    int Size;
    int Chunk;
    int Fill = 0;
};

// RECENTFILES: a most-recently-used list kept in the registry store under
// "Software\Tarvo\<app key>\Recent<suffix>", values "<prefix>00" onward.
class RECENTFILES : public STRINGARRAY {
public:
    RECENTFILES(char const* keySuffix, char const* valuePrefix, int count);
    ~RECENTFILES() override;
    RECENTFILES(RECENTFILES const&) = delete;
    RECENTFILES& operator=(RECENTFILES const&) = delete;

    void Add(char const* name);
    int Load();
    int Save();
    STRING Keyname(int i) const;
    void SetMenuClip(char const* prefix, int maxLength, signed char cutEnd);
    void SetSeparator(bool on) { Separator = on; }
    // Puts the entries into the menu at position (0: the menu is emptied
    // first; else the previous entries idBase.. are replaced).
    int MakeMenu(MENU& menu, int idBase, char const* unused, int position);
    // The text an entry shows in the menu.
    STRING MenuText(int i) const;

private:
    STRING KeySuffix;
    STRING ValuePrefix;
    int Max;
    STRING ClipPrefix;
    int MaxShown = 25;
    bool CutEnd = true;
    bool Separator = false;
};
