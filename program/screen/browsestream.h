// The capture viewer: the session's capture buffer (STREAMDATA) as wrapped
// text in a window of its own. BROWSESTREAMFRAME is the window,
// BROWSESTREAM the text control inside it, BROWSESTREAMFINDDIALOG its find
// dialog ("DLG_WIN_BROWSEFIND").
//
// The viewer lays display lines out from byte positions in the buffer
// (streamlines.h) and draws them into the control's page bitmap; a scroll
// of a few lines moves the bitmap. It follows the buffer through its
// signals (user message 1032): new text, text loaded, text moved, the
// window to the front; "about to be cleared" closes it. Every position it
// keeps (top, selection, search) is an absolute stream position, so text
// that moves or is dropped never leaves one pointing at other text; a
// position whose text is gone moves to the buffer's start.
//
// The text is read under the buffer's lock. Main thread only. A viewer
// never deletes itself: it asks its session (BROWSESTREAMHOST::ViewerClose)
// and the session deletes the frame.
#pragma once

#include "program/screen/streamdata.h"
#include "program/screen/streamlines.h"

#include "velmot/gui/windialog.h"
#include "velmot/gui/winchild.h"
#include "velmot/gui/windows.h"
#include "velmot/gui/winvalues.h"

#include <memory>
#include <string>

class COREFONT;
class BROWSESTREAMFRAME;

// What the viewer asks of its session and main window.
class BROWSESTREAMHOST {
public:
    virtual ~BROWSESTREAMHOST() = default;
    // Asks the session to close the viewer (posted: the viewer is deleted
    // later).
    virtual void ViewerClose() {}
    // The viewer's font (the program setting "BrWinFont"); null: none.
    virtual COREFONT* ViewerFont() { return nullptr; }
    // The mark colour of the session profile ("ColorMark"); false: none.
    virtual bool ViewerMarkColour(COLORREF* colour) { return false; }
    // "ClipAutoCopy": a selection is copied when the button goes up.
    virtual bool ViewerAutoCopy() { return false; }
    // The window's transparency (0: none).
    virtual int ViewerTransparency() { return 0; }
    // The host the session is connected to (for the title).
    virtual std::wstring ViewerHostName() { return std::wstring(); }
    // The main window's frame; false: none.
    virtual bool ViewerMainRect(RECT* rect) { return false; }
    // The selected text to the clipboard (add: to what it holds).
    virtual void ViewerCopy(std::wstring const& text, bool add) {}
    virtual void ViewerNotify(char const* text) {}
    virtual void ViewerError(char const* text) {}
    // The alert sound of a search that found nothing.
    virtual void ViewerAlert() {}
    // Whether a modifier key is held (16 Shift, 17 Control).
    virtual bool ViewerKeyState(int vk) { return false; }
    virtual long long ViewerNowMs();
};

class BROWSESTREAMFINDDIALOG;

class BROWSESTREAM : public CHILDWINDOW, public CAPTUREVIEWER {
public:
    static constexpr int MSG_SIGNAL = 1032;
    static constexpr int TIMER_SCROLLDOWN = 1;
    static constexpr int TIMER_SCROLLUP = 2;
    static constexpr int MINCOLUMNS = 20;
    static constexpr int MINROWS = 5;
    static constexpr int BARWIDTH = 15;
    // Pixels the page keeps beside the text: the scroll bar and its frame.
    static constexpr int EXTRAWIDTH = 19;
    static constexpr int FOCUSCLICKMS = 250;

    BROWSESTREAM(BROWSESTREAMFRAME& frame, CONTROLID id, BROWSESTREAMHOST& host, STREAMDATA& buffer);
    ~BROWSESTREAM() override;

    // CAPTUREVIEWER: 16 at once, the others posted as user message 1032.
    bool Signal(int code, uintptr_t parameter) override;
    // Runs the find dialog (modal), or brings an open one forward.
    void FindDialog();
    // The selection to the clipboard; true when more than one byte was
    // selected.
    bool CopySelectedText(bool clear);
    // One search step of the find dialog; true when found.
    bool Find(std::string const& pattern, bool forward, bool caseSensitive);
    void ClearSelection();

    // Cells of the font and the page's size in cells.
    int CellWidth() const { return CellW; }
    int CellHeight() const { return CellH; }
    int Columns() const { return Cols; }
    int RowCount() const { return Rows; }
    bool HasFont() const { return Font != nullptr; }
    // The text of shown row y (UTF-8; a TAB as blanks), for tests.
    std::string RowText(int y);
    // The selected bytes (empty: none).
    std::string SelectedBytes();
    // The scroll bar's state.
    int ScrollPosition() const { return BarPos; }
    int ScrollMaximum() const { return BarMax; }
    int ScrollPage() const { return BarPage; }
    uint64_t Top() const { return TopPos; }
    SCROLLBAR* Scrollbar() const { return Bar.get(); }

    // Scrolls by lines (negative: towards the start).
    void DoVscroll(int lines, bool update);
    // Lays the page out for the control's size (after a resize).
    void Layout();

    // Window events.
    int OnPaint() override;
    bool OnSized() override;
    bool OnKeyboardEvent(KEYBOARDEVENT const& key) override;
    bool OnMouseEvent(int message, int x, int y, int flags) override;
    bool OnScrollEvent(int code, CONTROL const& control, int position) override;
    bool OnTimer(int id) override;
    bool OnFocusAcquired() override;
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override;

private:
    friend class BROWSESTREAMFINDDIALOG;
    streamlines::LAYOUT CurrentLayout() const;
    // Brings the line index up to the buffer (lock held).
    void UpdateIndex();
    void ClampPositions();
    void RecomputeLastPage();
    void ShowPage(bool clear);
    uint64_t ShowLine(int y, uint64_t start);
    void SetScrollbar();
    void ScrollIt(int lines);
    uint64_t NextLineAbs(uint64_t pos);
    uint64_t LineUpAbs(uint64_t pos);
    uint64_t PositionAt(int x, int y);
    uint64_t CharEnd(uint64_t pos);
    void SetSelection();
    void HandleSignal(int code, uintptr_t parameter);
    void DragTo(int x, int y);

    BROWSESTREAMFRAME& Frame;
    BROWSESTREAMHOST& Host;
    STREAMDATA& Buffer;
    std::unique_ptr<SCROLLBAR> Bar;
    COREFONT* Font = nullptr;
    int CellW = 0, CellH = 0, Descent = 0;
    int Cols = 0, Rows = 0;
    bool InResize = false;
    bool Ready = false;
    uint64_t TopPos = 0;
    uint64_t LastPageTop = 0;
    uint64_t BottomPos = 0;
    uint64_t Anchor = 0, EndPos = 0;
    uint64_t FindPos = 0;
    uint64_t SelStart = 0, SelEnd = 0;
    POINT LastCell{-1, -1};
    bool Dragging = false;
    bool Extended = false;
    int LastMouseX = 0, LastMouseY = 0;
    long long FocusTime = 0;
    bool Tracking = false;
    int BarPos = 0, BarMax = 999, BarPage = 1000;
    BROWSESTREAMFINDDIALOG* FindBox = nullptr;
    streamlines::LINEINDEX Index;
    std::vector<streamlines::CELL> Cells;
};

class BROWSESTREAMFRAME : public WINDOW {
public:
    static constexpr CONTROLID VIEWERID{plat::FourCC("IDC_"), 1};

    BROWSESTREAMFRAME(BROWSESTREAMHOST& host, STREAMDATA& buffer);
    ~BROWSESTREAMFRAME() override;

    // The buffer's signals for the viewer (19: to the front).
    bool Signal(int code, uintptr_t parameter);
    BROWSESTREAM& Viewer() { return *View; }
    // The client size for a page of columns x rows.
    SIZE PageClientSize(int columns, int rows) const;

    bool OnClose() override;
    bool OnFocusAcquired() override;
    bool OnSized() override;
    bool OnSizing(RECT* frame, uint32_t edges) override;
    bool OnScrollEvent(int code, CONTROL const& control, int position) override;
    bool OnKeyboardEvent(KEYBOARDEVENT const& key) override;

private:
    BROWSESTREAMHOST& Host;
    std::unique_ptr<BROWSESTREAM> View;
};

class BROWSESTREAMFINDDIALOG : public DIALOG {
public:
    BROWSESTREAMFINDDIALOG(BROWSESTREAM& viewer, plat::WindowRef owner);
    ~BROWSESTREAMFINDDIALOG() override;
    bool OnPushbutton(CONTROLID id) override;

private:
    BROWSESTREAM& Viewer;
};
