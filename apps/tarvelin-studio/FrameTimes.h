#pragma once

#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace studio {

// How long the user interface's frames take, kept per phase of the work
// that runs meanwhile ("idle", "scan", "alignment", "fusion", "measurement")
// so that a slow frame can be traced to what the machine was doing. Each
// frame is split into its parts (waiting for events, the shell's step,
// building the panels, drawing the 3D view, drawing the panels, the swap).
//
// User-interface thread only.
class FrameTimes {
 public:
  enum Part { kEvents, kStep, kPanels, kView, kDrawPanels, kSwap, kPartCount };
  static const char* PartName(int part);

  // seconds: the frame's parts; the frame's time is their sum except the
  // wait for events, which is the loop idling, not the frame's work.
  void Add(const std::string& phase, const std::array<double, kPartCount>& seconds);

  struct Summary {
    std::size_t frames = 0;
    double meanMs = 0.0, p95Ms = 0.0, maxMs = 0.0;
    std::array<double, kPartCount> slowestPartsMs{};  // the slowest frame's parts
  };
  Summary Summarise(const std::string& phase) const;
  // Every phase's summary, for the test mode's report and the log.
  nlohmann::json ToJson() const;
  std::string Describe(const std::string& phase) const;

 private:
  struct Phase {
    std::vector<double> frameMs;
    double slowestMs = -1.0;
    std::array<double, kPartCount> slowestPartsMs{};
  };
  std::map<std::string, Phase> m_phases;
};

}  // namespace studio
