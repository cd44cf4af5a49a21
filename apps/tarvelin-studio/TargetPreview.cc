#include "apps/tarvelin-studio/TargetPreview.h"

#include <algorithm>
#include <chrono>

#include "CamCalib/Interface.h"
#include "apps/tarvelin-studio/LiveOverlay.h"

namespace studio {

namespace {

using Colour = std::array<std::uint8_t, 3>;

// A cross of two-pixel-wide bars, seen when the picture is shown small.
void Cross(TargetDetection& d, double x, double y, int arm, const Colour& colour) {
  const int cx = int(x + 0.5), cy = int(y + 0.5);
  for (int k = -arm; k <= arm; ++k) {
    for (const auto& [px, py] : {std::pair{cx + k, cy}, std::pair{cx + k, cy + 1},
                                 std::pair{cx, cy + k}, std::pair{cx + 1, cy + k}}) {
      if (px < 0 || py < 0 || px >= d.width || py >= d.height) continue;
      std::uint8_t* p = &d.rgba[(std::size_t(py) * std::size_t(d.width) + std::size_t(px)) * 4];
      p[0] = colour[0];
      p[1] = colour[1];
      p[2] = colour[2];
    }
  }
}

// What to change when a grid is missing, from the picture's exposure and
// the ellipses found.
const char* Advice(const ExposureStats& exposure, std::size_t ellipses, std::size_t gridNodes,
                   const Texts& texts) {
  if (exposure.saturated > 0.02) return texts("Studio_Target_Overexposed");
  if (exposure.p99 < 64) return texts("Studio_Target_TooDark");
  if (ellipses < gridNodes / 4) return texts("Studio_Target_FewMarks");
  return texts("Studio_Target_PanelNotMapped");
}

}  // namespace

TargetDetection DetectTargets(const img::GreyImage& picture,
                              const std::vector<CamCalib::CalibGrid>& grids, const Texts& texts) {
  TargetDetection d;
  d.width = int(picture.width);
  d.height = int(picture.height);
  ExposureStats exposure;
  LiveOverlayOptions plain;
  plain.saturation = false;
  d.rgba = MakeLiveOverlay(picture, plain, exposure);
  d.gridPoints.assign(grids.size(), 0);

  CamCalib::Interface detector;
  detector.SetPrintMessages(false);
  const int arm = std::max(3, d.width / 160);
  std::size_t nodes = 0;
  for (const auto& grid : grids) nodes += std::size_t(grid.countX) * std::size_t(grid.countY);
  if (detector.Init(CamCalib::Parameters::ForCameraCalibration(d.width, d.height))) {
    detector.ExtractEllipses(picture);
    const std::vector<math::Vec2d> centres = detector.GetEllipseCentres();
    d.ellipses = centres.size();
    for (const auto& c : centres) Cross(d, c[0], c[1], arm, {255, 220, 0});
    static constexpr Colour kGridColours[] = {{40, 230, 60}, {0, 220, 240}};
    for (std::size_t g = 0; g < grids.size() && d.ellipses > 0; ++g) {
      if (!detector.MapEllipses(grids[g])) continue;
      d.gridPoints[g] = detector.GetImagePoints().size();
      for (const auto& p : detector.GetImagePoints())
        Cross(d, p[0], p[1], arm + 1, kGridColours[g % 2]);
    }
  }
  d.complete = !grids.empty();
  std::string counts;
  for (std::size_t g = 0; g < grids.size(); ++g) {
    d.complete = d.complete && d.gridPoints[g] > 0;
    counts += (g ? " + " : "") + std::to_string(d.gridPoints[g]);
  }
  d.summary =
      texts.Format("Studio_Target_Counts", {std::to_string(d.ellipses), counts}) + " " +
      (d.complete ? texts("Studio_Target_Found") : Advice(exposure, d.ellipses, nodes, texts));
  return d;
}

bool TargetPreview::Start(shell::ICalibrationStation& station, std::size_t camera,
                          std::vector<CamCalib::CalibGrid> grids, const Texts& texts) {
  if (IsBusy()) return false;
  m_worker = std::async(std::launch::async, [&station, &texts, camera, grids = std::move(grids)] {
    img::GreyImage picture;
    std::string error;
    if (!station.GrabCameraImage(camera, picture, error)) {
      TargetDetection failed;
      failed.summary = texts.Format("Studio_Target_NoPicture", {std::to_string(camera + 1), error});
      return failed;
    }
    return DetectTargets(picture, grids, texts);
  });
  return true;
}

bool TargetPreview::IsBusy() const {
  return m_worker.valid() &&
         m_worker.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

std::optional<TargetDetection> TargetPreview::TakeResult() {
  if (!m_worker.valid() || IsBusy()) return std::nullopt;
  return m_worker.get();
}

void TargetPreview::Wait() {
  if (m_worker.valid()) m_worker.wait();
}

}  // namespace studio
