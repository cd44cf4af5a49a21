#include "CamCalib/Interface.h"

namespace CamCalib {
namespace {

constexpr const char* kInit = "__CamCalib::Interface::Init__";
constexpr const char* kExtract = "__CamCalib::Interface::ExtractEllipses__";
constexpr const char* kMap = "__CamCalib::Interface::MapEllipses__";

}  // namespace

Interface::Interface() {
  m_curves.SetMessages(&m_messages);
  m_fitting.SetMessages(&m_messages);
  m_mapper.SetMessages(&m_messages);
}

void Interface::ClearResults() {
  m_imagePoints.clear();
  m_nodes.clear();
  m_platePoints.clear();
  m_worldPoints.clear();
  m_nodeEllipses.clear();
}

bool Interface::Init(const Parameters& parameters) {
  m_state = 0;
  m_haveEllipses = false;
  m_messages.Clear();
  ClearResults();
  m_parameters = parameters;
  if (!m_curves.Init(parameters)) {
    m_messages.Report(kInit, "Could not init CurveExtractor.");
    return false;
  }
  m_fitting.Init(parameters);
  if (!m_mapper.Init(parameters.cornerTolerance, parameters.tripleRatio, parameters.width,
                     parameters.height)) {
    m_messages.Report(kInit, "Could not init GridMapEllipses.");
    return false;
  }
  m_state = 1;
  return true;
}

bool Interface::ExtractEllipses(const img::UniImage<std::uint8_t>& image) {
  m_messages.Clear();
  ClearResults();
  m_haveEllipses = false;
  if (m_state < 1) {
    m_messages.Report(kExtract, "Minimum required state: STATE_INIT.");
    return false;
  }
  // A new image: the fit's lists are replaced, the mapper forgets the last.
  m_mapper.Init(m_parameters.cornerTolerance, m_parameters.tripleRatio, m_parameters.width,
                m_parameters.height);
  if (!m_curves.Process(image)) {
    m_fitting.Clear();
    m_messages.Report(kExtract, "Could not extract curves from image.");
    return false;
  }
  if (!m_fitting.Process(m_curves.GetCurves(), m_curves.GetGradientX(), m_curves.GetGradientY())) {
    m_messages.Report(kExtract, "Could not extract enough ellipses from image.");
    return false;
  }
  if (!m_mapper.SetEllipses(m_fitting.GetEllipses(), m_fitting.GetPolarities())) {
    m_messages.Report(kExtract, "Could not set ellipses for grid mapping.");
    return false;
  }
  m_haveEllipses = true;
  return true;
}

bool Interface::MapEllipses(const CalibGrid& grid) {
  ClearResults();
  // The points again: a mapping that failed leaves the mapper below the
  // state a new grid needs.
  if (!m_haveEllipses ||
      !m_mapper.SetEllipses(m_fitting.GetEllipses(), m_fitting.GetPolarities()) ||
      !m_mapper.SetCalibGrid(grid)) {
    m_messages.Report(kMap, "Could not setup grid for CalibGrid");
    return false;
  }
  if (!m_mapper.Process()) {
    m_messages.Report(kMap, "Could not map ellipses to grid for CalibGrid");
    return false;
  }
  if (!m_mapper.GetCorrespondences(grid, m_parameters.centreMode, m_imagePoints, m_nodes,
                                   m_platePoints, m_worldPoints)) {
    ClearResults();
    m_messages.Report(kMap, "Could not get centers from ellipses");
    return false;
  }
  for (const auto& n : m_nodes) m_nodeEllipses.push_back(m_mapper.GetNode(n[0], n[1]));
  return true;
}

std::vector<math::Vec2d> Interface::GetEllipseCentres() const {
  std::vector<math::Vec2d> centres;
  for (const auto& e : GetEllipses()) centres.push_back(e.Centre());
  return centres;
}

}  // namespace CamCalib
