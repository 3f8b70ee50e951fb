#include "sim/sim_world.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

namespace {

using Json = nlohmann::json;

constexpr double kPi = 3.14159265358979323846;
constexpr int kContactBisections = 12;

double radians(double degrees) { return degrees * kPi / 180; }

SimPoint minus(SimPoint a, SimPoint b) { return {a.x - b.x, a.y - b.y}; }
double dot(SimPoint a, SimPoint b) { return a.x * b.x + a.y * b.y; }
double cross(SimPoint a, SimPoint b) { return a.x * b.y - a.y * b.x; }
double length(SimPoint a) { return std::hypot(a.x, a.y); }

// The nearest point of segment s to p.
SimPoint nearestOn(const SimSegment& s, SimPoint p) {
  const SimPoint d = minus(s.b, s.a);
  const double len2 = dot(d, d);
  const double t = len2 > 0 ? std::clamp(dot(minus(p, s.a), d) / len2, 0.0, 1.0) : 0.0;
  return {s.a.x + t * d.x, s.a.y + t * d.y};
}

double distanceTo(const SimSegment& s, SimPoint p) { return length(minus(p, nearestOn(s, p))); }

double side(SimPoint a, SimPoint b, SimPoint p) { return cross(minus(b, a), minus(p, a)); }

// Whether p, on the line through s, lies within s's bounds.
bool within(const SimSegment& s, SimPoint p) {
  return std::min(s.a.x, s.b.x) <= p.x && p.x <= std::max(s.a.x, s.b.x) &&
         std::min(s.a.y, s.b.y) <= p.y && p.y <= std::max(s.a.y, s.b.y);
}

// Whether the segments meet, touching included.
bool segmentsCross(const SimSegment& s, const SimSegment& t) {
  const double d1 = side(s.a, s.b, t.a);
  const double d2 = side(s.a, s.b, t.b);
  const double d3 = side(t.a, t.b, s.a);
  const double d4 = side(t.a, t.b, s.b);
  if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) {
    return true;
  }
  return (d1 == 0 && within(s, t.a)) || (d2 == 0 && within(s, t.b)) ||
         (d3 == 0 && within(t, s.a)) || (d4 == 0 && within(t, s.b));
}

double segmentDistance(const SimSegment& s, const SimSegment& t) {
  if (segmentsCross(s, t)) return 0;
  return std::min({distanceTo(s, t.a), distanceTo(s, t.b), distanceTo(t, s.a), distanceTo(t, s.b)});
}

}  // namespace

std::array<SimPoint, 4> simWorldBody(const SimWorldMap& map, const SimPose& pose) {
  const SimRobotGeometry& r = map.robot;
  const double half = r.track / 2 + r.wheelWidth / 2;
  return {simWorldMountPoint(pose, {0, r.bumper, half, 0}),
          simWorldMountPoint(pose, {0, -r.rear, half, 0}),
          simWorldMountPoint(pose, {0, -r.rear, -half, 0}),
          simWorldMountPoint(pose, {0, r.bumper, -half, 0})};
}

namespace {

bool insideConvex(const std::array<SimPoint, 4>& corners, SimPoint p) {
  for (std::size_t i = 0; i < corners.size(); ++i) {
    if (cross(minus(corners[(i + 1) % 4], corners[i]), minus(p, corners[i])) < 0) return false;
  }
  return true;
}

// Clips `s` to the half-plane left of the line through `origin` along
// `direction`; false when nothing of it is left.
bool clipLeftOf(SimSegment& s, SimPoint origin, SimPoint direction) {
  const double da = cross(direction, minus(s.a, origin));
  const double db = cross(direction, minus(s.b, origin));
  if (da < 0 && db < 0) return false;
  if (da >= 0 && db >= 0) return true;
  const double t = da / (da - db);
  const SimPoint cut{s.a.x + t * (s.b.x - s.a.x), s.a.y + t * (s.b.y - s.a.y)};
  (da < 0 ? s.a : s.b) = cut;
  return true;
}

// ---- Reading the file ----

// Reads one JSON value at a place ("robot.wheel"), collecting the first
// error.
struct Reader {
  std::string fileName;
  std::string error;

  bool fail(const std::string& place, const std::string& reason) {
    if (error.empty()) error = fileName + ": " + place + ": " + reason;
    return false;
  }

  bool object(const Json& j, const std::string& place, std::initializer_list<const char*> keys) {
    if (!j.is_object()) return fail(place, "must be an object");
    for (const auto& item : j.items()) {
      if (std::find_if(keys.begin(), keys.end(), [&](const char* k) { return item.key() == k; }) ==
          keys.end()) {
        return fail(place.empty() ? item.key() : place + "." + item.key(), "unknown key");
      }
    }
    return true;
  }

  static std::string at(const std::string& place, const char* key) {
    return place.empty() ? key : place + "." + key;
  }

  // A number in [low, high] (exclusive at `low` when `aboveLow`); `value`
  // keeps its default when the key is absent and not `required`.
  bool number(const Json& parent, const std::string& place, const char* key, double& value,
              double low, double high, bool aboveLow = false, bool required = false) {
    const std::string where = at(place, key);
    if (!parent.contains(key)) return required ? fail(where, "missing") : true;
    const Json& j = parent.at(key);
    if (!j.is_number()) return fail(where, "must be a number");
    const double v = j.get<double>();
    if (!std::isfinite(v) || v < low || v > high || (aboveLow && v == low)) {
      std::ostringstream range;
      range << "must be " << (aboveLow ? "above " : "from ") << low
            << (aboveLow ? " and up to " : " to ") << high;
      return fail(where, range.str());
    }
    value = v;
    return true;
  }

  // Reads each element of the array `j` with `read(element, its place)`,
  // the places numbered from `place` ("walls[0]", "walls[1]", ...).
  template <typename Read>
  bool each(const Json& j, const std::string& place, Read read) {
    if (!j.is_array()) return fail(place, "must be an array");
    for (std::size_t i = 0; i < j.size(); ++i) {
      if (!read(j[i], place + "[" + std::to_string(i) + "]")) return false;
    }
    return true;
  }

  bool point(const Json& j, const std::string& place, SimPoint& p) {
    if (!j.is_array() || j.size() != 2 || !j[0].is_number() || !j[1].is_number()) {
      return fail(place, "must be a point [x, y] in mm");
    }
    p = {j[0].get<double>(), j[1].get<double>()};
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return fail(place, "must be finite");
    return true;
  }

  bool port(const Json& parent, const std::string& place, const char* key, const char* prefix,
            int count, int& value) {
    const std::string where = at(place, key);
    if (!parent.contains(key)) return true;
    const Json& j = parent.at(key);
    if (j.is_null() && prefix[0] == 'i') {
      value = -1;
      return true;
    }
    if (j.is_string()) {
      for (int i = 0; i < count; ++i) {
        const std::string name = prefix[0] == 'i'
                                     ? prefix + std::to_string(i + 1)
                                     : prefix + std::string(1, static_cast<char>('a' + i));
        if (j.get<std::string>() == name) {
          value = i;
          return true;
        }
      }
    }
    return fail(where, prefix[0] == 'i' ? "must be a sensor port \"in_1\" to \"in_4\" or null"
                                        : "must be a motor port \"out_a\", \"out_b\" or \"out_c\"");
  }

  bool mount(const Json& parent, const std::string& place, const char* key, SimMount& m,
             bool looks) {
    if (!parent.contains(key)) return true;
    const Json& j = parent.at(key);
    const std::string where = at(place, key);
    if (j.is_null()) {
      m.port = -1;
      return true;
    }
    if (looks ? !object(j, where, {"port", "ahead", "left", "heading"})
              : !object(j, where, {"port", "ahead", "left"})) {
      return false;
    }
    return port(j, where, "port", "in_", static_cast<int>(kSimInputPorts), m.port) &&
           number(j, where, "ahead", m.ahead, -500, 500) &&
           number(j, where, "left", m.left, -500, 500) &&
           (!looks || number(j, where, "heading", m.heading, -360, 360));
  }
};

constexpr double kMaxRoom = 100000;  // mm

bool readRobot(Reader& r, const Json& j, SimWorldMap& map) {
  const std::string place = "robot";
  if (!r.object(j, place,
                {"x", "y", "heading", "left_motor", "right_motor", "wheel", "track", "wheel_width",
                 "bumper", "rear", "touch", "sound", "light", "sonar"})) {
    return false;
  }
  SimRobotGeometry& g = map.robot;
  SimPose& s = map.start;
  if (!r.number(j, place, "x", s.x, 0, map.width, false, true) ||
      !r.number(j, place, "y", s.y, 0, map.height, false, true) ||
      !r.number(j, place, "heading", s.heading, -360, 360) ||
      !r.port(j, place, "left_motor", "out_", kSimOutputCount, g.leftMotor) ||
      !r.port(j, place, "right_motor", "out_", kSimOutputCount, g.rightMotor) ||
      !r.number(j, place, "wheel", g.wheelDiameter, 0, 500, true) ||
      !r.number(j, place, "track", g.track, 0, 1000, true) ||
      !r.number(j, place, "wheel_width", g.wheelWidth, 0, 200) ||
      !r.number(j, place, "bumper", g.bumper, 0, 1000, true) ||
      !r.number(j, place, "rear", g.rear, 0, 1000) || !r.mount(j, place, "touch", g.touch, false) ||
      !r.mount(j, place, "sound", g.sound, false) || !r.mount(j, place, "light", g.light, false) ||
      !r.mount(j, place, "sonar", g.sonar, true)) {
    return false;
  }
  if (g.leftMotor == g.rightMotor)
    return r.fail(place + ".right_motor", "must differ from left_motor");
  const SimMount* mounts[] = {&g.touch, &g.sound, &g.light, &g.sonar};
  const char* names[] = {"touch", "sound", "light", "sonar"};
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < i; ++k) {
      if (mounts[i]->port >= 0 && mounts[i]->port == mounts[k]->port) {
        return r.fail(place + "." + names[i] + ".port",
                      std::string("already taken by the ") + names[k] + " sensor");
      }
    }
  }
  return true;
}

bool readFloor(Reader& r, const Json& j, SimWorldMap& map) {
  if (!r.object(j, "floor", {"reflectance", "lines"}) ||
      !r.number(j, "floor", "reflectance", map.floorReflectance, 0, 1)) {
    return false;
  }
  if (!j.contains("lines")) return true;
  return r.each(j.at("lines"), "floor.lines", [&](const Json& l, const std::string& place) {
    SimFloorLine line;
    if (!r.object(l, place, {"points", "width", "reflectance", "closed"}) ||
        !r.number(l, place, "width", line.width, 0, 1000, true) ||
        !r.number(l, place, "reflectance", line.reflectance, 0, 1)) {
      return false;
    }
    const Json& points = l.contains("points") ? l.at("points") : Json();
    if (!points.is_array() || points.size() < 2) {
      return r.fail(place + ".points", "must be an array of at least two points");
    }
    if (!r.each(points, place + ".points", [&](const Json& p, const std::string& at) {
          return r.point(p, at, line.points.emplace_back());
        })) {
      return false;
    }
    if (l.contains("closed")) {
      if (!l.at("closed").is_boolean()) return r.fail(place + ".closed", "must be true or false");
      if (l.at("closed").get<bool>()) line.points.push_back(line.points.front());
    }
    map.lines.push_back(std::move(line));
    return true;
  });
}

bool readMap(Reader& r, const Json& j, SimWorldMap& map) {
  if (!r.object(j, "", {"room", "walls", "obstacles", "floor", "robot"})) return false;
  if (!j.contains("room")) return r.fail("room", "missing");
  if (!r.object(j.at("room"), "room", {"width", "height"}) ||
      !r.number(j.at("room"), "room", "width", map.width, 0, kMaxRoom, true, true) ||
      !r.number(j.at("room"), "room", "height", map.height, 0, kMaxRoom, true, true)) {
    return false;
  }
  const auto readWall = [&](const Json& w, const std::string& place) {
    if (!w.is_array() || w.size() != 2) return r.fail(place, "must be a segment [[x, y], [x, y]]");
    SimSegment& s = map.walls.emplace_back();
    return r.point(w[0], place + "[0]", s.a) && r.point(w[1], place + "[1]", s.b);
  };
  const auto readObstacle = [&](const Json& o, const std::string& place) {
    SimObstacle& b = map.obstacles.emplace_back();
    return r.object(o, place, {"x", "y", "width", "height"}) &&
           r.number(o, place, "x", b.x, -kMaxRoom, kMaxRoom, false, true) &&
           r.number(o, place, "y", b.y, -kMaxRoom, kMaxRoom, false, true) &&
           r.number(o, place, "width", b.width, 0, kMaxRoom, true, true) &&
           r.number(o, place, "height", b.height, 0, kMaxRoom, true, true);
  };
  if ((j.contains("walls") && !r.each(j.at("walls"), "walls", readWall)) ||
      (j.contains("obstacles") && !r.each(j.at("obstacles"), "obstacles", readObstacle))) {
    return false;
  }
  if (j.contains("floor") && !readFloor(r, j.at("floor"), map)) return false;
  if (!j.contains("robot")) return r.fail("robot", "missing");
  return readRobot(r, j.at("robot"), map);
}

void collectEdges(SimWorldMap& map) {
  const double w = map.width;
  const double h = map.height;
  map.edges = {{{0, 0}, {w, 0}}, {{w, 0}, {w, h}}, {{w, h}, {0, h}}, {{0, h}, {0, 0}}};
  map.edges.insert(map.edges.end(), map.walls.begin(), map.walls.end());
  for (const SimObstacle& o : map.obstacles) {
    const SimPoint c[] = {
        {o.x, o.y}, {o.x + o.width, o.y}, {o.x + o.width, o.y + o.height}, {o.x, o.y + o.height}};
    for (int i = 0; i < 4; ++i) map.edges.push_back({c[i], c[(i + 1) % 4]});
  }
}

// Line and column of byte `offset` (1-based) in `text`.
std::string lineAndColumn(const std::string& text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i + 1 < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

double clampUnit(double v) { return std::clamp(v, 0.0, 1.0); }

}  // namespace

// The built-in room: 2 m by 1.5 m, a wall jutting in from the top, a box,
// and a black oval to follow; the robot near the lower left, facing up.
const std::string& simWorldDefaultText() {
  static const std::string text = R"({
  "room": {"width": 2000, "height": 1500},
  "walls": [[[1300, 1500], [1300, 1100]]],
  "obstacles": [{"x": 1550, "y": 300, "width": 200, "height": 150}],
  "floor": {
    "reflectance": 0.95,
    "lines": [{
      "width": 20, "reflectance": 0.3, "closed": true,
      "points": [[500, 450], [900, 450], [977, 465], [1041, 509], [1085, 573], [1100, 650],
                 [1085, 727], [1041, 791], [977, 835], [900, 850], [500, 850], [423, 835],
                 [359, 791], [315, 727], [300, 650], [315, 573], [359, 509], [423, 465]]
    }]
  },
  "robot": {
    "x": 150, "y": 300, "heading": 90,
    "left_motor": "out_b", "right_motor": "out_c", "wheel": 56, "track": 112,
    "bumper": 100, "rear": 60,
    "touch": {"port": "in_1"},
    "sound": {"port": "in_2"},
    "light": {"port": "in_3", "ahead": 75, "left": 0},
    "sonar": {"port": "in_4", "ahead": 60, "left": 0, "heading": 0}
  }
}
)";
  return text;
}

bool simWorldParse(const std::string& text, const std::string& fileName, SimWorldMap& map,
                   std::string& error) {
  Json j;
  try {
    j = Json::parse(text);
  } catch (const Json::parse_error& e) {
    std::string reason = e.what();
    const std::size_t colon = reason.find(": ", reason.find("parse error"));
    reason = colon == std::string::npos ? "not JSON" : reason.substr(colon + 2);
    error = fileName + ": " + lineAndColumn(text, e.byte) + ": " + reason;
    return false;
  }
  SimWorldMap read;
  Reader r{fileName, {}};
  if (!readMap(r, j, read)) {
    error = r.error;
    return false;
  }
  collectEdges(read);
  if (simWorldOverlaps(read, read.start)) {
    error = fileName + ": robot: the robot at its start overlaps a wall or leaves the room";
    return false;
  }
  map = std::move(read);
  return true;
}

bool simWorldLoad(const std::string& path, SimWorldMap& map, std::string& error) {
  if (path == "default") return simWorldParse(simWorldDefaultText(), "default", map, error);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return simWorldParse(text.str(), path, map, error);
}

SimPose simWorldDrive(const SimPose& pose, double left, double right, double track) {
  const double turn = (right - left) / track;  // radians, counter-clockwise
  const double travel = (left + right) / 2;
  // The chord of the arc, along the heading halfway through it.
  const double chord = std::abs(turn) > 1e-12 ? travel * std::sin(turn / 2) / (turn / 2) : travel;
  const double mid = radians(pose.heading) + turn / 2;
  SimPose next{pose.x + chord * std::cos(mid), pose.y + chord * std::sin(mid),
               pose.heading + turn * 180 / kPi};
  next.heading = std::fmod(next.heading, 360.0);
  if (next.heading < 0) next.heading += 360;
  return next;
}

SimPoint simWorldMountPoint(const SimPose& pose, const SimMount& mount) {
  const double h = radians(pose.heading);
  return {pose.x + mount.ahead * std::cos(h) - mount.left * std::sin(h),
          pose.y + mount.ahead * std::sin(h) + mount.left * std::cos(h)};
}

SimSegment simWorldBumper(const SimWorldMap& map, const SimPose& pose) {
  const SimRobotGeometry& r = map.robot;
  return {simWorldMountPoint(pose, {0, r.bumper, r.track / 2, 0}),
          simWorldMountPoint(pose, {0, r.bumper, -r.track / 2, 0})};
}

bool simWorldOverlaps(const SimWorldMap& map, const SimPose& pose) {
  const auto corners = simWorldBody(map, pose);
  for (const SimPoint& c : corners) {
    if (c.x < 0 || c.y < 0 || c.x > map.width || c.y > map.height) return true;
  }
  for (const SimSegment& e : map.edges) {
    if (insideConvex(corners, e.a) || insideConvex(corners, e.b)) return true;
    for (std::size_t i = 0; i < corners.size(); ++i) {
      if (segmentsCross(e, {corners[i], corners[(i + 1) % 4]})) return true;
    }
  }
  return false;
}

bool simWorldBumperPressed(const SimWorldMap& map, const SimPose& pose) {
  const SimSegment bumper = simWorldBumper(map, pose);
  for (const SimSegment& e : map.edges) {
    if (segmentDistance(bumper, e) <= kSimBumperTravel) return true;
  }
  return false;
}

int simWorldSonarCm(const SimWorldMap& map, const SimPose& pose) {
  const SimMount& m = map.robot.sonar;
  const SimPoint apex = simWorldMountPoint(pose, m);
  const double axis = radians(pose.heading + m.heading);
  const double half = radians(kSimSonarHalfCone);
  // The cone: left of its right side, right of its left side.
  const SimPoint rightSide{std::cos(axis - half), std::sin(axis - half)};
  const SimPoint leftSide{-std::cos(axis + half), -std::sin(axis + half)};
  double nearest = kSimSonarRange + 1;
  for (SimSegment e : map.edges) {
    if (!clipLeftOf(e, apex, rightSide) || !clipLeftOf(e, apex, leftSide)) continue;
    nearest = std::min(nearest, distanceTo(e, apex));
  }
  if (nearest > kSimSonarRange) return kSonarNoEcho;
  return static_cast<int>(std::lround(nearest / 10));
}

double simWorldFloorUnder(const SimWorldMap& map, const SimPoint& spot) {
  double reflectance = map.floorReflectance;
  double covered = 0;
  for (const SimFloorLine& line : map.lines) {
    double d = 1e18;
    for (std::size_t i = 0; i + 1 < line.points.size(); ++i) {
      d = std::min(d, distanceTo({line.points[i], line.points[i + 1]}, spot));
    }
    // The share of the spot on the line, as across a straight edge.
    const double share = clampUnit((line.width / 2 - d) / (2 * kSimLightSpotRadius) + 0.5);
    if (share > covered) {
      covered = share;
      reflectance = map.floorReflectance + share * (line.reflectance - map.floorReflectance);
    }
  }
  return reflectance;
}

double simWorldLightPercent(double reflectance, bool lampOn) {
  return lampOn ? 20 + 40 * reflectance : 12 + 28 * reflectance;
}

std::uint16_t simWorldLightRaw(double percent) {
  // The firmware's scaling read backwards: percent of 1023, then
  // normalized = 1023 - (raw - 200) x 100 / 68.
  const double normalized = std::clamp(percent, 0.0, 100.0) * 1023 / 100;
  return static_cast<std::uint16_t>(std::lround(200 + (1023 - normalized) * 68 / 100));
}

void simWorldStart(SimWorld& world, std::shared_ptr<const SimWorldMap> map,
                   const SimOutputs& outputs, SimTime now) {
  world = SimWorld{};
  world.pose = map->start;
  world.time = now;
  world.wheelDegrees[0] = outputs.port[map->robot.leftMotor].position;
  world.wheelDegrees[1] = outputs.port[map->robot.rightMotor].position;
  world.map = std::move(map);
}

void simWorldAdvance(SimWorld& world, SimOutputs& outputs, SimTime now) {
  if (!world.map) {
    simOutputsAdvance(outputs, now);
    return;
  }
  const SimWorldMap& map = *world.map;
  const int motors[2] = {map.robot.leftMotor, map.robot.rightMotor};
  const double mmPerDegree = kPi * map.robot.wheelDiameter / 360;
  SimClock::duration step = kSimWorldStep;
  while (world.time < now) {
    const SimTime end = std::min(now, world.time + step);
    const SimOutputs before = outputs;
    if (world.blocked) {
      // Free again for this step: as fast as the battery and load in force
      // let them turn.
      for (int m : motors) {
        SimOutput& o = outputs.port[m];
        o.freeSpeed = simMotorFreeSpeed(outputs.batteryMillivolts, o.loadPercent);
      }
    }
    simOutputsAdvance(outputs, end);
    double travel[2];
    for (int i = 0; i < 2; ++i) {
      travel[i] = (outputs.port[motors[i]].position - world.wheelDegrees[i]) * mmPerDegree;
    }
    const double most = std::max(std::abs(travel[0]), std::abs(travel[1]));
    if (most > kSimWorldStepTravel && end - world.time > kSimOutputPass) {
      // Too far for one step: again, over a shorter time.
      outputs = before;
      step = std::max<SimClock::duration>(
          kSimOutputPass, std::chrono::duration_cast<SimClock::duration>(
                              (end - world.time) * (kSimWorldStepTravel / most) * 0.9));
      continue;
    }
    step = kSimWorldStep;
    const SimPose next = simWorldDrive(world.pose, travel[0], travel[1], map.robot.track);
    if (most == 0 || !simWorldOverlaps(map, next)) {
      world.pose = next;
      world.blocked = false;
    } else {
      // Up to the wall, then the wheels stand still against it.
      double free = 0;
      double hit = 1;
      for (int i = 0; i < kContactBisections; ++i) {
        const double mid = (free + hit) / 2;
        const SimPose at =
            simWorldDrive(world.pose, travel[0] * mid, travel[1] * mid, map.robot.track);
        (simWorldOverlaps(map, at) ? hit : free) = mid;
      }
      world.pose = simWorldDrive(world.pose, travel[0] * free, travel[1] * free, map.robot.track);
      outputs = before;
      for (int m : motors) outputs.port[m].freeSpeed = 0;
      world.blocked = true;
      simOutputsAdvance(outputs, end);
    }
    for (int i = 0; i < 2; ++i) world.wheelDegrees[i] = outputs.port[motors[i]].position;
    world.time = end;
  }
  simOutputsAdvance(outputs, now);
}

bool simWorldPlace(SimWorld& world, const SimPose& pose) {
  if (!world.map || simWorldOverlaps(*world.map, pose)) return false;
  world.pose = pose;
  return true;
}

void simWorldSense(SimWorld& world, const SimInputs& inputs, SimBrickConfig& config) {
  if (!world.map) return;
  const SimWorldMap& map = *world.map;
  const SimRobotGeometry& g = map.robot;
  // Whether someone else set the port since the world last wrote it; at
  // the start, whether an option set it.
  auto overridden = [&](int port, int value, int last, int powerUp) {
    bool& flag = world.overridden[static_cast<std::size_t>(port)];
    if (!flag) flag = last < 0 ? value != powerUp : value != last;
    return flag;
  };
  auto setRaw = [&](const SimMount& m, std::uint16_t raw) {
    if (m.port < 0) return;
    const auto p = static_cast<std::size_t>(m.port);
    if (overridden(m.port, config.sensorRaw[p], world.lastRaw[p], kSimTouchReleasedRaw)) return;
    config.sensorRaw[p] = raw;
    world.lastRaw[p] = raw;
  };
  setRaw(g.touch,
         simWorldBumperPressed(map, world.pose) ? kSimTouchPressedRaw : kSimTouchReleasedRaw);
  setRaw(g.sound, kSimQuietRoomRaw);
  if (g.light.port >= 0) {
    const bool lampOn =
        inputs.ports[static_cast<std::size_t>(g.light.port)].type == nxt::kSensorLightActive;
    const double reflectance = simWorldFloorUnder(map, simWorldMountPoint(world.pose, g.light));
    setRaw(g.light, simWorldLightRaw(simWorldLightPercent(reflectance, lampOn)));
  }
  if (g.sonar.port >= 0) {
    const auto p = static_cast<std::size_t>(g.sonar.port);
    if (!overridden(g.sonar.port, config.sonarCm[p], world.lastSonar[p], -1)) {
      const int cm = simWorldSonarCm(map, world.pose);
      config.sonarCm[p] = static_cast<std::int16_t>(cm);
      world.lastSonar[p] = cm;
    }
  }
}

std::string simWorldPoseText(const SimPose& pose) {
  const long heading = std::lround(pose.heading) % 360;
  return "robot at x " + std::to_string(std::lround(pose.x)) + " mm, y " +
         std::to_string(std::lround(pose.y)) + " mm, heading " +
         std::to_string(heading < 0 ? heading + 360 : heading) + " degrees";
}
