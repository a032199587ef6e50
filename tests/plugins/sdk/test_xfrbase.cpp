// The base classes compiled into every plug-in: what a transfer protocol
// reports from its option masks, its trigger sequences and its options pane.
#include "plugins/sdk/qorsubsystem.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class PROTOCOL final : public QORTRANSFER {
public:
    PROTOCOL(uint32_t forced, uint32_t up, uint32_t down, char const* seq = "")
        : QORTRANSFER(SUBSYSINITDATA{})
    {
        ForcedOptions = forced;
        UploadOptions = up;
        DownloadOptions = down;
        AutoDownloadSeqLen = static_cast<int32_t>(strlen(seq));
        memcpy(AutoDownloadSeq, seq, strlen(seq));
    }
    int SetParm(char const*) override { return 0; }
    char* QueryParm(char* b, int) override { return b; }
    char* QueryStdParm(char* b) override { return b; }
    char* QueryStatus(char* b) override { return b; }
    int Upload(char const*, int, char const**, signed char) override { return 0; }
    int Download(char const*, int, char const**, signed char) override { return 0; }
    int OnEndTransfer() override { return 0; }
};

} // namespace

TEST(TransferBase, OptionMasks)
{
    struct {
        char const* name;
        uint32_t forced, up, down;
        unsigned long common, download, upload;
        int check8down, check2up;
    } const cases[] = {
        {"SCP", 0, 6, 18, 2, 18, 6, 0, 1},
        {"SEAlink", 0, 6, 10, 2, 10, 6, 1, 1},
        {"IND$FILE", 128, 16, 16, 144, 144, 144, 0, 0},
    };
    for (auto const& c : cases) {
        PROTOCOL p(c.forced, c.up, c.down);
        EXPECT_EQ(p.GetCommonOptions(), c.common) << c.name;
        EXPECT_EQ(p.GetDownloadOptions(), c.download) << c.name;
        EXPECT_EQ(p.GetUploadOptions(), c.upload) << c.name;
        EXPECT_EQ(p.CheckDownloadOptions(8), c.check8down) << c.name;
        EXPECT_EQ(p.CheckUploadOptions(2), c.check2up) << c.name;
        EXPECT_EQ(p.Prestart(2, nullptr, nullptr, 0), 1);
        EXPECT_EQ(p.NoSuppressScreenOutput(), 0);
    }
}

TEST(TransferBase, TriggerSequencesNeverOverrunTheCallersBuffer)
{
    PROTOCOL p(0, 0, 0, "**\x18" "B00");
    char out[16];
    memset(out, '#', sizeof out);
    EXPECT_EQ(p.GetAutoDownloadSeq(out, sizeof out), 6);
    EXPECT_EQ(memcmp(out, "**\x18" "B00#", 7), 0) << "no terminator is written";
    EXPECT_EQ(p.GetAutoUploadSeq(out, sizeof out), 0);
    char tight[4];
    memset(tight, '#', sizeof tight);
    EXPECT_EQ(p.GetAutoDownloadSeq(tight, sizeof tight), 3) << "a sequence that does not fit is cut";
    EXPECT_EQ(memcmp(tight, "**\x18#", 4), 0);
}

TEST(TransferBase, OptionsPaneNames)
{
    PROTOCOL p(0, 0, 0);
    EXPECT_STREQ(p.GetOptsDialogId(49), "DLG_SUBSYS_OPTIONS_GERMAN");
    EXPECT_STREQ(p.GetOptsDialogId(1), "DLG_SUBSYS_OPTIONS_ENGLISH");
    EXPECT_STREQ(p.GetOptsDialogId(0), "DLG_SUBSYS_OPTIONS_ENGLISH");
}
