// The library's load and unload: DllMain on Windows, a constructor and destructor on POSIX.
// Its only export is the loader negotiation.
#include "platform/export.h"
#include "runtime/runtime.h"

#if defined(_WIN32)
#include <windows.h>
#endif

NORVIK_EXPORT XrResult XRAPI_CALL xrNegotiateLoaderRuntimeInterface(const XrNegotiateLoaderInfo* loaderInfo,
                                                                    XrNegotiateRuntimeRequest* runtimeRequest) {
    return qor::runtime::NegotiateLoaderRuntimeInterface(loaderInfo, runtimeRequest);
}

#if defined(_WIN32)

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            qor::runtime::OnProcessAttach();
            break;
        case DLL_THREAD_ATTACH:
            qor::runtime::OnThreadAttach();
            break;
        case DLL_THREAD_DETACH:
            qor::runtime::OnThreadDetach();
            break;
        case DLL_PROCESS_DETACH:
            qor::runtime::OnProcessDetach();
            break;
        default:
            break;
    }
    return TRUE;
}

#else

__attribute__((constructor)) static void LibraryLoaded() { qor::runtime::OnProcessAttach(); }
__attribute__((destructor)) static void LibraryUnloaded() { qor::runtime::OnProcessDetach(); }

#endif
