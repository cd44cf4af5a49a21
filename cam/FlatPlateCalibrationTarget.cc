#include "cam/FlatPlateCalibrationTarget.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <pugixml.hpp>
#include <sstream>
#include <vector>

namespace cam {
namespace {

struct ColorName {
  TargetColor color;
  const char* lower;
  const char* upper;
};
constexpr ColorName kColors[] = {{TargetColor::kBlack, "black", "Black"},
                                 {TargetColor::kGreen, "green", "Green"},
                                 {TargetColor::kBlue, "blue", "Blue"},
                                 {TargetColor::kWhite, "white", "White"}};

// Reads the attributes of one document, naming the file and element in its
// errors.
class Reader {
 public:
  explicit Reader(std::string source) : m_source(std::move(source)) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw TargetFileError(m_source + ": " + what);
  }

  std::string Text(const pugi::xml_node& node, const char* name) const {
    return node.attribute(name).value();
  }

  double Number(const pugi::xml_node& node, const char* name, const std::string& where,
                double minimum) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) Fail(where + " " + name + ": missing");
    const std::string text = attribute.value();
    double value = 0.0;
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() ||
        !std::isfinite(value))
      Fail(where + " " + name + ": must be a number, got \"" + text + "\"");
    if (value < minimum)
      Fail(where + " " + name + ": must be at least " + Format(minimum) + ", got \"" + text + "\"");
    return value;
  }

  int Integer(const pugi::xml_node& node, const char* name, const std::string& where,
              int minimum) const {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) Fail(where + " " + name + ": missing");
    const std::string text = attribute.value();
    long long value = 0;
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() ||
        value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
      Fail(where + " " + name + ": must be an integer, got \"" + text + "\"");
    if (value < minimum)
      Fail(where + " " + name + ": must be an integer >= " + std::to_string(minimum) + ", got \"" +
           text + "\"");
    return int(value);
  }

  TargetColor Color(const pugi::xml_node& node, const char* name, const std::string& where) const {
    const std::string text = node.attribute(name).value();
    TargetColor color;
    if (!ParseTargetColor(text, color))
      Fail(where + " " + name + ": must be black, green, blue or white, got \"" + text + "\"");
    return color;
  }

  static std::string Format(double value) {
    char buffer[32];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, ptr);
  }

 private:
  std::string m_source;
};

std::chrono::year_month_day ParseDate(const std::string& text, const Reader& reader) {
  std::tm tm{};
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  in >> std::get_time(&tm, "%Y-%m-%d");
  bool ok = !in.fail();
  if (ok && !in.eof()) {
    in >> std::ws;
    ok = in.eof();  // nothing but blanks after the date
  }
  const std::chrono::year_month_day date{std::chrono::year(tm.tm_year + 1900),
                                         std::chrono::month(unsigned(tm.tm_mon + 1)),
                                         std::chrono::day(unsigned(tm.tm_mday))};
  if (!ok || !date.ok())
    reader.Fail("calibrationTarget timestamp: must be a date YYYY-MM-DD, got \"" + text + "\"");
  return date;
}

void AppendNumber(pugi::xml_node node, const char* name, double value) {
  node.append_attribute(name).set_value(Reader::Format(value).c_str());
}

}  // namespace

const char* ToString(TargetColor color) {
  for (const ColorName& c : kColors) {
    if (c.color == color) return c.lower;
  }
  return "black";
}

bool ParseTargetColor(std::string_view name, TargetColor& color) {
  for (const ColorName& c : kColors) {
    if (name == c.lower || name == c.upper) {
      color = c.color;
      return true;
    }
  }
  return false;
}

double Lightness(TargetColor color) {
  switch (color) {
    case TargetColor::kBlack:
      return 0.0;
    case TargetColor::kGreen:
      return 0.6;
    case TargetColor::kBlue:
      return 0.3;
    case TargetColor::kWhite:
      return 1.0;
  }
  return 0.0;
}

FlatPlateCalibrationTarget::FlatPlateCalibrationTarget(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw TargetFileError(path.string() + ": cannot open the target file");
  std::ostringstream text;
  text << file.rdbuf();
  *this = Parse(text.str(), path.string());
}

FlatPlateCalibrationTarget FlatPlateCalibrationTarget::Parse(std::string_view xml,
                                                             const std::string& sourceName) {
  const Reader reader(sourceName);
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed)
    reader.Fail(std::string("not a target file: ") + parsed.description() + " at offset " +
                std::to_string(parsed.offset));
  const pugi::xml_node root = doc.child("calibrationTarget");
  if (!root) reader.Fail("not a target file: no calibrationTarget element");
  const std::string type = root.attribute("type").value();
  if (type != "FlatPlate") throw TargetFileError("CalibType is not FlatPlate: " + type);

  FlatPlateCalibrationTarget target;
  target.id = root.attribute("id").value();
  if (const pugi::xml_attribute stamp = root.attribute("timestamp"); stamp && *stamp.value())
    target.timestamp = ParseDate(stamp.value(), reader);
  const pugi::xml_node grid = root.child("grid");
  if (!grid) reader.Fail("no grid element");
  target.countX = reader.Integer(grid, "countX", "grid", 2);
  target.countY = reader.Integer(grid, "countY", "grid", 2);
  target.spacing = reader.Number(grid, "spacing", "grid", 0.0);
  if (!(target.spacing > 0.0)) reader.Fail("grid spacing: must be greater than 0");
  target.background = reader.Color(grid, "background", "grid");
  if (std::int64_t(target.countX) * target.countY > 1'000'000)
    reader.Fail("grid: more than a million nodes");

  const pugi::xml_node markers = root.child("markers");
  if (!markers) reader.Fail("no markers element");
  const std::string markerType = markers.attribute("type").value();
  if (markerType != "Circles")
    std::cerr << "Marker type is not Circles, it is: " << markerType << "\n";
  int number = 0;
  for (const pugi::xml_node marker : markers.children("marker")) {
    const std::string where = "marker " + std::to_string(number++);
    FlatPlateMarker m;
    m.tolerance = reader.Number(marker, "tolerance", where, 0.0);
    m.color = reader.Color(marker, "color", where);
    const pugi::xml_node index = marker.child("gridIndex"), center = marker.child("center"),
                         diameter = marker.child("diameter");
    if (!index || !center || !diameter)
      reader.Fail(where + ": needs gridIndex, center and diameter");
    const math::Vec2i node{
        reader.Integer(index, "x", where + " gridIndex", std::numeric_limits<int>::min()),
        reader.Integer(index, "y", where + " gridIndex", std::numeric_limits<int>::min())};
    constexpr double kAny = -std::numeric_limits<double>::infinity();
    m.center = {reader.Number(center, "x", where + " center", kAny),
                reader.Number(center, "y", where + " center", kAny),
                reader.Number(center, "z", where + " center", kAny)};
    m.innerDiameter = reader.Number(diameter, "inner", where + " diameter", 0.0);
    m.outerDiameter = reader.Number(diameter, "outer", where + " diameter", 0.0);
    if (!(m.outerDiameter > m.innerDiameter))
      reader.Fail(where + " diameter: outer must be larger than inner");
    if (!target.markers.emplace(node, m).second)
      reader.Fail(where + ": a second marker on grid index (" + std::to_string(node[0]) + ", " +
                  std::to_string(node[1]) + ")");
  }
  if (target.markers.empty()) reader.Fail("no marker");
  const math::Vec2i origin = target.GetGridOrigin();
  for (const auto& [node, marker] : target.markers) {
    if (std::int64_t(node[0]) - origin[0] >= target.countX ||
        std::int64_t(node[1]) - origin[1] >= target.countY)
      reader.Fail("marker on grid index (" + std::to_string(node[0]) + ", " +
                  std::to_string(node[1]) + ") lies outside the grid of " +
                  std::to_string(target.countX) + " x " + std::to_string(target.countY) +
                  " nodes from (" + std::to_string(origin[0]) + ", " + std::to_string(origin[1]) +
                  ")");
  }
  return target;
}

std::string FlatPlateCalibrationTarget::ToXml() const {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("calibrationTarget");
  root.append_attribute("type").set_value("FlatPlate");
  root.append_attribute("id").set_value(id.c_str());
  if (timestamp.ok()) {
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", int(timestamp.year()),
                  unsigned(timestamp.month()), unsigned(timestamp.day()));
    root.append_attribute("timestamp").set_value(date);
  }
  pugi::xml_node grid = root.append_child("grid");
  grid.append_attribute("countX").set_value(countX);
  grid.append_attribute("countY").set_value(countY);
  AppendNumber(grid, "spacing", spacing);
  grid.append_attribute("background").set_value(ToString(background));
  pugi::xml_node list = root.append_child("markers");
  list.append_attribute("type").set_value("Circles");
  for (const auto& [node, m] : markers) {
    pugi::xml_node marker = list.append_child("marker");
    AppendNumber(marker, "tolerance", m.tolerance);
    marker.append_attribute("color").set_value(ToString(m.color));
    pugi::xml_node index = marker.append_child("gridIndex");
    index.append_attribute("x").set_value(node[0]);
    index.append_attribute("y").set_value(node[1]);
    pugi::xml_node center = marker.append_child("center");
    AppendNumber(center, "x", m.center[0]);
    AppendNumber(center, "y", m.center[1]);
    AppendNumber(center, "z", m.center[2]);
    pugi::xml_node diameter = marker.append_child("diameter");
    AppendNumber(diameter, "inner", m.innerDiameter);
    AppendNumber(diameter, "outer", m.outerDiameter);
  }
  std::ostringstream out;
  doc.save(out, "  ");
  return out.str();
}

bool FlatPlateCalibrationTarget::Save(const std::filesystem::path& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << ToXml();
  file.close();
  if (!file) {
    std::cerr << "Error: FlatPlateCalibrationTarget::Save - cannot write " << path.string() << "\n";
    return false;
  }
  return true;
}

math::Vec2i FlatPlateCalibrationTarget::GetGridOrigin() const {
  if (markers.empty()) return {0, 0};
  math::Vec2i origin = markers.begin()->first;
  for (const auto& [node, marker] : markers) {
    origin[0] = std::min(origin[0], node[0]);
    origin[1] = std::min(origin[1], node[1]);
  }
  return origin;
}

bool FlatPlateCalibrationTarget::IsInverted(const FlatPlateMarker& marker) const {
  const double centre = Lightness(marker.innerDiameter > 0.0 ? background : marker.color);
  const double surround = Lightness(marker.innerDiameter > 0.0 ? marker.color : background);
  return centre > surround;
}

bool FlatPlateCalibrationTarget::GetMarkerCell(img::GridMarkerCell& cell) const {
  const math::Vec2i origin = GetGridOrigin();
  std::vector<math::Vec2i> inverted;
  for (const auto& [node, marker] : markers) {
    if (IsInverted(marker)) inverted.push_back(node - origin);
  }
  if (inverted.size() != 3) return false;
  for (int c = 0; c < 3; ++c) {
    const math::Vec2i a = inverted[std::size_t((c + 1) % 3)] - inverted[std::size_t(c)];
    const math::Vec2i b = inverted[std::size_t((c + 2) % 3)] - inverted[std::size_t(c)];
    if (std::abs(a[0]) + std::abs(a[1]) != 1 || std::abs(b[0]) + std::abs(b[1]) != 1) continue;
    const int cross = a[0] * b[1] - a[1] * b[0];
    if (cross == 0) continue;
    cell.corner = inverted[std::size_t(c)];
    cell.first = inverted[std::size_t(cross > 0 ? (c + 1) % 3 : (c + 2) % 3)];
    cell.second = inverted[std::size_t(cross > 0 ? (c + 2) % 3 : (c + 1) % 3)];
    const auto it = markers.find(cell.Fourth() + origin);
    return it != markers.end() && !IsInverted(it->second);
  }
  return false;
}

}  // namespace cam
