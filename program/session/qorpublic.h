// HOSTPUBLIC: the host's QORPUBLIC, the services one loaded sub-module gets.
// Every operation forwards to the session through SESSIONLINK; the data
// members are filled from it at construction.
#pragma once

#include "plugins/sdk/qorpublic.h"

class SESSIONLINK;

class HOSTPUBLIC final : public QORPUBLIC {
public:
    explicit HOSTPUBLIC(SESSIONLINK& session);
    ~HOSTPUBLIC() override;

    int SetLed(int led, signed char on, int mode) override;
    int SetLedMode(int mode) override;
    void* PrinterOpen(signed char flag) override;
    int PrinterWrite(void* job, char const* data, int len) override;
    int PrinterClose(void* job) override;
    int Log(char const* text, int len) override;
    int LogWide(wchar_t const* text, int len) override;
    int WaitForSessionForeground(signed char* abort) override;
    int AddScrollLine(VIOCELL const* cells, int count, signed char notify) override;
    int FeedKeys(wchar_t const* keys, int count, signed char raw) override;
    int Bell() override;
    int AppTrackChanges() override;
    STRING GetEnqString(char* buf, int max) override;
    int WatchLearn(char direction, wchar_t ch) override;
    int WatchWait(wchar_t ch) override;
    int Ask(char const* title, char const* text, char* buf, int max, int flags, signed char* result) override;
    int AskUserPass(char const* title, char* user, char* pass, int* flags) override;
    int AskPassphrase(char const* title, char const* text, char const* keyfile, char* pass, int* flags) override;
    STRING AskFilename(char const* title, char const* mask, WINDOW const& owner) override;
    STRING AskSaveAsFilename(char const* title, char const* mask, WINDOW const& owner) override;
    int EditSysColors(WINDOW& owner) override;
    int StartProgram(char const* program, char const* args, char const* folder, int flags) override;
    int WarningMsg(char const* text) override;
    void DestroyIntroWin() override;
    int PushFnctSelectFile(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target) override;
    int PushFnctSelectFolder(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target) override;

private:
    SESSIONLINK& Link;
};
