// STATUSLINE: the status line at the bottom of a main window. For the
// current session it shows the communication device, the emulation and the
// transfer protocol, four lights, the capture switch and the capture
// file's name, the trace and logging flags, the door-key mode, running
// scripts, the online time and the window size or cursor position. Most
// fields are flat buttons whose click runs the matching command.
//
// The lights may be set from any thread (off the main thread the bar
// posts itself user message 1029); everything else runs on the main
// thread.
#pragma once

#include "program/shell/app.h"
#include "program/shell/miscclasses.h"

#include "velmot/gui/winchild.h"
#include "velmot/gui/wincontrols.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class COREFONT;

class STATUSLINE final : public WINDOWPART, public CHILDWINDOW {
public:
    // Field kinds.
    static constexpr int KIND_BUTTON = 1;
    static constexpr int KIND_LIGHT = 2;
    static constexpr int KIND_CHECKBOX = 3;
    static constexpr int KIND_TEXT = 4;

    static constexpr int NUMFIELDS = 14;
    static constexpr int MSG_LEDS = 1029;
    static constexpr int TIMER_CURSOR = 1;
    static constexpr int TIMER_LIGHT2 = 2;
    static constexpr int TIMER_LIGHT3 = 3;

    struct FIELD {
        int Kind;
        int Tooltip;      // index into "IDS_LED_TOOLTIPS"; -1 none
        CONTROLID Id;
        int Command;      // posted when the field is clicked; 0 none
        char const* Sample; // sets the field's least width
        int Gap;          // pixels after the field
        int Width;
        int Height;
        bool Changed = false;
        bool Hidden = false;
    };
    static const std::array<FIELD, NUMFIELDS> WinIdTable;

    STATUSLINE(APP& owner, int width);
    ~STATUSLINE() override;
    STATUSLINE(STATUSLINE const&) = delete;
    STATUSLINE& operator=(STATUSLINE const&) = delete;

    // Every field from the session; force rewrites each of them.
    void NewStatusline(SESSION& session, int force);
    int NewCursorPos(int force);
    void SetLed(int index, signed char on, int mode);
    void SetLedMode(int mode);
    void NewLeds(int force);
    int ShowStatusline(signed char show, int* delta);
    void ArrangeItems(signed char measure);
    COLORREF GetOverlayColor();

    // What the fields show now (tests, the capture command).
    std::string FieldText(CONTROLID id) const;
    bool FieldVisible(CONTROLID id) const;
    int CaptureSwitchValue() const;
    uint32_t LedState() const { return Leds.load(); }
    int LightIcon(int index) const;
    int DevicePicture() const { return DevicePictureShown; }
    int LineHeight() const { return Height; }
    FIELD const& Field(int index) const { return Fields[static_cast<size_t>(index)]; }
    int FieldIndex(CONTROLID id) const;
    RECT FieldRect(int index) const;

    // WINDOWPART.
    int QueryHeight(SESSION*, int) override { return Shown == 1 ? Height : 0; }
    int Show(bool show, int* heightDelta) override { return ShowStatusline(show ? 1 : 0, heightDelta); }
    void Move(int x, int y, int cx, int cy) override;
    // The tint of the tab's colour, percent strong; 0 none.
    void SetColorOverlay(COLORREF colour, int percent) override;
    void Invalidate() override { CHILDWINDOW::Invalidate(nullptr); }
    void CancelTooltips() override {}
    void BringToTop() override;

    // Window events.
    int OnPaint() override;
    bool OnSized() override;
    bool OnTimer(int id) override;
    bool OnCommand(uint32_t id) override;
    bool OnFocusAcquired() override;
    bool OnPushbutton(CONTROLID id) override;
    bool OnMouseEvent(int message, int x, int y, int flags) override;
    bool OnControlEvent(int code, CONTROL const& control, void* data) override;
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override;

private:
    void CreateItems();
    void MakeTooltips();
    int TextToButton(CONTROLID id, char const* text, std::string& cache, size_t size);
    void NewStatustext(SESSION& session, std::string& device, std::string& logname, std::string& transfer,
                       std::string& emulation, std::string& time, std::string& size);
    int MeasureText(char const* text);
    CONTROL* ControlOf(int index) const;

    APP& Owner;
    COREFONT* Font = nullptr;
    int FontHeight = 12;
    std::array<FIELD, NUMFIELDS> Fields;
    std::array<std::unique_ptr<QORBUTTON>, NUMFIELDS> Buttons;
    std::array<std::unique_ptr<CONTROL>, NUMFIELDS> Controls;
    std::unique_ptr<CONTROL> StaticIcon;
    std::unique_ptr<TOOLTIPS> Tips;
    int Height = 20;
    int ShowLeds = 1;
    int ShowTraffic = 1;
    int ShowLedsApplied = -1;
    int CheckState = -99;
    bool SettingCheck = false;
    int CursorCache = -1;
    int DevicePictureShown = -1;
    int DevicePictureLeds = -1;
    std::atomic<uint32_t> Leds{0};
    uint32_t LedsDrawn = static_cast<uint32_t>(-99);
    int Shown = -1;
    uint32_t Overlay = 0xFFFFFFFF;
    std::array<int, 4> LightIcons{{0, 0, 0, 0}};
    // The texts last handed to the fields: STAT 0, PUSH 0 to 7.
    std::string CacheStat;
    std::array<std::string, 8> CachePush;
};
