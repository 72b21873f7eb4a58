// A library in a driver's place that lacks the factory export.
#include "platform/export.h"

NORVIK_EXPORT int NotADriver() { return 0; }
