// The pipes between the runtime library and the services, named once for all three sides.
#pragma once

namespace qor::protocol {

// The XR service's pipe, which every OpenXR call travels over.
constexpr const char* kServicePipeName = "NorvikOpenXRPipe";
// The client service's pipe: a start request (command 0, no arguments) starts the XR service.
constexpr const char* kClientServicePipeName = "QorClientSvc_NamedPipe";

}  // namespace qor::protocol
