#include "apps/tarvelin-studio/FrameTimes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace studio {

const char* FrameTimes::PartName(int part) {
  static const char* const kNames[kPartCount] = {"events", "step", "panels",
                                                 "view",   "drawPanels", "swap"};
  return part >= 0 && part < kPartCount ? kNames[part] : "";
}

void FrameTimes::Add(const std::string& phase, const std::array<double, kPartCount>& seconds) {
  double ms = 0.0;
  for (int part = kStep; part < kPartCount; ++part) ms += seconds[std::size_t(part)] * 1000.0;
  Phase& p = m_phases[phase];
  p.frameMs.push_back(ms);
  if (ms > p.slowestMs) {
    p.slowestMs = ms;
    for (int part = 0; part < kPartCount; ++part)
      p.slowestPartsMs[std::size_t(part)] = seconds[std::size_t(part)] * 1000.0;
  }
}

FrameTimes::Summary FrameTimes::Summarise(const std::string& phase) const {
  Summary summary;
  const auto found = m_phases.find(phase);
  if (found == m_phases.end() || found->second.frameMs.empty()) return summary;
  std::vector<double> ms = found->second.frameMs;
  summary.frames = ms.size();
  summary.meanMs = std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
  // The nearest-rank 95th percentile: the smallest time that at least 95 %
  // of the frames do not exceed.
  const std::size_t rank =
      std::max<std::size_t>(1, std::size_t(std::ceil(0.95 * double(ms.size()))));
  std::nth_element(ms.begin(), ms.begin() + std::ptrdiff_t(rank - 1), ms.end());
  summary.p95Ms = ms[rank - 1];
  summary.maxMs = found->second.slowestMs;
  summary.slowestPartsMs = found->second.slowestPartsMs;
  return summary;
}

nlohmann::json FrameTimes::ToJson() const {
  nlohmann::json all = nlohmann::json::object();
  for (const auto& [name, phase] : m_phases) {
    const Summary s = Summarise(name);
    nlohmann::json parts = nlohmann::json::object();
    for (int part = 0; part < kPartCount; ++part)
      parts[PartName(part)] = s.slowestPartsMs[std::size_t(part)];
    all[name] = {{"frames", s.frames}, {"meanMs", s.meanMs}, {"p95Ms", s.p95Ms},
                 {"maxMs", s.maxMs},   {"slowestFrameMs", parts}};
  }
  return all;
}

std::string FrameTimes::Describe(const std::string& phase) const {
  const Summary s = Summarise(phase);
  char line[256];
  std::snprintf(line, sizeof line,
                "Frames while %s: %zu, mean %.1f ms, 95 %% within %.1f ms, slowest %.1f ms "
                "(3D view %.1f ms, swap %.1f ms).",
                phase.c_str(), s.frames, s.meanMs, s.p95Ms, s.maxMs, s.slowestPartsMs[kView],
                s.slowestPartsMs[kSwap]);
  return line;
}

}  // namespace studio
