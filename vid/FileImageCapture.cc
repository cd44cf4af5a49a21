#include "vid/FileImageCapture.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <set>

#include "foundation/img/ImageIO.h"

namespace vid {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSource = "FileImageCapture";
constexpr const char* kTriggerEnable = "trigger_enable";

bool HasImageExtension(const fs::path& file) {
  static const std::set<std::string> kExtensions = {".png", ".bmp", ".jpg", ".jpeg", ".tga",
                                                    ".pgm", ".ppm", ".pnm", ".gif"};
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return kExtensions.count(ext) > 0;
}

// The last run of digits in a name without leading zeros; nothing when none.
std::optional<std::string> LastNumber(const std::string& name) {
  const auto end = name.find_last_of("0123456789");
  if (end == std::string::npos) return std::nullopt;
  auto begin = end;
  while (begin > 0 && std::isdigit(static_cast<unsigned char>(name[begin - 1]))) --begin;
  std::string digits = name.substr(begin, end - begin + 1);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  return digits;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

}  // namespace

struct FileImageCapture::Frame {
  std::vector<std::uint8_t> bytes;  // height rows of stride bytes
};

std::vector<fs::path> FileImageCapture::ListNumberedImageFiles(const fs::path& folder) {
  struct Entry {
    std::string number;
    std::string name;
    fs::path path;
  };
  std::vector<Entry> entries;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error) || !HasImageExtension(it->path())) continue;
    const std::string name = it->path().filename().string();
    if (auto number = LastNumber(it->path().stem().string()))
      entries.push_back({*number, name, it->path()});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.number.size() != b.number.size()) return a.number.size() < b.number.size();
    if (a.number != b.number) return a.number < b.number;
    return a.name < b.name;
  });
  std::vector<fs::path> files;
  for (auto& entry : entries) files.push_back(std::move(entry.path));
  return files;
}

FileImageCapture::FileImageCapture(const fs::path& path, const Options& options)
    : m_path(path),
      m_options(options),
      m_logger(options.logFile),
      m_frame(std::make_unique<Frame>()) {
  if (!std::isfinite(options.framesPerSecond) || options.framesPerSecond <= 0.0)
    throw std::invalid_argument("FileImageCapture - framesPerSecond must be positive.");
  std::error_code error;
  if (fs::is_directory(path, error)) {
    m_files = ListNumberedImageFiles(path);
    if (m_files.empty())
      throw CaptureDeviceNotAvailableException(
          "FileImageCapture - No numbered image files in folder " + Quoted(path) + ".");
  } else if (fs::is_regular_file(path, error)) {
    m_files = {path};
    m_still = true;
  } else {
    throw CaptureDeviceNotAvailableException(
        "FileImageCapture - Path does not exist: " + Quoted(path) + ".");
  }

  img::UniImage<img::RGB8> first;
  if (!img::LoadUniImage(first, m_files.front()))
    throw CaptureDeviceNotAvailableException("FileImageCapture - Could not decode image file " +
                                             Quoted(m_files.front()) + ".");
  bool grey = options.pixelMode == PixelMode::kGray;
  if (options.pixelMode == PixelMode::kAuto)
    grey = std::all_of(first.data, first.data + first.size,
                       [](const img::RGB8& c) { return c.r == c.g && c.g == c.b; });
  m_format = Format{grey ? subtype::Y800 : subtype::RGB24, static_cast<std::int32_t>(first.width),
                    static_cast<std::int32_t>(first.height), options.framesPerSecond};
  m_stride = DefaultStride(m_format);
  if (m_still) {
    m_stillFrame = std::make_unique<Frame>();
    if (!Decode(m_files.front(), *m_stillFrame))
      throw CaptureDeviceNotAvailableException("FileImageCapture - Could not decode image file " +
                                               Quoted(m_files.front()) + ".");
  }
  m_logger.Info(kSource, "Opened " + Quoted(path) + ": " + std::to_string(m_files.size()) +
                             " file(s), " + MediaSubtype2String(m_format.mediaSubtype) + " " +
                             std::to_string(m_format.width) + " x " +
                             std::to_string(m_format.height) + " at " +
                             std::to_string(m_format.fps) + " fps.");
}

FileImageCapture::~FileImageCapture() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
  m_delivery.Detach();
}

bool FileImageCapture::Decode(const fs::path& file, Frame& frame) const {
  const auto w = static_cast<std::uint32_t>(m_format.width);
  const auto h = static_cast<std::uint32_t>(m_format.height);
  frame.bytes.assign(std::size_t(m_stride) * h, 0);
  if (m_format.mediaSubtype == subtype::Y800) {
    img::UniImage<std::uint8_t> image;
    if (!img::LoadUniImage(image, file) || !image.SameSize(w, h)) return false;
    for (std::uint32_t y = 0; y < h; ++y)
      std::memcpy(frame.bytes.data() + std::size_t(y) * m_stride, image.Row(y), w);
  } else {
    img::UniImage<img::RGB8> image;
    if (!img::LoadUniImage(image, file) || !image.SameSize(w, h)) return false;
    for (std::uint32_t y = 0; y < h; ++y)  // RGB8 is laid out b, g, r like RGB24
      std::memcpy(frame.bytes.data() + std::size_t(y) * m_stride, image.Row(y), 3 * std::size_t(w));
  }
  return true;
}

bool FileImageCapture::LoadFrame(std::size_t index, bool flip) {
  if (m_still) {
    m_frame->bytes = m_stillFrame->bytes;
  } else if (!Decode(m_files[index], *m_frame)) {
    img::UniImage<std::uint8_t> probe;
    const bool decodable = img::LoadUniImage(probe, m_files[index]);
    m_logger.Error(kSource,
                   decodable
                       ? "Image file " + Quoted(m_files[index]) + " is " +
                             std::to_string(probe.width) + " x " + std::to_string(probe.height) +
                             ", expected " + std::to_string(m_format.width) + " x " +
                             std::to_string(m_format.height) + "; skipped."
                       : "Could not decode image file " + Quoted(m_files[index]) + "; skipped.");
    std::lock_guard lock(m_mutex);
    ++m_skipped;
    return false;
  }
  if (flip) {
    const std::size_t stride = static_cast<std::size_t>(m_stride);
    const std::size_t h = static_cast<std::size_t>(m_format.height);
    for (std::size_t y = 0; y < h / 2; ++y)
      std::swap_ranges(m_frame->bytes.begin() + y * stride,
                       m_frame->bytes.begin() + (y + 1) * stride,
                       m_frame->bytes.begin() + (h - 1 - y) * stride);
  }
  return true;
}

void FileImageCapture::Run() {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / m_options.framesPerSecond));
  Clock::time_point deadline;
  bool paced = false;  // false: the next paced frame is due at once
  std::unique_lock lock(m_mutex);
  while (true) {
    m_wake.wait(lock, [&] {
      return m_stop || (m_playing && !m_atEnd && (!m_triggered || m_pendingTriggers > 0));
    });
    if (m_stop) break;
    if (m_triggered) {
      --m_pendingTriggers;
      paced = false;
    } else {
      if (!paced) deadline = Clock::now();
      paced = true;
      if (m_wake.wait_until(lock, deadline, [&] { return m_stop || !m_playing || m_triggered; })) {
        paced = false;
        continue;
      }
      deadline += period;
      if (Clock::now() > deadline) deadline = Clock::now();
    }
    const std::size_t index = m_next;
    const double timestamp = double(m_position++) / m_options.framesPerSecond;
    const bool flip = m_flip;
    if (!m_still && ++m_next == m_files.size()) {
      m_next = 0;
      m_atEnd = !m_options.loop;
    }
    lock.unlock();
    if (m_delivery.IsAttached() && LoadFrame(index, flip)) {
      try {
        m_delivery.Deliver(m_frame->bytes.data(), m_format, m_stride, timestamp, false);
      } catch (const std::exception& e) {
        m_logger.Error(kSource, std::string("Frame delivery failed: ") + e.what());
      }
    }
    lock.lock();
  }
}

void FileImageCapture::EnsureThread() {
  std::lock_guard lock(m_mutex);
  if (!m_thread.joinable() && !m_stop) m_thread = std::thread([this] { Run(); });
}

void FileImageCapture::StartCapture(std::shared_ptr<ImageStore> store,
                                    std::shared_ptr<ImageFilter> filter) {
  const bool attach = store != nullptr;
  m_delivery.Attach(std::move(store), std::move(filter));
  if (!attach) return;
  {
    std::lock_guard lock(m_mutex);
    if (m_atEnd) {
      m_atEnd = false;
      m_next = 0;
      m_pendingTriggers = 0;
    }
    m_playing = true;
  }
  m_wake.notify_all();
  EnsureThread();
}

void FileImageCapture::StopCapture() {
  m_delivery.Detach();
  {
    std::lock_guard lock(m_mutex);
    m_playing = false;
  }
  m_wake.notify_all();
}

bool FileImageCapture::IsCapturing() const { return m_delivery.IsAttached(); }

bool FileImageCapture::IsAtEnd() const {
  std::lock_guard lock(m_mutex);
  return m_atEnd;
}

std::size_t FileImageCapture::GetSkippedFileCount() const {
  std::lock_guard lock(m_mutex);
  return m_skipped;
}

PropertyValues FileImageCapture::GetProperties() const {
  PropertyValues values;
  for (const auto& name : GetPropertyNames(false)) values.emplace(name, GetProperty(name));
  return values;
}

std::vector<std::string> FileImageCapture::GetPropertyNames(bool) const {
  return {property::kFlipVerticalSw, kTriggerEnable};
}

Property FileImageCapture::GetProperty(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  if (name == property::kFlipVerticalSw) return Property(m_flip ? 1.0 : 0.0);
  if (name == kTriggerEnable) return Property(m_triggered ? 1.0 : 0.0);
  return Property();
}

PropertyRange FileImageCapture::GetPropertyRange(const std::string& name) const {
  if (name == property::kFlipVerticalSw || name == kTriggerEnable)
    return PropertyRange{0.0, 1.0, 0.0, 1.0, true};
  return PropertyRange{};
}

bool FileImageCapture::FormatPropertyValue(std::string& text, double value,
                                           const std::string& name) const {
  std::lock_guard lock(m_mutex);
  return m_converters.Format(text, value, name);
}

bool FileImageCapture::AddPropertyValueConverter(const std::string& name,
                                                 PropertyValueConverter converter) {
  if (name != property::kFlipVerticalSw && name != kTriggerEnable) return false;
  std::lock_guard lock(m_mutex);
  return m_converters.Add(name, std::move(converter));
}

bool FileImageCapture::SetProperty(const std::string& name, const Property& property) {
  if (!property.valid || property.IsAuto() || (property.value != 0.0 && property.value != 1.0))
    return false;
  const bool on = property.value == 1.0;
  {
    std::lock_guard lock(m_mutex);
    if (name == property::kFlipVerticalSw) {
      m_flip = on;
    } else if (name == kTriggerEnable) {
      m_triggered = on;
      m_pendingTriggers = 0;
    } else {
      return false;
    }
  }
  m_wake.notify_all();
  return true;
}

bool FileImageCapture::SendSoftwareTrigger() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_triggered || !m_playing || m_atEnd) return false;
    ++m_pendingTriggers;
  }
  m_wake.notify_all();
  return true;
}

}  // namespace vid
