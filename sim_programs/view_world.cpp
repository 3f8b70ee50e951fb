#include "sim_programs/view_world.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

// Millimetres to a tenth, which is all a page can draw.
double tenth(double v) { return std::round(v * 10) / 10; }

Json point(const SimPoint& p) { return Json::array({tenth(p.x), tenth(p.y)}); }

Json robot(const SimWorld& world, const SimInputs& inputs) {
  const SimWorldMap& map = *world.map;
  const SimRobotGeometry& g = map.robot;
  const SimPose& pose = world.pose;
  Json body = Json::array();
  for (const SimPoint& c : simWorldBody(map, pose)) body.push_back(point(c));
  const SimSegment bumper = simWorldBumper(map, pose);
  Json r = {{"x", tenth(pose.x)},
            {"y", tenth(pose.y)},
            {"heading", tenth(pose.heading)},
            {"blocked", world.blocked},
            {"body", body},
            {"bumper",
             {{"from", point(bumper.a)},
              {"to", point(bumper.b)},
              {"pressed", simWorldBumperPressed(map, pose)}}},
            {"sonar", nullptr},
            {"light", nullptr}};
  if (g.sonar.port >= 0) {
    const SimPoint at = simWorldMountPoint(pose, g.sonar);
    r["sonar"] = {{"x", tenth(at.x)},
                  {"y", tenth(at.y)},
                  {"heading", tenth(pose.heading + g.sonar.heading)},
                  {"halfCone", kSimSonarHalfCone},
                  {"range", kSimSonarRange},
                  {"cm", simWorldSonarCm(map, pose)}};
  }
  if (g.light.port >= 0) {
    const SimPoint at = simWorldMountPoint(pose, g.light);
    const bool lamp =
        inputs.ports[static_cast<std::size_t>(g.light.port)].type == nxt::kSensorLightActive;
    r["light"] = {{"x", tenth(at.x)},
                  {"y", tenth(at.y)},
                  {"radius", kSimLightSpotRadius},
                  {"percent", std::lround(simWorldLightPercent(simWorldFloorUnder(map, at), lamp))},
                  {"lamp", lamp}};
  }
  return r;
}

}  // namespace

Json viewWorld(const SimWorld& world, const SimInputs& inputs) {
  if (!world.map) return nullptr;
  const SimWorldMap& map = *world.map;
  Json walls = Json::array();
  for (const SimSegment& w : map.walls) {
    walls.push_back({tenth(w.a.x), tenth(w.a.y), tenth(w.b.x), tenth(w.b.y)});
  }
  Json obstacles = Json::array();
  for (const SimObstacle& o : map.obstacles) {
    obstacles.push_back({tenth(o.x), tenth(o.y), tenth(o.width), tenth(o.height)});
  }
  Json lines = Json::array();
  for (const SimFloorLine& l : map.lines) {
    Json points = Json::array();
    for (const SimPoint& p : l.points) points.push_back(point(p));
    lines.push_back({{"width", l.width}, {"reflectance", l.reflectance}, {"points", points}});
  }
  return {{"room", {map.width, map.height}},
          {"floor", map.floorReflectance},
          {"walls", walls},
          {"obstacles", obstacles},
          {"lines", lines},
          {"robot", robot(world, inputs)}};
}
