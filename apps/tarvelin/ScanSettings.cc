#include "apps/tarvelin/ScanSettings.h"

#include <pugixml.hpp>

#include <cmath>
#include <sstream>

#include "scan/SLCodedLightScan.h"
#include "scan/SLPSKScan.h"

namespace tarvelin {

std::string ScanSettings::Validate() const {
  if (projectorWidth < 2 || projectorHeight < 2 || projectorWidth > 16384 || projectorHeight > 16384) {
    return "projector size must be between 2 and 16384 pixels";
  }
  if (mode != "coded" && mode != "psk") return "mode must be coded or psk";
  if (period < 2 || period > 4096) return "period must be between 2 and 4096";
  if (shifts < 3 || shifts > 64) return "shifts must be between 3 and 64";
  if (orientation != "both" && orientation != "vertical" && orientation != "horizontal") {
    return "orientation must be both, vertical or horizontal";
  }
  if (symbols < 2 || symbols > 16) return "symbols must be between 2 and 16";
  if (shiftsPerLevel < 2 || shiftsPerLevel > 16) return "shifts per level must be between 2 and 16";
  if (texture != "none" && texture != "grey" && texture != "colour") return "texture must be none, grey or colour";
  if (brightness < 1 || brightness > 255) return "brightness must be between 1 and 255";
  if (!(gamma >= 0.1 && gamma <= 10.0)) return "gamma must be between 0.1 and 10";
  if (!std::isfinite(minContrast)) return "min contrast must be a number";
  return {};
}

namespace {

template <typename Scan>
void Prepare(Scan& scan, const ScanSettings& s) {
  if (s.orientation == "both") {
    scan.PrepareScanForOrientation(1);
    scan.PrepareScanForOrientation(0);
  } else {
    scan.PrepareScanForOrientation(s.orientation == "horizontal" ? 1 : 0);
  }
  if (s.texture != "none") scan.PrepareTextureScan(s.texture == "colour" ? 1 : 0);
}

}  // namespace

scan::SLScanPtr BuildScan(const ScanSettings& s) {
  scan::SLScanPtr result;
  const auto minContrast = static_cast<float>(s.minContrast);
  if (s.mode == "psk") {
    auto psk = std::make_shared<scan::SLPSKScan>(s.projectorWidth, s.projectorHeight, s.shifts, s.period, s.symbols,
                                                 s.shiftsPerLevel, minContrast);
    Prepare(*psk, s);
    result = psk;
  } else {
    auto coded = std::make_shared<scan::SLCodedLightScan>(s.projectorWidth, s.projectorHeight, s.shifts, s.period,
                                                          s.inverse ? 0 : 1, minContrast);
    Prepare(*coded, s);
    result = coded;
  }
  for (const auto& pattern : result->AllPatterns()) {
    pattern->SetBrightness(static_cast<std::uint8_t>(s.brightness));
    pattern->SetProjectorGamma(s.gamma);
  }
  return result;
}

bool SaveScanSettings(const ScanSettings& s, std::uint32_t patternCount, const std::filesystem::path& path) {
  pugi::xml_document doc;
  auto root = doc.append_child("TarvelinScan");
  root.append_attribute("version") = 1;
  auto projector = root.append_child("Projector");
  projector.append_attribute("width") = s.projectorWidth;
  projector.append_attribute("height") = s.projectorHeight;
  auto text = [&](const char* name, const std::string& value) { root.append_child(name).text() = value.c_str(); };
  auto number = [&](const char* name, auto value) { root.append_child(name).text() = value; };
  text("Mode", s.mode);
  number("Period", s.period);
  number("Shifts", s.shifts);
  number("Inverse", s.inverse);
  text("Orientation", s.orientation);
  number("Symbols", s.symbols);
  number("ShiftsPerLevel", s.shiftsPerLevel);
  text("Texture", s.texture);
  number("Brightness", s.brightness);
  number("Gamma", s.gamma);
  number("MinContrast", s.minContrast);
  number("PatternCount", patternCount);
  return doc.save_file(path.c_str(), "  ");
}

namespace {

// Reads a required child's text into value; false with an error when it is
// missing or not entirely a number of the right kind.
bool ReadUnsigned(const pugi::xml_node& root, const char* name, std::uint32_t& value, std::string& error) {
  const pugi::xml_node node = root.child(name);
  std::istringstream in(node.text().as_string());
  std::int64_t v = -1;
  if (!node || !(in >> v) || !(in >> std::ws).eof() || v < 0 || v > 0xffffffffLL) {
    error = std::string("missing or invalid <") + name + ">";
    return false;
  }
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool ReadDouble(const pugi::xml_node& root, const char* name, double& value, std::string& error) {
  const pugi::xml_node node = root.child(name);
  std::istringstream in(node.text().as_string());
  if (!node || !(in >> value) || !(in >> std::ws).eof()) {
    error = std::string("missing or invalid <") + name + ">";
    return false;
  }
  return true;
}

bool ReadText(const pugi::xml_node& root, const char* name, std::string& value, std::string& error) {
  const pugi::xml_node node = root.child(name);
  if (!node) {
    error = std::string("missing <") + name + ">";
    return false;
  }
  value = node.text().as_string();
  return true;
}

}  // namespace

bool LoadScanSettings(const std::filesystem::path& path, ScanSettings& settings, std::uint32_t& patternCount,
                      std::string& error) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(path.c_str());
  if (!parsed) {
    error = std::string("not a readable XML file (") + parsed.description() + ")";
    return false;
  }
  const pugi::xml_node root = doc.child("TarvelinScan");
  if (!root) {
    error = "no <TarvelinScan> element";
    return false;
  }
  if (root.attribute("version").as_int(0) != 1) {
    error = "unsupported version (expected 1)";
    return false;
  }
  ScanSettings s;
  const pugi::xml_node projector = root.child("Projector");
  std::uint32_t inverse = 0;
  if (!projector || !projector.attribute("width") || !projector.attribute("height")) {
    error = "missing <Projector width=… height=…>";
    return false;
  }
  s.projectorWidth = projector.attribute("width").as_uint();
  s.projectorHeight = projector.attribute("height").as_uint();
  std::string inverseText;
  if (!ReadText(root, "Mode", s.mode, error) || !ReadUnsigned(root, "Period", s.period, error) ||
      !ReadUnsigned(root, "Shifts", s.shifts, error) || !ReadText(root, "Inverse", inverseText, error) ||
      !ReadText(root, "Orientation", s.orientation, error) || !ReadUnsigned(root, "Symbols", s.symbols, error) ||
      !ReadUnsigned(root, "ShiftsPerLevel", s.shiftsPerLevel, error) || !ReadText(root, "Texture", s.texture, error) ||
      !ReadUnsigned(root, "Brightness", s.brightness, error) || !ReadDouble(root, "Gamma", s.gamma, error) ||
      !ReadDouble(root, "MinContrast", s.minContrast, error) ||
      !ReadUnsigned(root, "PatternCount", patternCount, error)) {
    return false;
  }
  if (inverseText == "true") {
    inverse = 1;
  } else if (inverseText != "false") {
    error = "missing or invalid <Inverse> (true or false)";
    return false;
  }
  s.inverse = inverse == 1;
  error = s.Validate();
  if (!error.empty()) return false;
  settings = s;
  return true;
}

}  // namespace tarvelin
