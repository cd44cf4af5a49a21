#include "devices/felvar/GrabberFelvar.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace felvar {
namespace {

using vemko::Check;

std::int32_t ModeHeight(std::uint32_t width) { return static_cast<std::int32_t>(width * 3 / 4); }

std::uint16_t Word(double value) {
  return static_cast<std::uint16_t>(std::clamp(value, 0.0, 65535.0) + 0.5);
}

}  // namespace

GrabberFelvar::GrabberFelvar(const std::filesystem::path& logFile, Options options)
    : vid::GrabberDirectShow(logFile, std::move(options)) {}

bool GrabberFelvar::SwitchFormat(const vid::Format& format) {
  if (ChangeFormat({format}, true) != kOk) {
    std::cerr << "Error changing format" << std::endl;
    return false;
  }
  if (!Run()) {
    std::cerr << "Error starting capture" << std::endl;
    return false;
  }
  return true;
}

vid::Format GrabberFelvar::StructuredLightFormat(std::uint32_t width) {
  return vid::Format{utils::Guid(), static_cast<std::int32_t>(width), ModeHeight(width), 0.0};
}

vid::Format GrabberFelvar::TextureFormat() {
  return vid::Format{vid::subtype::RGB24, 4416, 3312, 7.0};
}

bool GrabberFelvar::IsUnitProperty(const std::string& name) {
  return name == "exposure" || name == "gain" || name == "lens_shading" ||
         name == "lens_color_shading" || name == "gamma_correction" || name == "auto_white_balance";
}

std::vector<std::string> GrabberFelvar::GetPropertyNames(bool onlyAdjustable) const {
  std::vector<std::string> names;
  for (std::string& name : vid::GrabberDirectShow::GetPropertyNames(onlyAdjustable))
    if (!IsUnitProperty(name)) names.push_back(std::move(name));
  if (!onlyAdjustable)
    names.insert(names.end(), {"exposure", "gain", "lens_shading", "lens_color_shading",
                               "gamma_correction", "auto_white_balance"});
  return names;
}

bool GrabberFelvar::setSLSFormat(std::uint32_t width) {
  if (width != 2208 && width != 1104 && width != 4416) return false;
  m_slsWidth = width;
  return true;
}

vemko::HiResCamera* GrabberFelvar::Camera() const {
  std::lock_guard lock(m_cameraMutex);
  if (!m_camera) m_camera = std::make_unique<vemko::HiResCamera>();
  if (!m_camera->is_open() && !Check(m_camera->open(), "OPS! error %llx opening the HiResCamera\n"))
    return nullptr;
  return m_camera.get();
}

bool GrabberFelvar::Run() {
  GetLogger().Info(kLogSource, "Setting SLS format default to " + std::to_string(m_slsWidth));
  if (vid::GrabberDirectShow::Run()) return true;
  std::cerr << "Error starting Felvar Camera" << std::endl;
  return false;
}

bool GrabberFelvar::setStructuredLightCameraSettings(std::uint16_t exposure) {
  if (GetState() != STATE_RUNNING && !Run()) {
    std::cerr << "Camera is not streaming, restart failed!!!" << std::endl;
    return false;
  }
  if (GetFormat().width != static_cast<std::int32_t>(m_slsWidth)) {
    if (!SwitchFormat(StructuredLightFormat(m_slsWidth))) return false;
  }
  vemko::HiResCamera* camera = Camera();
  bool ok = camera != nullptr;
  if (ok) {
    ok = Check(camera->auto_white_balance(false),
               "OPS! error %llx disabling AWB of the HiResCamera\n") &&
         Check(camera->auto_exposure(false),
               "OPS! error %llx disabling auto exposure of the HiResCamera\n") &&
         Check(camera->gamma_correction(false),
               "OPS! error %llx disabling gamma correction of the HiResCamera\n") &&
         Check(camera->gain(kStructuredLightGain),
               "OPS! error %llx setting gain of the HiResCamera\n") &&
         Check(camera->lens_shading(true),
               "OPS! error %llx setting lens shading of the HiResCamera\n") &&
         Check(camera->exposure(exposure), "OPS! error %llx setting exposure of the HiResCamera\n");
  }
  if (!ok) {
    std::cerr << "Failed in capture images." << std::endl;
    return false;
  }
  m_unitValues["auto_white_balance"] = vid::Property(0.0);
  m_unitValues["gamma_correction"] = vid::Property(0.0);
  m_unitValues["lens_shading"] = vid::Property(1.0);
  m_unitValues["gain"] = vid::Property(kStructuredLightGain);
  m_unitValues["exposure"] = vid::Property(exposure);
  return true;
}

bool GrabberFelvar::setTextureCaptureCameraSettings() {
  const vid::Format texture = TextureFormat();
  const vid::Format now = GetFormat();
  if (now.width != texture.width || now.height != texture.height ||
      now.mediaSubtype != texture.mediaSubtype || GetState() != STATE_RUNNING) {
    if (!SwitchFormat(texture)) return false;
  }
  vemko::HiResCamera* camera = Camera();
  const bool ok = camera &&
                  Check(camera->auto_exposure(true),
                        "OPS! error %llx enabling auto exposure of the HiResCamera\n") &&
                  Check(camera->auto_white_balance(true),
                        "OPS! error %llx enabling AWB of the HiResCamera\n") &&
                  Check(camera->gamma_correction(false),
                        "OPS! error %llx disabling gamma correction of the HiResCamera\n") &&
                  Check(camera->lens_shading(true),
                        "OPS! error %llx setting lens shading of the HiResCamera\n");
  if (ok) {
    m_unitValues["auto_white_balance"] = vid::Property(1.0);
    m_unitValues["gamma_correction"] = vid::Property(0.0);
    m_unitValues["lens_shading"] = vid::Property(1.0);
  }
  return ok;
}

vid::Property GrabberFelvar::GetProperty(const std::string& name) const {
  if (!IsUnitProperty(name)) return vid::GrabberDirectShow::GetProperty(name);
  vemko::HiResCamera* camera = Camera();
  if (!camera) return {};
  std::uint16_t word = 0;
  bool flag = false;
  if (name == "exposure")
    return Check(camera->exposure(&word), "OPS! error %llx getting exposure of the HiResCamera\n")
               ? vid::Property(word)
               : vid::Property();
  if (name == "gain")
    return Check(camera->gain(&word), "OPS! error %llx getting gain of the HiResCamera\n")
               ? vid::Property(word)
               : vid::Property();
  if (name == "gamma_correction")
    return Check(camera->gamma_correction(&flag),
                 "OPS! error %llx getting gamma correction of the HiResCamera\n")
               ? vid::Property(flag ? 1.0 : 0.0)
               : vid::Property();
  const auto it = m_unitValues.find(name);  // the calls that cannot be read
  return it == m_unitValues.end() ? vid::Property() : it->second;
}

bool GrabberFelvar::SetProperty(const std::string& name, const vid::Property& property) {
  if (!IsUnitProperty(name)) return vid::GrabberDirectShow::SetProperty(name, property);
  vemko::HiResCamera* camera = Camera();
  if (!camera || !property.valid) return false;
  const bool on = property.value != 0.0;
  bool ok = false;
  if (name == "exposure") {
    ok = Check(camera->exposure(Word(property.value)),
               "OPS! error %llx setting exposure of the HiResCamera\n");
  } else if (name == "gain") {
    ok = Check(camera->gain(Word(property.value)),
               "OPS! error %llx setting gain of the HiResCamera\n");
  } else if (name == "lens_shading") {
    ok = Check(camera->lens_shading(on),
               "OPS! error %llx setting lens shading of the HiResCamera\n");
  } else if (name == "lens_color_shading") {
    ok = Check(camera->lens_color_shading(on),
               "OPS! error %llx setting lens color shading of the HiResCamera\n");
  } else if (name == "gamma_correction") {
    ok = Check(camera->gamma_correction(on),
               "OPS! error %llx setting gamma correction of the HiResCamera\n");
  } else {
    ok = Check(camera->auto_white_balance(on), "OPS! error %llx setting AWB of the HiResCamera\n");
  }
  if (ok)
    m_unitValues[name] = vid::Property(name == "exposure" || name == "gain" ? Word(property.value)
                                       : on                                 ? 1.0
                                                                            : 0.0);
  return ok;
}

}  // namespace felvar
