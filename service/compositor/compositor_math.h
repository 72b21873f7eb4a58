// The compositor's matrices. Elements are numbered 0-15 by column (12-14 the translation), so
// element [col * 4 + row]; Registers() turns one into the draw seam's layout (register k = row k).
#pragma once

#include "gpu/draw.h"

#include <openxr/openxr.h>

#include <array>
#include <cmath>

namespace qor::compositor {

using Matrix4 = std::array<float, 16>;

inline constexpr Matrix4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// a after b: (a × b) applied to a point is b first, then a.
inline Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 out {};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) sum += double(a[k * 4 + row]) * b[column * 4 + k];
            out[column * 4 + row] = static_cast<float>(sum);
        }
    }
    return out;
}

// The rotation of a unit quaternion, rows r[row][column].
inline std::array<std::array<double, 3>, 3> Rotation(const XrQuaternionf& q) {
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    return {{{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
             {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
             {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}}};
}

// Rotation by the pose's orientation followed by translation to its position.
inline Matrix4 PoseMatrix(const XrPosef& pose) {
    const auto r = Rotation(pose.orientation);
    Matrix4 m = kIdentity;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) m[column * 4 + row] = static_cast<float>(r[row][column]);
    }
    m[12] = pose.position.x;
    m[13] = pose.position.y;
    m[14] = pose.position.z;
    return m;
}

// The inverse of PoseMatrix: world to the pose's own frame (transposed rotation, rotated back
// and negated translation).
inline Matrix4 InversePoseMatrix(const XrPosef& pose) {
    const auto r = Rotation(pose.orientation);
    const double p[3] = {pose.position.x, pose.position.y, pose.position.z};
    Matrix4 m = kIdentity;
    for (int row = 0; row < 3; ++row) {
        double translation = 0;
        for (int column = 0; column < 3; ++column) {
            m[column * 4 + row] = static_cast<float>(r[column][row]);
            translation -= r[column][row] * p[column];
        }
        m[12 + row] = static_cast<float>(translation);
    }
    return m;
}

// The projection of a field of view onto clip space with depth 0 at `nearZ` and 1 at `farZ`,
// looking down -z.
inline Matrix4 ProjectionMatrix(const XrFovf& fov, float nearZ, float farZ) {
    const double tl = std::tan(double(fov.angleLeft));
    const double tr = std::tan(double(fov.angleRight));
    const double tu = std::tan(double(fov.angleUp));
    const double td = std::tan(double(fov.angleDown));
    Matrix4 m {};
    m[0] = static_cast<float>(2 / (tr - tl));
    m[5] = static_cast<float>(2 / (tu - td));
    m[8] = static_cast<float>((tr + tl) / (tr - tl));
    m[9] = static_cast<float>((tu + td) / (tu - td));
    m[11] = -1;
    if (nearZ < farZ) {
        m[10] = static_cast<float>(-double(farZ) / (double(farZ) - nearZ));
        m[14] = static_cast<float>(-(double(nearZ) * farZ) / (double(farZ) - nearZ));
    } else {
        m[10] = -1;
        m[14] = -nearZ;
    }
    return m;
}

// Register k of the draw seam's matrix is row k.
inline gpu::Matrix Registers(const Matrix4& m) {
    gpu::Matrix out {};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) out[row * 4 + column] = m[column * 4 + row];
    }
    return out;
}

}  // namespace qor::compositor
