// Windows and child windows: creation, geometry and state, stored
// positions, finding windows, child painting, timers, capture and drops.
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/core/osys.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/registry.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/windraw.h"

#include "platform/controls/drops.h"
#include "platform/draw/viewsupport.h"
#include "platform/events/windowstate.h"

#include <gmock/gmock.h>

#include <future>

using namespace guifix;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using plat::FourCC;

namespace {

using WindowTest = ToolkitTest;

TEST_F(WindowTest, NewWindowsTakeTheirStyleSizeAndMenuBar)
{
    RECWINDOW doc(WINDOWSTYLE_DOCUMENT, "Doc", 30, 40, 0, 0, nullptr, "HLP_DOC", "IDM_TEST_MENUBAR", "SESSIONWND");
    ASSERT_TRUE(doc.IsValid());
    EXPECT_FALSE(doc.IsVisible());
    EXPECT_THAT(doc.rec.Take(), IsEmpty()); // OnCreate ran in WINDOW's own construction
    EXPECT_STREQ(doc.GetText().Buf(), "Doc");
    EXPECT_THAT(plat::MenuBarTitles(doc.GetWindow()), ElementsAre("File", "Edit", "View"));
    EXPECT_EQ(doc.GetAssociatedMenu(), plat::GetWindowMenuBar(doc.GetWindow()));
    char help[16] = {};
    EXPECT_EQ(doc.GetWindowProperty(WPROP_HELPID, help, sizeof help), 8);
    EXPECT_STREQ(help, "HLP_DOC");
    // 600 x 400 content; the menu bar stands above it, inside the window,
    // which is the taller for it.
    RECT const frame = doc.GetRect();
    EXPECT_EQ(frame.left, 30);
    EXPECT_EQ(frame.right - frame.left, 600);
    EXPECT_GT(frame.bottom - frame.top, 400);
    EXPECT_EQ(doc.GetClientSize(), (SIZE{600, 400}));
    // So does a window made from a layout with its menu bar: its controls
    // keep their room.
    RECWINDOW session("DLG_TEST_WINDOW", nullptr);
    ASSERT_EQ(session.CreateMenu("IDM_TEST_MENUBAR", nullptr), plat::kNoErr);
    EXPECT_EQ(session.GetClientSize(), (SIZE{480, 300}));
    // Without its bar the window is as tall as its content again.
    plat::SetWindowMenuBar(session.GetWindow(), nullptr);
    EXPECT_EQ(session.GetSize(), (SIZE{480, 300}));

    RECWINDOW tool(WINDOWSTYLE_UTILITY, "Tool", 0, 0, 120, 80);
    EXPECT_TRUE(tool.IsValid());
    EXPECT_EQ(tool.GetSize(), (SIZE{120, 80}));

    // Broken preconditions are reported; an unknown style makes nothing.
    RECWINDOW odd(3, "Odd", 0, 0, 10, 10);
    EXPECT_FALSE(odd.IsValid());
    RECWINDOW owned(WINDOWSTYLE_DOCUMENT, "Owned", 0, 0, 10, 10, doc.GetWindow());
    RECWINDOW missing("DLG_TEST_MISSING", nullptr); // nibcheck: absent
    EXPECT_FALSE(missing.IsValid());
    EXPECT_THAT(Reported(), ElementsAre("this->IsValid()", "owner==HWND_DESKTOP", "this->fWindow"));
}

TEST_F(WindowTest, GeometryStateAndTitle)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Geometry", 50, 60, 300, 200);
    ASSERT_TRUE(Activate(w.GetWindow()));
    EXPECT_TRUE(w.IsVisible());
    EXPECT_TRUE(w.IsForegroundWindow());
    RECT const r = w.GetRect();
    w.Move(r.left + 10, r.top + 20, -1, -1);
    EXPECT_EQ(w.GetRect(), (RECT{r.left + 10, r.top + 20, r.right + 10, r.bottom + 20}));
    w.Size(320, 240);
    EXPECT_EQ(w.GetSize(), (SIZE{320, 240}));
    EXPECT_EQ(w.GetRect().left, r.left + 10);

    // Client and frame rectangles convert into each other.
    RECT const client = w.GetClientRect();
    RECT frame{};
    ASSERT_TRUE(w.RectClientToFrame(&client, &frame));
    EXPECT_EQ(frame, w.GetRect());
    RECT back{};
    w.RectFrameToClient(&frame, &back);
    EXPECT_EQ(back, client);

    // Points of a view to the screen and back.
    PUSHBUTTON button(w.GetClientParent(), CONTROLID{FourCC("MAPB"), 1}, 0, 25, 35, 60, 20);
    POINT p[2] = {{0, 0}, {5, 6}};
    w.MapWindowPoints(button.GetControlRef(), nullptr, p, 2);
    plat::RectI const c = plat::GetWindowBounds(w.GetWindow(), false);
    plat::PointI const o =
        plat::ConvertViewPoint({0, 0}, plat::WindowContentView(w.GetWindow()), plat::WindowRootView(w.GetWindow()));
    EXPECT_EQ(p[0], (POINT{c.left + o.x + 25, c.top + o.y + 35}));
    EXPECT_EQ(p[1].x - p[0].x, 5);
    w.MapWindowPoints(nullptr, button.GetControlRef(), p, 1);
    EXPECT_EQ(p[0], (POINT{0, 0}));
    EXPECT_FALSE(w.MapWindowPoints(nullptr, nullptr, p, 1));
    EXPECT_THAT(Reported(), ElementsAre("(fviewfrom==0 || fviewto==0) && (fviewfrom!=0 || fviewto!=0)"));

    // The title, narrow (code page 1252) and wide.
    w.SetText("Caf\xE9 \x80");
    EXPECT_EQ(WSTRING::WSTRCMP(w.GetTextWide().Buf(), L"Caf\xE9 \x20AC"), 0);
    w.SetTextWide(L"\x4F60\x597D");
    char narrow[8];
    EXPECT_TRUE(w.GetText(narrow, sizeof narrow));
    EXPECT_STREQ(narrow, "??");
    wchar_t wide[2];
    w.GetTextWide(wide, 2);
    EXPECT_STREQ(wide, L"\x4F60");

    // Minimised, restored, maximised.
    EXPECT_TRUE(w.Minimize());
    EXPECT_TRUE(PumpUntil([&] { return w.IsMinimized(); }));
    w.Restore();
    EXPECT_TRUE(PumpUntil([&] { return !w.IsMinimized(); }));
    EXPECT_TRUE(w.Maximize());
    EXPECT_TRUE(PumpUntil([&] { return w.IsMaximized(); }));
    w.SetTransparency(128);
    EXPECT_NEAR(plat::GetWindowAlpha(w.GetWindow()), 128 / 255.0, 0.01);
    w.SetTransparency(-1);
    EXPECT_NEAR(plat::GetWindowAlpha(w.GetWindow()), 128 / 255.0, 0.01);
    w.SetTransparency(300);
    EXPECT_EQ(plat::GetWindowAlpha(w.GetWindow()), 1.0);
}

TEST_F(WindowTest, TimersTickUntilStoppedOrTheWindowGoes)
{
    auto w = std::make_unique<RECWINDOW>(WINDOWSTYLE_DOCUMENT, "Timers", 0, 0, 100, 100);
    EXPECT_EQ(w->StartTimer(7, 10), 1);
    ASSERT_TRUE(PumpUntil([&] { return !w->rec.log.empty(); }));
    EXPECT_EQ(w->rec.Take().front(), "OnTimer 7");
    EXPECT_EQ(w->StopTimer(7), 1);
    plat::ProcessPendingEvents(1000);
    w->rec.Take();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    plat::ProcessPendingEvents(1000);
    EXPECT_THAT(w->rec.Take(), IsEmpty());
    plat::WindowRef const handle = w->GetWindow();
    w->StartTimer(8, 10);
    w.reset(); // its timers go with it
    EXPECT_EQ(WINTIMER::GetInstance()->GetTimerIdxFromId(8, handle, nullptr), -1);
}

TEST_F(WindowTest, WaitingOnTheMainThreadKeepsEventsFlowing)
{
    // The semaphore is set by work queued for the main thread itself: only
    // a wait that dispatches events gets to it.
    EVENTSEM done;
    plat::PostTask([&done] { done.Post(); });
    EXPECT_TRUE(WINDOW::WinWaitForEventSem(done, 2000));
    EVENTSEM never;
    long long const start = OSYS::RelTime();
    EXPECT_FALSE(WINDOW::WinWaitForEventSem(never, 150));
    EXPECT_GE(OSYS::RelTime() - start, 150);

    bool ran = false;
    plat::PostTask([&ran] { ran = true; });
    WINDOW::Sleep(20);
    EXPECT_TRUE(ran);
    int count = 0;
    for (int i = 0; i < 5; ++i)
        plat::PostTask([&count] { ++count; });
    // At least the three asked for run (the window system's own pass may
    // serve more).
    WINDOW::WinProcessMessages(3);
    EXPECT_GE(count, 3);
    WINDOW::WinProcessMessages(10);
    EXPECT_EQ(count, 5);
}

TEST_F(WindowTest, CentringKeepsTheWindowOnTheDisplay)
{
    plat::RectI const display = plat::GetDisplayBounds().front();
    RECWINDOW owner(WINDOWSTYLE_DOCUMENT, "Owner", 100, 100, 400, 300);
    RECWINDOW w(WINDOWSTYLE_UTILITY, "Centred", 0, 0, 200, 100);
    // A hidden owner: the display.
    w.CenterOver(owner.GetWindow());
    RECT r = w.GetRect();
    EXPECT_EQ(r.left, (display.Width() - 200) / 2 + display.left);
    EXPECT_EQ(r.top, (display.Height() - 100) / 2 + display.top);
    owner.Show(true);
    PumpUntil([&] { return owner.IsVisible(); });
    w.CenterOver(owner.GetWindow());
    RECT const o = owner.GetRect();
    r = w.GetRect();
    EXPECT_EQ(r.left, (o.right - o.left - 200) / 2 + o.left);
    EXPECT_EQ(r.top, (o.bottom - o.top - 100) / 2 + o.top);
    // An owner near the edge: pushed back onto the display.
    owner.Move(display.right - 50, display.bottom - 40, -1, -1);
    w.CenterOver(owner.GetWindow());
    r = w.GetRect();
    EXPECT_EQ(r.right, display.right);
    EXPECT_EQ(r.bottom, display.bottom);
}

TEST_F(WindowTest, FindWindowExByClassAndTitle)
{
    RECWINDOW a(WINDOWSTYLE_DOCUMENT, "Alpha", 0, 0, 100, 100, nullptr, nullptr, nullptr, "SESSION");
    RECWINDOW b(WINDOWSTYLE_DOCUMENT, "Beta", 0, 0, 100, 100, nullptr, nullptr, nullptr, "SESSION");
    RECWINDOW c(WINDOWSTYLE_DOCUMENT, "Beta", 0, 0, 100, 100, nullptr, nullptr, nullptr, "OTHER");
    EXPECT_EQ(WINDOW::FindWindowEx(nullptr, "SESSION", "beta"), b.GetWindow());
    EXPECT_EQ(WINDOW::FindWindowEx(nullptr, "OTHER", nullptr), c.GetWindow());
    EXPECT_EQ(WINDOW::FindWindowEx(nullptr, "NONE", nullptr), nullptr);
    std::vector<plat::WindowRef> sessions;
    for (plat::WindowRef w = WINDOW::FindWindowEx(nullptr, "SESSION", nullptr); w;
         w = WINDOW::FindWindowEx(w, "SESSION", nullptr))
        sessions.push_back(w);
    EXPECT_EQ(sessions.size(), 2u);
    EXPECT_THAT(sessions, Contains(a.GetWindow()));
}

class PositionTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        window = std::make_unique<RECWINDOW>(WINDOWSTYLE_DOCUMENT, "Pos", 100, 120, 300, 200);
        reg = std::make_unique<REGISTRY>(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QorTest", REGISTRY::READWRITE);
        reg->DeleteValue("Main");
    }
    std::string Stored()
    {
        STRING s;
        return reg->Read("Main", &s) ? s.Buf() : "<none>";
    }
    std::unique_ptr<RECWINDOW> window;
    std::unique_ptr<REGISTRY> reg;
};

TEST_F(PositionTest, StoredOnlyWhenVisibleInTheirOwnFormat)
{
    EXPECT_FALSE(window->StoreWindowPos("QorTest", "Main"));
    EXPECT_EQ(Stored(), "<none>");
    window->Show(true);
    PumpUntil([&] { return window->IsVisible(); });
    ASSERT_TRUE(window->StoreWindowPos("QorTest", "Main"));
    RECT const r = window->GetRect();
    char expected[96];
    std::snprintf(expected, sizeof expected, "RECT(%d, %d, %d, %d) STATE=0/0", r.left, r.top, r.right, r.bottom);
    EXPECT_EQ(Stored(), expected);
    // A maximised window stores the size it had before.
    window->Maximize();
    PumpUntil([&] { return window->IsMaximized(); });
    ASSERT_TRUE(window->StoreWindowPos("QorTest", "Main"));
    std::snprintf(expected, sizeof expected, "RECT(%d, %d, %d, %d) STATE=0/1", r.left, r.top, r.right, r.bottom);
    EXPECT_EQ(Stored(), expected);
}

TEST_F(PositionTest, RestoredFromWhatParses)
{
    struct Case {
        char const* stored;
        bool ok;
        RECT rect; // the frame afterwards
        bool minimized;
        bool maximized;
    } const cases[] = {
        {"RECT(10, 20, 210, 170) STATE=0/0", true, {10, 20, 210, 170}, false, false},
        {"RECT(30, 40, 230, 190)", true, {30, 40, 230, 190}, false, false}, // no state: 0/0
        {"RECT(30, 40, 230)", false, {}, false, false},
        {"garbage", false, {}, false, false},
        {"RECT(5000, 5000, 5200, 5150) STATE=0/0", true, {20, 40, 220, 190}, false, false}, // off every display
        {"RECT(10, 20, 210, 170) STATE=1/1", true, {10, 20, 210, 170}, true, false},        // minimised wins
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.stored);
        RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Restore", 300, 300, 100, 100);
        reg->Write("Main", c.stored);
        EXPECT_EQ(w.RestoreWindowPos("QorTest", "Main", false), c.ok);
        if (!c.ok) {
            EXPECT_EQ(w.GetSize(), (SIZE{100, 100}));
            continue;
        }
        EXPECT_TRUE(PumpUntil([&] { return w.IsMinimized() == c.minimized; }));
        if (!c.minimized) {
            EXPECT_EQ(w.GetRect(), c.rect);
        }
        EXPECT_EQ(w.IsVisible(), c.minimized || c.maximized || false);
    }
    // Position only: the size stays.
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Restore", 300, 300, 100, 100);
    reg->Write("Main", "RECT(10, 20, 210, 170) STATE=0/0");
    EXPECT_TRUE(w.RestoreWindowPos("QorTest", "Main", true));
    EXPECT_EQ(w.GetRect(), (RECT{10, 20, 110, 120}));
    reg->DeleteValue("Main");
    EXPECT_FALSE(w.RestoreWindowPos("QorTest", "Main", false));
}

TEST_F(WindowTest, ControlsOfTheWindowById)
{
    RECWINDOW d("DLG_TEST_CONTROLS", nullptr);
    CONTROLID const text{FourCC("TEXT"), 1};
    CONTROLID const box{FourCC("CBOX"), 1};
    CONTROLID const none{FourCC("NONE"), 1}; // nibcheck: absent
    EXPECT_STREQ(d.GetControlText(text).Buf(), "terminal");
    EXPECT_TRUE(d.SetControlText(text, "host \x80"));
    EXPECT_EQ(WSTRING::WSTRCMP(d.GetControlTextWide(text).Buf(), L"host \x20AC"), 0);
    EXPECT_FALSE(d.IsControlChecked(box));
    EXPECT_TRUE(d.SetControlChecked(box, true));
    EXPECT_TRUE(d.IsControlChecked(box));
    EXPECT_TRUE(d.EnableControl(text, false));
    EXPECT_FALSE(CONTROL(d.GetClientParent(), text).IsEnabled());
    EXPECT_TRUE(d.ShowControl(box, false));
    EXPECT_FALSE(plat::IsViewLatentlyVisible(CONTROL(d.GetClientParent(), box).GetControlRef()));
    char buffer[8] = "x";
    EXPECT_FALSE(d.GetControlText(none, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_STREQ(d.GetControlText(none).Buf(), "");
    EXPECT_FALSE(d.SetControlText(none, "x"));
    EXPECT_FALSE(d.EnableControl(none, true));
}

TEST_F(WindowTest, ChildWindowsFromPagesGetTheirIdHelpAndHandler)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Pages", 0, 0, 400, 300);
    RECCHILD page(w.GetClientParent(), "DLG_TEST_PAGE7", CONTROLID{}, nullptr);
    ASSERT_TRUE(page.IsValid());
    EXPECT_EQ(page.GetId(), (CONTROLID{FourCC("PAGE"), 7}));
    EXPECT_EQ(plat::GetSuperview(page.GetControlRef()), w.GetClientView());
    char help[32] = {};
    page.GetControlProperty(CPROP_HELPID, help, sizeof help);
    EXPECT_STREQ(help, "DLG_TEST_PAGE7");
    EXPECT_STREQ(page.GetControlText(CONTROLID{FourCC("TEXT"), 1}).Buf(), "page text");
    page.rec.Take(); // (its OnCreate ran as CHILDWINDOW's, during construction)
    // Its own id when given.
    RECCHILD named(w.GetClientParent(), "DLG_TEST_PAGE7", CONTROLID{FourCC("NAMD"), 3}, nullptr);
    EXPECT_EQ(named.GetId(), (CONTROLID{FourCC("NAMD"), 3}));
    // Messages and timers of the child's own.
    page.PostUserMessage(1030, 4, 5);
    page.StartTimer(9, 10);
    EXPECT_TRUE(PumpUntil([&] {
        auto const& log = page.rec.log;
        return std::find(log.begin(), log.end(), "OnTimer 9") != log.end();
    }));
    page.StopTimer(9);
    EXPECT_THAT(page.rec.Take(), Contains("OnUserMessage 1030 4 5"));
    // A child bound by lookup has no handler: no timers.
    RECCHILD looked(w.GetClientParent(), CONTROLID{FourCC("PAGE"), 7});
    looked.StartTimer(1, 10);
    EXPECT_THAT(Reported(), ElementsAre("this->HasHandler"));
}

// A child pane that paints a red square in its draw event.
class PAINTCHILD : public CHILDWINDOW {
public:
    using CHILDWINDOW::CHILDWINDOW;
    int OnPaint() override
    {
        ++paints;
        if (answer == 0)
            return 0;
        PAINTSTRUCT ps;
        if (!StartPaint(&ps))
            return 0;
        WINDC dc(ps, *this);
        RECT r{2, 2, 8, 8};
        dc.FillRect(&r, 0x0000FF);
        EndPaint(&ps);
        return answer;
    }
    int paints = 0;
    int answer = 1;
};

TEST_F(WindowTest, ChildWindowsPaintDirectlyOrThroughTheirBitmap)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Paint", 0, 0, 200, 100);
    PAINTCHILD pane(w.GetClientParent(), CONTROLID{FourCC("PANT"), 1}, 10, 10, 40, 30);
    ASSERT_TRUE(Activate(w.GetWindow()));
    // Painted in the draw event.
    auto picture = plat::GrabView(pane.GetControlRef());
    ASSERT_NE(picture, nullptr);
    EXPECT_GE(pane.paints, 1);
    EXPECT_EQ(picture->Pixel(4, 4), 0xFFFF0000u);

    // Nothing painted: the background colour fills the pane.
    pane.answer = 0;
    pane.SetBackgroundColor(0x00FF00); // green
    picture = plat::GrabView(pane.GetControlRef());
    EXPECT_EQ(picture->Pixel(20, 20), 0xFF00FF00u);
    pane.AddStyleEx(CHILDSTYLEEX_NOBACKGROUND);
    pane.paints = 0;
    picture = plat::GrabView(pane.GetControlRef());
    EXPECT_EQ(pane.paints, 0);

    // Drawn outside a paint pass: into the bitmap, shown by the next draw
    // (unless OnPaint answers -2).
    {
        WINDC dc(pane);
        RECT r{0, 0, 40, 30};
        dc.FillRect(&r, 0xFF0000); // blue
    }
    ASSERT_NE(pane.GetMemoryBitmap(), nullptr);
    pane.answer = 1;
    picture = plat::GrabView(pane.GetControlRef());
    EXPECT_EQ(picture->Pixel(30, 20), 0xFF0000FFu);
    pane.answer = -2;
    picture = plat::GrabView(pane.GetControlRef());
    EXPECT_NE(picture->Pixel(30, 20), 0xFF0000FFu);

    // Paint calls outside a paint pass are reported.
    PAINTSTRUCT ps;
    EXPECT_FALSE(pane.StartPaint(&ps));
    EXPECT_THAT(Reported(), ElementsAre("this->InPaint"));
}

// A worker marks a window (the whole of it, or a part) and the main thread
// paints the marks; nothing is said about a wrong thread, since marking is
// what other threads may do.
TEST_F(WindowTest, AWindowMarkedFromAWorkerIsPainted)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Marked", 0, 0, 200, 100);
    ASSERT_TRUE(Activate(w.GetWindow()));
    std::vector<plat::RectI> painted;
    plat::EventType const draw{plat::kEventClassControl, plat::kEventControlDraw};
    plat::InstallHandler(plat::ViewTarget(plat::WindowContentView(w.GetWindow())), {&draw, 1},
                         [&](plat::HandlerCall&, plat::Event& e) {
                             plat::RectI r;
                             e.Get(plat::kParamUpdateRect, plat::kTypeIntRect, &r);
                             painted.push_back(r);
                             return plat::kErrEventNotHandled;
                         });
    PumpUntil([] { return false; }, 50);
    painted.clear();

    ::testing::internal::CaptureStderr();
    bool const marked = std::async(std::launch::async, [&] {
                            RECT r{20, 5, 40, 15};
                            return w.Invalidate(&r);
                        }).get();
    std::string const err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(marked);
    EXPECT_EQ(err.find("THREADCHECK"), std::string::npos) << err;
    ASSERT_TRUE(PumpUntil([&] { return !painted.empty(); }));
    EXPECT_EQ(painted.back(), (plat::RectI{20, 5, 40, 15}));

    // A mark that arrives after its window is gone does nothing.
    auto gone = std::make_unique<RECWINDOW>(WINDOWSTYLE_DOCUMENT, "Gone", 0, 0, 50, 50);
    std::async(std::launch::async, [&] { return gone->Invalidate(nullptr); }).get();
    gone.reset();
    PumpUntil([] { return false; }, 50);
}

TEST_F(WindowTest, DroppedFileUrlsArriveAsPaths)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Drops", 0, 0, 200, 100);
    RECCHILD pane(w.GetClientParent(), CONTROLID{FourCC("DROP"), 1}, 0, 0, 100, 100);
    std::vector<std::string> const urls{
        "file://localhost/home/u/My%20File.txt", "file:///tmp/a%23b%C3%A4.txt", "http://example.org/x",
        "file://otherhost/x", "file:///bad%zz%2"};
    plat::SimulateDrop(pane.GetControlRef(), urls, {10, 10});
    EXPECT_THAT(pane.dropped, IsEmpty()); // not accepting files yet

    pane.AcceptDroppedFiles(true);
    pane.rec.Take();
    plat::SimulateDrop(pane.GetControlRef(), urls, {10, 10});
    EXPECT_THAT(pane.dropped, ElementsAre("/home/u/My File.txt", "/tmp/a#b\xE4.txt", "/bad%zz%2"));
    EXPECT_THAT(pane.rec.Take(), ElementsAre("OnFilesDropped 3"));
    EXPECT_EQ(plat::GetThemeCursor(), plat::kThemeArrowCursor);
    // Names code page 1252 cannot hold stay UTF-8.
    pane.dropped.clear();
    plat::SimulateDrop(pane.GetControlRef(), {"file:///tmp/%E4%BD%A0"}, {10, 10});
    EXPECT_THAT(pane.dropped, ElementsAre("/tmp/\xE4\xBD\xA0 (utf8)"));
    // Only other URLs: nothing to report.
    pane.dropped.clear();
    plat::SimulateDrop(pane.GetControlRef(), {"https://example.org/"}, {10, 10});
    EXPECT_THAT(pane.dropped, IsEmpty());
}

TEST_F(WindowTest, MouseCaptureIsAWindowPropertyUntilTheChildGoes)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Capture", 0, 0, 200, 100);
    auto pane = std::make_unique<RECCHILD>(w.GetClientParent(), CONTROLID{FourCC("CAPT"), 1}, 0, 0, 50, 50);
    ASSERT_TRUE(pane->SetMouseCapture(true));
    EXPECT_EQ(reinterpret_cast<plat::ViewRef>(w.GetWindowProperty(WPROP_CAPTURE)), pane->GetControlRef());
    EXPECT_GE(WINTIMER::GetInstance()->GetTimerIdxFromId(TIMERID_MOUSECAPTURE, WINTIMER::AnyWindow(),
                                                        pane->GetControlRef()),
              0);
    pane.reset();
    EXPECT_EQ(w.GetWindowProperty(WPROP_CAPTURE), 0u);
    pane = std::make_unique<RECCHILD>(w.GetClientParent(), CONTROLID{FourCC("CAPT"), 2}, 0, 0, 50, 50);
    pane->SetMouseCapture(true);
    pane->SetMouseCapture(false);
    EXPECT_EQ(w.GetWindowProperty(WPROP_CAPTURE), 0u);
    EXPECT_FALSE(WINTIMER::GetInstance()->IsTimerValid(TIMERID_MOUSECAPTURE, nullptr, pane->GetControlRef(),
                                                       static_cast<uint32_t>(plat::NowMs())));
}

TEST_F(WindowTest, ClientAreaTransparencyClearsWhatItPaints)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Clear", 0, 0, 120, 80);
    EXPECT_FALSE(w.HasClientAreaTransparency());
    ASSERT_TRUE(w.SetClientAreaTransparency(true, true));
    bool shadows = false;
    EXPECT_TRUE(w.HasClientAreaTransparency(&shadows));
    EXPECT_TRUE(shadows);
    EXPECT_TRUE(plat::IsWindowTranslucent(w.GetWindow()));
    auto picture = plat::GrabView(w.GetClientView());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Pixel(10, 10) >> 24, 0u); // fully transparent
    EXPECT_TRUE(w.SetClientAreaTransparency(false, false));
    EXPECT_FALSE(w.HasClientAreaTransparency());
    EXPECT_FALSE(plat::IsWindowTranslucent(w.GetWindow()));
    // Without shadows it is reported, and the window becomes nearly opaque.
    w.SetClientAreaTransparency(true, false);
    EXPECT_THAT(Reported(), ElementsAre("haveshadows"));
    EXPECT_NEAR(plat::GetWindowAlpha(w.GetWindow()), 0.99, 0.005);
}

} // namespace
