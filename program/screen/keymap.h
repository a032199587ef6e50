// KEYMAPPER: a session's key map and its keyboard dispatcher.
//
// The key map is a table of 256 key definitions (KEYDEF): a key, named by
// its PC scan code and/or its Windows-style virtual-key code, the modifier
// and lock states it must be typed with, and the text that the session
// executes instead of the key (text to type, or one of the session's
// command prefixes such as "^EVENT="). The table is read from and written
// to key map files (".qky"), text files of one entry a line:
//
//   QOR6.44 // KEYBOARD
//   // each entry: scancode(hex)|flags(hex)|void|void|future|future|remap-string
//   // flags: UTF8(256), Cmd(128), Ignore-Scroll(64), Alt(32), Ctrl(16), Shift(8), Ignore-Num(4),<blank>
//   //        Scroll(2), Num(1) (one bit each, e.g flag for Ctrl+Shift = 16+8 = 24 = flag 18(hex))
//   2E|5C|-1|-1|0|0|^EVENT=8352
//
// The text of a line is Windows-1252 unless its flags carry 256 (UTF-8).
// A key event finds the first entry (in table order) whose key matches and
// whose modifiers agree (ProcessKeymap).
//
// ProcessChar is the session's keyboard dispatcher: every key event of the
// terminal goes through it, and it decides in a fixed order who gets the
// key: a script waiting for a key, the cancelling of a connection, the key
// map, door-mode keys, the user's function keys, the device, the
// emulation, the scroll-back and tab keys, and finally its own translation
// of the key into characters typed into the session (keymapdispatch.cpp).
//
// The key mapper also keeps the list of the main window's menu shortcuts
// and switches off those whose keys the key map takes, so that they reach
// the terminal (UpdateMainMenuShortcuts).
//
// Main thread only.
#pragma once

#include "velmot/core/osysfile.h"
#include "velmot/gui/winkeys.h"

#include <cstddef>
#include <cstdint>
#include <string>

class MENU;
struct PROGRAMSETTINGSDATA;
struct SESSIONPROFILEDATA;

// What the key mapper asks of its session, the main window and the
// program. The session implements it; the defaults stand for a key mapper
// on its own (tests, tools): default settings, no key held, no lock on,
// nobody takes a key and nothing is typed.
class KEYMAPHOST {
public:
    virtual ~KEYMAPHOST() = default;

    // ---- Settings ----
    // The session's profile and the program settings; null: defaults.
    virtual SESSIONPROFILEDATA const* Profile() { return nullptr; }
    virtual PROGRAMSETTINGSDATA const* Settings() { return nullptr; }
    // Whether the program was started with a switch ("XCAPSLOCK").
    virtual bool TestArg(char const* name) { return false; }
    // The key-map folder the main window keeps (empty: the options
    // folder) and the work folder the folders are relative to.
    virtual std::string KeymapsFolderSetting() { return std::string(); }
    virtual std::string WorkFolder() { return std::string(); }

    // ---- The keyboard ----
    // Whether Shift (16) is held now, Num Lock (144) or Scroll Lock (145)
    // is on.
    virtual bool KeyState(int vk) { return false; }

    // ---- Who may take a key (each answers non-zero when it took it) ----
    // A running script waiting for a key.
    virtual int ScriptProcessKey(KEYBOARDEVENT const& event) { return 0; }
    // Escape or Cancel: a paced text being sent, then a connection attempt.
    virtual int OnEscape() { return 0; }
    virtual int OnEscapeDial() { return 0; }
    // The communication device, then the emulation.
    virtual int CommProcessKey(KEYBOARDEVENT const& event) { return 0; }
    virtual int EmulationProcessKey(KEYBOARDEVENT const& event) { return 0; }
    // The main window's tab bar (the setting DoTabsKeyShortcuts asks it).
    virtual int TabsProcessKey(KEYBOARDEVENT const& event) { return 0; }
    // The main window's switch that leaves Shift+Page Up and Shift+Up to
    // the host instead of the scroll-back.
    virtual bool ScrollbackKeysOff() { return false; }

    // ---- What keys do ----
    // Executes a key map text (text to type or a command prefix).
    virtual int DoStringWide(wchar_t const* text) { return 0; }
    // Types one character into the session's key road; raw: the low byte
    // as it is, without the session's code-page conversion.
    virtual void FeedKey(wchar_t key, bool raw) {}
    // Session events, run now or queued; main-window events likewise.
    virtual int ProcessEvent(int event, int arg) { return 0; }
    virtual int PostEvent(int event, int arg) { return 0; }
    virtual int ProcessMainEvent(int event, int arg) { return 0; }
    virtual int PostMainEvent(int event, int arg) { return 0; }
    // Dials the host-directory entry with this hot key (1-12).
    virtual int DialByHotkey(int number, int flag) { return 0; }
    virtual bool IsTextMarked() { return false; }
    // Cancel: waits so that the host's answer to the typed ^C arrives,
    // then drops all but the newest `keep` characters received.
    virtual void Wait(int ms) {}
    virtual void FlushInputBuffer(int keep) {}
    // The Pause key holds received data back (the session's pause state).
    virtual bool IsPaused() { return false; }
    virtual void SetPaused(bool on) {}
    // A short text in the session's notification (time as the session's
    // Notify takes it).
    virtual void Notify(char const* text, int time) {}
    // Writes a trace text onto the terminal screen (log category 16).
    virtual void EmulationPuts(char const* text) {}

    // ---- The main window ----
    // The main window's menu bar; null while there is none.
    virtual MENU* MenuBar() { return nullptr; }
    // Reports a file that could not be read or written (errno is set).
    virtual void FileError(char const* path) {}
};

class KEYMAPPER {
public:
    // One key map entry. The key map editor edits the table in place.
    struct KEYDEF {
        uint32_t Keycode;  // bits 0-7 PC scan code, bits 8-15 virtual-key code; 0: unused entry
        uint32_t Flags;    // FLAG_* bits
        wchar_t Remap[196]; // the text to execute, zero-terminated
        uint8_t Reserved[40];
    };

    // KEYDEF::Flags. A modifier bit set means "must be held", clear "must
    // not be held"; the lock bits likewise, unless their Ignore bit is set.
    static constexpr uint32_t FLAG_NUM = 1;
    static constexpr uint32_t FLAG_SCROLL = 2;
    static constexpr uint32_t FLAG_IGNORENUM = 4;
    static constexpr uint32_t FLAG_SHIFT = 8;
    static constexpr uint32_t FLAG_CTRL = 16;
    static constexpr uint32_t FLAG_ALT = 32;
    static constexpr uint32_t FLAG_IGNORESCROLL = 64;
    static constexpr uint32_t FLAG_CMD = 128;
    // In files only: the line's text is UTF-8.
    static constexpr uint32_t FLAG_UTF8 = 256;

    // One shortcut of the main window's menu bar.
    struct MENUSHORTCUT {
        uint32_t Command;   // the item's command id
        uint32_t Key;       // a character, or a virtual-key code with Virtual
        uint32_t Scancode;  // the scan code of a virtual key, 0 for a character
        uint32_t Virtual;   // 0 or 1
        uint32_t Modifiers; // MENUMOD_* bits (1 Shift, 2 Control, 4 Alt, 8 Command)
    };

    static constexpr int NUMKEYDEFS = 256;
    static constexpr int MAXREMAP = 195;
    static constexpr int MAXSHORTCUTS = 96;
    static char const* const DEFAULTFILE; // "Standard.qky"

    explicit KEYMAPPER(KEYMAPHOST& host);
    ~KEYMAPPER();
    KEYMAPPER(KEYMAPPER const&) = delete;
    KEYMAPPER& operator=(KEYMAPPER const&) = delete;

    // ---- The map and its files (keymap.cpp) ----
    // The folder of the key map files: the main window's key-map folder,
    // else the options folder, absolute against the work folder.
    FILENAME GetKeymapsFolder();
    // Loads a file of the key-map folder (null: "Standard.qky"). A missing
    // "Standard.qky" empties the map silently; any other file that cannot
    // be read is reported and the map stays as it was. Ends with
    // UpdateMainMenuShortcuts.
    void Load(char const* name);
    // Sorts the table and writes it (null or empty: the current file, or
    // "Standard.qky"). A failed write is reported.
    void Save(char const* name);
    // The table from a file's text (what Load does once the file is read);
    // the number of entries read. Lines that do not parse are skipped and
    // logged (without their text, which may hold a password).
    int ReadText(char const* data, size_t size);
    // Sorts the table and gives the file's text.
    std::string WriteText();
    // Sorts the table: unused entries last, the others by key, then flags.
    void Sort();
    // Empties the table.
    void Clear();
    // The path of the file last loaded or saved (empty: none).
    FILENAME const& FileName() const { return File; }

    // 1 when an entry matches the event (with execute, its text has been
    // executed), else 0.
    int ProcessKeymap(int execute, KEYBOARDEVENT const& event);

    // ---- The dispatcher (keymapdispatch.cpp) ----
    // 1: typed or swallowed here; 0: a handler took the key; -1: nobody
    // took it, the window system may use it.
    int ProcessChar(KEYBOARDEVENT const& event);
    // Door-key mode (Scroll Lock on, profile "ScrlLock" 2): 1 when taken.
    int ProcessDoorKey(KEYBOARDEVENT const& event);
    // The menu shortcut list, built once from the main window's menu bar.
    void InitAccel();
    void BuildShortcutList(MENU& menu, int level);
    // Switches off the shortcuts whose keys the key map takes and on again
    // the others.
    void UpdateMainMenuShortcuts();

    // The table, public for the key map editor, which edits it in place.
    KEYDEF Table[NUMKEYDEFS];
    MENUSHORTCUT MenuShortcuts[MAXSHORTCUTS];
    int NumMenuShortcuts = 0;

private:
    // The event's modifiers in the table's bit numbering (with the locks).
    uint32_t EventModifiers(KEYBOARDEVENT const& event);
    // The index of the first matching entry, or -1.
    int FindEntry(KEYBOARDEVENT const& event, uint32_t modifiers) const;
    // One pass of ProcessChar; false when the call ends with `result`.
    bool Pass(KEYBOARDEVENT& event, int* result);
    void AutoUppercase(KEYBOARDEVENT& event);
    bool OwnVirtualKey(KEYBOARDEVENT const& event);
    int ControlAndAlt(KEYBOARDEVENT const& event);

    KEYMAPHOST& Host;
    KEYBOARD* Keyboard;
    FILENAME File;
    int Remembered = -1;
};

static_assert(sizeof(KEYMAPPER::KEYDEF) == 8 + 196 * sizeof(wchar_t) + 40);
