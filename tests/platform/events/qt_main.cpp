// Registers the application environment of the Qt bridge tests.
#include "tests/platform/events/qt_fixture.h"

namespace {
[[maybe_unused]] ::testing::Environment* const gEnv =
    ::testing::AddGlobalTestEnvironment(new qtfix::QtEnvironment);
} // namespace
