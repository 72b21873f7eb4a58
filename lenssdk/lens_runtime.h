// The runtime as a whole: loading this library loads the SDK's other libraries, which is how
// the display driver learns that the display vendor's runtime is installed.
#pragma once

#include "lenssdk/lens_api.h"

namespace lens {

// The runtime's version, major * 10000 + minor * 100 + patch.
LENS_RUNTIME_API int runtimeVersion();

}  // namespace lens
