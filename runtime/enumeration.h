// The two-call idiom on the library side: counts and, with a non-zero capacity, elements.
#pragma once

#include "runtime/call.h"

namespace qor::runtime {

// When the count is stored: only with the body, or whenever the exchange succeeded.
enum class CountRule { WithBody, WheneverExchanged };

// Sends an enumeration request and finishes the call from its EnumerationReply.
// `copy(record, out)` copies one element and returns false when the record is not what was
// expected.
template <typename Request, typename Out, typename Copy>
XrResult ForwardEnumeration(const Request& request, BodyRule rule, CountRule countRule, uint32_t capacity,
                            uint32_t* count, Out* elements, Copy copy) {
    return WithCall([&](Call& call) {
        call.Send(request);
        if (!call.Exchanged()) {
            *count = 0;
            return XR_ERROR_RUNTIME_FAILURE;
        }
        ReplyOf<Request> reply;
        call.Decode(&reply);
        if (countRule == CountRule::WheneverExchanged) *count = reply.count;
        if (!call.ReadsBody(rule)) return call.Result();
        *count = reply.count;
        if (capacity == 0 || elements == nullptr) return call.Result();
        const size_t n = std::min<size_t>({reply.items.items.size(), capacity, reply.count});
        for (size_t i = 0; i < n; ++i) {
            if (!copy(reply.items.items[i], elements[i])) return XR_ERROR_VALIDATION_FAILURE;
        }
        return call.Result();
    });
}

// Elements that travel as plain integers (enumerants, formats, paths).
template <typename Out>
auto CopyValue() {
    return [](const auto& value, Out& out) {
        out = static_cast<Out>(value);
        return true;
    };
}

}  // namespace qor::runtime
