#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/utils/testing/TemporaryFolder.h"
#include "plugin/IMotor.h"
#include "shell/AlignmentJobs.h"
#include "shell/Language.h"
#include "shell/ProgressReporter.h"
#include "shell/ScanWorkflowInterface.h"
#include "shell/Settings.h"
#include "surf/fusion/ShapeFusion.h"

// Test doubles and a settings root for the shell's controller tests.
namespace shell::testing {

// A temporary data root for the running test with the shipped settings
// schema, removed again.
class TemporaryRoot {
 public:
  explicit TemporaryRoot(const std::string& prefix);
  const std::filesystem::path& GetPath() const { return m_folder.GetPath(); }

 private:
  utils::testing::TemporaryFolder m_folder;
};

// The shipped default scene (the ribbed vase) with cameras fast enough for
// a scan of a second or two: 150 frames per second, 8 ms latency.
extern const char* const kFastVaseScene;

// Writes scene as the scene of the rig (rigs/<rig>/scene.json) below root.
void WriteRigScene(const std::filesystem::path& root, const std::string& rig, const std::string& scene);

// The settings of a temporary root (computer "pc", user "me"), log lines
// collected.
std::unique_ptr<Settings> MakeSettings(const TemporaryRoot& root, std::vector<std::string>* log = nullptr);

std::string SettingPath(const std::string& group, const std::string& key);

// A scan workflow that follows a script: ScanStart answers startResult and,
// when 0, the scan is done after pumpsUntilDone pumps; ScanAddToFusion
// calls addToFusion (by default a one-triangle scan appended to the list).
class ScriptedWorkflow : public IScanWorkflow {
 public:
  explicit ScriptedWorkflow(surf::ShapeFusion& fusion);

  int ScanStart() override;
  void Pump() override;
  void SetScanDoneHandler(std::function<void()> handler) override { m_done = std::move(handler); }
  int ScanAddToFusion() override;
  void Cancel() override { ++cancels, m_pending = 0; }
  bool IsRecalibrationNeeded() const override { return recalibrationNeeded; }
  void ResetPendingCalibrationUpdate() override { ++resets, recalibrationNeeded = false; }

  int startResult = 0;
  int pumpsUntilDone = 2;
  std::function<void()> onStart;  // called by every ScanStart
  std::function<int()> addToFusion;
  bool recalibrationNeeded = false;
  int starts = 0, pumps = 0, adds = 0, cancels = 0, resets = 0;

 private:
  surf::ShapeFusion& m_fusion;
  std::function<void()> m_done;
  int m_pending = 0;
};

// Counts of a FakeMotor that outlive it (the controller owns the motor).
struct MotorRecord {
  std::vector<double> targets;  // every accepted Move
  int stops = 0;
  int disconnects = 0;
  int statusPolls = 0;
};

// A turntable that arrives after movingPolls status polls; move number k
// (1-based) answers moveResults[k] when the script has it.
class FakeMotor : public plugin::IMotor {
 public:
  explicit FakeMotor(std::shared_ptr<MotorRecord> record) : m_record(std::move(record)) {}
  int Connect(const std::string&, const std::string&) override { return 0; }
  int Disconnect() override { return ++m_record->disconnects, 0; }
  int Move(double target) override;
  int Stop() override { return ++m_record->stops, 0; }
  int GetPosition(double& position) override { return position = m_position, 0; }
  int GetStatus() override;

  std::vector<std::pair<int, int>> moveResults;  // (move number, result)
  int movingPolls = 2;

 private:
  std::shared_ptr<MotorRecord> m_record;
  double m_position = 0.0;
  int m_moves = 0;
  int m_pollsLeft = 0;
};

// Records the alignment requests; busy for busyPolls IsBusy calls after each.
class RecordingAlignment : public IAlignmentJobs {
 public:
  struct Pair {
    int a, b;
    AlignmentSettings settings;
  };
  bool StartPairAlignment_Async(int indexA, int indexB, const AlignmentSettings& settings) override;
  bool StartAlignSequence_Async(const std::vector<int>& indices, const std::string& mode) override;
  bool IsBusy() const override;

  std::vector<Pair> pairs;
  std::vector<std::pair<std::vector<int>, std::string>> sequences;
  int busyPolls = 2;

 private:
  mutable int m_pollsLeft = 0;
};

}  // namespace shell::testing
