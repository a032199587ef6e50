// Emulation 0, "TTY": a terminal that knows no control sequences. Printable
// text goes to the cursor and wraps at the end of the row; CR, LF, BS, HT
// (stops every 8 columns) and BEL act, every other control character is
// dropped. Rows that scroll off the top go to the scroll-back through the
// host's AddScrollLine; printed runs go to the session log. The keys Enter,
// Backspace, Tab and Esc are sent as CR, DEL (the erase character of a
// pseudo terminal), HT and ESC. Its terminal name is "dumb".
//
// Threads: the session's main thread.
#pragma once

#include "plugins/sdk/qorsubsystem.h"

#include <string>
#include <vector>

class TTY final : public QOREMULATION {
public:
    explicit TTY(SUBSYSINITDATA const& init);
    ~TTY() override;

    int SetParm(char const* parm) override;
    char* QueryParm(char* buf, int max) override;
    char* QueryStdParm(char* buf) override;
    char* QueryStatus(char* buf) override;

    int Open(char const* parm) override;
    int Close() override;
    int conputs(wchar_t const* text, long len) override;
    int IsSequence(int* state, char c) override;
    int SequenceRun(int* state, char const* text, int len) override;
    int QueryUnixName(int n, char* dst) override;
    int ProcessKey(KEYBOARDEVENT const& event) override;
    int FeedSymbolicKey(char const* name) override;

private:
    // Writes the collected printable run at the cursor.
    void FlushRun();
    // The cursor goes one row down; at the bottom the screen scrolls.
    void LineFeed();
    void ScrollUp();
    // The cursor of the screen at (X, Y); a pending wrap shows at the last
    // column.
    void PlaceCursor();

    std::string Parm = "[0]";
    VIOAPI* Vio = nullptr;
    int Width = 80, Height = 24;
    int X = 0, Y = 0; // X == Width: the row is full, the next character wraps
    std::vector<wchar_t> Run;
    std::vector<VIOCELL> Row;
    bool Scrolled = false; // rows were moved in place during this write
};
