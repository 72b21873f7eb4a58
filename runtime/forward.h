// The forwarding functions the function table hands out: each turns one OpenXR call into
// one exchange with the XR service.
#pragma once

#include "protocol/operations.h"
#include "runtime/graphics_types.h"

#include <openxr/openxr.h>

#include <type_traits>

namespace qor::runtime::forward {

// One per operation of the list, of exactly its OpenXR prototype: a definition of another
// signature leaves this one undefined, and the function table does not link.
#define NORVIK_DECLARE_FORWARD(Name, Code, Function, ...) std::remove_pointer_t<PFN_##Function> Function;
NORVIK_OPERATIONS(NORVIK_DECLARE_FORWARD)
#undef NORVIK_DECLARE_FORWARD

}  // namespace qor::runtime::forward
