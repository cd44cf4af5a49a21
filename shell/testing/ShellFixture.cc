#include "shell/testing/ShellFixture.h"

#include <fstream>

namespace shell::testing {

namespace fs = std::filesystem;

TemporaryRoot::TemporaryRoot(const std::string& prefix) : m_folder(prefix) {
  fs::create_directories(GetPath() / "xaml");
  fs::copy_file(fs::path(TARVELIN_SHARE_DIR) / "xaml" / "Settings.xaml", GetPath() / "xaml" / "Settings.xaml");
}

const char* const kFastVaseScene = R"({
  "version": 1,
  "objects": [
    {"type": "vase", "radius": 40, "height": 120, "ribs": 16, "rib_depth": 1.5, "resolution": 0.5, "albedo": 0.8}
  ],
  "turntable": {"centre": [0, 0, 0], "axis": [0, 0, 1], "angle_deg": 0},
  "ambient_light": 0.05, "noise_sigma": 2, "latency_ms": 8, "frame_rate_hz": 150
})";

void WriteRigScene(const fs::path& root, const std::string& rig, const std::string& scene) {
  fs::create_directories(root / "rigs" / rig);
  std::ofstream(root / "rigs" / rig / "scene.json") << scene;
}

std::unique_ptr<Settings> MakeSettings(const TemporaryRoot& root, std::vector<std::string>* log) {
  SettingsOptions options;
  options.root = root.GetPath();
  options.computerName = "pc";
  options.userName = "me";
  options.log = [log](const std::string& line) {
    if (log) log->push_back(line);
  };
  return std::make_unique<Settings>(options);
}

std::string SettingPath(const std::string& group, const std::string& key) {
  return "/Settings/" + group + "/*[@title='" + key + "']";
}

ScriptedWorkflow::ScriptedWorkflow(surf::ShapeFusion& fusion) : m_fusion(fusion) {}

int ScriptedWorkflow::ScanStart() {
  ++starts;
  if (onStart) onStart();
  if (startResult == 0) m_pending = pumpsUntilDone;
  return startResult;
}

void ScriptedWorkflow::Pump() {
  ++pumps;
  if (m_pending > 0 && --m_pending == 0 && m_done) m_done();
}

int ScriptedWorkflow::ScanAddToFusion() {
  ++adds;
  if (addToFusion) return addToFusion();
  const std::vector<float> vertices = {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f};
  return m_fusion.AddGeo(vertices, {0, 1, 2}, {}, "Scan" + std::to_string(adds));
}

int FakeMotor::Move(double target) {
  ++m_moves;
  for (const auto& [number, result] : moveResults) {
    if (number == m_moves && result != 0) return result;
  }
  m_record->targets.push_back(target);
  m_position = target;
  m_pollsLeft = movingPolls;
  return 0;
}

int FakeMotor::GetStatus() {
  ++m_record->statusPolls;
  if (m_pollsLeft > 0) return --m_pollsLeft, 1;
  return 0;
}

bool RecordingAlignment::StartPairAlignment_Async(int indexA, int indexB, const AlignmentSettings& settings) {
  pairs.push_back({indexA, indexB, settings});
  m_pollsLeft = busyPolls;
  return true;
}

bool RecordingAlignment::StartAlignSequence_Async(const std::vector<int>& indices, const std::string& mode) {
  sequences.emplace_back(indices, mode);
  m_pollsLeft = busyPolls;
  return true;
}

bool RecordingAlignment::IsBusy() const {
  if (m_pollsLeft > 0) return --m_pollsLeft, true;
  return false;
}

}  // namespace shell::testing
