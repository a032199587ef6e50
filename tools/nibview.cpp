// nibview: renders a layout to a PNG, offscreen, for review.
//
//   nibview [--nibs FOLDER]... [--lang LANGUAGE] [--menubar BAR] NAME OUT.png
//
// NAME is a window or dialog (drawn with its controls under a caption band
// that shows its title; with --menubar, the window carries that menu bar),
// a menu (as it opens) or a menu bar (the bar, and each of its menus
// opened below it). Menu bars end with the application's Help menu, which
// holds the items of the layout ID_HELPMENU as in the program. The
// program's own layouts are read from the stage's Resources/nibs; --nibs
// adds the layouts of another folder. --lang picks the language of the
// texts ("en", "de").
#include "velmot/core/tarvo.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winmenu.h"

#include "platform/draw/bitmap.h"
#include "platform/draw/context.h"
#include "platform/draw/font.h"
#include "platform/draw/viewsupport.h"
#include "platform/events/application.h"
#include "platform/events/queue.h"
#include "platform/menus/menus.h"
#include "platform/nibs/nib.h"
#include "platform/services/resources.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kCaption = 24;
constexpr int kGap = 8;

// Draws `picture` with its top-left corner at (x, top) of the y-up canvas.
void Place(plat::Bitmap& canvas, plat::Bitmap const& picture, int x, int top)
{
    plat::DrawContext& dc = canvas.Context();
    dc.DrawBitmap(plat::Rect{static_cast<double>(x), static_cast<double>(canvas.Height() - top - picture.Height()),
                             static_cast<double>(picture.Width()), static_cast<double>(picture.Height())},
                  picture);
}

std::unique_ptr<plat::Bitmap> WithCaption(plat::Bitmap const& window, std::string const& title)
{
    auto canvas = plat::Bitmap::Create(window.Width(), window.Height() + kCaption);
    if (!canvas)
        return nullptr;
    plat::DrawContext& dc = canvas->Context();
    dc.SetFillColor(plat::Color{0.82f, 0.84f, 0.87f, 1});
    dc.FillRect(plat::Rect{0, static_cast<double>(window.Height()), static_cast<double>(window.Width()), kCaption});
    if (auto font = plat::Font::Create("DejaVu Sans", 13, true)) {
        plat::Text const text = plat::Text::FromUtf8(title);
        dc.SetFillColor(plat::Color{0.1f, 0.1f, 0.1f, 1});
        dc.DrawText(*font, plat::Point{8, static_cast<double>(window.Height()) + 7}, text.Units());
    }
    Place(*canvas, window, 0, kCaption);
    return canvas;
}

void Settle()
{
    for (int i = 0; i < 20; ++i)
        plat::ProcessPendingEvents(1000);
}

// The application's Help menu with the program's items, as the program
// fills it.
void FillHelpMenu()
{
    MENU none(static_cast<plat::MenuRef>(nullptr));
    TARVOAPP::FillMenubarHelp(none);
}

std::unique_ptr<plat::Bitmap> RenderWindow(plat::NibRef nib, std::string const& name, std::string const& menubar)
{
    plat::WindowRef window = nullptr;
    if (plat::CreateWindowFromNib(nib, name, &window) != plat::kNoErr)
        return nullptr;
    if (!menubar.empty()) {
        plat::MenuRef root = nullptr;
        if (plat::CreateMenuBarFromNib(nib, menubar, &root) != plat::kNoErr) {
            std::fprintf(stderr, "nibview: no menu bar %s\n", menubar.c_str());
            plat::DisposeWindow(window);
            return nullptr;
        }
        FillHelpMenu();
        plat::SetWindowMenuBar(window, root);
        plat::ReleaseMenu(root);
    }
    plat::ShowWindow(window, true);
    Settle();
    std::unique_ptr<plat::Bitmap> picture = plat::GrabView(plat::WindowRootView(window));
    std::string const title = plat::GetWindowTitle(window);
    plat::DisposeWindow(window);
    return picture ? WithCaption(*picture, title) : nullptr;
}

std::unique_ptr<plat::Bitmap> RenderMenuBar(plat::NibRef nib, std::string const& name)
{
    plat::MenuRef root = nullptr;
    if (plat::CreateMenuBarFromNib(nib, name, &root) != plat::kNoErr)
        return nullptr;
    FillHelpMenu();
    std::vector<std::unique_ptr<plat::Bitmap>> menus;
    int width = kGap;
    int height = 0;
    std::vector<plat::MenuRef> shown;
    for (int i = 1; i <= plat::CountMenuItems(root); ++i)
        shown.push_back(plat::GetMenuItemSubmenu(root, i));
    shown.push_back(plat::GetHelpMenu());
    for (plat::MenuRef menu : shown) {
        if (auto m = menu ? plat::DrawMenuPicture(menu, nullptr) : nullptr) {
            width += m->Width() + kGap;
            height = std::max(height, m->Height());
            menus.push_back(std::move(m));
        }
    }
    plat::WindowSpec spec;
    spec.bounds = plat::RectI{0, 0, std::max(width, 320), 40};
    spec.title = name;
    plat::WindowRef window = plat::CreateWindow(spec);
    plat::SetWindowMenuBar(window, root);
    plat::ReleaseMenu(root);
    plat::ShowWindow(window, true);
    Settle();
    std::unique_ptr<plat::Bitmap> bar = plat::GrabView(plat::WindowRootView(window));
    plat::DisposeWindow(window);
    if (!bar)
        return nullptr;
    auto canvas = plat::Bitmap::Create(bar->Width(), bar->Height() + kGap + height + kGap);
    if (!canvas)
        return nullptr;
    plat::DrawContext& dc = canvas->Context();
    dc.SetFillColor(plat::Color{1, 1, 1, 1});
    dc.FillRect(plat::Rect{0, 0, static_cast<double>(canvas->Width()), static_cast<double>(canvas->Height())});
    Place(*canvas, *bar, 0, 0);
    int x = kGap;
    for (auto const& m : menus) {
        Place(*canvas, *m, x, bar->Height() + kGap);
        x += m->Width() + kGap;
    }
    return canvas;
}

int Usage()
{
    std::fprintf(stderr, "usage: nibview [--nibs FOLDER]... [--lang LANGUAGE] [--menubar BAR] NAME OUT.png\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::vector<std::string> folders;
    std::vector<std::string> rest;
    std::string menubar;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--nibs") == 0 && i + 1 < argc)
            folders.push_back(std::filesystem::absolute(argv[++i]).string());
        else if (std::strcmp(argv[i], "--lang") == 0 && i + 1 < argc)
            setenv("LANGUAGE", argv[++i], 1);
        else if (std::strcmp(argv[i], "--menubar") == 0 && i + 1 < argc)
            menubar = argv[++i];
        else
            rest.push_back(argv[i]);
    }
    if (rest.size() != 2)
        return Usage();
    // The start of the library may change the current folder.
    rest[1] = std::filesystem::absolute(rest[1]).string();
    static char program[] = "nibview";
    static char* args[] = {program, nullptr};
    static int count = 1;
    TARVOAPP::InitArgsLoggingAndLocale(1, args, LOCALE_ENGLISH);
    if (!plat::StartApplication(&count, args)) {
        std::fprintf(stderr, "nibview: the window system does not start\n");
        return 1;
    }
    plat::ClearResourceCache();
    for (std::string const& f : folders)
        plat::AddMainNibFolder(f);
    plat::NibRef nib = plat::OpenMainNib();
    plat::NibModel const* model = plat::GetNibModel(nib);
    std::string const& name = rest[0];
    std::unique_ptr<plat::Bitmap> picture;
    ICONMAP::GetInstance();
    if (model && model->windows.count(name)) {
        picture = RenderWindow(nib, name, menubar);
    } else if (model && model->menubars.count(name)) {
        picture = RenderMenuBar(nib, name);
    } else if (model && model->menus.count(name)) {
        plat::MenuRef menu = nullptr;
        if (plat::CreateMenuFromNib(nib, name, &menu) == plat::kNoErr) {
            picture = plat::DrawMenuPicture(menu, nullptr);
            plat::ReleaseMenu(menu);
        }
    } else {
        std::fprintf(stderr, "nibview: no layout %s\n", name.c_str());
    }
    bool const saved = picture && picture->SavePng(rest[1]);
    if (picture && !saved)
        std::fprintf(stderr, "nibview: %s cannot be written\n", rest[1].c_str());
    ICONMAP::ReleaseInstance();
    plat::ReleaseHelpMenu();
    plat::CloseMainNib();
    plat::StopApplication();
    return saved ? 0 : 1;
}
