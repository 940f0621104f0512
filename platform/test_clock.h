// The clock that unit tests may put in place of the system's (platform.h SetTestClock).
// Used only by the platform's clock implementations.
#pragma once

#include "platform/platform.h"

namespace platform {
// The test clock in force, or null.
const TestClock* ActiveTestClock();
}  // namespace platform
