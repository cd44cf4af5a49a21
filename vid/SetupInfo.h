#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vid/Format.h"
#include "vid/Property.h"

namespace vid {

enum class SourceType : std::int32_t { Unknown = 0, Live = 1, Video = 2, Image = 3 };

struct SourceInfo {
  SourceType type = SourceType::Unknown;
  std::string name;  // device name or file path
};

// A camera a setup supports. A device matches when `source.name` occurs in
// the device name; an empty name matches every device.
struct CameraInfo {
  SourceInfo source;
  // In order of preference; width, height or fps 0 and a nil subtype match anything.
  std::vector<Format> allowedFormats;
  // Pairs (divider, rate in frames per second).
  std::vector<std::pair<std::int32_t, double>> frameRateChoices;
  // All manual.
  PropertyValues defaultProperties;
  bool forceConfiguration = false;
  Format limitFormat{utils::Guid(), -1, -1, 0.0};
};

// A projector a setup supports.
class ProjectorInfo {
 public:
  ProjectorInfo() = default;
  ProjectorInfo(std::int32_t resX, std::int32_t resY, double refreshRate, std::string name,
                double gamma)
      : m_resX(resX),
        m_resY(resY),
        m_refreshRate(refreshRate),
        m_name(std::move(name)),
        m_gamma(gamma) {}

  std::int32_t GetResX() const { return m_resX; }
  std::int32_t GetResY() const { return m_resY; }
  double GetRefreshRate() const { return m_refreshRate; }  // Hz
  const std::string& GetName() const { return m_name; }
  double GetGamma() const { return m_gamma; }

 private:
  std::int32_t m_resX = 0;
  std::int32_t m_resY = 0;
  double m_refreshRate = 0.0;
  std::string m_name;
  double m_gamma = 0.0;
};

// The devices a scanner product works with.
class SetupInfo {
 public:
  virtual ~SetupInfo() = default;
  virtual std::vector<CameraInfo> GetSupportedCameras() const = 0;
  virtual std::vector<ProjectorInfo> GetSupportedProjectors() const = 0;
};

}  // namespace vid
