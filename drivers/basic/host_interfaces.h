// The service-side interfaces the basic driver's provider fetched, shared with its devices.
#pragma once

#include "driver_api/driver_interfaces.h"

#include <cstdint>

namespace qor::basic {

// The index of a device that is not active.
constexpr uint32_t kNoDeviceIndex = 0xFFFFFFFF;

struct HostInterfaces {
    IQorDriverContext* context = nullptr;
    IQorServerDriverHost* host = nullptr;
    IQorDriverManager* manager = nullptr;
    IQorInputDevice* input = nullptr;

    // The input device; fetched from the context the first time a device needs it before
    // the provider got it.
    IQorInputDevice* Input() {
        if (input == nullptr && context != nullptr) {
            input = static_cast<IQorInputDevice*>(context->GetGenericInterface(kInputDeviceVersion, nullptr));
        }
        return input;
    }
};

}  // namespace qor::basic
