// The drawing tests need the application object before any test runs.
#include "tests/platform/draw/drawtest.h"
#include "platform/draw/runtime.h"

#include <gtest/gtest.h>

namespace drawtest {
namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(plat::EnsureGuiApplication()); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace
} // namespace drawtest

// Under LeakSanitizer: fontconfig keeps its configuration and font cache
// for the life of the process and never frees them; that is not a leak of
// ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
