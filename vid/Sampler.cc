#include "vid/Sampler.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "vid/Clock.h"

namespace vid {
namespace {

constexpr const char* kSource = "Sampler";
constexpr int kWaitSliceMs = 100;  // how often a waiting thread looks for Stop

bool Accepted(const utils::Guid& s) {
  return s == subtype::BY8 || s == subtype::Y800 || s == subtype::YUY2 || s == subtype::UYVY ||
         s == subtype::RGB24 || s == subtype::RGB8;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  return text;
}

}  // namespace

Sampler::Sampler(Logger& logger) : m_logger(logger) {}

Sampler::~Sampler() { Stop(); }

bool Sampler::CheckMediaType(const MediaType& type) {
  const Format& f = type.format;
  const bool decodable =
      !type.IsCompressed() || f.mediaSubtype == subtype::RGB24 || f.mediaSubtype == subtype::Y800;
  if (!Accepted(f.mediaSubtype) || !decodable || f.width < 1 || f.height < 1) {
    m_logger.Warning(kSource, "Format is not supported.");
    m_logger.Warning(kSource, " MediaSubtype:   " + MediaSubtype2String(type.DeviceSubtype()));
    return false;
  }
  const std::int32_t stride = DefaultStride(f);
  const std::int64_t rowBytes = (std::int64_t(f.width) * BitsPerPixel(f.mediaSubtype) + 7) / 8;
  m_logger.Info(kSource, "Checking media type...");
  m_logger.Info(kSource,
                " MediaSubtype:   " + MediaSubtype2String(f.mediaSubtype) +
                    (type.IsCompressed() ? " (from " + FourccToString(type.fourcc) + ")" : ""));
  m_logger.Info(kSource, " width:          " + std::to_string(f.width));
  m_logger.Info(kSource, " height:         " + std::to_string(f.height));
  m_logger.Info(kSource, " signed height:  " + std::to_string(f.height));
  m_logger.Info(kSource, " fps:            " + Number(f.fps));
  m_logger.Info(kSource, " bits per pixel: " + std::to_string(BitsPerPixel(f.mediaSubtype)));
  m_logger.Info(kSource, std::string(" dummy pixels:   ") + (stride > rowBytes ? "yes" : "no"));
  m_logger.Info(kSource, " ACCEPTED:       yes");
  std::lock_guard lock(m_mutex);
  m_type = type;
  m_hasType = true;
  m_stride = stride;
  return true;
}

bool Sampler::HasMediaType() const {
  std::lock_guard lock(m_mutex);
  return m_hasType;
}

Format Sampler::GetFormat() const {
  std::lock_guard lock(m_mutex);
  return m_hasType ? m_type.format : Format{};
}

std::int32_t Sampler::GetStride() const {
  std::lock_guard lock(m_mutex);
  return m_stride;
}

void Sampler::SetSpeedFactor(double factor) {
  if (std::isfinite(factor) && factor > 0.0) m_speedFactor = factor;
}

void Sampler::SetLostCallback(LostCallback callback) {
  std::lock_guard lock(m_mutex);
  m_onLost = std::move(callback);
}

void Sampler::SetDelivering(bool delivering) { m_delivering = delivering; }

SamplerStatistics Sampler::GetStatistics() const {
  return {m_frames, m_delivered, m_skipped, m_dropped, m_timeouts};
}

void Sampler::Start(GraphSource& source) {
  Stop();
  std::lock_guard lock(m_mutex);
  m_stop = false;
  m_lost = false;
  m_atEnd = false;
  m_frames = m_delivered = m_skipped = m_dropped = m_timeouts = 0;
  m_paced = false;
  m_thread = std::thread([this, &source] { Run(&source); });
}

void Sampler::Stop() {
  std::thread thread;
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
    thread = std::move(m_thread);
  }
  m_wake.notify_all();
  if (thread.joinable()) thread.join();
}

bool Sampler::IsStreaming() const {
  std::lock_guard lock(m_mutex);
  return m_thread.joinable() && !m_stop;
}

bool Sampler::Sleeping(double seconds) {
  std::unique_lock lock(m_mutex);
  return !m_wake.wait_for(lock, std::chrono::duration<double>(std::max(seconds, 0.0)),
                          [&] { return m_stop; });
}

void Sampler::Pace(double period) {
  const double now = SteadySeconds();
  if (!m_paced) {
    m_paced = true;
    m_lastDue = now;
    return;
  }
  const double due = m_lastDue + period;
  if (due > now) Sleeping(due - now);
  m_lastDue = std::max(due, SteadySeconds() - period);  // a late frame does not bunch the next ones
}

void Sampler::Skip(const std::string& why) {
  ++m_skipped;
  m_logger.Warning(kSource, why);
}

void Sampler::Run(GraphSource* source) {
  MediaType type;
  std::int32_t stride;
  {
    std::lock_guard lock(m_mutex);
    type = m_type;
    stride = m_stride;
  }
  if (type.IsCompressed() && !m_decoder) m_decoder = std::make_unique<JpegDecoder>();
  m_buffer.assign(std::size_t(stride) * std::size_t(std::max(type.format.height, 0)), 0);
  double waited = 0.0;
  bool stalled = false;
  std::int64_t lastSequence = -1;
  double firstTimestamp = -1.0;
  while (true) {
    {
      std::lock_guard lock(m_mutex);
      if (m_stop) break;
    }
    if (source->IsPaced() && (!m_delivering || !m_delivery.IsAttached())) {
      // Files play to a store: no frame is taken while nobody receives it.
      if (!Sleeping(0.002)) break;
      continue;
    }
    RawFrame frame;
    const GraphSource::Wait result = source->WaitFrame(kWaitSliceMs, frame);
    if (result == GraphSource::Wait::kTimeout) {
      ++m_timeouts;
      waited += kWaitSliceMs / 1000.0;
      if (!stalled && waited >= m_stallSeconds) {
        stalled = true;
        m_logger.Warning(kSource, "No frame from the device for " + Number(waited) + " s.");
      }
      continue;
    }
    if (result == GraphSource::Wait::kEnd) {
      m_atEnd = true;
      m_logger.Info(kSource, "End of video.");
      break;
    }
    if (result == GraphSource::Wait::kLost) {
      const std::string why =
          "Device lost while streaming: " + source->GetName() + " - " + source->GetError();
      m_logger.Error(kSource, why);
      m_delivery.Detach();
      LostCallback onLost;
      {
        std::lock_guard lock(m_mutex);
        onLost = m_onLost;
      }
      if (onLost) onLost(why);
      m_lost = true;  // after the callback: who sees the device lost sees what it was told
      break;
    }
    if (result == GraphSource::Wait::kError) {
      Skip("Frame skipped: " + source->GetError());
      if (!Sleeping(kWaitSliceMs / 1000.0)) break;  // a failing device is not asked in a busy loop
      continue;
    }
    waited = 0.0;
    if (stalled) m_logger.Info(kSource, "Frames arrive again.");
    stalled = false;
    ++m_frames;
    if (frame.sequence >= 0) {
      if (lastSequence >= 0 && frame.sequence > lastSequence + 1)
        m_dropped += std::uint64_t(frame.sequence - lastSequence - 1);
      lastSequence = frame.sequence;
    }
    if (firstTimestamp < 0.0) firstTimestamp = frame.timestamp;
    frame.timestamp -= firstTimestamp;
    if (m_delivering) {
      if (source->IsPaced() && m_rateLimit && type.format.fps > 0.0)
        Pace(1.0 / (type.format.fps * m_speedFactor));
      if (Process(frame, type)) ++m_delivered;
    }
    source->ReleaseFrame();
  }
}

bool Sampler::Process(const RawFrame& frame, const MediaType& type) {
  const Format& f = type.format;
  const std::size_t stride = std::size_t(DefaultStride(f));
  const std::size_t height = std::size_t(f.height);
  const bool flip = m_flip;
  if (frame.damaged) {
    Skip("Damaged frame skipped.");
    return false;
  }
  std::uint8_t* pixels = m_buffer.data();
  if (type.IsCompressed()) {
    const auto output =
        f.mediaSubtype == subtype::Y800 ? JpegDecoder::Output::kGray8 : JpegDecoder::Output::kBgr24;
    if (!m_decoder->Decode(frame.data, frame.bytes, f.width, f.height, output, m_buffer.data(),
                           stride)) {
      Skip("Corrupt JPEG frame skipped: " + m_decoder->GetError() + ".");
      return false;
    }
    if (flip)
      for (std::size_t y = 0; y < height / 2; ++y)
        std::swap_ranges(pixels + y * stride, pixels + (y + 1) * stride,
                         pixels + (height - 1 - y) * stride);
  } else {
    const std::size_t rowBytes = (std::size_t(f.width) * BitsPerPixel(f.mediaSubtype) + 7) / 8;
    const std::size_t line = frame.bytesPerLine ? frame.bytesPerLine : rowBytes;
    const std::size_t needed = line * (height - 1) + rowBytes;
    if (line < rowBytes || frame.bytes < needed || !frame.data) {
      Skip("Short frame skipped: " + std::to_string(frame.bytes) + " of " + std::to_string(needed) +
           " bytes.");
      return false;
    }
    const bool swap = type.fourcc == fourcc::RGB24;  // r, g, b bytes: turned into b, g, r
    if (line == stride && !flip && !swap) {
      pixels = const_cast<std::uint8_t*>(frame.data);  // a view; never written
    } else {
      for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* src = frame.data + y * line;
        std::uint8_t* dst = pixels + (flip ? height - 1 - y : y) * stride;
        std::memcpy(dst, src, rowBytes);
        if (swap)
          for (std::size_t x = 0; x + 2 < rowBytes; x += 3) std::swap(dst[x], dst[x + 2]);
      }
    }
  }
  try {
    m_delivery.Deliver(pixels, f, static_cast<std::int32_t>(stride), frame.timestamp, false);
  } catch (const std::exception& e) {
    m_logger.Error(kSource, std::string("Frame delivery failed: ") + e.what());
    return false;
  }
  return true;
}

}  // namespace vid
