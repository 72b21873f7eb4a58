#include "protocol/op_codes.h"

#include <algorithm>
#include <array>

namespace qor::protocol {

namespace {
constexpr std::array kOperations = {
    OpInfo {Op::Liveness, "(liveness probe)"},
#define NORVIK_OP_INFO(Name, Code, Function, ...) OpInfo {Op::Name, #Function},
    NORVIK_OPERATIONS(NORVIK_OP_INFO)
#undef NORVIK_OP_INFO
};

constexpr bool Ascending() {
    for (size_t i = 1; i < kOperations.size(); ++i) {
        if (kOperations[i - 1].op >= kOperations[i].op) return false;
    }
    return true;
}
static_assert(Ascending(), "the lookup below and the dispatcher rely on ascending codes");
}  // namespace

std::span<const OpInfo> AllOperations() { return kOperations; }

const OpInfo* FindOperation(uint32_t code) {
    const auto found = std::lower_bound(kOperations.begin(), kOperations.end(), code,
                                        [](const OpInfo& info, uint32_t c) { return static_cast<uint32_t>(info.op) < c; });
    return (found != kOperations.end() && static_cast<uint32_t>(found->op) == code) ? &*found : nullptr;
}

}  // namespace qor::protocol
