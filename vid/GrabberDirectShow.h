#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vid/GraphSource.h"
#include "vid/ImageCapture.h"
#include "vid/Logger.h"
#include "vid/Sampler.h"
#include "vid/SetupInfo.h"
#include "vid/V4l2Calls.h"

namespace vid {

// The camera source of the kits: a small capture graph from a source (a live
// V4L2 camera, a folder of numbered image files played as a video, or a
// still image) to the Sampler, which delivers on its own streaming thread.
// It chooses a media type from a list of allowed formats, runs and pauses
// the graph, maps the named properties onto the device's controls and logs
// every step.
//
// States: 0 uninitialised → Init → 1 → OpenSource → 2 (STATE_OPEN) →
// SetAvailableFormats and Connect → 3 (STATE_STOPPED) → Run → 5 (running)
// ⇄ 4 (STATE_PAUSED) by StopCapture / StartCapture → Stop → 3. Close returns
// to 1. While paused a camera keeps streaming and frames are dropped, so
// that StartCapture delivers the next frame at once; a video waits at its
// position.
//
// Thread rules: configure (Init … Stop, properties) from one thread; the
// ImageCapture queries may come from any thread; frames arrive on the
// sampler's thread.
class GrabberDirectShow : public SoftwareTrigger,
                          public ImageCaptureProperties,
                          public ImageCapture {
 public:
  enum State : std::int32_t {
    STATE_UNINITIALIZED = 0,
    STATE_INITIALIZED = 1,
    STATE_OPEN = 2,
    STATE_STOPPED = 3,
    STATE_PAUSED = 4,
    STATE_RUNNING = 5,
  };
  // Result codes: 0 success, negative failure.
  static constexpr std::int32_t kOk = 0;
  static constexpr std::int32_t kFailed = -1;

  struct Options {
    // The device calls of live sources; null: the machine's (libv4l2).
    std::shared_ptr<V4l2Calls> v4l2;
    // Rate of video and still-image sources whose allowed format gives none.
    double fileFramesPerSecond = 30.0;
    // False: INFO lines go to the log file's rules only, not the console.
    bool consoleInfo = true;
  };
  using LostCallback = std::function<void(const std::string& why)>;

  explicit GrabberDirectShow(const std::filesystem::path& logFile, Options options);
  explicit GrabberDirectShow(const std::filesystem::path& logFile = {})
      : GrabberDirectShow(logFile, Options{}) {}
  ~GrabberDirectShow() override;

  // Creates the sampler; state 1.
  bool Init();
  // Opens the descriptor's source (unless it is open), chooses the format
  // and connects, then applies the descriptor's properties (whether all were
  // taken goes to `propertiesApplied`). 0 on success.
  std::int32_t Open(const CameraInfo& info, bool force, bool& propertiesApplied);
  std::int32_t Open(const CameraInfo& info, bool force);
  std::int32_t OpenSource(const SourceInfo& source);
  std::int32_t SetAvailableFormats(const std::vector<Format>& formats, bool force);
  std::int32_t Connect();
  std::int32_t Disconnect();
  // Back to state 1: releases the source, resets the source info and the
  // forced format.
  void Close();
  // Stops if needed, reconnects with the new formats and runs again if it ran.
  std::int32_t ChangeFormat(const std::vector<Format>& formats, bool force);

  // Needs state ≥ 3; true at once in state 5.
  virtual bool Run();
  // Needs state ≥ 4; ends in state 3.
  bool Stop();

  State GetState() const { return static_cast<State>(m_state.load()); }
  SourceInfo GetSourceInfo() const;
  // Kind 3: can a software trigger be sent; every other kind: true.
  bool QuerySupport(int kind) const;
  // Linux offers no source dialogs: both check their state, log and return false.
  bool ShowSourcePropertyDlg();
  bool ShowSourceFormatDlg();
  // False (logged) for a name the source does not support or a second
  // converter for the same name.
  bool AddPropertyValueConverter(const std::string& name, PropertyValueConverter converter);
  // The format forced by the last forced configuration; (nil, -1, -1, 0) when none.
  Format GetForcedFormat() const { return m_forcedFormat; }

  // What the open source offers (empty before OpenSource).
  std::vector<MediaType> GetMediaTypes() const;
  std::vector<DeviceFormat> GetDeviceFormats() const;
  SamplerStatistics GetStatistics() const;
  bool IsDeviceLost() const { return m_sampler && m_sampler->IsDeviceLost(); }
  bool IsAtEnd() const { return m_sampler && m_sampler->IsAtEnd(); }
  std::uint64_t GetFrameCount() const;
  bool WaitForFrameAfter(std::uint64_t seen, double timeoutSeconds) const;
  // Called on the streaming thread when the device goes away while streaming.
  void SetLostCallback(LostCallback callback);
  // A wait of this long without a frame logs a warning (default 2 s).
  void SetStallSeconds(double seconds);
  void SetSlowCamera(bool slow) { m_slowCamera = slow; }
  Logger& GetLogger() const { return m_logger; }

  // SoftwareTrigger: needs state 5 and a device trigger control.
  bool SendSoftwareTrigger() override;

  // ImageCapture
  void StartCapture(std::shared_ptr<ImageStore> store,
                    std::shared_ptr<ImageFilter> filter) override;
  void StopCapture() override;
  bool IsCapturing() const override;
  bool IsReady() const override;
  utils::Guid GetSourceGuid() const override;
  std::string GetName() const override;
  Format GetFormat() const override;
  bool IsSlowCamera() const override { return m_slowCamera; }

  // ImageCaptureProperties
  PropertyValues GetProperties() const override;
  std::vector<std::string> GetPropertyNames(bool onlyAdjustable) const override;
  Property GetProperty(const std::string& name) const override;
  PropertyRange GetPropertyRange(const std::string& name) const override;
  bool FormatPropertyValue(std::string& text, double value, const std::string& name) const override;
  bool SetProperty(const std::string& name, const Property& property) override;

 protected:
  // The source-specific hooks around running and stopping the graph.
  virtual bool OnRun() { return true; }
  virtual bool OnStop();
  GraphSource* GetGraphSource() const { return m_source.get(); }
  static constexpr const char* kLogSource = "GrabberDirectShow";

 private:
  std::int32_t Fail(const std::string& message);
  bool StartGraph();
  void StopGraph();
  void LogProperties();
  void LogMissingGroups();

  Options m_options;
  mutable Logger m_logger;  // const queries log too
  std::atomic<std::int32_t> m_state{STATE_UNINITIALIZED};
  SourceInfo m_sourceInfo;
  Format m_forcedFormat{utils::Guid(), -1, -1, 0.0};
  double m_fileRate = 0.0;
  std::unique_ptr<Sampler> m_sampler;
  std::unique_ptr<GraphSource> m_source;
  mutable std::mutex m_convertersMutex;
  PropertyValueConverters m_converters;
  bool m_slowCamera = false;
};

}  // namespace vid
