// A world for the simulated brick: the classic NXT base robot, two driven
// wheels and a caster, in a room with walls, obstacles and lines on the
// floor. The robot's pose follows the rotation of the simulated motors;
// its sensors read the room.
//
// Units and axes: millimetres; x to the right, y up, the origin at the
// room's lower-left corner; headings in degrees, counter-clockwise from +x.
// The room's four sides are walls; further walls are line segments, and
// each obstacle is a rectangle whose four edges are walls.
//
// The robot, at pose (x, y, heading), is the middle of its axle. Its body is
// a rectangle from `rear` mm behind the axle to the bumper, `bumper` mm
// ahead, as wide as the track plus a wheel's width on each side; the
// bumper is the front edge's middle part, as wide as the track. A sensor
// mount lies `ahead` mm ahead of the axle and `left` mm to its left, and
// (the sonar) looks along `heading` degrees relative to the robot's.
//
// What the sensors read:
// - touch: pressed (raw 183) while the bumper is within 1 mm of a wall,
//   released (raw 1023) otherwise;
// - ultrasonic: the distance in whole centimetres from its mount to the
//   nearest point of a wall within 15 degrees either side of its axis;
//   255 when nothing is within 2.5 m;
// - light: the floor under a spot 16 mm across, the share of it that a
//   line covers mixed in; with the lamp on it reads 20 + 40 x reflectance
//   percent (58 % on a floor of 0.95, 32 % on a line of 0.3), with the
//   lamp off 12 + 28 x reflectance (39 % and 20 %); given as the raw
//   reading that the firmware scales to that percentage;
// - sound: a quiet room, 4 % (raw 977).
//
// Motion: the world is stepped at most 10 ms, and at most 5 mm of any
// wheel's travel, at a time, however long the brick went unasked. A step
// that would carry the body into a wall carries it only up to the wall,
// and the driven motors are then blocked (as a load of 0 blocks them)
// until they turn so that the robot moves clear.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "sim/sim_inputs.h"
#include "sim/sim_outputs.h"

struct SimPoint {
  double x = 0;
  double y = 0;
};

struct SimSegment {
  SimPoint a;
  SimPoint b;
};

struct SimPose {
  double x = 0;
  double y = 0;
  double heading = 0;  // degrees, counter-clockwise from +x
};

// Where a sensor sits on the robot; port -1: no such sensor.
struct SimMount {
  int port = -1;  // 0-3: in_1 to in_4
  double ahead = 0;
  double left = 0;
  double heading = 0;  // relative to the robot's
};

struct SimRobotGeometry {
  int leftMotor = 1;   // out_b
  int rightMotor = 2;  // out_c
  double wheelDiameter = 56;
  double track = 112;  // between the wheels' middles
  double wheelWidth = 24;
  double bumper = 100;  // the bumper's distance ahead of the axle
  double rear = 60;     // the body's back edge behind the axle
  SimMount touch{0, 0, 0, 0};
  SimMount sound{1, 0, 0, 0};
  SimMount light{2, 75, 0, 0};
  SimMount sonar{3, 60, 0, 0};
};

struct SimFloorLine {
  std::vector<SimPoint> points;  // a polyline
  double width = 20;
  double reflectance = 0.3;
};

struct SimObstacle {
  double x = 0;  // lower-left corner
  double y = 0;
  double width = 0;
  double height = 0;
};

struct SimWorldMap {
  double width = 0;
  double height = 0;
  std::vector<SimSegment> walls;  // as the file gives them
  std::vector<SimObstacle> obstacles;
  double floorReflectance = 0.95;
  std::vector<SimFloorLine> lines;
  SimPose start;
  SimRobotGeometry robot;
  // Every edge that stops the robot and echoes: the room's sides, the
  // walls and the obstacles' edges.
  std::vector<SimSegment> edges;
};

// The touch sensor's raw readings, the light sensor's model and the sound
// sensor's quiet room.
constexpr std::uint16_t kSimTouchPressedRaw = 183;
constexpr std::uint16_t kSimTouchReleasedRaw = 1023;
constexpr std::uint16_t kSimQuietRoomRaw = 977;
constexpr double kSimBumperTravel = 1.0;   // mm: closer than this presses it
constexpr double kSimSonarHalfCone = 15;   // degrees
constexpr double kSimSonarRange = 2500;    // mm
constexpr double kSimLightSpotRadius = 8;  // mm
constexpr auto kSimWorldStep = std::chrono::milliseconds(10);
constexpr double kSimWorldStepTravel = 5;  // mm

// The robot in its room as time goes on. The map is shared, never
// changed, so a copy of the world (a snapshot) costs no allocation.
struct SimWorld {
  std::shared_ptr<const SimWorldMap> map;
  SimPose pose;
  SimTime time{};               // the moment the pose is for
  double wheelDegrees[2] = {};  // left, right motor positions at `time`
  bool blocked = false;         // the driven motors held by a wall
  // The raw reading that the world last gave each input port (-1: none), to
  // tell a value set by the console from its own.
  std::array<int, kSimInputPorts> lastRaw{{-1, -1, -1, -1}};
  std::array<int, kSimInputPorts> lastSonar{{-1, -1, -1, -1}};
  std::array<bool, kSimInputPorts> overridden{};
};

// Reads a world from JSON `text`; `fileName` names it in errors. False with
// one line "FILE: PLACE: REASON" in `error` for text that is no JSON, a
// missing or unknown key, a value of the wrong kind or out of range, or a
// robot that starts outside the room or against a wall.
bool simWorldParse(const std::string& text, const std::string& fileName, SimWorldMap& map,
                   std::string& error);

// Reads the world file at `path`, or the built-in room for "default".
bool simWorldLoad(const std::string& path, SimWorldMap& map, std::string& error);

// The built-in room's JSON text.
const std::string& simWorldDefaultText();

// The robot's pose after its left wheel travelled `left` mm and its right
// wheel `right` mm at constant curvature.
SimPose simWorldDrive(const SimPose& pose, double left, double right, double track);

// Where a mount sits in the room when the robot is at `pose`.
SimPoint simWorldMountPoint(const SimPose& pose, const SimMount& mount);

// The robot's body: four corners, counter-clockwise from the front left.
std::array<SimPoint, 4> simWorldBody(const SimWorldMap& map, const SimPose& pose);

// The bumper's two ends in the room.
SimSegment simWorldBumper(const SimWorldMap& map, const SimPose& pose);

// Whether the robot's body at `pose` overlaps a wall or leaves the room.
bool simWorldOverlaps(const SimWorldMap& map, const SimPose& pose);

// The sensors at `pose`.
bool simWorldBumperPressed(const SimWorldMap& map, const SimPose& pose);
int simWorldSonarCm(const SimWorldMap& map, const SimPose& pose);
double simWorldFloorUnder(const SimWorldMap& map, const SimPoint& spot);  // reflectance
double simWorldLightPercent(double reflectance, bool lampOn);
std::uint16_t simWorldLightRaw(double percent);

// Puts the robot at the map's start, with the motors as they are at `now`.
void simWorldStart(SimWorld& world, std::shared_ptr<const SimWorldMap> map,
                   const SimOutputs& outputs, SimTime now);

// Moves the motors and the robot together up to `now`.
void simWorldAdvance(SimWorld& world, SimOutputs& outputs, SimTime now);

// Puts the robot down at `pose`; false, changing nothing, when it would
// overlap a wall there.
bool simWorldPlace(SimWorld& world, const SimPose& pose);

// Writes what the sensors read at the robot's pose into `config`, for the
// ports that the map mounts a sensor on: the lamp of the light sensor is on
// when `inputs` has that port set up as an active light sensor. A port whose
// value someone else changed since the world last wrote it (the console, an
// option) keeps that value from then on.
void simWorldSense(SimWorld& world, const SimInputs& inputs, SimBrickConfig& config);

// "robot at x 412 mm, y 300 mm, heading 90 degrees"
std::string simWorldPoseText(const SimPose& pose);
