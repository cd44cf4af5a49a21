#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace vid {

// A camera property value. Mode 0 is automatic, any other value manual.
struct Property {
  static constexpr std::int32_t kAuto = 0;
  static constexpr std::int32_t kManual = 1;

  double value = 0.0;
  std::int32_t mode = kManual;
  bool valid = false;

  // Invalid, value 0, manual.
  Property() = default;
  // Valid and manual.
  explicit Property(double v) : value(v), valid(true) {}
  // Valid with the given mode.
  Property(double v, std::int32_t m) : value(v), mode(m), valid(true) {}

  bool IsAuto() const { return mode == kAuto; }
  friend bool operator==(const Property&, const Property&) = default;
};

// What a source knows of a property's values; all zero and invalid when it
// knows nothing.
struct PropertyRange {
  double minimum = 0.0;
  double maximum = 0.0;
  double defaultValue = 0.0;
  double delta = 0.0;
  bool valid = false;

  friend bool operator==(const PropertyRange&, const PropertyRange&) = default;
};

// Property values by lower-case name ("exposure", "gain", ...).
using PropertyValues = std::map<std::string, Property>;

// Turns a property value into display text ("1/60 s"); false when it cannot.
using PropertyValueConverter = std::function<bool(std::string& text, double value)>;

// Converters by property name, for sources that implement FormatPropertyValue.
class PropertyValueConverters {
 public:
  // False when the name is empty, the converter empty, or the name already has one.
  bool Add(const std::string& name, PropertyValueConverter converter);
  // False and empty text when the name has no converter or it fails.
  bool Format(std::string& text, double value, const std::string& name) const;

 private:
  std::map<std::string, PropertyValueConverter> m_converters;
};

// The names a source may support.
namespace property {
inline constexpr const char* kImageProcessing[] = {
    "brightness",   "contrast",      "hue",
    "saturation",   "sharpness",     "gamma",
    "color_enable", "white_balance", "backlight_compensation",
    "gain"};
inline constexpr const char* kCameraControl[] = {"pan",      "tilt", "roll",  "zoom",
                                                 "exposure", "iris", "focus", "auto_exposure"};
inline constexpr const char* kVideoControl[] = {"flip_horizontal", "flip_vertical",
                                                "trigger_enable"};
// A vertical flip performed in software on each delivered frame.
inline constexpr const char* kFlipVerticalSw = "flip_vertical_sw";
// A source-specific delay used together with triggering.
inline constexpr const char* kDelay = "delay";
}  // namespace property

}  // namespace vid
