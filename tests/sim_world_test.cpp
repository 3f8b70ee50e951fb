#include "sim/sim_world.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_brick.h"
#include "sim_test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A world from JSON text; fails the test when it does not load.
std::shared_ptr<const SimWorldMap> mapOf(const std::string& json) {
  auto map = std::make_shared<SimWorldMap>();
  std::string error;
  EXPECT_TRUE(simWorldParse(json, "test.json", *map, error)) << error;
  return map;
}

std::string room(double w, double h, const std::string& robot, const std::string& more = "") {
  return R"({"room": {"width": )" + std::to_string(w) + R"(, "height": )" + std::to_string(h) +
         "}, " + more + R"("robot": )" + robot + "}";
}

// A brick whose motors drive the robot.
struct Robot {
  SimBrick brick;
  SimWorld world;

  explicit Robot(std::shared_ptr<const SimWorldMap> map) {
    simBrickReset(brick, SimBrickConfig{}, kSimStart);
    simWorldStart(world, std::move(map), brick.outputs, kSimStart);
  }
  // Regulated speed run at `power` (negative: reverse), as motor;setforward.
  void run(std::uint8_t port, int power, double t) {
    simWorldAdvance(world, brick.outputs, simAt(t));
    brickReply(
        brick,
        {0x80, 0x04, port, static_cast<std::uint8_t>(power), 0x05, 0x01, 0x00, 0x20, 0, 0, 0, 0},
        simAt(t));
  }
  void advance(double t) { simWorldAdvance(world, brick.outputs, simAt(t)); }
  double wheelMm(int port) const { return brick.outputs.port[port].position * kPi * 56 / 360; }
};

const std::string kOpenRoom = room(4000, 4000, R"({"x": 2000, "y": 2000, "heading": 0})");

TEST(SimWorldKinematics, PoseFollowsTheWheelsByTheGeometry) {
  struct Case {
    const char* name;
    int left, right;  // powers of B and C
  };
  for (const Case& c : {Case{"straight", 50, 50}, Case{"spin", 50, -50}, Case{"arc", 60, 30}}) {
    SCOPED_TRACE(c.name);
    Robot r(mapOf(kOpenRoom));
    r.run(1, c.left, 0);
    r.run(2, c.right, 0);
    // Left unasked for 3 s: one call covers all of it.
    r.advance(3);
    const double l = r.wheelMm(1);
    const double rr = r.wheelMm(2);
    ASSERT_GT(std::abs(l), 500);  // the wheels did turn
    const SimPose& p = r.world.pose;
    const double dx = p.x - 2000;
    const double dy = p.y - 2000;
    if (std::string(c.name) == "straight") {
      EXPECT_NEAR(dx, (l + rr) / 2, 0.02 * l);
      EXPECT_NEAR(dy, 0, 0.02 * l);
    } else if (std::string(c.name) == "spin") {
      EXPECT_NEAR(std::hypot(dx, dy), 0, 2);
      const double turned = (rr - l) / 112 * 180 / kPi;
      const double off = std::remainder(p.heading - turned, 360.0);
      EXPECT_NEAR(off, 0, 0.02 * std::abs(turned));
    } else {
      // Power 60 against 30: once both run steadily, the wheels' speeds
      // are 2 to 1, so the axle circles about a centre 3 x 56 mm to its
      // right; that centre stays put.
      const double radius = 112.0 / 2 * 3;
      auto centre = [&](const SimPose& q) {
        const double h = q.heading * kPi / 180;
        return SimPoint{q.x + radius * std::sin(h), q.y - radius * std::cos(h)};
      };
      const SimPose before = p;
      const double l0 = r.wheelMm(1);
      const double r0 = r.wheelMm(2);
      r.advance(5);
      EXPECT_NEAR((r.wheelMm(1) - l0) / (r.wheelMm(2) - r0), 2.0, 0.02);
      const SimPoint c0 = centre(before);
      const SimPoint c1 = centre(r.world.pose);
      EXPECT_NEAR(std::hypot(c1.x - c0.x, c1.y - c0.y), 0, 0.02 * radius);
    }
  }
}

TEST(SimWorldKinematics, AWallStopsTheRobotAtTheBumperAndBlocksItsMotors) {
  // Facing the right-hand wall with the bumper 300 mm from it.
  Robot r(mapOf(room(1000, 1000, R"({"x": 600, "y": 500, "heading": 0})")));
  r.run(1, 75, 0);
  r.run(2, 75, 0);
  r.advance(10);  // long after it reached the wall, in one call
  EXPECT_NEAR(r.world.pose.x, 1000 - 100, 0.5);
  EXPECT_NEAR(r.world.pose.heading, 0, 0.5);
  EXPECT_TRUE(simWorldBumperPressed(*r.world.map, r.world.pose));
  EXPECT_TRUE(r.world.blocked);
  const double stalled = r.brick.outputs.port[1].position;
  r.advance(12);
  EXPECT_EQ(r.brick.outputs.port[1].position, stalled);
  // Backing off frees it, with the battery changed meanwhile (the console).
  r.brick.config.batteryMillivolts = 4000;
  r.run(1, -50, 12);
  r.run(2, -50, 12);
  r.advance(15);  // what the regulator wound up against the wall unwinds first
  EXPECT_FALSE(r.world.blocked);
  for (int port : {1, 2}) {
    EXPECT_DOUBLE_EQ(r.brick.outputs.port[port].freeSpeed, simMotorFreeSpeed(4000, 100));
  }
  EXPECT_LT(r.world.pose.x, 1000 - 100 - 100);
  EXPECT_FALSE(simWorldBumperPressed(*r.world.map, r.world.pose));
}

TEST(SimWorldSensors, SonarMeasuresTheNearestWallWithinItsCone) {
  // The sonar's mount 500 mm from the wall x = 1000 when the robot faces it.
  const std::string robot = R"({"x": 440, "y": 4000, "heading": 0})";
  const auto map = mapOf(room(1000, 8000, robot));
  // The nearest point of the wall lies on its normal while that is inside
  // the cone, else along the cone's nearer side; turning moves the mount.
  for (double heading : {0.0, 10.0, -15.0, 20.0, 45.0, -60.0, 80.0, 180.0}) {
    SCOPED_TRACE(heading);
    const SimPose pose{440, 4000, heading};
    const SimPoint mount = simWorldMountPoint(pose, map->robot.sonar);
    const double wall = heading == 180 ? mount.x : 1000 - mount.x;
    const double off = std::max(0.0, std::abs(std::remainder(heading, 180.0)) - 15) * kPi / 180;
    EXPECT_EQ(simWorldSonarCm(*map, pose), std::lround(wall / std::cos(off) / 10));
  }
  EXPECT_EQ(simWorldSonarCm(*map, {440, 4000, 0}), 50);
  // A box whose nearest corner lies 200 mm ahead, 16 degrees off the
  // axis, goes unseen; moved 10 mm toward the axis, the sonar sees its
  // edge where the cone's side crosses it.
  const double side = 200 * std::tan(16 * kPi / 180);
  const int crossing = static_cast<int>(std::lround((side - 10) / std::sin(15 * kPi / 180) / 10));
  for (const auto& [y, cm] : {std::pair<double, int>{4000 + side, 50},
                              std::pair<double, int>{4000 + side - 10, crossing}}) {
    const auto boxed = mapOf(room(1000, 8000, robot,
                                  R"("obstacles": [{"x": 600, "y": )" + std::to_string(y) +
                                      R"(, "width": 100, "height": 50}], )"));
    EXPECT_EQ(simWorldSonarCm(*boxed, {440, 4000, 0}), cm) << y;
  }
  // Nothing within 2.5 m.
  const auto hall = mapOf(room(6000, 6000, R"({"x": 300, "y": 3000, "heading": 0})"));
  EXPECT_EQ(simWorldSonarCm(*hall, {300, 3000, 0}), 255);
}

TEST(SimWorldSensors, BumperPressesOnlyWithinItsTravelAndWidth) {
  // The wall x = 1000; the bumper 100 mm ahead of the axle, 112 mm wide.
  const auto map = mapOf(room(1000, 1000, R"({"x": 500, "y": 500, "heading": 0})"));
  struct Case {
    double gap;
    bool pressed;
  };
  for (const Case& c : {Case{0, true}, Case{0.5, true}, Case{2, false}, Case{50, false}}) {
    EXPECT_EQ(simWorldBumperPressed(*map, {900 - c.gap, 500, 0}), c.pressed) << c.gap;
  }
  // A box touching the body's front corner, beside the bumper.
  const auto box =
      mapOf(room(2000, 2000, R"({"x": 300, "y": 300, "heading": 0})",
                 R"("obstacles": [{"x": 600, "y": 560, "width": 100, "height": 100}], )"));
  EXPECT_FALSE(simWorldBumperPressed(*box, {500, 500, 0}));
  EXPECT_TRUE(simWorldBumperPressed(*box, {500, 520, 0}));
}

TEST(SimWorldSensors, LightSensorReadsTheFloorAcrossTheLineEdge) {
  // A line along y = 500, 20 mm wide; the light sensor 75 mm ahead.
  const auto map = mapOf(room(2000, 1000, R"({"x": 300, "y": 500, "heading": 0})",
                              R"("floor": {"lines": [{"points": [[0, 500], [2000, 500]]}]}, )"));
  struct Case {
    double offset;  // the spot's centre from the line's middle
    bool lamp;
    int percent;  // as the brick scales it
  };
  const Case cases[] = {{0, true, 32},  {10, true, 45},  {-10, true, 45}, {30, true, 58},
                        {0, false, 20}, {30, false, 38}, {14, true, 51},  {6, true, 38}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + (c.lamp ? " lamp on" : " lamp off"));
    SimWorld world;
    SimBrick brick;
    simBrickReset(brick, SimBrickConfig{}, kSimStart);
    simWorldStart(world, map, brick.outputs, kSimStart);
    world.pose = {300, 500 + c.offset, 0};
    const std::uint8_t type = c.lamp ? nxt::kSensorLightActive : nxt::kSensorLightInactive;
    brick.inputs.ports[2].type = type;
    simWorldSense(world, brick.inputs, brick.config);
    const auto normalized = simNormalize(type, brick.config.sensorRaw[2]);
    EXPECT_NEAR(simScale(nxt::kSensorModePercentFullScale, normalized), c.percent, 1);
  }
}

TEST(SimWorldSensors, ConsoleValueOverridesTheWorldFromThenOn) {
  const auto map = mapOf(room(1000, 1000, R"({"x": 500, "y": 500, "heading": 0})"));
  SimBrick brick;
  SimBrickConfig config;
  config.sonarCm[3] = 40;  // as --sonar in_4=40 sets it
  simBrickReset(brick, config, kSimStart);
  SimWorld world;
  simWorldStart(world, map, brick.outputs, kSimStart);
  simWorldSense(world, brick.inputs, brick.config);
  EXPECT_EQ(brick.config.sonarCm[3], 40);
  EXPECT_EQ(brick.config.sensorRaw[0], kSimTouchReleasedRaw);
  EXPECT_EQ(brick.config.sensorRaw[1], kSimQuietRoomRaw);
  brick.config.sensorRaw[0] = 183;  // the console presses the touch sensor
  world.pose = {500, 200, 0};
  simWorldSense(world, brick.inputs, brick.config);
  EXPECT_EQ(brick.config.sensorRaw[0], 183);
  EXPECT_EQ(brick.config.sonarCm[3], 40);
}

TEST(SimWorldFile, BadFilesNameThePlaceAndTheReason) {
  const std::string robot = R"("robot": {"x": 500, "y": 500})";
  struct Case {
    std::string text;
    const char* error;
  };
  const Case cases[] = {
      {"{\"room\": {\"width\": 1000,\n \"height\": }",
       "test.json: line 2, column 12: syntax error"},
      {"{" + robot + "}", "test.json: room: missing"},
      {R"({"room": {"width": -5, "height": 1000}, )" + robot + "}",
       "test.json: room.width: must be above 0"},
      {R"({"room": {"width": 1000, "height": 1000}, "walls": [[[1, 2]]], )" + robot + "}",
       "test.json: walls[0]: must be a segment"},
      {R"({"room": {"width": 1000, "height": 1000}, "walls": [[[1, 2], [3, "x"]]], )" + robot + "}",
       "test.json: walls[0][1]: must be a point"},
      {R"({"room": {"width": 1000, "height": 1000}, "wals": [], )" + robot + "}",
       "test.json: wals: unknown key"},
      {R"({"room": {"width": 1000, "height": 1000}, "robot": {"x": 500, "y": 500, "wheel": 0}})",
       "test.json: robot.wheel: must be above 0"},
      {R"({"room": {"width": 1000, "height": 1000}, "robot": {"x": 500, "y": 500, "sonar": {"port": "in_5"}}})",
       "test.json: robot.sonar.port: must be a sensor port"},
      {R"({"room": {"width": 1000, "height": 1000}, "robot": {"x": 500, "y": 500, "light": {"port": "in_1"}}})",
       "test.json: robot.light.port: already taken by the touch sensor"},
      {R"({"room": {"width": 1000, "height": 1000}, "robot": {"x": 500, "y": 500, "left_motor": "out_d"}})",
       "test.json: robot.left_motor: must be a motor port"},
      {R"({"room": {"width": 1000, "height": 1000}, "robot": {"x": 50, "y": 500}})",
       "test.json: robot: the robot at its start overlaps a wall"},
      {R"({"room": {"width": 1000, "height": 1000}, "floor": {"lines": [{"points": [[0, 0]]}]}, )" +
           robot + "}",
       "test.json: floor.lines[0].points: must be an array of at least two points"},
  };
  for (const Case& c : cases) {
    SimWorldMap map;
    std::string error;
    EXPECT_FALSE(simWorldParse(c.text, "test.json", map, error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  SimWorldMap map;
  std::string error;
  EXPECT_FALSE(simWorldLoad("/nonexistent/room.json", map, error));
  EXPECT_EQ(error, "/nonexistent/room.json: cannot be read");
  EXPECT_TRUE(simWorldLoad("default", map, error)) << error;
  EXPECT_EQ(map.edges.size(), 4u + 1u + 4u);
}

}  // namespace
