// Icons by numeric id: ICONMAP registers the program's icon files once
// (the table "iconsmap.txt" of the resources), ICON fetches one by its id
// and can show it as a window's proxy icon. Main thread only.
//
// Format of "iconsmap.txt", one icon per line: the decimal id, a blank,
// the file name (a PNG among the resources, at the top or in "Icons"),
// optionally a blank, "//" and a comment. Lines with id 0 or without a name
// are skipped; the name may stand in double quotes.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winevents.h"

#include "platform/draw/icons.h"

class VELMOT_EXPORT ICON {
public:
    // Loads when id is not 0; attaches to the window when it is not null.
    explicit ICON(uint32_t id = 0, plat::WindowRef window = nullptr);
    virtual ~ICON();
    ICON(ICON const&) = delete;
    ICON& operator=(ICON const&) = delete;

    bool Load(uint32_t id);
    bool LoadSized(uint32_t id, int cx, int cy, void* module = nullptr);
    // Flag value 2 refuses (returns 0).
    int AttachToWindow(plat::WindowRef window, int flags = 0);
    int DetachFromWindow(int flags = 0);
    void Destroy();

    plat::IconRef GetIconRef() const { return fIcon; }
    operator plat::IconRef() const { return fIcon; }
    uint32_t GetId() const { return fId; }

private:
    plat::IconRef fIcon = nullptr;
    uint32_t fId = 0;
    plat::WindowRef fWindow = nullptr;
};

class VELMOT_EXPORT ICONMAP {
public:
    static constexpr int MAXICONS = 256;
    struct ENTRY {
        uint32_t id = 0;
        STRING file;
        plat::IconRef icon = nullptr;
    };

    // The table, read on first use.
    static ICONMAP* GetInstance();
    static void ReleaseInstance();
    virtual ~ICONMAP();
    ICONMAP(ICONMAP const&) = delete;
    ICONMAP& operator=(ICONMAP const&) = delete;

    // Registers the resource file under the id (creator 'VLMT'); false when
    // the name is empty, the file is not found or the table is full.
    bool RegisterAs(char const* filename, uint32_t id);
    // A reference to the registered icon of that id (the caller releases
    // it), or null.
    static plat::IconRef CopyRefFromIconId(uint32_t id);

    int NumIcons = 0;
    ENTRY Icons[MAXICONS];

private:
    ICONMAP();
    void ReadTable();

    static ICONMAP* pInstance;
};
