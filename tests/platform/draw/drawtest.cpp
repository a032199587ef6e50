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
