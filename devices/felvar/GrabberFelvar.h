#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "devices/felvar/Vemko.h"
#include "vid/GrabberDirectShow.h"

namespace felvar {

// The unit's colour camera: a video source whose own settings (exposure,
// gain, automatic controls, corrections) go through the unit's device
// library. It alternates between the structured-light mode (a sensor mode
// by width, any subtype) and the texture mode (RGB24 4416 × 3312 at 7 fps).
// Failing library calls print their "OPS! error <status in hex> … of the
// HiResCamera" line on standard error.
//
// Threads: configured from one thread, as the base grabber.
class GrabberFelvar : public vid::GrabberDirectShow {
 public:
  // Exposure and gain of the structured-light mode, in the camera's units.
  static constexpr std::uint16_t kStructuredLightGain = 16;
  static constexpr std::uint16_t kDefaultExposure = 300;

  GrabberFelvar(const std::filesystem::path& logFile, Options options);

  // The sensor mode of the structured-light frames: 2208, 1104 or 4416;
  // false (unchanged) for another width.
  bool setSLSFormat(std::uint32_t width);
  std::uint32_t GetSLSWidth() const { return m_slsWidth; }

  // The camera streams in the structured-light mode with fixed exposure,
  // gain and corrections; false ("Failed in capture images.") when a step fails.
  bool setStructuredLightCameraSettings(std::uint16_t exposure);
  // The texture mode with automatic exposure and white balance.
  bool setTextureCaptureCameraSettings();

  bool Run() override;

  // "exposure", "gain", "lens_shading", "lens_color_shading",
  // "gamma_correction" and "auto_white_balance" are the unit camera's;
  // every other name is the video device's.
  vid::Property GetProperty(const std::string& name) const override;
  // The video device's names, then the six unit camera properties; those
  // have no range the unit reports, so onlyAdjustable leaves them out.
  std::vector<std::string> GetPropertyNames(bool onlyAdjustable) const override;
  bool SetProperty(const std::string& name, const vid::Property& property) override;

  // The formats of the modes.
  static vid::Format StructuredLightFormat(std::uint32_t width);
  static vid::Format TextureFormat();
  static bool IsUnitProperty(const std::string& name);

 private:
  // Forces the format and starts the capture again; false (with the line
  // printed) when either fails.
  bool SwitchFormat(const vid::Format& format);
  // The unit camera, opened on first use; null (status printed) when it cannot be.
  vemko::HiResCamera* Camera() const;

  std::uint32_t m_slsWidth = 2208;
  mutable std::mutex m_cameraMutex;
  mutable std::unique_ptr<vemko::HiResCamera> m_camera;
  // What the unit camera was last set to, for the properties it cannot read.
  mutable vid::PropertyValues m_unitValues;
};

}  // namespace felvar
