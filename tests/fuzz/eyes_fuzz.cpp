// Feeds arbitrary text to the NORVIK_EYES parser. Whatever it accepts is two finite eyes in
// front of the panel within the coordinate limit, and reads back the same when written out.
#include "lenssdk/eye_source.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

namespace {

inline void Require(bool holds) {
    if (!holds) __builtin_trap();
}

void RequireSane(const lens::Vec3& eye) {
    for (const double v : {eye.x, eye.y, eye.z}) Require(std::isfinite(v) && std::fabs(v) <= lens::kEyeCoordinateLimitMm);
    Require(eye.z > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto eyes = lens::ParseEyes(text);
    if (!eyes) return 0;
    Require(size <= lens::kEyesTextMaxBytes);
    RequireSane(eyes->left);
    RequireSane(eyes->right);
    char written[160];
    const int n = std::snprintf(written, sizeof written, "%.17g,%.17g,%.17g;%.17g,%.17g,%.17g", eyes->left.x,
                                eyes->left.y, eyes->left.z, eyes->right.x, eyes->right.y, eyes->right.z);
    Require(n > 0 && size_t(n) < sizeof written);
    Require(lens::ParseEyes(std::string_view(written, size_t(n))) == eyes);
    return 0;
}
