// Where the eyes are: fixed positions from NORVIK_EYES, or a simulated viewer swaying slowly
// in front of the panel. Millimetres, panel-centred: x right, y up, z towards the viewer.
#pragma once

#include "lenssdk/lens_api.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace lens {

struct Vec3 {
    double x = 0, y = 0, z = 0;
    bool operator==(const Vec3&) const = default;
};

struct EyePair {
    Vec3 left;
    Vec3 right;
    bool operator==(const EyePair&) const = default;
};

// The simulated viewer: eye midpoint at (0, 0, 600) mm, eyes 63 mm apart, swaying in x.
constexpr double kSimulatedDistanceMm = 600.0;
constexpr double kSimulatedEyeDistanceMm = 63.0;
constexpr double kSimulatedSwayMm = 20.0;
constexpr double kSimulatedSwayPeriodSeconds = 8.0;

// Longest NORVIK_EYES value read; anything longer is malformed.
constexpr std::size_t kEyesTextMaxBytes = 256;
// Coordinates beyond this (in mm) are no viewer in front of a laptop.
constexpr double kEyeCoordinateLimitMm = 10000.0;

// Parses "xL,yL,zL;xR,yR,zR" (decimal numbers, blanks around each allowed). Gives nothing for
// anything else, for non-finite or out-of-range values, and for eyes not in front (z <= 0).
LENS_CORE_API std::optional<EyePair> ParseEyes(std::string_view text);

// The simulated viewer's eyes at `seconds` since the tracker started.
LENS_CORE_API EyePair SimulatedEyes(double seconds);

// The eye source the environment chooses: NORVIK_EYES when set and well-formed (a malformed
// value is logged to stderr and the simulated viewer used instead).
class LENS_CORE_API EyeSource {
public:
    EyeSource();
    // The eyes at `seconds` since the source was made.
    EyePair At(double seconds) const;
    bool IsFixed() const { return fixed_.has_value(); }

private:
    std::optional<EyePair> fixed_;
};

}  // namespace lens
