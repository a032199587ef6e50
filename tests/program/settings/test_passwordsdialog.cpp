// The list of stored logins, offscreen: the records shown, deleting the
// selected one, and OK writing back exactly that deletion. With
// QOR_REVIEW_DIR set, a picture of the dialog is written there.
#include "program/settings/passwordcache.h"
#include "program/settings/programsettings.h"
#include "program/settings/settingshost.h"

#include "platform/draw/viewsupport.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/events/testinput.h"
#include "platform/services/keychain.h"
#include "tests/support/testutil.h"
#include "tests/velmot/gui/questions_fixture.h"
#include "velmot/gui/listview.h"
#include "velmot/gui/windows.h"

#include <gtest/gtest.h>

namespace {

struct HOST : SETTINGSHOST {
    ADMINOPTS Record{};
    ADMINOPTS& Admin() override { return Record; }
};

} // namespace

TEST(PasswordsDialog, DeleteSelectedThenOk)
{
    for (char const* lang : {"en", "de"}) {
        SCOPED_TRACE(lang);
        guifix::RESOURCELANGUAGE language(lang);
        testutil::TempDir dir;
        plat::KeychainUseStore(plat::KeychainStore::File, dir.file("keychain"));
        HOST host;
        PROGRAMSETTINGSDATA settings{};
        settings.PwdAutoExpire = 30;
        PASSWORDCACHE cache(host, &settings, dir.path().c_str());
        ASSERT_TRUE(cache.SaveLogin(10, "alice@example.org", "alice", "x"));
        ASSERT_TRUE(cache.SaveLogin(30, "bob@host:22", "bob", "secret"));
        ASSERT_TRUE(cache.SaveLogin(31, "key:/home/bob/.ssh/id_ed25519", "bob", "phrase"));

        bool deleteEnabledBefore = true;
        bool deleteEnabledAfter = false;
        plat::AddModalResponder(plat::kModalWindow, [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            WINDOW dialog(r.window);
            plat::ViewRef list = plat::FindViewById(plat::WindowRootView(r.window), {plat::FourCC("DROP"), 1});
            CONTROL deleteOne(dialog.GetClientParent(), CONTROLID{plat::FourCC("PUSH"), 1});
            deleteEnabledBefore = deleteOne.IsEnabled();
            // The first row: sorted by user name, descending, that is bob's
            // password (then his pass phrase, then alice).
            plat::testinput::Click(list, plat::PointI{60, 28});
            plat::ProcessPendingEvents(100);
            deleteEnabledAfter = deleteOne.IsEnabled();
            if (char const* folder = getenv("QOR_REVIEW_DIR")) {
                auto picture = plat::GrabView(plat::WindowRootView(r.window));
                if (picture)
                    picture->SavePng(std::string(folder) + "/passwordcache-" + lang + ".png");
            }
            deleteOne.SimulateHit(plat::kControlPartButton);
            CONTROL(dialog.GetClientParent(), CONTROLID{plat::FourCC("OKAY"), 0}).SimulateHit(plat::kControlPartButton);
            return true;
        });
        cache.PasswordsDialog(WINDOW(static_cast<plat::WindowRef>(nullptr)));
        plat::ClearModalResponders();

        EXPECT_FALSE(deleteEnabledBefore) << "nothing selected, nothing to delete";
        EXPECT_TRUE(deleteEnabledAfter);
        STRING user, pass;
        EXPECT_TRUE(cache.GetLogin(0, "alice@example.org", &user, &pass));
        EXPECT_FALSE(cache.GetLogin(0, "bob@host:22", &user, &pass)) << "the selected login is gone";
        EXPECT_TRUE(cache.GetLogin(0, "key:/home/bob/.ssh/id_ed25519", &user, &pass));
    }
}
