#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"
#include "sim/GroundTruth.h"
#include "sim/RayCaster.h"
#include "sim/VirtualProjector.h"
#include "vid/FrameDelivery.h"
#include "vid/ImageCapture.h"

namespace sim {

// The pixel rays of a calibrated camera model: pixel (x, y) is the model's
// pixel (x, y) (centres at integer coordinates, as the depth converters use
// them), rays start at the projection centre.
class CameraModelRays : public RaySource {
 public:
  explicit CameraModelRays(const cam::CameraModel& model) : m_model(model) {}
  std::uint32_t GetWidth() const override { return m_model.GetResX(); }
  std::uint32_t GetHeight() const override { return m_model.GetResY(); }
  bool GetPixelRay(double x, double y, Ray& ray) const override;
  math::Frame4d GetWorldTCamera() const override { return m_model.GetFrame_wTc(); }

 private:
  const cam::CameraModel& m_model;
};

// What a camera pixel's centre sees, for scoring a scan.
enum class PixelView : std::uint8_t {
  kNothing = 0,    // no object (or only a background panel) at the pixel centre
  kShadowed = 1,   // an object the projector cannot light at some of the pixel's samples
  kLit = 2,        // an object every sample of which the projector lights
};

// A camera of the virtual rig: grey (Y800) or colour (RGB24) frames of the
// size of its model, delivered on its own streaming thread at its frame rate
// through the frame-delivery contract. A frame taken at time t integrates the
// projector's light over [t − latency − exposure, t − latency] (so a frame
// across a pattern switch blends both patterns), each of n × n sub-pixel rays
// (at offsets (k + 0.5)/n − 0.5) reading the light at its surface point's
// projector coordinates through the projector model. A point the projector
// cannot see (behind it, outside its image, facing away or occluded) gets
// only the ambient light. The level of a channel is
//   255 · gain · (exposure / referenceExposure) · mean over samples of
//   albedo · (ambient + cos(incidence) · light),
// optionally blurred by a Gaussian defocus (σ in pixels), then raised to
// 1 / cameraGamma (as a fraction of 255), disturbed by Gaussian noise
// (σ grey levels, seeded) and rounded to 8 bits. A printed surface's
// reflectance is integrated over each sub-pixel ray's footprint on it (the
// square of 1/n pixel about the ray, mapped onto the surface's plane), so
// that a pixel integrates printed edges exactly.
//
// SetScene casts every ray once per scene state (turntable position); a frame
// is then a lookup of the shown images, cached per shown image.
//
// Properties: "exposure" (ms, 0.1…1000) and "gain" (linear, 0.1…16).
// The streaming thread runs from construction to destruction and renders
// frames only while a store is attached. Thread-safe.
class VirtualCamera : public vid::ImageCaptureProperties, public vid::ImageCapture {
 public:
  struct Options {
    std::string name = "VirtualCamera";
    bool color = false;
    double frameRateHz = 30.0;
    double latencyMs = 40.0;
    double exposureMs = 10.0;
    double referenceExposureMs = 10.0;
    double gain = 1.0;
    double cameraGamma = 1.0;
    double noiseSigma = 2.0;    // grey levels
    double ambientLight = 0.05; // fraction of full projector light
    std::uint32_t seed = 1;
    int supersampling = 2;      // n: n × n rays per pixel
    double defocusSigma = 0.0;  // pixels; 0 = sharp
  };

  // The projector model maps world points to normalised projector
  // coordinates (the unit square). Throws std::invalid_argument
  // ("sim::VirtualCamera::VirtualCamera - ...") for null or invalid models,
  // a camera model without resolution, or options out of range.
  VirtualCamera(std::shared_ptr<const cam::CameraModel> model,
                std::shared_ptr<const cam::CameraModel> projectorModel,
                std::shared_ptr<VirtualProjector> projector, const Options& options);
  ~VirtualCamera() override;

  // Casts the rays of every pixel into the scene; frames taken afterwards
  // show it. The caster is used only during the call.
  void SetScene(const RayCaster& caster);

  // Ground truth of the pixel centres in the last scene, and what they see.
  const GroundTruth& GetGroundTruth() const { return m_truth; }
  const img::UniImage<std::uint8_t>& GetPixelViews() const { return m_views; }  // PixelView values

  // The frame taken at time t (projector clock) as tightly packed rows (1 or
  // 3 bytes per pixel, b, g, r), with or without noise.
  std::vector<std::uint8_t> RenderFrame(double t, bool withNoise);

  const cam::CameraModel& GetModel() const { return *m_model; }
  const Options& GetOptions() const { return m_options; }
  std::uint64_t GetFrameCount() const { return m_delivery.GetFrameCount(); }
  bool WaitForFrameAfter(std::uint64_t seen, double timeoutSeconds) const {
    return m_delivery.WaitForFrameAfter(seen, timeoutSeconds);
  }

  // An unplugged camera delivers no frames and is not ready, as a camera
  // whose cable was pulled; plugged in again it streams on.
  void SetUnplugged(bool unplugged) { m_unplugged = unplugged; }
  bool IsUnplugged() const { return m_unplugged; }

  // ImageCapture
  void StartCapture(std::shared_ptr<vid::ImageStore> store, std::shared_ptr<vid::ImageFilter> filter) override;
  void StopCapture() override;
  bool IsCapturing() const override { return m_delivery.IsAttached(); }
  bool IsReady() const override { return !m_unplugged; }
  utils::Guid GetSourceGuid() const override { return m_delivery.GetStreamGuid(); }
  std::string GetName() const override { return m_options.name; }
  vid::Format GetFormat() const override { return m_format; }

  // ImageCaptureProperties
  vid::PropertyValues GetProperties() const override;
  std::vector<std::string> GetPropertyNames(bool onlyAdjustable) const override;
  vid::Property GetProperty(const std::string& name) const override;
  vid::PropertyRange GetPropertyRange(const std::string& name) const override;
  bool FormatPropertyValue(std::string& text, double value, const std::string& name) const override;
  bool SetProperty(const std::string& name, const vid::Property& property) override;

 private:
  // One sub-pixel ray: the projector pixel left-above its projector
  // position (kUnlit when the projector cannot light it), the bilinear
  // fractions and albedo · cos(incidence).
  struct Sample {
    static constexpr std::uint32_t kUnlit = 0xffffffffu;
    std::uint32_t pixel = kUnlit;
    float fx = 0.0f, fy = 0.0f;
    math::Vec3f direct;
  };
  using Irradiance = img::UniImage<math::Vec3f>;

  std::shared_ptr<const Irradiance> IrradianceOf(const ShownImage& shown);
  void Run();

  const std::shared_ptr<const cam::CameraModel> m_model;
  const std::shared_ptr<const cam::CameraModel> m_projectorModel;
  const std::shared_ptr<VirtualProjector> m_projector;
  const Options m_options;
  const std::uint32_t m_width, m_height;
  vid::Format m_format;
  std::vector<float> m_noise;  // standard normal values, seeded

  mutable std::mutex m_mutex;  // guards everything below
  double m_exposureMs, m_gain;
  std::vector<Sample> m_samples;  // n² per pixel, pixel-major
  Irradiance m_ambient;           // per pixel: mean albedo · ambient
  std::map<std::uint64_t, std::shared_ptr<const Irradiance>> m_cache;  // by shown serial
  std::uint64_t m_sceneVersion = 0;
  std::mt19937 m_random;
  GroundTruth m_truth;
  img::UniImage<std::uint8_t> m_views;

  vid::FrameDelivery m_delivery;
  std::atomic<bool> m_unplugged{false};
  std::mutex m_threadMutex;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace sim
