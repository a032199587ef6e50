#include "platform/services/bundle.h"

#include "tests/platform/services/env_guard.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

// Looked up through "<self>": the test program exports its symbols.
extern "C" __attribute__((visibility("default"), used)) int svc_self_marker()
{
    return 4711;
}

namespace {

using AnswerFn = int (*)(int);

class Bundles : public testing::Test {
protected:
    void SetUp() override { env_.Set("QOR_STAGE_DIR", SVC_TEST_STAGE); }
    EnvGuard env_;
};

TEST_F(Bundles, ModuleNamesMapOntoSharedObjects)
{
    struct Case {
        char const* module;
        char const* file;
        bool loads;
    };
    std::vector<Case> const cases = {
        {"svcplugin.dll", "svcplugin.so", true},
        {"svcplugin.DLL", "svcplugin.so", true},
        {"svcplugin.so", "svcplugin.so", true},
        {"svcplugin.dll.txt", "svcplugin.dll.txt", false},
        {"missing.dll", "missing.so", false},
        {"sub/svcplugin.so", "sub/svcplugin.so", false},
        {"../PlugIns/svcplugin.so", "../PlugIns/svcplugin.so", false},
        {"", "", false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.module);
        EXPECT_EQ(plat::BundleFileName(c.module), c.file);
        plat::Bundle b;
        EXPECT_EQ(b.Load(c.module), c.loads);
        EXPECT_EQ(b.IsLoaded(), c.loads);
        if (c.loads) {
            EXPECT_EQ(b.FileName(), c.file);
            EXPECT_TRUE(b.Error().empty());
        } else {
            EXPECT_FALSE(b.Error().empty());
        }
    }
}

TEST_F(Bundles, FunctionsAreFoundCalledAndMissingOnesReported)
{
    plat::Bundle b;
    ASSERT_TRUE(b.Load("svcplugin.dll")) << b.Error();
    auto answer = reinterpret_cast<AnswerFn>(b.Function("svc_plugin_answer"));
    ASSERT_NE(answer, nullptr) << b.Error();
    EXPECT_EQ(answer(20), 41);

    EXPECT_EQ(b.Function("svc_no_such_function"), nullptr);
    EXPECT_NE(b.Error().find("svc_no_such_function"), std::string::npos) << b.Error();

    // A failed load keeps the bundle loaded before.
    EXPECT_FALSE(b.Load("missing.dll"));
    EXPECT_NE(b.Error().find("missing.so"), std::string::npos) << b.Error();
    EXPECT_TRUE(b.IsLoaded());
    EXPECT_EQ(b.FileName(), "svcplugin.so");
    EXPECT_NE(b.Function("svc_plugin_answer"), nullptr);

    b.Unload();
    EXPECT_FALSE(b.IsLoaded());
    EXPECT_EQ(b.Function("svc_plugin_answer"), nullptr);
    b.Unload(); // harmless twice
}

TEST_F(Bundles, SelfIsTheProgramItself)
{
    plat::Bundle b;
    ASSERT_TRUE(b.Load("<SELF>")) << b.Error();
    EXPECT_EQ(b.FileName(), "<self>");
    auto marker = reinterpret_cast<int (*)()>(b.Function("svc_self_marker"));
    ASSERT_NE(marker, nullptr) << b.Error();
    EXPECT_EQ(marker(), 4711);
    // Symbols of plug-ins loaded locally stay out of the program's scope.
    plat::Bundle plugin;
    ASSERT_TRUE(plugin.Load("svcplugin.so"));
    EXPECT_EQ(b.Function("svc_plugin_answer"), nullptr);
}

TEST_F(Bundles, BundlesOthersCouldReplaceAreRefused)
{
    // A stage of its own holding a copy of the test bundle.
    testutil::TempDir stage;
    std::string const folder = stage.path() + "/lib/qor/PlugIns";
    std::filesystem::create_directories(folder);
    std::string const file = folder + "/svcplugin.so";
    std::filesystem::copy_file(std::string(SVC_TEST_STAGE) + "/lib/qor/PlugIns/svcplugin.so", file);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(file.c_str(), 0755), 0);
    env_.Set("QOR_STAGE_DIR", stage.path());

    struct Case {
        char const* what;
        mode_t folderMode, fileMode;
        char const* reason; // null: loads
    };
    Case const cases[] = {
        {"owner-writable", 0755, 0755, nullptr},
        {"group-writable (a user's private group)", 0775, 0775, nullptr},
        {"folder writable by anyone", 0777, 0755, "PlugIns is writable by others"},
        {"folder with the sticky bit, still anyone's", 01777, 0755, "PlugIns is writable by others"},
        {"bundle writable by anyone", 0755, 0757, "svcplugin.so is writable by others"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(chmod(folder.c_str(), c.folderMode), 0);
        ASSERT_EQ(chmod(file.c_str(), c.fileMode), 0);
        plat::Bundle b;
        EXPECT_EQ(b.Load("svcplugin.dll"), c.reason == nullptr) << b.Error();
        if (c.reason) {
            EXPECT_NE(b.Error().find(c.reason), std::string::npos) << b.Error();
            EXPECT_FALSE(b.IsLoaded());
        }
    }
    chmod(folder.c_str(), 0755);
}

} // namespace
