// SDL counts its initialised subsystems and keeps its hints without a lock of its own. The
// display window's thread and the gamepad initialise and quit their subsystems on different
// threads, so both do it under this one mutex.
#pragma once

#include <mutex>

namespace qor::basic {

// Constant-initialised: usable from static objects' constructors and destructors.
inline std::mutex g_sdlSubsystemMutex;

}  // namespace qor::basic
