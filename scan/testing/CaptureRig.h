#pragma once

// Test doubles for pattern captures: a display that records what it shows and
// when, and cameras that deliver frames of what that display showed a latency
// earlier, each on its own streaming thread. For tests only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scan/SLPatternDisplay.h"
#include "scan/SLScan.h"
#include "vid/Clock.h"
#include "vid/FrameDelivery.h"
#include "vid/ImageCapture.h"

namespace scan::testing {

// Shows every pattern as a uniform grey level (levelOf) and the setup image
// as setupLevel, which is also what it shows before the first call.
class RecordingPatternDisplay : public SLPatternDisplay {
 public:
  struct Shown {
    double time;           // vid::SteadySeconds()
    SLPatternPtr pattern;  // null for the setup image
    std::uint8_t level;
  };

  RecordingPatternDisplay(std::function<std::uint8_t(const SLPatternPtr&)> levelOf,
                          std::uint8_t setupLevel);

  std::vector<double> DisplayPatterns(const utils::ProgressCallback& progress,
                                      const std::vector<SLPatternPtr>& patterns) override;
  bool DisplaySetupPattern() override;

  // The level on the projector at time t (seconds on vid::SteadySeconds()).
  std::uint8_t LevelAt(double t) const;
  std::vector<Shown> History() const;
  // The patterns shown, in order (setup images left out).
  std::vector<SLPatternPtr> PatternsShown() const;
  // Calls of DisplayPatterns that overlapped another one.
  int OverlappingCalls() const { return m_overlaps.load(); }

 private:
  void Record(SLPatternPtr pattern, std::uint8_t level);

  const std::function<std::uint8_t(const SLPatternPtr&)> m_levelOf;
  const std::uint8_t m_setupLevel;
  mutable std::mutex m_mutex;
  std::vector<Shown> m_history;
  std::atomic<int> m_inside{0};
  std::atomic<int> m_overlaps{0};
};

// A camera looking at a RecordingPatternDisplay: every period it delivers a
// uniform frame of the level the display showed `latency` seconds earlier,
// through vid::FrameDelivery (the delivery contract of vid::ImageCapture).
// Grey frames are Y800 with rows padded to 4 bytes, colour frames RGB24.
class DisplayFollowingCamera : public vid::ImageCapture {
 public:
  struct Options {
    std::string name = "test camera";
    std::uint32_t width = 32;
    std::uint32_t height = 24;
    double period = 0.02;   // seconds between frames
    double latency = 0.03;  // seconds from the display to the frame
    bool color = false;
  };

  DisplayFollowingCamera(std::shared_ptr<const RecordingPatternDisplay> display,
                         const Options& options);
  ~DisplayFollowingCamera() override;

  void StartCapture(std::shared_ptr<vid::ImageStore> store,
                    std::shared_ptr<vid::ImageFilter> filter) override;
  void StopCapture() override { m_delivery.Detach(); }
  bool IsCapturing() const override { return m_delivery.IsAttached(); }
  bool IsReady() const override { return true; }
  utils::Guid GetSourceGuid() const override { return m_delivery.GetStreamGuid(); }
  std::string GetName() const override { return m_options.name; }
  vid::Format GetFormat() const override { return m_format; }

  // A paused camera delivers nothing (a cable pulled mid-scan).
  void SetPaused(bool paused) { m_paused.store(paused); }
  // Frames delivered to the delivery layer so far.
  std::uint64_t GetFrameCount() const { return m_delivery.GetFrameCount(); }
  // Exceptions that left a delivery (a store or filter threw).
  int GetDeliveryErrors() const { return m_errors.load(); }

 private:
  void Run();

  const std::shared_ptr<const RecordingPatternDisplay> m_display;
  const Options m_options;
  const vid::Format m_format;
  const std::int32_t m_stride;
  vid::FrameDelivery m_delivery;
  std::atomic<bool> m_paused{false};
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_errors{0};
  std::thread m_thread;
};

// A scan of `count` uniform grey patterns, pattern i at level first + i·step,
// in one sequence; Evaluate runs the given function (an empty result without one).
class LevelScan : public SLScan {
 public:
  using EvaluateFunction = std::function<SLScanEvaluationResultPtr(const SLScannedImagesStore&,
                                                                   const utils::ProgressCallback&)>;

  LevelScan(std::uint32_t count, std::uint8_t first, std::uint8_t step);

  SLScanEvaluationResultPtr Evaluate(const SLScannedImagesStore& store,
                                     const utils::ProgressCallback& progress) override {
    return evaluate ? evaluate(store, progress) : nullptr;
  }
  // The level of a pattern of this scan; 0 for any other.
  std::uint8_t LevelOf(const SLPatternPtr& pattern) const;

  EvaluateFunction evaluate;

 private:
  std::map<const SLPattern*, std::uint8_t> m_levels;
};

// A source whose frames the test delivers itself, on the thread it chooses,
// following the delivery contract; with a property map.
class ManualCapture : public vid::ImageCapture, public vid::ImageCaptureProperties {
 public:
  explicit ManualCapture(std::string name, vid::Format format = {vid::subtype::Y800, 8, 6, 30.0})
      : m_name(std::move(name)), m_format(format) {}

  // A uniform frame of `level` (every byte); false once no store is attached.
  bool Deliver(std::uint8_t level, double timestamp = 0.0);

  void StartCapture(std::shared_ptr<vid::ImageStore> store,
                    std::shared_ptr<vid::ImageFilter> filter) override;
  void StopCapture() override { m_delivery.Detach(); }
  bool IsCapturing() const override { return m_delivery.IsAttached(); }
  bool IsReady() const override { return m_ready.load(); }
  utils::Guid GetSourceGuid() const override { return m_delivery.GetStreamGuid(); }
  std::string GetName() const override { return m_name; }
  vid::Format GetFormat() const override { return m_format; }

  vid::PropertyValues GetProperties() const override;
  std::vector<std::string> GetPropertyNames(bool onlyAdjustable) const override;
  vid::Property GetProperty(const std::string& name) const override;
  vid::PropertyRange GetPropertyRange(const std::string&) const override { return {}; }
  bool FormatPropertyValue(std::string& text, double, const std::string&) const override {
    text.clear();
    return false;
  }
  bool SetProperty(const std::string& name, const vid::Property& property) override;

  void SetReady(bool ready) { m_ready.store(ready); }
  // Number of StartCapture calls, and how many attached nothing.
  int GetStartCount() const { return m_starts.load(); }
  int GetDetachCount() const { return m_detaches.load(); }

 private:
  const std::string m_name;
  const vid::Format m_format;
  vid::FrameDelivery m_delivery;
  std::atomic<bool> m_ready{true};
  std::atomic<int> m_starts{0};
  std::atomic<int> m_detaches{0};
  mutable std::mutex m_mutex;
  vid::PropertyValues m_properties{{"exposure", vid::Property(10.0)}, {"gain", vid::Property(1.0)}};
};

}  // namespace scan::testing
