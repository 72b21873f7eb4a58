// Loader negotiation and the function lookup.
#include "protocol/extension_index.h"
#include "protocol/operations.h"
#include "runtime/forward.h"
#include "runtime/instance_extensions.h"
#include "runtime/runtime.h"

#include <cstring>

namespace qor::runtime {

namespace {
// Global: answered with or without an instance. Instance: resolved once an instance is given.
// The extension scopes: resolved only for an instance that enabled that extension.
enum class Scope { Global, Instance, KhrD3D11Enable, KhrD3D12Enable };

struct TableEntry {
    const char* name;
    PFN_xrVoidFunction function;
    Scope scope;
};

template <typename Function>
constexpr PFN_xrVoidFunction Fn(Function function) {
    return reinterpret_cast<PFN_xrVoidFunction>(function);
}

// Debug utils are not offered: the Khronos loader implements that extension itself for a
// runtime whose lookup does not resolve its functions.
#define NORVIK_TABLE_ROW(Name, Code, Function, Request, Reply, FunctionScope, ShortBody) \
    {#Function, Fn(forward::Function), Scope::FunctionScope},
const TableEntry kFunctions[] = {
    {"xrGetInstanceProcAddr", Fn(GetInstanceProcAddr), Scope::Global},
    NORVIK_OPERATIONS(NORVIK_TABLE_ROW)
};
#undef NORVIK_TABLE_ROW

const TableEntry* Find(const char* name) {
    for (const TableEntry& entry : kFunctions) {
        if (std::strcmp(entry.name, name) == 0) return &entry;
    }
    return nullptr;
}

bool EnabledBy(XrInstance instance, uint32_t extensionIndex) {
    return instance != XR_NULL_HANDLE &&
           InstanceExtensions::Get().Enabled(reinterpret_cast<uint64_t>(instance), extensionIndex);
}

bool ResolvesFor(Scope scope, XrInstance instance) {
    switch (scope) {
        case Scope::Global: return true;
        case Scope::Instance: return instance != XR_NULL_HANDLE;
        case Scope::KhrD3D11Enable: return EnabledBy(instance, protocol::extension::kKhrD3D11Enable);
        case Scope::KhrD3D12Enable: return EnabledBy(instance, protocol::extension::kKhrD3D12Enable);
    }
    return false;
}

constexpr XrVersion kLowestLoaderApi = XR_MAKE_VERSION(0, 1, 0);
constexpr XrVersion kFirstUnsupportedApi = XR_MAKE_VERSION(1, 1, 0);
}  // namespace

XrResult XRAPI_CALL NegotiateLoaderRuntimeInterface(const XrNegotiateLoaderInfo* loaderInfo,
                                                    XrNegotiateRuntimeRequest* runtimeRequest) {
    if (loaderInfo == nullptr || runtimeRequest == nullptr) return XR_ERROR_INITIALIZATION_FAILED;
    if (loaderInfo->structType != XR_LOADER_INTERFACE_STRUCT_LOADER_INFO ||
        loaderInfo->structVersion != XR_LOADER_INFO_STRUCT_VERSION ||
        loaderInfo->structSize != sizeof(XrNegotiateLoaderInfo)) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    if (runtimeRequest->structType != XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST ||
        runtimeRequest->structVersion != XR_RUNTIME_INFO_STRUCT_VERSION ||
        runtimeRequest->structSize != sizeof(XrNegotiateRuntimeRequest)) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    if (loaderInfo->minInterfaceVersion > kRuntimeInterfaceVersion ||
        loaderInfo->maxInterfaceVersion != kRuntimeInterfaceVersion) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    // The loader's maxApiVersion is not examined.
    if (loaderInfo->minApiVersion < kLowestLoaderApi || loaderInfo->minApiVersion >= kFirstUnsupportedApi) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    runtimeRequest->runtimeInterfaceVersion = kRuntimeInterfaceVersion;
    runtimeRequest->runtimeApiVersion = kRuntimeApiVersion;
    runtimeRequest->getInstanceProcAddr = GetInstanceProcAddr;
    return XR_SUCCESS;
}

XrResult XRAPI_CALL GetInstanceProcAddr(XrInstance instance, const char* name, PFN_xrVoidFunction* function) {
    if (function == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    *function = nullptr;
    if (name == nullptr) return XR_ERROR_FUNCTION_UNSUPPORTED;
    const TableEntry* entry = Find(name);
    const bool resolved = entry != nullptr && ResolvesFor(entry->scope, instance);
    // An unknown name without an instance is refused for the missing instance first.
    if (!resolved) return instance == XR_NULL_HANDLE ? XR_ERROR_HANDLE_INVALID : XR_ERROR_FUNCTION_UNSUPPORTED;
    *function = entry->function;
    return XR_SUCCESS;
}

}  // namespace qor::runtime
