#include "scan/FlatPlateCalibration.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <numbers>
#include <pugixml.hpp>
#include <sstream>
#include <stdexcept>

#include "CamCalib/Interface.h"
#include "CamCalib/TargetGrid.h"
#include "cam/CalibrateTsai.h"
#include "cam/CameraModelOptimizer.h"
#include "foundation/img/EllipseGridMapping.h"

namespace scan {
namespace {

constexpr std::size_t kMinViews = 3;

std::string Number(double v) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), v);
  return ec == std::errc() ? std::string(buffer, end) : "0";
}

void SetFrame(pugi::xml_node node, const math::Frame<double>& f) {
  node.append_attribute("type") = "Frame4d";
  const char* names[4] = {"n", "o", "a", "p"};
  for (int c = 0; c < 4; ++c) {
    pugi::xml_node column = node.append_child(names[c]);
    const math::Vec4d v = f.Column(c);
    column.append_attribute("x") = Number(v[0]).c_str();
    column.append_attribute("y") = Number(v[1]).c_str();
    column.append_attribute("z") = Number(v[2]).c_str();
  }
}

// The points of one camera's view: plate (target) coordinates and image points.
void Points(const FlatPlateCalibration::CameraView& view, std::vector<math::Vec3d>& plate,
            std::vector<math::Vec2d>& image) {
  plate.clear(), image.clear();
  for (const auto& m : view.markers) plate.push_back(m.center), image.push_back(m.image);
}

const FlatPlateCalibration::CameraView* ViewOf(const FlatPlateCalibration::MultiView& v,
                                               int camera) {
  for (const auto& c : v.cameraViews)
    if (c.cameraIndex == camera) return &c;
  return nullptr;
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
  return v[v.size() / 2];
}

}  // namespace

FlatPlateCalibration::FlatPlateCalibration(cam::FlatPlateCalibrationTarget target)
    : m_target(std::move(target)) {
  img::EllipseGridMapping check(m_target.countX, m_target.countY);  // throws below 2 × 2
  (void)check;
  std::string error;
  if (!CamCalib::MakeCalibGrid(m_target, m_grid, error)) throw std::invalid_argument(error);
}

FlatPlateCalibration::~FlatPlateCalibration() = default;

bool FlatPlateCalibration::AddMultiView(const std::vector<img::GreyImage>& images) {
  if (images.empty() || images[0].width == 0 || images[0].height == 0) {
    std::cout << "Warning - Could not add multi camera view since first camera is missing.\n";
    return false;
  }
  MultiView view;
  for (std::size_t c = 0; c < images.size(); ++c) {
    const img::GreyImage& image = images[c];
    if (image.width == 0 || image.height == 0) continue;
    CamCalib::Interface detector;
    detector.SetPrintMessages(false);
    if (!detector.Init(
            CamCalib::Parameters::ForCameraCalibration(int(image.width), int(image.height))) ||
        !detector.ExtractEllipses(image) || !detector.MapEllipses(m_grid))
      continue;
    CameraView camera;
    camera.cameraIndex = int(c);
    const auto& nodes = detector.GetGridNodes();
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      Marker m;
      m.gridIndex = nodes[k] + m_target.GetGridOrigin();
      m.image = detector.GetImagePoints()[k];
      m.center = detector.GetWorldPoints()[k];
      const int e = detector.GetNodeEllipses()[k];
      if (e >= 0) m.ellipse = detector.GetEllipses()[std::size_t(e)];
      if (const auto it = m_target.markers.find(m.gridIndex); it != m_target.markers.end()) {
        m.innerDiameter = it->second.innerDiameter;
        m.outerDiameter = it->second.outerDiameter;
        m.color = it->second.color;
        m.center = it->second.center;
      }
      camera.markers.push_back(m);
    }
    view.cameraViews.push_back(std::move(camera));
  }
  return AddMultiView(std::move(view));
}

bool FlatPlateCalibration::AddMultiView(MultiView view) {
  if (view.cameraViews.empty() || view.cameraViews[0].cameraIndex != 0 ||
      view.cameraViews[0].markers.empty()) {
    std::cout << "Warning - Could not add multi camera view since first camera is missing.\n";
    return false;
  }
  m_views.push_back(std::move(view));
  return true;
}

void FlatPlateCalibration::InitIntrinsicsApproximately(cam::CameraModelOCV& model, double factor,
                                                       int width, int height) {
  cam::CameraModelOCVIntrinsics i;
  i.cx = double(width / 2);
  i.cy = double(height / 2);
  i.f = width * factor;
  i.sx = 1.0;
  model.SetIntrinsics(i, std::uint32_t(std::max(0, width)), std::uint32_t(std::max(0, height)));
}

bool FlatPlateCalibration::CalibrateCameraModels(
    const std::vector<std::shared_ptr<cam::CameraModelOCV>>& models) {
  if (models.empty() || models.size() > 2 || m_views.size() < kMinViews) return false;
  for (const auto& m : models)
    if (!m || m->GetResX() == 0 || m->GetResY() == 0) return false;

  // Start values: each view of each camera calibrated alone (coplanar Tsai)
  // gives f and the camera's pose relative to the plate.
  std::vector<std::vector<math::Frame<double>>> plate_T_camera(
      models.size(), std::vector<math::Frame<double>>(m_views.size()));
  std::vector<std::vector<bool>> have(models.size(), std::vector<bool>(m_views.size(), false));
  std::vector<std::vector<double>> focal(models.size());
  std::vector<math::Vec3d> plate;
  std::vector<math::Vec2d> image;
  for (std::size_t v = 0; v < m_views.size(); ++v) {
    for (std::size_t c = 0; c < models.size(); ++c) {
      const CameraView* view = ViewOf(m_views[v], int(c));
      if (!view) continue;
      Points(*view, plate, image);
      cam::CameraModelTsai tsai;
      cam::CalibrateTsai calibrate;
      calibrate.SetSuppressDistortion(true);
      std::streambuf* old = std::cerr.rdbuf(nullptr);  // a view that fails is simply not used
      const bool ok = calibrate.Calibrate(tsai, plate, image, models[c]->GetResX(),
                                          models[c]->GetResY(), {}, true);
      std::cerr.rdbuf(old);
      if (!ok) continue;
      plate_T_camera[c][v] = tsai.GetFrame_wTc();
      have[c][v] = true;
      focal[c].push_back(tsai.GetIntrinsics().f);
    }
  }
  if (focal[0].size() < kMinViews) return false;
  std::size_t shared = m_views.size();
  if (models.size() == 2) {
    for (std::size_t v = 0; v < m_views.size() && shared == m_views.size(); ++v)
      if (have[0][v] && have[1][v]) shared = v;
    if (shared == m_views.size()) return false;
  }

  std::vector<std::shared_ptr<cam::CameraModelOCV>> work;
  for (std::size_t c = 0; c < models.size(); ++c) {
    auto m = std::make_shared<cam::CameraModelOCV>(*models[c]);
    if (!m->IsValid() || m->GetIntrinsics().f <= 0.0)
      InitIntrinsicsApproximately(*m, Median(focal[c]) / m->GetResX(), int(m->GetResX()),
                                  int(m->GetResY()));
    work.push_back(m);
  }
  work[0]->SetFrame_wTc({});  // camera 0 is the world
  if (models.size() == 2)
    work[1]->SetFrame_wTc(plate_T_camera[0][shared].GetInverse() * plate_T_camera[1][shared]);

  cam::CameraModelOptimizer optimizer;
  std::vector<std::shared_ptr<math::Frame<double>>> poses(m_views.size());
  std::vector<std::size_t> systems(m_views.size(), 0);
  for (std::size_t v = 0; v < m_views.size(); ++v) {
    const std::size_t c = have[0][v] ? 0 : (models.size() == 2 && have[1][v] ? 1 : 2);
    if (c == 2) continue;
    // world_T_plate = world_T_camera · camera_T_plate.
    poses[v] = std::make_shared<math::Frame<double>>(work[c]->GetFrame_wTc() *
                                                     plate_T_camera[c][v].GetInverse());
    systems[v] = optimizer.AddCoordinateSystem(poses[v], "tx ty tz rx ry rz");
    for (const auto& view : m_views[v].cameraViews) {
      if (std::size_t(view.cameraIndex) >= models.size()) continue;
      Points(view, plate, image);
      optimizer.AddObservations(std::size_t(view.cameraIndex), systems[v], plate, image);
    }
  }
  const std::string intrinsics = cam::ActiveParams().AddOCVIntrinsics().GetString().substr(1);
  const std::string both =
      cam::ActiveParams().AddExtrinsics().AddOCVIntrinsics().GetString().substr(1);
  std::vector<std::string> lists{intrinsics};
  if (models.size() == 2) lists.push_back(both);
  try {
    optimizer.OptimizeCameraModels(work, lists);
  } catch (const std::exception& e) {
    std::cerr << "Error: FlatPlateCalibration::CalibrateCameraModels - " << e.what() << '\n';
    return false;
  }
  if (!optimizer.LastRunSucceeded()) return false;

  // Reprojection errors and RMS over every marker.
  double sum = 0.0;
  std::size_t count = 0;
  for (std::size_t v = 0; v < m_views.size(); ++v) {
    if (!poses[v]) continue;
    m_views[v].world_T_plate = *poses[v];
    for (auto& view : m_views[v].cameraViews) {
      if (std::size_t(view.cameraIndex) >= work.size()) continue;
      const cam::CameraModelOCV& model = *work[std::size_t(view.cameraIndex)];
      for (auto& m : view.markers) {
        math::Vec2d pixel;
        m.error = model.CameraPointToPixel(pixel, model.GetFrame_cTw() * (*poses[v] * m.center))
                      ? (pixel - m.image).Length()
                      : 0.0;
        sum += m.error * m.error;
        ++count;
      }
    }
  }
  m_rms = count ? std::sqrt(sum / count) : 0.0;
  m_activeParams = models.size() == 2 ? both : intrinsics;
  m_stereoBaseline = m_stereoAngle = 0.0;
  if (work.size() == 2) {
    const math::Frame<double>&a = work[0]->GetFrame_wTc(), &b = work[1]->GetFrame_wTc();
    m_stereoBaseline = (a.GetTrans() - b.GetTrans()).Length();
    const math::Vec4d za = a.a(), zb = b.a();
    const double dot = za[0] * zb[0] + za[1] * zb[1] + za[2] * zb[2];
    m_stereoAngle = std::acos(std::clamp(dot, -1.0, 1.0)) * 180.0 / std::numbers::pi;
  }
  for (std::size_t c = 0; c < models.size(); ++c) *models[c] = *work[c];
  return true;
}

std::string FlatPlateCalibration::ToXml() const {
  pugi::xml_document doc;
  doc.append_child("flatPlateCalibration");
  pugi::xml_node grid = doc.append_child("gridInfo");
  grid.append_attribute("gridCountX") = m_target.countX;
  grid.append_attribute("gridCountY") = m_target.countY;
  const math::Vec2i origin = m_target.GetGridOrigin();
  grid.append_attribute("gridOriginX") = origin[0];
  grid.append_attribute("gridOriginY") = origin[1];
  grid.append_attribute("gridSpacing_mm") = Number(m_target.spacing).c_str();
  pugi::xml_node info = doc.append_child("calibrationInfo");
  info.append_attribute("rmsError") = Number(m_rms).c_str();
  info.append_attribute("stereoBaseline") = Number(m_stereoBaseline).c_str();
  info.append_attribute("stereoAngle") = Number(m_stereoAngle).c_str();
  info.append_attribute("activeParams") = m_activeParams.c_str();
  for (const MultiView& v : m_views) {
    pugi::xml_node view = doc.append_child("multiView");
    SetFrame(view.append_child("world_T_plate"), v.world_T_plate);
    for (const CameraView& c : v.cameraViews) {
      pugi::xml_node camera = view.append_child("cameraView");
      camera.append_attribute("cameraIndex") = c.cameraIndex;
      pugi::xml_node markers = camera.append_child("markers");
      for (const Marker& m : c.markers) {
        pugi::xml_node marker = markers.append_child("marker");
        marker.append_attribute("color") = cam::ToString(m.color);
        marker.append_attribute("error") = Number(m.error).c_str();
        pugi::xml_node index = marker.append_child("gridIndex");
        index.append_attribute("x") = m.gridIndex[0];
        index.append_attribute("y") = m.gridIndex[1];
        pugi::xml_node centre = marker.append_child("center");
        centre.append_attribute("x") = Number(m.center[0]).c_str();
        centre.append_attribute("y") = Number(m.center[1]).c_str();
        centre.append_attribute("z") = Number(m.center[2]).c_str();
        pugi::xml_node diameter = marker.append_child("diameter");
        diameter.append_attribute("inner") = int(std::lround(m.innerDiameter));
        diameter.append_attribute("outer") = int(std::lround(m.outerDiameter));
        pugi::xml_node ellipse = marker.append_child("ellipse");
        ellipse.append_attribute("cx") = Number(m.ellipse.cx).c_str();
        ellipse.append_attribute("cy") = Number(m.ellipse.cy).c_str();
        ellipse.append_attribute("rx") = Number(m.ellipse.rx).c_str();
        ellipse.append_attribute("ry") = Number(m.ellipse.ry).c_str();
        ellipse.append_attribute("theta_radians") = Number(m.ellipse.theta).c_str();
      }
    }
  }
  std::ostringstream text;
  doc.save(text, "  ");
  return text.str();
}

bool FlatPlateCalibration::DumpToFile(const std::filesystem::path& path) const {
  std::ofstream file(path, std::ios::binary);
  file << ToXml();
  file.close();
  if (!file)
    std::cerr << "Error: FlatPlateCalibration::DumpToFile - cannot write " << path.string() << '\n';
  return bool(file);
}

}  // namespace scan
