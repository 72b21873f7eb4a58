// The two-call idiom on the library side: counts and, with a non-zero capacity, elements.
#pragma once

#include "runtime/call.h"

#include <span>

namespace qor::runtime {

// When the count is stored: only with the body, or whenever the exchange succeeded.
enum class CountRule { WithBody, WheneverExchanged };

// Sends a two-call request. Without an exchange the count is 0 and the call fails; with one,
// `finish(call, reply)` completes it from the decoded reply.
template <typename Request, typename Finish>
XrResult SendCounted(const Request& request, uint32_t* count, Finish&& finish) {
    return WithCall([&](Call& call) {
        call.Send(request);
        if (!call.Exchanged()) {
            *count = 0;
            return XR_ERROR_RUNTIME_FAILURE;
        }
        ReplyOf<Request> reply;
        call.Decode(&reply);
        return finish(call, reply);
    });
}

// Copies the elements the reply has, the capacity allows and the count announces.
// `copy(record, out)` copies one and returns false when the record is not what was expected.
template <typename Record, typename Out, typename Copy>
bool CopyElements(std::span<const Record> records, uint32_t capacity, uint32_t count, Out* elements, Copy&& copy) {
    const size_t n = std::min<size_t>({records.size(), capacity, count});
    for (size_t i = 0; i < n; ++i) {
        if (!copy(records[i], elements[i])) return false;
    }
    return true;
}

// An enumeration whose reply is EnumerationReply<Record>; `copy` as for CopyElements.
template <typename Request, typename Out, typename Copy>
XrResult ForwardEnumeration(const Request& request, BodyRule rule, CountRule countRule, uint32_t capacity,
                            uint32_t* count, Out* elements, Copy copy) {
    return SendCounted(request, count, [&](const Call& call, const auto& reply) {
        if (countRule == CountRule::WheneverExchanged) *count = reply.count;
        if (!call.ReadsBody(rule)) return call.Result();
        *count = reply.count;
        if (capacity == 0 || elements == nullptr) return call.Result();
        return CopyElements(reply.items.items, capacity, reply.count, elements, copy) ? call.Result()
                                                                                       : XR_ERROR_VALIDATION_FAILURE;
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
