// Request handlers never throw: the one exception their work can meet is an allocation
// failure, answered as XR_ERROR_OUT_OF_MEMORY.
#pragma once

#include <openxr/openxr.h>

#include <new>

namespace qor {

template <typename Body>
XrResult Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return XR_ERROR_OUT_OF_MEMORY;
    }
}

}  // namespace qor
