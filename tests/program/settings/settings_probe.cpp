// The second instance of the two-process settings tests.
//
//   settings_probe listen <work folder> <status file>
//     loads "Options/Standard.qfg", writes "ready <BeepMax>", waits for
//     another instance's notice, then writes "reloaded <BeepMax>" (exit 0),
//     or exits 2 after 15 seconds.
//   settings_probe lock <work folder> <status file>
//     takes the settings editor's lock, writes "locked" (or "busy", exit 1)
//     and waits to be killed.
#include "program/settings/programsettings.h"
#include "program/settings/settingsipc.h"
#include "velmot/core/workdir.h"
#include "platform/services/dispatch.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

struct PROBEHOST : SETTINGSHOST {
    ADMINOPTS admin{};
    int applied = 0;
    SETTINGSIPC* ipc = nullptr;
    ADMINOPTS& Admin() override { return admin; }
    void PostApplySettings() override { ++applied; }
    void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) override
    {
        if (ipc)
            ipc->SendMessage(msg, mp1, mp2);
    }
};

void Status(std::string const& path, std::string const& text)
{
    if (FILE* f = fopen(path.c_str(), "a")) {
        fprintf(f, "%s\n", text.c_str());
        fclose(f);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 64;
    std::string mode = argv[1];
    std::string status = argv[3];
    WORKDIR::SetCurrent(argv[2]);

    PROBEHOST host;
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    OPTSBASE::CopyText(host.admin.DefaultOptionsFolder, sizeof host.admin.DefaultOptionsFolder, "Options");
    PROGRAMSETTINGS settings(host);
    settings.Init();
    settings.SetFilename("Standard.qfg");

    if (mode == "lock") {
        if (!settings.LockFile(true)) {
            Status(status, "busy");
            return 1;
        }
        Status(status, "locked");
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    if (mode != "listen")
        return 64;
    SETTINGSIPC ipc([&settings](uint32_t, uint32_t mp1, uint32_t mp2) {
        if ((mp1 & 0xFFFF0000u) == PROGRAMSETTINGS_IPCGROUP)
            settings.IpcEvent(mp1 & 0xFFFFu, mp2);
    });
    host.ipc = &ipc;
    settings.Load();
    Status(status, "ready " + std::to_string(settings.data.BeepMax));
    for (int waited = 0; waited < 15000; waited += 10) {
        plat::PumpPendingTasks();
        if (host.applied) {
            Status(status, "reloaded " + std::to_string(settings.data.BeepMax));
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 2;
}
