// SPDX-License-Identifier: GPL-3.0-or-later
#include "attitudeprojection.h"

#include <cmath>

namespace AttitudeProjection {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double CameraDistance = 10.0;
// Above the board by this much: enough to see its top side, not so much
// that the horizon leaves the picture.
constexpr double CameraElevationDegrees = 18.0;
// Right of straight behind by this much, so the nose is not seen end on
// and the top side turns towards the camera as the right side drops.
constexpr double CameraSideDegrees = 24.0;

double radians(double degrees)
{
    return degrees * Pi / 180.0;
}

double dot(const Vector3& a, const Vector3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The camera's frame: its line of sight, and the world directions of the
// screen's right and down. It never rolls: vertical lines stay vertical.
struct Camera
{
    Vector3 position;
    Vector3 forward;
    Vector3 right;
    Vector3 down;
};

Camera makeCamera()
{
    const double elevation = radians(CameraElevationDegrees);
    // Behind is south; the camera stands south-south-east of the board.
    const double bearing = radians(180.0 - CameraSideDegrees);
    Camera c;
    c.forward = {-std::cos(elevation) * std::cos(bearing), -std::cos(elevation) * std::sin(bearing),
                 std::sin(elevation)};
    c.position = {-CameraDistance * c.forward.x, -CameraDistance * c.forward.y, -CameraDistance * c.forward.z};
    // down x forward, normalised: horizontal, to the viewer's right.
    const double h = std::hypot(c.forward.x, c.forward.y);
    c.right = {-c.forward.y / h, c.forward.x / h, 0.0};
    // forward x right: the screen's down.
    c.down = {c.forward.y * c.right.z - c.forward.z * c.right.y, c.forward.z * c.right.x - c.forward.x * c.right.z,
              c.forward.x * c.right.y - c.forward.y * c.right.x};
    return c;
}

const Camera& camera()
{
    static const Camera c = makeCamera();
    return c;
}

} // namespace

Vector3 Matrix3::operator*(const Vector3& v) const
{
    return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
            m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

Matrix3 bodyToWorld(double yawDegrees, double pitchDegrees, double rollDegrees)
{
    const double cy = std::cos(radians(yawDegrees)), sy = std::sin(radians(yawDegrees));
    const double cp = std::cos(radians(pitchDegrees)), sp = std::sin(radians(pitchDegrees));
    const double cr = std::cos(radians(rollDegrees)), sr = std::sin(radians(rollDegrees));
    // Rz(yaw) * Ry(pitch) * Rx(roll); its columns are the body axes in the
    // world.
    Matrix3 r;
    r.m[0][0] = cy * cp;
    r.m[0][1] = cy * sp * sr - sy * cr;
    r.m[0][2] = cy * sp * cr + sy * sr;
    r.m[1][0] = sy * cp;
    r.m[1][1] = sy * sp * sr + cy * cr;
    r.m[1][2] = sy * sp * cr - cy * sr;
    r.m[2][0] = -sp;
    r.m[2][1] = cp * sr;
    r.m[2][2] = cp * cr;
    return r;
}

ScreenPoint project(const Vector3& world)
{
    const Camera& c = camera();
    const Vector3 v {world.x - c.position.x, world.y - c.position.y, world.z - c.position.z};
    ScreenPoint p;
    p.depth = dot(v, c.forward);
    // A point at or behind the camera has no place on the screen; the
    // callers keep to ModelRadius and the ground's reach, which stay far in
    // front of it, and this keeps anything else finite.
    const double scale = CameraDistance / std::fmax(p.depth, 1e-3);
    p.x = dot(v, c.right) * scale;
    p.y = dot(v, c.down) * scale;
    return p;
}

Vector3 cameraPosition()
{
    return camera().position;
}

double horizonY()
{
    // A horizontal direction seen from the camera, which looks down by the
    // elevation: the horizon is that far above the line of sight.
    return -CameraDistance * std::tan(radians(CameraElevationDegrees));
}

} // namespace AttitudeProjection
