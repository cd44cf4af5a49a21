#include "devices/sls/ProductTables.h"

#include <utility>

namespace sls {
namespace {

using vid::Format;
using vid::Property;
namespace subtype = vid::subtype;

vid::CameraInfo Camera(std::string name, std::vector<Format> formats, bool force,
                       vid::PropertyValues properties) {
  vid::CameraInfo info;
  info.source = {vid::SourceType::Live, std::move(name)};
  info.allowedFormats = std::move(formats);
  info.forceConfiguration = force;
  info.defaultProperties = std::move(properties);
  return info;
}

// Divider choices of the kit cameras for a projector refresh rate.
std::vector<std::pair<std::int32_t, double>> KitRates(double projectorRate) {
  std::vector<std::pair<std::int32_t, double>> choices;
  for (const std::int32_t divider : {1, 2, 3, 4, 6, 8, 12})
    choices.emplace_back(divider, projectorRate);
  return choices;
}

vid::PropertyValues Manual(std::initializer_list<std::pair<const char*, double>> values) {
  vid::PropertyValues properties;
  for (const auto& [name, value] : values) properties[name] = Property(value, Property::kManual);
  return properties;
}

vid::PropertyValues KitBProperties() {
  return Manual({{"brightness", 0},
                 {"contrast", 0},
                 {"exposure", -14},
                 {"flip_horizontal", 0},
                 {"flip_vertical", 0},
                 {"gain", 34},
                 {"gamma", 100},
                 {"sharpness", 0},
                 {"pan", 0},
                 {"tilt", 0},
                 {"trigger_enable", 0},
                 {"zoom", 0}});
}

vid::PropertyValues KitDProperties() {
  return Manual({{"brightness", 0},
                 {"contrast", 0},
                 {"exposure", -14},
                 {"flip_horizontal", 0},
                 {"flip_vertical", 0},
                 {"gain", 0},
                 {"gamma", 100},
                 {"sharpness", 0},
                 {"pan", 0},
                 {"tilt", 0},
                 {"trigger_enable", 0}});
}

vid::CameraInfo Renamed(vid::CameraInfo info, std::string name) {
  info.source.name = std::move(name);
  return info;
}

const vid::ProjectorInfo kAcerK11(800, 600, 60.317, "Acer K11", 2.3);
const vid::ProjectorInfo kAcerK132(1280, 800, 59.81, "Acer K132", 2.42);
const vid::ProjectorInfo kAcerK137i(1280, 800, 59.81, "Acer K137i", 2.42);

}  // namespace

vid::CameraInfo CameraModelA(double projectorRate) {
  vid::CameraInfo info = Camera("CameraModelA", {{subtype::Y800, 744, 480, 60.0002}}, false,
                                Manual({{"exposure", -14},
                                        {"flip_horizontal", 0},
                                        {"flip_vertical", 0},
                                        {"gain", 34},
                                        {"gamma", 100},
                                        {"sharpness", 0},
                                        {"pan", 0},
                                        {"tilt", 0},
                                        {"trigger_enable", 0},
                                        {"zoom", 0}}));
  info.frameRateChoices = KitRates(projectorRate);
  return info;
}

vid::CameraInfo CameraModelB(double projectorRate) {
  vid::CameraInfo info =
      Camera("CameraModelB", {{subtype::Y800, 1280, 960, 25.0}}, false, KitBProperties());
  info.frameRateChoices = KitRates(projectorRate);
  return info;
}

vid::CameraInfo CameraModelC(double projectorRate) {
  return Renamed(CameraModelB(projectorRate), "CameraModelC");
}

vid::CameraInfo CameraModelD(double projectorRate) {
  vid::CameraInfo info = Camera("CameraModelD",
                                {{subtype::Y800, 1920, 1200, 50.0},
                                 {subtype::Y800, 1920, 1200, 30.0},
                                 {subtype::Y800, 1920, 1200, 25.0},
                                 {subtype::Y800, 1920, 1200, 15.0}},
                                true, KitDProperties());
  info.frameRateChoices = KitRates(projectorRate);
  return info;
}

vid::CameraInfo CameraModelE(double projectorRate) {
  return Renamed(CameraModelC(projectorRate), "CameraModelE");
}

vid::CameraInfo CameraModelF(double projectorRate) {
  return Renamed(CameraModelD(projectorRate), "CameraModelF");
}

vid::CameraInfo CameraModelG() {
  return Camera("CameraModelG", {{subtype::UYVY, 2112, 1584, 30.0}}, true,
                Manual({{"brightness", 92},
                        {"contrast", 10},
                        {"exposure", -7},
                        {"flip_horizontal", 0},
                        {"flip_vertical", 0},
                        {"flip_vertical_sw", 0},
                        {"gain", 0},
                        {"gamma", 100},
                        {"saturation", 32},
                        {"sharpness", 0},
                        {"trigger_enable", 0},
                        {"white_balance", 5500}}));
}

vid::CameraInfo AnyCamera() {
  std::vector<Format> formats;
  for (const auto& s :
       {subtype::BY8, subtype::Y800, subtype::RGB24, subtype::YUY2, subtype::UYVY, subtype::RGB8})
    formats.push_back({s, 0, 0, 0.0});
  return Camera("", std::move(formats), true, {});
}

std::vector<vid::ProjectorInfo> SupportedProjectors(const std::string& productName) {
  if (productName == "ScannerModelA") return {kAcerK11};
  if (productName == "ScannerModelB" || productName == "ScannerModelC") return {kAcerK132};
  if (productName == "ScannerModelD" || productName == "ScannerModelE")
    return {kAcerK132, kAcerK137i};
  return {};
}

std::vector<vid::CameraInfo> SupportedCameras(const std::string& productName) {
  const auto projectors = SupportedProjectors(productName);
  const double r = projectors.empty() ? 60.0 : projectors.front().GetRefreshRate();
  if (productName == "None") return {};
  if (productName == "ScannerModelA") return {CameraModelA(r), CameraModelB(r)};
  if (productName == "ScannerModelB") return {CameraModelB(r), CameraModelC(r)};
  if (productName == "ScannerModelC") return {CameraModelD(r)};
  if (productName == "ScannerModelD") return {CameraModelB(r), CameraModelC(r), CameraModelE(r)};
  if (productName == "ScannerModelE") return {CameraModelD(r), CameraModelF(r)};
  return {CameraModelA(r), CameraModelB(r), CameraModelC(r), CameraModelD(r),
          CameraModelE(r), CameraModelF(r), CameraModelG(),  AnyCamera()};
}

}  // namespace sls
