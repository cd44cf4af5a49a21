#include "scan/testing/CaptureRig.h"

#include <algorithm>
#include <chrono>

#include "scan/SLSingleColorPattern.h"

namespace scan::testing {

RecordingPatternDisplay::RecordingPatternDisplay(
    std::function<std::uint8_t(const SLPatternPtr&)> levelOf, std::uint8_t setupLevel)
    : m_levelOf(std::move(levelOf)), m_setupLevel(setupLevel) {}

void RecordingPatternDisplay::Record(SLPatternPtr pattern, std::uint8_t level) {
  std::lock_guard lock(m_mutex);
  m_history.push_back(Shown{vid::SteadySeconds(), std::move(pattern), level});
}

std::vector<double> RecordingPatternDisplay::DisplayPatterns(
    const utils::ProgressCallback&, const std::vector<SLPatternPtr>& patterns) {
  if (m_inside.fetch_add(1) != 0) m_overlaps.fetch_add(1);
  std::vector<double> shown;
  if (!patterns.empty() && patterns.front()) {
    Record(patterns.front(), m_levelOf(patterns.front()));
    shown.push_back(0.0);
  }
  m_inside.fetch_sub(1);
  return shown;
}

bool RecordingPatternDisplay::DisplaySetupPattern() {
  Record(nullptr, m_setupLevel);
  return true;
}

std::uint8_t RecordingPatternDisplay::LevelAt(double t) const {
  std::lock_guard lock(m_mutex);
  std::uint8_t level = m_setupLevel;
  for (const Shown& shown : m_history) {
    if (shown.time > t) break;
    level = shown.level;
  }
  return level;
}

std::vector<RecordingPatternDisplay::Shown> RecordingPatternDisplay::History() const {
  std::lock_guard lock(m_mutex);
  return m_history;
}

std::vector<SLPatternPtr> RecordingPatternDisplay::PatternsShown() const {
  std::vector<SLPatternPtr> patterns;
  for (const Shown& shown : History())
    if (shown.pattern) patterns.push_back(shown.pattern);
  return patterns;
}

DisplayFollowingCamera::DisplayFollowingCamera(
    std::shared_ptr<const RecordingPatternDisplay> display, const Options& options)
    : m_display(std::move(display)),
      m_options(options),
      m_format{options.color ? vid::subtype::RGB24 : vid::subtype::Y800,
               static_cast<std::int32_t>(options.width), static_cast<std::int32_t>(options.height),
               1.0 / options.period},
      m_stride(vid::DefaultStride(m_format)),
      m_thread([this] { Run(); }) {}

DisplayFollowingCamera::~DisplayFollowingCamera() {
  m_stop.store(true);
  m_thread.join();
}

void DisplayFollowingCamera::StartCapture(std::shared_ptr<vid::ImageStore> store,
                                          std::shared_ptr<vid::ImageFilter> filter) {
  m_delivery.Attach(std::move(store), std::move(filter));
}

void DisplayFollowingCamera::Run() {
  using Clock = std::chrono::steady_clock;
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.period));
  std::vector<std::uint8_t> buffer(std::size_t(m_stride) * m_options.height);
  auto next = Clock::now();
  bool flag = false;
  while (!m_stop.load()) {
    next += period;
    std::this_thread::sleep_until(next);
    if (m_paused.load()) continue;
    const double now = vid::SteadySeconds();
    std::fill(buffer.begin(), buffer.end(), m_display->LevelAt(now - m_options.latency));
    flag = !flag;
    try {
      m_delivery.Deliver(buffer.data(), m_format, m_stride, now, flag);
    } catch (...) {
      m_errors.fetch_add(1);
    }
  }
}

LevelScan::LevelScan(std::uint32_t count, std::uint8_t first, std::uint8_t step) {
  auto sequence = std::make_shared<SLPatternSequence>();
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto level = static_cast<std::uint8_t>(first + i * step);
    auto pattern = SLSingleColorPattern::GrayPattern(level);
    m_levels[pattern.get()] = level;
    sequence->AddPattern(pattern);
  }
  AddSequence(sequence);
}

std::uint8_t LevelScan::LevelOf(const SLPatternPtr& pattern) const {
  auto it = m_levels.find(pattern.get());
  return it == m_levels.end() ? 0 : it->second;
}

bool ManualCapture::Deliver(std::uint8_t level, double timestamp) {
  std::vector<std::uint8_t> buffer(std::size_t(vid::DefaultStride(m_format)) * m_format.height,
                                   level);
  return m_delivery.Deliver(buffer.data(), m_format, vid::DefaultStride(m_format), timestamp,
                            false);
}

void ManualCapture::StartCapture(std::shared_ptr<vid::ImageStore> store,
                                 std::shared_ptr<vid::ImageFilter> filter) {
  m_starts.fetch_add(1);
  if (!store) m_detaches.fetch_add(1);
  m_delivery.Attach(std::move(store), std::move(filter));
}

vid::PropertyValues ManualCapture::GetProperties() const {
  std::lock_guard lock(m_mutex);
  return m_properties;
}

std::vector<std::string> ManualCapture::GetPropertyNames(bool) const {
  std::vector<std::string> names;
  for (const auto& [name, value] : GetProperties()) names.push_back(name);
  return names;
}

vid::Property ManualCapture::GetProperty(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  auto it = m_properties.find(name);
  return it == m_properties.end() ? vid::Property() : it->second;
}

bool ManualCapture::SetProperty(const std::string& name, const vid::Property& property) {
  std::lock_guard lock(m_mutex);
  auto it = m_properties.find(name);
  if (it == m_properties.end()) return false;
  it->second = property;
  return true;
}

}  // namespace scan::testing
