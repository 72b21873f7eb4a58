// The runtime as a whole: loading this library loads the SDK's other libraries, which is how
// the display driver learns that the display vendor's runtime is installed.
#pragma once

namespace lens {

// The runtime's version, major * 10000 + minor * 100 + patch.
int runtimeVersion();

}  // namespace lens
