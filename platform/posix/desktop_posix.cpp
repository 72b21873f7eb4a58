#include "platform/desktop.h"

namespace qor::platform {

// There is no COM and no DPI virtualisation on Linux.
bool InitializeComMultithreaded() { return true; }
void UninitializeCom() {}
void SetPerMonitorDpiAwareV2() {}

}  // namespace qor::platform
