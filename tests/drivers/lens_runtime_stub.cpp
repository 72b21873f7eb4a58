// The display vendor's runtime as the lenticular driver's tests stage it: the driver only
// proves that a library of this name loads.
#include "platform/export.h"

NORVIK_EXPORT int LensRuntimeStubVersion() { return 1; }
