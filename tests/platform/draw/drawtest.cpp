#include <gtest/gtest.h>

#include "tests/platform/draw/drawtest.h"
#include "platform/draw/runtime.h"
#include "tests/support/testutil.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace drawtest {
namespace {

// Fonts and painting need the application object before any test runs.
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(plat::EnsureGuiApplication()); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace

} // namespace drawtest
