// The XR service closes itself once no application has an instance for two watchdog checks
// (about 10 s). Tests that keep a started service idle for longer make this process its
// application first.
#pragma once

#include <cstdint>

namespace qor::test {

// Creates an instance over the service pipe with this process's own executable path, so the
// watchdog watches this process. Returns the instance handle, 0 when the service refused.
uint64_t KeepServiceRunning();

}  // namespace qor::test
