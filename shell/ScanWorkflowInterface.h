#pragma once

#include <functional>
#include <string>

namespace shell {

// A localised notification for the user: the text (already looked up in
// the language table) and its title. Headless runs log it.
using NotifyFunction = std::function<void(const std::string& text, const std::string& title)>;

// What the scan-sequence controller needs of the scan workflow: one press
// of "scan" from capture to new scans in the scan list. Implemented by
// shell::ScanWorkflow; the controller's tests use a scripted double.
//
// Thread rules: every member is called on the user-interface thread. Jobs
// the workflow starts run on workers; their completion handlers run when
// the user-interface thread calls Pump().
class IScanWorkflow {
 public:
  virtual ~IScanWorkflow() = default;

  // Starts one scan (capture, then evaluation, as background jobs) and
  // returns the progress result: 0 started, −501 not calibrated, −500
  // failed to start.
  virtual int ScanStart() = 0;
  // Runs the completion handlers that jobs have posted. Calls the scan-done
  // handler once the scan's surfaces are converted (or the scan failed).
  virtual void Pump() = 0;
  // Called once per scan when it is done.
  virtual void SetScanDoneHandler(std::function<void()> handler) = 0;
  // Adds the last scan's surfaces to the scan list: the index of the first
  // new scan, or a negative progress result (−104 nothing to add).
  virtual int ScanAddToFusion() = 0;
  // Cancels a running capture or evaluation; returns to idle.
  virtual void Cancel() = 0;
  // The verification during the scan found that the calibration should be
  // renewed; ResetPendingCalibrationUpdate clears that.
  virtual bool IsRecalibrationNeeded() const = 0;
  virtual void ResetPendingCalibrationUpdate() = 0;
};

}  // namespace shell
