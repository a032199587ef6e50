// Base bodies of the plug-in objects. This source is compiled into every
// plug-in bundle; the program never links it.
#include "plugins/sdk/qorsubsystem.h"

#include "velmot/core/logit.h"
#include "velmot/gui/wincontrols.h"

#include <algorithm>
#include <cstring>

QORSUBSYSTEM::QORSUBSYSTEM(SUBSYSINITDATA const& init) : Public(init.Public) {}

QORSUBSYSTEM::~QORSUBSYSTEM() = default;

int QORSUBSYSTEM::MakeMenu(MENU const&, int)
{
    return 0;
}

int QORSUBSYSTEM::HandleMenuEvent(int, char const*)
{
    return 0;
}

char const* QORSUBSYSTEM::GetOptsDialogId(int language)
{
    return language == 49 ? "DLG_SUBSYS_OPTIONS_GERMAN" : "DLG_SUBSYS_OPTIONS_ENGLISH";
}

int QORSUBSYSTEM::OnOptsDialogInit(QORSUBSYSOPTSDIALOG&, char const*)
{
    return 0;
}

int QORSUBSYSTEM::OnOptsDialogPushbutton(QORSUBSYSOPTSDIALOG&, CONTROLID)
{
    return 0;
}

int QORSUBSYSTEM::OnOptsDialogControlEvent(QORSUBSYSOPTSDIALOG&, int, CONTROL const&)
{
    return 0;
}

int QORSUBSYSTEM::OnOptsDialogGetVaues(QORSUBSYSOPTSDIALOG&, char*, int)
{
    return 0;
}

QORTRANSFER::QORTRANSFER(SUBSYSINITDATA const& init)
    : QORSUBSYSTEM(init), ForcedOptions(0), UploadOptions(0), AutoUploadSeq{}, AutoUploadSeqLen(0),
      DownloadOptions(0), AutoDownloadSeq{}, AutoDownloadSeqLen(0)
{
}

int QORTRANSFER::Prestart(int, int*, char**, int)
{
    return 1;
}

unsigned long QORTRANSFER::GetCommonOptions()
{
    return (DownloadOptions & UploadOptions) | ForcedOptions;
}

unsigned long QORTRANSFER::GetDownloadOptions()
{
    return DownloadOptions | ForcedOptions;
}

unsigned long QORTRANSFER::GetUploadOptions()
{
    return UploadOptions | ForcedOptions;
}

int QORTRANSFER::CheckDownloadOptions(unsigned long bits)
{
    return (bits & GetDownloadOptions()) != 0 ? 1 : 0;
}

int QORTRANSFER::CheckUploadOptions(unsigned long bits)
{
    return (bits & GetUploadOptions()) != 0 ? 1 : 0;
}

namespace {

// A sequence that does not fit is reported and cut to the buffer, so a
// caller's too small buffer is never overrun.
int CopySequence(char const* seq, int len, char* out, int outmax)
{
    int l = len;
    int omax = outmax;
    if (!(l < omax)) {
        AssertMsg(0, "l<omax", __FILE__, __LINE__);
        l = std::max(0, omax - 1);
    }
    if (l > 0 && out)
        memcpy(out, seq, static_cast<size_t>(l));
    return out ? l : 0;
}

} // namespace

int QORTRANSFER::GetAutoUploadSeq(char* out, int outmax)
{
    return CopySequence(AutoUploadSeq, AutoUploadSeqLen, out, outmax);
}

int QORTRANSFER::GetAutoDownloadSeq(char* out, int outmax)
{
    return CopySequence(AutoDownloadSeq, AutoDownloadSeqLen, out, outmax);
}

int QORTRANSFER::HandleCustomEvent(char const*, char*, int, void*)
{
    return 0;
}

int QORTRANSFER::NoSuppressScreenOutput()
{
    return 0;
}
