// Operation codes of the service pipe, expanded from the operation list (operations.h).
#pragma once

#include "protocol/operations.h"

#include <cstdint>
#include <span>

namespace qor::protocol {

enum class Op : uint32_t {
    // A bare code 0 asks only whether the service answers; it carries no OpenXR call.
    Liveness = 0,
#define NORVIK_OP_CODE(Name, Code, ...) Name = Code,
    NORVIK_OPERATIONS(NORVIK_OP_CODE)
#undef NORVIK_OP_CODE
};

// The reserved extension-function codes: the service refuses them, the runtime never sends them.
constexpr uint32_t kFirstExtensionCode = 100000;
constexpr uint32_t kLastExtensionCode = 100036;
constexpr bool IsReservedExtensionCode(uint32_t code) {
    return code >= kFirstExtensionCode && code <= kLastExtensionCode &&
           code != static_cast<uint32_t>(Op::GetD3D11GraphicsRequirementsKHR) &&
           code != static_cast<uint32_t>(Op::GetD3D12GraphicsRequirementsKHR);
}

struct OpInfo {
    Op op;
    const char* function;  // the OpenXR function the code carries
};

// Every code of the table above, in ascending order.
std::span<const OpInfo> AllOperations();
const OpInfo* FindOperation(uint32_t code);

// The operation of a request type and the reply it is answered with; specialised for every
// request of the operation list (messages.h).
template <typename Request>
struct OperationOf;

}  // namespace qor::protocol
