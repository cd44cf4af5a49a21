#pragma once

#include <memory>
#include <vector>

namespace shell {
class ScanWorkflow;
}
namespace v3d {
class Geo;
class Scene;
}  // namespace v3d

namespace studio {

// The last scan in the 3D view before it is added to the list (the single
// scan waits for "Add to list"): its meshes as the list would get them,
// drawn with the list's scans, gone once the scan is added, discarded or
// replaced by the next one.
//
// User-interface thread. The scene must outlive the preview's geos: call
// Update(…, false) before the scene goes.
class ScanPreview {
 public:
  // available: the workflow holds a converted scan (Scan/Status/
  // IsScanDataAvailable). Shows it once, or takes the preview away when it
  // is no longer available. True when the scene changed.
  bool Update(shell::ScanWorkflow& workflow, v3d::Scene& scene, bool available);
  bool IsShown() const { return !m_geos.empty(); }

 private:
  std::vector<std::shared_ptr<v3d::Geo>> m_geos;
  bool m_made = false;  // for the scan available now (also when it gave no mesh)
};

}  // namespace studio
