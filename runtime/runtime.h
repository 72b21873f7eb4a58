// The runtime library's entry points: loader negotiation, the function lookup, and what
// happens when the library is loaded into a process or first used by a thread.
#pragma once

#include "runtime/loader_interface.h"

#include <cstdint>

namespace qor::runtime {

// Runtime API version 1.0.17.
constexpr XrVersion kRuntimeApiVersion = XR_MAKE_VERSION(1, 0, 17);
constexpr uint32_t kRuntimeInterfaceVersion = 1;

XrResult XRAPI_CALL NegotiateLoaderRuntimeInterface(const XrNegotiateLoaderInfo* loaderInfo,
                                                    XrNegotiateRuntimeRequest* runtimeRequest);
XrResult XRAPI_CALL GetInstanceProcAddr(XrInstance instance, const char* name, PFN_xrVoidFunction* function);

// Load time: asks the client service to start the XR service and probes the service pipe
// until it answers, or until the start-up limit passes (then calls fail on their own).
void OnProcessAttach();
// A new application thread: its buffer, then the shorter probe loop.
void OnThreadAttach();
void OnThreadDetach();
void OnProcessDetach();

}  // namespace qor::runtime
