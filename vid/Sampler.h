#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vid/FrameDelivery.h"
#include "vid/GraphSource.h"
#include "vid/JpegDecoder.h"
#include "vid/Logger.h"

namespace vid {

// What a sampler has seen since its streaming thread last started.
struct SamplerStatistics {
  std::uint64_t frames = 0;     // frames the source handed over
  std::uint64_t delivered = 0;  // frames passed to delivery while running
  std::uint64_t skipped = 0;    // damaged, corrupt or short frames left out
  std::uint64_t dropped = 0;    // frames the device lost (gaps in its frame numbers)
  std::uint64_t timeouts = 0;   // waits that ended without a frame
};

// The sink of a capture graph. Its streaming thread takes each frame from
// the source, decodes MJPG (libjpeg-turbo), repacks rows to the stride
// width × bits per pixel / 8 rounded up to 4 bytes, flips vertically when
// "flip_vertical_sw" is on, holds file frames back to their rate, and
// delivers through FrameDelivery (the frame delivery contract of
// ImageCapture.h). Frames whose rows already have that stride reach the
// filter as a view of the device buffer, without a copy.
//
// Damaged, corrupt (JPEG) and short frames are skipped with a WARNING; a
// wait without a frame for `stallSeconds` logs one WARNING until frames come
// again; a device that goes away ends the thread with an ERROR, releases the
// store and filter and calls the lost callback (on the streaming thread)
// before IsDeviceLost turns true. File frames are taken only while a store
// receives them, so a video starts with its first frame at StartCapture.
class Sampler {
 public:
  using LostCallback = std::function<void(const std::string& why)>;

  explicit Sampler(Logger& logger);
  ~Sampler();
  Sampler(const Sampler&) = delete;
  Sampler& operator=(const Sampler&) = delete;

  // Logs the type's details and takes it as the current format when the
  // sampler can deliver it (BY8, Y800, YUY2, UYVY, RGB24, RGB8; MJPG decoded
  // to RGB24 or Y800). False and "Format is not supported." otherwise.
  bool CheckMediaType(const MediaType& type);
  bool HasMediaType() const;
  // The format delivered; empty before a type was accepted.
  Format GetFormat() const;
  std::int32_t GetStride() const;

  FrameDelivery& GetDelivery() { return m_delivery; }
  const FrameDelivery& GetDelivery() const { return m_delivery; }

  // Starts the streaming thread on a source that streams already; the source
  // must outlive Stop. Stop joins the thread (frames in flight are finished).
  void Start(GraphSource& source);
  void Stop();
  bool IsStreaming() const;
  // Paused samplers take frames from the device and drop them.
  void SetDelivering(bool delivering);

  void SetFlipVertical(bool flip) { m_flip = flip; }
  bool GetFlipVertical() const { return m_flip; }
  // File frames are held back until 1 / (rate × speed factor) seconds after
  // the previous one while the rate limit is on (the default).
  void SetRateLimit(bool on) { m_rateLimit = on; }
  void SetSpeedFactor(double factor);
  void SetStallSeconds(double seconds) { m_stallSeconds = seconds; }
  void SetLostCallback(LostCallback callback);

  bool IsDeviceLost() const { return m_lost; }
  // A video has played its last frame.
  bool IsAtEnd() const { return m_atEnd; }
  SamplerStatistics GetStatistics() const;

 private:
  void Run(GraphSource* source);
  // Decodes or repacks a frame and delivers it; false when it was skipped.
  bool Process(const RawFrame& frame, const MediaType& type);
  void Pace(double period);
  bool Sleeping(double seconds);
  void Skip(const std::string& why);

  Logger& m_logger;
  FrameDelivery m_delivery;

  mutable std::mutex m_mutex;  // guards the type, the thread handle and the wake-up
  std::condition_variable m_wake;
  MediaType m_type;
  bool m_hasType = false;
  std::int32_t m_stride = 0;
  std::thread m_thread;
  bool m_stop = false;
  LostCallback m_onLost;

  std::atomic<bool> m_delivering{false};
  std::atomic<bool> m_flip{false};
  std::atomic<bool> m_rateLimit{true};
  std::atomic<double> m_speedFactor{1.0};
  std::atomic<double> m_stallSeconds{2.0};
  std::atomic<bool> m_lost{false};
  std::atomic<bool> m_atEnd{false};

  // Statistics (written on the streaming thread).
  std::atomic<std::uint64_t> m_frames{0}, m_delivered{0}, m_skipped{0}, m_dropped{0}, m_timeouts{0};

  // Streaming thread only.
  std::unique_ptr<JpegDecoder> m_decoder;
  std::vector<std::uint8_t> m_buffer;
  double m_lastDue = 0.0;
  bool m_paced = false;
};

}  // namespace vid
