#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/utils/Progress.h"
#include "shell/Application.h"
#include "sim/RigScanResult.h"
#include "sim/SceneFile.h"

namespace sim {
class VirtualRig;
}

namespace shell {

// How a scan of the virtual rig is taken and filtered. Each scan writes
// these into the session's settings (pattern mode, texture, image skip
// count, result filtering), so the workflow does exactly what a user with
// those settings gets.
struct RigScanOptions {
  std::string patternMode = "coded";  // StructuredLight/PatternParameters/PatternMode
  bool texture = false;     // Scan/AutoGrabTexture: colours, texture coordinates and image
  int imageSkipCount = -1;  // frames dropped after a pattern change; -1: "auto"
  // The scene object whose true pose a scan reports.
  int objectId = 0;

  // Result filtering: quality bytes at or below qualityThreshold are
  // dropped; neighbours further apart than maxDepthJump (mm) are not joined
  // into fragments or triangles; fragments below minFragmentRatio of the
  // largest are dropped; then border and grazing pixels (see
  // ResultMeshParameters::maxViewingAngleDeg).
  std::uint8_t qualityThreshold = 2;
  int smoothIterations = 0;
  float maxDepthJump = 1.5f;
  double minFragmentRatio = 0.01;
  double maxViewingAngleDeg = 80.0;
  // Fewer lit object pixels than this over all cameras: the object is out of view.
  std::size_t minVisiblePixels = 100;
};

// The shell's application on a virtual rig, for single scans scored against
// the rig's truth (`tarvelin scan`, the rig tests and benchmarks): a data
// root (given, or a temporary one removed with the session) holding a copy
// of the rig folder's setup with the chosen scene, that folder as hardware
// profile, and the rig product. A scan goes the user's way: settings →
// product's scanner → ScanWorkflow (capture, evaluation, depth conversion,
// result mesh); only the scores and the turntable's angle come from the rig.
//
// Single-threaded like the application: use from one thread.
class RigScanSession {
 public:
  struct Options {
    std::filesystem::path rigFolder;  // holding "rig.tarvelinsetup" and "scene.json"
    // Replaces the folder's scene; empty: the folder's own.
    std::optional<sim::SceneDescription> scene;
    // Empty: "VirtualStereo" for a setup with two cameras, else "Virtual".
    std::string product;
    double imageScale = 1.0;
    std::uint32_t seed = 1;
    std::filesystem::path root;  // empty: a temporary data root
    // A user's data root whose settings the scan takes (copied into the
    // session's root, so that nothing there changes); the rig folder is
    // then its hardware profile's (see FindUserRig).
    std::filesystem::path userRoot;
  };

  // What a user's data root (the studio's and the shell's --root) scans
  // with: the folder of its current hardware profile, which must be a rig
  // folder, and its product setting.
  struct UserRig {
    std::filesystem::path rigFolder;
    std::string product;
  };
  // Reads the root's settings without changing them. False with a one-line
  // reason when the root is missing, no folder, unreadable, holds no
  // settings schema, or its profile names no setup or no rig folder.
  static bool FindUserRig(const std::filesystem::path& root, UserRig& rig, std::string& error);

  explicit RigScanSession(Options options);
  ~RigScanSession();
  RigScanSession(const RigScanSession&) = delete;
  RigScanSession& operator=(const RigScanSession&) = delete;

  // False with a one-line reason when the rig folder, the scene, the data
  // root or the product's scanner cannot be set up.
  bool Start(std::string& error);

  // Turns the rig's turntable to angle (rad; casts again only when it
  // changes) and scans. Progress runs over the whole scan; cancelling stops
  // the capture or decoding (status kCancelled).
  sim::RigScan Scan(double turntableAngle, const RigScanOptions& options,
                    const utils::ProgressCallback& progress = {});
  sim::TurntableSet ScanTurntable(int views, double startAngle, double stepAngle,
                                  const RigScanOptions& options,
                                  const utils::ProgressCallback& progress = {});

  Application& GetApplication() { return *m_app; }
  sim::VirtualRig& GetRig() { return *m_rig; }
  const std::string& GetProduct() const { return m_product; }
  // The application's log lines and notifications ("title: text"), in order.
  std::vector<std::string> GetLog() const;

 private:
  void ApplySettings(const RigScanOptions& options);
  std::string LastProblem() const;
  void Log(const std::string& line);

  Options m_options;
  std::filesystem::path m_root;
  bool m_temporaryRoot = false;
  std::string m_product;
  std::unique_ptr<Application> m_app;
  sim::VirtualRig* m_rig = nullptr;
  mutable std::mutex m_logMutex;
  std::vector<std::string> m_log;
  std::vector<std::string> m_notes;
};

}  // namespace shell
