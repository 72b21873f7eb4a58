#include "lenssdk/eye_source.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace lens {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// One whole field as a finite number within the coordinate limit.
std::optional<double> ParseNumber(std::string_view field) {
    field = Trim(field);
    if (field.empty()) return std::nullopt;
    // from_chars refuses a leading '+', which people write; one is allowed.
    if (field.front() == '+') field.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
    if (!std::isfinite(value) || std::fabs(value) > kEyeCoordinateLimitMm) return std::nullopt;
    return value;
}

std::optional<Vec3> ParseEye(std::string_view text) {
    double values[3];
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',');
        const bool last = i == 2;
        if (last != (comma == std::string_view::npos)) return std::nullopt;
        const auto value = ParseNumber(last ? text : text.substr(0, comma));
        if (!value) return std::nullopt;
        values[i] = *value;
        if (!last) text.remove_prefix(comma + 1);
    }
    if (!(values[2] > 0)) return std::nullopt;
    return Vec3{values[0], values[1], values[2]};
}

}  // namespace

std::optional<EyePair> ParseEyes(std::string_view text) {
    if (text.size() > kEyesTextMaxBytes) return std::nullopt;
    const std::size_t semicolon = text.find(';');
    if (semicolon == std::string_view::npos) return std::nullopt;
    const auto left = ParseEye(text.substr(0, semicolon));
    const auto right = ParseEye(text.substr(semicolon + 1));
    if (!left || !right) return std::nullopt;
    return EyePair{*left, *right};
}

EyePair SimulatedEyes(double seconds) {
    const double sway = std::isfinite(seconds)
                            ? kSimulatedSwayMm * std::sin(2 * std::numbers::pi * seconds / kSimulatedSwayPeriodSeconds)
                            : 0.0;
    const double half = kSimulatedEyeDistanceMm / 2;
    return EyePair{{sway - half, 0, kSimulatedDistanceMm}, {sway + half, 0, kSimulatedDistanceMm}};
}

EyeSource::EyeSource() {
    const char* text = std::getenv("NORVIK_EYES");
    if (text == nullptr) return;
    fixed_ = ParseEyes(text);
    if (!fixed_) {
        std::fprintf(stderr, "lens: NORVIK_EYES is not \"xL,yL,zL;xR,yR,zR\" in mm; using the simulated viewer\n");
    }
}

EyePair EyeSource::At(double seconds) const { return fixed_ ? *fixed_ : SimulatedEyes(seconds); }

}  // namespace lens
