#include "shell/MeasureCommands.h"

#include <cmath>

#include "foundation/utils/ThreadPriority.h"
#include "shell/ProgressReporter.h"
#include "shell/SettingPath.h"
#include "shell/Settings.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {

namespace {

constexpr int kNone = -2;

std::string Comparison(const char* key) {
  return SettingPath(std::string("Measure/Comparison/") + key);
}

}  // namespace

MeasureCommands::MeasureCommands(Settings& settings, surf::ShapeFusion& fusion,
                                 ProgressReporter& progress, const std::filesystem::path& logFolder,
                                 LogSink log)
    : m_settings(settings),
      m_fusion(fusion),
      m_progress(progress),
      m_log(log ? std::move(log) : StdoutLogSink()),
      m_measure(fusion.GetScene()) {
  m_measure.SetReportPath(logFolder / "Measurements.txt");
  UpdateObjectSettings();
}

MeasureCommands::~MeasureCommands() {
  m_abort = true;
  Wait();
}

int MeasureCommands::IndexOf(std::int32_t nodeID) const {
  if (nodeID < 0) return kNone;
  const int index = m_fusion.NodeID2GeoIndex(nodeID);
  return index == surf::ShapeFusion::kNoGeo ? kNone : index;
}

int MeasureCommands::GetTestIndex() const { return IndexOf(m_measure.GetTestObjectNodeID()); }
int MeasureCommands::GetReferenceIndex() const {
  return IndexOf(m_measure.GetReferenceObjectNodeID());
}

bool MeasureCommands::SetTestObject(int index) {
  if (m_busy) return false;
  const std::int32_t node = index < -1 ? -1 : m_fusion.GeoIndex2NodeID(index);
  if (index >= -1 && node < 0) return false;
  m_measure.SetTestObject(node);
  UpdateObjectSettings();
  return true;
}

bool MeasureCommands::SetReferenceObject(int index) {
  if (m_busy) return false;
  const std::int32_t node = index < -1 ? -1 : m_fusion.GeoIndex2NodeID(index);
  if (index >= -1 && node < 0) return false;
  m_measure.SetReferenceObject(node);
  UpdateObjectSettings();
  return true;
}

void MeasureCommands::UpdateObjectSettings() {
  const v3d::Geo* test = m_measure.GetTestObject();
  const v3d::Geo* reference = m_measure.GetReferenceObject();
  m_settings.GetSetting<std::string>(Comparison("TestObjectName"))
      .SetValue(test ? test->GetName() : "");
  m_settings.GetSetting<std::string>(Comparison("ReferenceObjectName"))
      .SetValue(reference ? reference->GetName() : "");
  m_settings.GetSetting<bool>(Comparison("TestObjectValid")).SetValue(test != nullptr);
  m_settings.GetSetting<bool>(Comparison("ReferenceObjectValid")).SetValue(reference != nullptr);
}

bool MeasureCommands::StartCompare_Async(std::string& why) {
  if (m_busy) {
    why = "A comparison is already running.";
    return false;
  }
  Wait();
  UpdateObjectSettings();
  if (!m_measure.GetTestObject() || !m_measure.GetReferenceObject()) {
    why = "Choose a test object and a reference object first.";
    return false;
  }
  if (m_measure.GetTestObjectNodeID() == m_measure.GetReferenceObjectNodeID()) {
    why = "The test object and the reference object are the same: choose two different ones.";
    return false;
  }
  const float tolerance = m_settings.GetSetting<float>(Comparison("ComparisonTolerance")).Value();
  if (!(std::isfinite(tolerance) && tolerance > 0.f)) {
    why = "The tolerance must be a number above 0 mm.";
    return false;
  }
  m_measure.SyncComparisonTolerance(tolerance);
  surf::Measure::CompareOptions options;
  const std::string mode = m_settings.GetSetting<std::string>(Comparison("CompareMode")).Value();
  options.method =
      mode == "vertex" ? surf::DeviationMethod::kVertex : surf::DeviationMethod::kTriangle;
  m_log("Measure: comparing " + m_measure.GetTestObject()->GetName() + " with " +
        m_measure.GetReferenceObject()->GetName() + ", tolerance " + FormatSettingText(tolerance) +
        " mm, " +
        (options.method == surf::DeviationMethod::kVertex ? "nearest vertices."
                                                          : "closest triangle points."));
  m_busy = true;
  m_finished = false;
  m_result = false;
  m_progress.SetBusy(true);
  m_worker = std::thread([this, options]() mutable {
    utils::LowerThisThreadPriority();  // the user interface keeps the cores it needs
    options.progress = [this](double fraction) { return m_progress.Report(fraction) || m_abort; };
    bool shown = false;
    try {
      shown = m_measure.Compare(options);
    } catch (const std::exception& e) {
      m_log(std::string("Measure: the comparison failed: ") + e.what());
    }
    m_result = shown;
    m_progress.SetBusy(false);
    m_finished = true;
    m_busy = false;
  });
  return true;
}

void MeasureCommands::Wait() {
  if (m_worker.joinable()) m_worker.join();
}

bool MeasureCommands::Poll() {
  if (!m_finished || m_busy) return false;
  m_finished = false;
  Wait();
  std::string result;
  if (m_result) {
    const surf::MeasureReportData data = m_measure.GetReportData();
    result = data.noOverlap ? "no overlap" : std::to_string(data.magnitudes.size()) + " points";
    m_log("Measure: done (" + result + "), report " + m_measure.GetReportPath().string() + ".");
  } else {
    m_log("Measure: the comparison was cancelled or could not be shown.");
  }
  m_settings.GetSetting<std::string>(Comparison("CompareResult")).SetValue(result);
  return true;
}

}  // namespace shell
