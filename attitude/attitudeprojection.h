// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef ATTITUDEPROJECTION_H
#define ATTITUDEPROJECTION_H

// From the board's angles to the screen, in two steps: the rotation of the
// body axes into the world, then a fixed camera. Pure functions, so that
// where an axis lands can be checked without drawing anything.
//
// World axes are north, east, down; body axes X forward, Y right, Z down.
// The rotation is yaw about Z, then pitch about the new Y, then roll about
// the newest X: positive pitch lifts the nose, positive roll lowers the
// right side, yaw 90 points the nose east.
namespace AttitudeProjection {

struct Vector3
{
    double x = 0;
    double y = 0;
    double z = 0;
};

struct Matrix3
{
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

    Vector3 operator*(const Vector3& v) const;
};

// Body to world, for angles in degrees. Any finite angles give a proper
// rotation: pitch at +-90 degrees is no special case going this way.
Matrix3 bodyToWorld(double yawDegrees, double pitchDegrees, double rollDegrees);

// A world point on the screen: x to the right and y down, in world units at
// the distance of the board's centre, with (0, 0) at that centre; depth is
// the distance from the camera along its line of sight.
struct ScreenPoint
{
    double x = 0;
    double y = 0;
    double depth = 0;
};

// The camera looks at the board's centre from behind (south), above and a
// little to the right, so that the nose rising, the right side dropping and
// the heading all read at a glance. Everything within ModelRadius of the
// centre lies well in front of the camera.
ScreenPoint project(const Vector3& world);

// Where the camera is, for telling which faces of the board it sees.
Vector3 cameraPosition();

constexpr double ModelRadius = 3.2;

// How far below the board's centre the ground lies, and how far the grid
// and the compass on it reach.
constexpr double GroundDepth = 2.1;
constexpr double GroundReach = 4.3;

// The height on the screen (same units as project()) of the horizon: where
// the ground would end if it went on for ever.
double horizonY();

} // namespace AttitudeProjection

#endif // ATTITUDEPROJECTION_H
