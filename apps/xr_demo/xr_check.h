// How xr_demo meets a failed OpenXR call: it ends the demo with the call's name and result.
#pragma once

#include <openxr/openxr.h>

#include <string>
#include <utility>

namespace xr_demo {

class Failure {
public:
    explicit Failure(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

inline void Check(XrResult result, const char* what) {
    if (XR_FAILED(result)) throw Failure(std::string(what) + " failed with " + std::to_string(result));
}

}  // namespace xr_demo
