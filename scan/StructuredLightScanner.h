#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "foundation/utils/Progress.h"
#include "scan/AcquisitionParameters.h"
#include "scan/CameraList.h"
#include "scan/ImageLiveFilter.h"
#include "scan/SLPatternDisplay.h"
#include "scan/SLScan.h"
#include "scan/SLScannedImagesStore.h"
#include "vid/ContentChangeDetection.h"
#include "vid/FramerateMeasure.h"
#include "vid/ImageCapture.h"
#include "vid/ImageQueue.h"
#include "vid/SetupInfo.h"

namespace scan {

// Colour factors of a camera's white balance.
struct WhiteBalanceFactors {
  double red = 1.0;
  double green = 1.0;
  double blue = 1.0;
  friend bool operator==(const WhiteBalanceFactors&, const WhiteBalanceFactors&) = default;
};

// One camera of a scanner: its device name (the key of every archive), frame
// source, calibration, rotation, white balance and the frames and result of
// the current scan.
struct CameraSlot {
  std::string name;
  std::shared_ptr<cam::CameraModel> cameraModel;
  std::shared_ptr<vid::ImageCapture> imageCapture;
  std::uint32_t imageRotation = 0;  // vid::kRotation… code applied to every frame
  SLScannedImagesStorePtr scannedImages;
  SLScanEvaluationResultPtr evaluationResult;
  std::weak_ptr<ImageLiveFilter> liveFilter;  // filter of the running live preview
  std::shared_ptr<vid::ImageQueue> liveQueue;
  std::shared_ptr<vid::FramerateMeasure> framerateMeasure =
      std::make_shared<vid::FramerateMeasure>(2.0);
  WhiteBalanceFactors whiteBalance;
};

// The orchestrator of a structured-light shot: shows the patterns of the scan
// definition through the pattern display while every camera stores one
// accepted frame per pattern (CapturePatternSequence), then decodes each
// camera's frames into projector coordinates (EvaluatePatternSequence). It
// also serves the live preview and keeps, by camera name, archives of
// calibrations, white-balance factors and property values, so that a camera
// attached again gets its settings back. Product variants derive from it.
//
// Threads: CapturePatternSequence and EvaluatePatternSequence run on a
// worker thread, everything else on the user-interface thread; cameras and
// the scan must not be changed while a capture runs. The cameras deliver on
// their own threads into per-capture stores; the capture lock serialises the
// per-frame bookkeeping.
//
// Every camera must have an image capture when a capture starts (the
// bookkeeping compares every camera's frames); otherwise the capture throws.
class StructuredLightScanner : public vid::SetupInfo {
 public:
  struct InitParams {
    std::string logDirectory;
    double frameRateLimit = 0.0;  // frames per second, 0 = no limit
  };

  // A colour image taken after the patterns, and the model of the camera
  // that took it. Either may be null.
  struct HighQualityTexture {
    std::unique_ptr<img::UniImage<img::RGB8>> image;
    std::unique_ptr<cam::CameraModel> cameraModel;
  };

  explicit StructuredLightScanner(const InitParams& params);
  StructuredLightScanner(const StructuredLightScanner&) = delete;
  StructuredLightScanner& operator=(const StructuredLightScanner&) = delete;
  // Writes the property values read from each device when its capture was
  // attached back to the device.
  ~StructuredLightScanner() override;

  // --- Product-specific operations (empty or neutral in the base) ---
  std::vector<vid::CameraInfo> GetSupportedCameras() const override { return {}; }
  std::vector<vid::ProjectorInfo> GetSupportedProjectors() const override { return {}; }
  // Device names of the cameras now present.
  virtual std::vector<std::string> GetAvailableCameraNames() const { return {}; }
  // Opens a capture for the camera and attaches it; false when it could not.
  virtual bool CreateImageCapture(std::size_t cameraIndex) { return false; }
  // fps > 0, else 0 (no limit).
  virtual void SetFrameRateLimit(double fps) { m_frameRateLimit = fps > 0.0 ? fps : 0.0; }
  // Focal length in pixels over the horizontal resolution for a valid Tsai
  // or OCV model; 0.0 otherwise.
  virtual double GetFocalLengthRatio(std::size_t cameraIndex) const;
  // Releases the projector control; false.
  virtual bool InitProjectorControl();
  // 1 when a capture starts, 2 before the high-quality texture, 0 when it ends.
  virtual void OnCaptureStateChanged(int state) {}
  virtual HighQualityTexture CaptureHighQualityTexture() { return {}; }
  virtual bool IsHighQualityTextureSupported() const { return false; }

  // --- Cameras ---
  // The index of the camera of that name (exact match), added when there is
  // none; with createCapture, CreateImageCapture is called when the camera has
  // no capture.
  std::size_t AddCamera(const std::string& name, bool createCapture);
  std::optional<std::size_t> GetCameraIndex(const std::string& name) const;
  void RemoveCamera(std::size_t cameraIndex);
  void RemoveAllCameras() { m_cameras.clear(); }
  std::size_t GetCameraCount() const { return m_cameras.size(); }
  // Throws std::out_of_range for an invalid index.
  std::string GetCameraName(std::size_t cameraIndex) const {
    return m_cameras.at(cameraIndex).name;
  }
  // Added cameras and present devices accepted by the product's descriptors.
  CameraList GetCameraList() const;

  // --- Captures, properties, rotation ---
  // The camera takes the capture's name; its property values are recorded as
  // the device defaults, the archives are synchronised and archived property
  // values applied.
  void SetImageCapture(std::shared_ptr<vid::ImageCapture> capture, std::size_t cameraIndex);
  std::shared_ptr<vid::ImageCapture> GetImageCapture(std::size_t cameraIndex) const;
  // The capture viewed as properties; null when it offers none.
  std::shared_ptr<vid::ImageCaptureProperties> GetImageCaptureProperties(
      std::size_t cameraIndex) const;
  // Applied at once when the capture offers properties, else archived under
  // the camera's name for the next capture attached.
  void SetImageCapturePropertyValues(const vid::PropertyValues& values, std::size_t cameraIndex);
  void SetImageRotation(std::uint32_t rotation, std::size_t cameraIndex);
  std::uint32_t GetImageRotation(std::size_t cameraIndex) const;
  // Every camera has a capture now delivering a colour format (true without cameras).
  bool IsColorCaptureSupported() const;
  double GetMeasuredFramerate(std::size_t cameraIndex) const;
  double GetTimeSinceLastNewImage(std::size_t cameraIndex) const;
  double GetFrameRateLimit() const { return m_frameRateLimit; }

  // --- Calibration, projector, scan ---
  void SetCameraModel(std::shared_ptr<cam::CameraModel> model, std::size_t cameraIndex);
  std::shared_ptr<cam::CameraModel> GetCameraModel(std::size_t cameraIndex) const;
  // A new name takes the display (an unchanged name keeps the old one);
  // `control` is not used by the base.
  void SetProjector(const std::string& name, SLPatternDisplayPtr display,
                    ProjectorControlPtr control = nullptr);
  const std::string& GetProjectorName() const { return m_projectorName; }
  SLPatternDisplayPtr GetPatternDisplay() const { return m_patternDisplay; }
  void SetProjectorModel(std::shared_ptr<cam::CameraModel> model) {
    m_projectorModel = std::move(model);
  }
  std::shared_ptr<cam::CameraModel> GetProjectorModel() const { return m_projectorModel; }
  void SetProjectorControl(ProjectorControlPtr control) { m_projectorControl = std::move(control); }
  ProjectorControlPtr GetProjectorControl() const { return m_projectorControl; }
  void SetSLScan(SLScanPtr scan) { m_scan = std::move(scan); }
  SLScanPtr GetSLScan() const { return m_scan; }
  void SetAcquisitionParameters(const AcquisitionParameters& p) { m_acquisitionParameters = p; }
  const AcquisitionParameters& GetAcquisitionParameters() const { return m_acquisitionParameters; }
  // 2 (high-quality texture) becomes 1 when the product does not support it.
  void SetTextureCaptureMode(std::int32_t mode);
  std::int32_t GetTextureCaptureMode() const { return m_textureCaptureMode; }
  // Every camera has a capture and a valid model, a display is set and the
  // projector model is valid.
  bool IsCalibrated() const;

  // --- Archives (keys are camera names) ---
  // Throws std::invalid_argument for an empty name or a null model.
  void AddToCalibrationArchive(std::shared_ptr<cam::CameraModel> model, const std::string& name);
  // Files the camera's model, or takes the archived one when it has none.
  void SyncWithCalibrationArchive(std::size_t cameraIndex);
  // Throws std::invalid_argument for an empty name.
  void AddToWhiteBalanceArchive(const std::string& name, double red, double green, double blue);
  // The camera takes its archived factors; a name without entry gets 1, 1, 1
  // archived first.
  void ReadWhiteBalanceFactorsFromArchive(std::size_t cameraIndex);
  void SetWhiteBalanceFactors(double red, double green, double blue, std::size_t cameraIndex);
  WhiteBalanceFactors GetWhiteBalanceFactors(std::size_t cameraIndex) const;
  const std::map<std::string, std::shared_ptr<cam::CameraModel>>& GetCalibrationArchive() const {
    return m_calibrationArchive;
  }
  const std::map<std::string, WhiteBalanceFactors>& GetWhiteBalanceArchive() const {
    return m_whiteBalanceArchive;
  }

  // --- Live preview ---
  // The newest live frame of the camera as grey (colour) with its rotation;
  // starts the live capture (at most 20 frames per second) when the device
  // is not capturing. False when no frame is waiting or the capture is missing
  // or not ready.
  bool NextLiveImage(img::UniImage<img::uint8>& image, std::size_t cameraIndex);
  bool NextLiveRGBImage(img::UniImage<img::RGB8>& image, std::size_t cameraIndex);
  // Stops every capture whose live preview is running.
  void StopLiveImageCapture();
  // Hands the detector to the camera's running live filter; nothing without one.
  void SetContentChangeDetection(const std::shared_ptr<vid::ContentChangeDetection>& detector,
                                 std::size_t cameraIndex);

  // --- Scanning ---
  // Shows every pattern of the scan while each camera stores one accepted
  // frame per pattern; blocks until done or cancelled through progress (true
  // = cancel; polled every 50 ms; may be empty). Throws std::logic_error
  // when the scan, the display, any camera or any camera's capture is missing.
  // On cancellation the stores keep the frames so far. An exception from a
  // capture, the display or the scan passes through after the captures were
  // detached.
  void CapturePatternSequence(const utils::ProgressCallback& progress);
  // Decodes every camera's stored frames; false when the last progress call
  // asked to cancel (all cameras are evaluated even so). Throws
  // std::logic_error without a scan.
  bool EvaluatePatternSequence(const utils::ProgressCallback& progress);
  SLScanEvaluationResultPtr GetEvaluationResult(std::size_t cameraIndex) const;
  SLScannedImagesStorePtr GetScannedImages(std::size_t cameraIndex) const;
  // Patterns for which every camera has a frame in the current capture.
  std::uint64_t GetCompletedPatternCount() const { return m_completedPatternCount.load(); }
  bool HasHighQualityTexture() const;
  std::shared_ptr<img::UniImage<img::RGB8>> GetHighQualityTextureImage() const;
  std::shared_ptr<cam::CameraModel> GetHighQualityTextureCameraModel() const;

  // Whether two scans of an extended-view setup lie at the same distance: the
  // points of both are splatted into a 1/15-resolution image of the projector
  // (the first point of a cell wins, in order), keeping their depth along the
  // projector's viewing axis; true when the median depth difference over the
  // cells both scans hit is ≤ threshold (mm), and when no cell is hit by both.
  // The points are world coordinates (mm), sampled with SampleDepthPixels.
  // The projector's size in pixels is the model's resolution unless given
  // (a model in normalised coordinates has resolution 1 × 1 and needs it).
  // Throws std::logic_error without a projector model or for a size below
  // 15 × 15 pixels.
  bool CheckExtendedViewScanDistance(const std::vector<math::Vec3d>& scanA,
                                     const std::vector<math::Vec3d>& scanB, double threshold,
                                     std::uint32_t projectorWidth = 0,
                                     std::uint32_t projectorHeight = 0) const;
  // The world points of a depth image on every 4th column and 3rd row
  // (0, 4, 8 … and 0, 3, 6 …); pointAt gives the point of a pixel and returns
  // false for a pixel without depth.
  using DepthPixelPoint = std::function<bool(std::uint32_t x, std::uint32_t y, math::Vec3d& world)>;
  static std::vector<math::Vec3d> SampleDepthPixels(std::uint32_t width, std::uint32_t height,
                                                    const DepthPixelPoint& pointAt);

 protected:
  // The pattern that the slowest camera still lacks (null when every camera
  // has all). Takes the capture lock.
  SLPatternPtr GetCurrentPattern() const;
  // Called on a camera's delivery thread after its store wrapper filed a
  // frame: when every camera holds the same number of frames, the next
  // pattern is shown and the completed count published.
  void OnImageCaptured(std::size_t cameraIndex);
  // logDirectory + "/" + fileName; empty without a log directory.
  std::string GetLogFilePath(const std::string& fileName) const;

  CameraSlot& Slot(std::size_t cameraIndex, const char* method);
  const CameraSlot& Slot(std::size_t cameraIndex, const char* method) const;

  std::vector<CameraSlot> m_cameras;
  std::string m_projectorName;
  std::shared_ptr<cam::CameraModel> m_projectorModel;
  ProjectorControlPtr m_projectorControl;
  SLPatternDisplayPtr m_patternDisplay;
  std::atomic<std::uint64_t> m_completedPatternCount{0};
  SLScanPtr m_scan;
  AcquisitionParameters m_acquisitionParameters;
  HighQualityTexture m_highQualityTexture;
  std::int32_t m_textureCaptureMode = 0;
  std::map<std::string, std::shared_ptr<cam::CameraModel>> m_calibrationArchive;
  std::map<std::string, WhiteBalanceFactors> m_whiteBalanceArchive;
  std::map<std::string, vid::PropertyValues> m_propertyArchive;
  std::map<std::string, vid::PropertyValues> m_defaultPropertyArchive;
  double m_frameRateLimit = 0.0;
  std::string m_logDirectory;

 private:
  // What the delivery threads of a running capture work on; set before the
  // captures start, so that they never touch the camera slots. Guarded by
  // m_captureMutex.
  struct CaptureState {
    SLScanPtr scan;
    SLPatternDisplayPtr display;
    std::uint64_t patternCount = 0;
    std::vector<SLScannedImagesStorePtr> stores;
    std::vector<std::size_t> storedCounts;  // frames per camera as last reported
  };

  SLPatternPtr CurrentPatternLocked() const;
  void CheckCaptureReady() const;
  void StartPatternCapture();
  void DetachCaptures();
  template <typename Image, typename Convert>
  bool NextLive(Image& image, std::size_t cameraIndex, const char* method, Convert convert);

  mutable std::mutex m_captureMutex;
  CaptureState m_capture;
};

}  // namespace scan
