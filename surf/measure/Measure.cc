#include "surf/measure/Measure.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>

#include "surf/measure/ClosestPoint.h"
#include "surf/measure/DeviationColors.h"
#include "v3d/LockGuard.h"

namespace surf {
namespace {

// The triangle meshes of a geo, searchable in the geo's own coordinates.
using MeshSearches = std::vector<std::unique_ptr<TriangleSearch>>;

MeshSearches SearchesOf(const v3d::Geo& geo) {
  MeshSearches searches;
  for (const auto& mesh : geo) {
    if (mesh->GetPrimSize() != 3 || mesh->GetNumPrims() == 0) continue;
    searches.push_back(std::make_unique<TriangleSearch>(
        mesh->GetVertexCoords(), mesh->GetVertexNormals(), mesh->GetPrims()));
  }
  return searches;
}

std::string FrameText(const math::Frame4d& frame) {
  std::ostringstream text;
  text.precision(17);
  for (int i = 0; i < 16; ++i) text << ' ' << frame.data()[i];
  return text.str();
}

std::string ObjectKey(const v3d::Geo& geo) {
  return geo.GetGuid().ToString() + " " + geo.ToString() + FrameText(geo.GetWorldFrame());
}

}  // namespace

Measure::Measure(v3d::Scene& scene) : m_scene(scene), m_listener(&scene) {}

Measure::~Measure() {
  v3d::LockGuard lock;
  DiscardComparison();
  m_listener.DeleteAllDataTips();
}

v3d::Geo* Measure::ResolveGeo(std::int32_t nodeID) const {
  if (nodeID < 0 || nodeID >= v3d::Scene::MAX_NUM_NODES) return nullptr;
  v3d::Node* node = m_scene.GetNode(nodeID);
  if (!node || dynamic_cast<ReferenceMarker*>(node)) return nullptr;
  return dynamic_cast<v3d::Geo*>(node);
}

std::int32_t Measure::FindGeoByGuid(const std::optional<utils::Guid>& guid) const {
  if (!guid) return -1;
  for (v3d::Node* node : m_scene.GetNodes()) {
    if (ResolveGeo(node->GetNodeID()) && node->GetGuid() == *guid) return node->GetNodeID();
  }
  return -1;
}

std::optional<utils::Guid> Measure::GuidOf(std::int32_t nodeID) const {
  const v3d::Geo* geo = ResolveGeo(nodeID);
  if (!geo) return std::nullopt;
  return geo->GetGuid();
}

void Measure::InitMeasure() {
  v3d::LockGuard lock;
  DiscardComparison();
  m_listener.DeleteAllDataTips();
  m_markerIDs.clear();
  m_markerKeys.clear();
  m_distances.clear();
  m_referenceID = m_testID = -1;
  m_viewNodeIDs.clear();
  m_tolerance = kDefaultTolerance;
  Changed();
}

void Measure::SyncShowColorBar(bool show) {
  if (show == m_showColorBar) return;
  m_showColorBar = show;
  Changed();
}

void Measure::SetReferenceObject(std::int32_t nodeID) {
  nodeID = std::max(nodeID, -1);
  if (nodeID == m_referenceID) return;
  v3d::LockGuard lock;
  m_referenceID = nodeID;
  m_viewNodeIDs = nodeID >= 0 ? std::vector<std::int32_t>{nodeID} : std::vector<std::int32_t>{};
  DiscardComparison();
  m_listener.DeleteAllDataTips();
  m_markerIDs.clear();
  m_markerKeys.clear();
  m_scene.Redraw();
  Changed();
  UpdateReferenceMarkers(true);
}

void Measure::SetTestObject(std::int32_t nodeID) {
  nodeID = std::max(nodeID, -1);
  if (nodeID == m_testID) return;
  v3d::LockGuard lock;
  m_testID = nodeID;
  UpdateReferenceMarkers(false);
  DiscardComparison();
  Changed();
}

ReferenceMarker* Measure::GetReferenceMarker(std::size_t index) const {
  return index < m_markerIDs.size() ? m_listener.GetDataTip(m_markerIDs[index]) : nullptr;
}

ReferenceMarker* Measure::AddReferenceMarker(const math::Vec3f& position, std::int32_t parentID) {
  v3d::LockGuard lock;
  ReferenceMarker* marker = m_listener.NewDataTip(position, parentID);
  if (!marker) return nullptr;
  m_markerIDs.push_back(marker->GetNodeID());
  m_markerKeys.emplace_back();
  UpdateReferenceMarkers(false);
  return marker;
}

void Measure::DeleteSelectedReferenceMarkers() {
  v3d::LockGuard lock;
  bool deleted = false;
  for (std::size_t i = m_markerIDs.size(); i-- > 0;) {
    const ReferenceMarker* marker = m_listener.GetDataTip(m_markerIDs[i]);
    if (marker && !marker->IsSelected()) continue;
    m_listener.RemoveDataTip(m_markerIDs[i]);
    m_markerIDs.erase(m_markerIDs.begin() + std::ptrdiff_t(i));
    m_markerKeys.erase(m_markerKeys.begin() + std::ptrdiff_t(i));
    deleted = true;
  }
  if (deleted) {
    m_scene.Redraw();
    Changed();
  }
}

void Measure::UpdateReferenceMarkers(bool force) {
  v3d::LockGuard lock;
  const v3d::Geo* test = GetTestObject();
  const v3d::Geo* reference = GetReferenceObject();
  std::map<const v3d::Geo*, MeshSearches> searches;
  for (std::size_t i = 0; i < m_markerIDs.size(); ++i) {
    ReferenceMarker* marker = m_listener.GetDataTip(m_markerIDs[i]);
    if (!marker) continue;
    const auto* parent = dynamic_cast<const v3d::Geo*>(marker->GetParent());
    const v3d::Geo* other = parent == test ? reference : test;
    const std::string key = std::to_string(m_tolerance) + " " +
                            (other ? ObjectKey(*other) : std::string("none")) +
                            (parent ? FrameText(parent->GetWorldFrame()) : std::string());
    if (!force && key == m_markerKeys[i]) continue;
    m_markerKeys[i] = key;
    if (!other || !parent) {
      marker->ClearDistance(m_tolerance);
      continue;
    }
    auto found = searches.find(other);
    if (found == searches.end()) found = searches.emplace(other, SearchesOf(*other)).first;
    // The marker in the other object's coordinates.
    const math::Frame4d otherFromParent =
        other->GetWorldFrame().GetInverse() * parent->GetWorldFrame();
    const math::Vec3f q(otherFromParent.MultP(math::Vec3d(marker->GetPosition())));
    bool any = false;
    TriangleSearch::Hit best;
    for (const auto& search : found->second) {
      TriangleSearch::Hit hit;
      if (search->FindClosest(q, any ? best.distance : std::numeric_limits<float>::max(), hit)) {
        best = hit;
        any = true;
      }
    }
    if (!any) {
      marker->ClearDistance(m_tolerance);
    } else {
      marker->SetDistance(
          math::Dot(q - best.point, best.normal) < 0 ? -best.distance : best.distance, m_tolerance);
    }
  }
  m_scene.Redraw();
  Changed();
}

std::string Measure::MakeComparisonKey() const {
  const v3d::Geo* test = GetTestObject();
  const v3d::Geo* reference = GetReferenceObject();
  if (!test || !reference) return {};
  return ObjectKey(*test) + " | " + ObjectKey(*reference);
}

void Measure::CheckComparisonValid() {
  v3d::LockGuard lock;
  if (!GetTestObject() || !GetReferenceObject() || !m_comparison) return;
  if (MakeComparisonKey() == m_comparisonKey) return;
  UpdateReferenceMarkers(true);
  DiscardComparison();
}

void Measure::SyncComparisonTolerance(float tolerance) {
  if (!(tolerance > 0.f) || !std::isfinite(tolerance)) {
    throw std::invalid_argument(
        "Measure::SyncComparisonTolerance - The tolerance must be a number above 0 mm, not " +
        std::to_string(tolerance) + ".");
  }
  if (tolerance == m_tolerance) return;
  m_tolerance = tolerance;
  Changed();
  UpdateReferenceMarkers(false);
}

void Measure::DiscardComparison() {
  if (v3d::Geo* geo = ResolveGeo(m_colouredID);
      geo && geo->GetNumMeshes() == m_savedColors.size()) {
    for (std::size_t m = 0; m < m_savedColors.size(); ++m) {
      v3d::Mesh& mesh = *geo->GetMesh(std::int64_t(m));
      if (m_savedColors[m]) {
        mesh.mGetVertexColors() = *m_savedColors[m];
      } else {
        mesh.RemoveVertexColors();
      }
    }
    m_scene.Redraw();
  }
  m_colouredID = -1;
  m_savedColors.clear();
  for (const std::int32_t id : m_featureIDs) m_listener.RemoveDataTip(id);
  m_featureIDs.clear();
  if (m_comparison) Changed();
  m_comparison.reset();
  m_reportData = {};
  m_comparisonKey.clear();
}

bool Measure::Compare(const CompareOptions& options) {
  v3d::LockGuard lock;
  v3d::Geo* test = GetTestObject();
  const v3d::Geo* reference = GetReferenceObject();
  if (!test || !reference) return false;
  ComparisonOptions comparisonOptions;
  comparisonOptions.tolerance = m_tolerance;
  comparisonOptions.method = options.method;
  comparisonOptions.detectFeatures = options.detectFeatures;
  comparisonOptions.progress = options.progress;
  auto comparison =
      std::make_unique<Comparison>(CompareObjects(*test, *reference, comparisonOptions));
  if (comparison->cancelled) return false;
  DiscardComparison();

  // The deviations as the test object's vertex colours.
  m_colouredID = m_testID;
  for (std::size_t m = 0; m < test->GetNumMeshes(); ++m) {
    v3d::Mesh& mesh = *test->GetMesh(std::int64_t(m));
    m_savedColors.push_back(mesh.HasVertexColors() ? std::optional(mesh.GetVertexColors())
                                                   : std::nullopt);
    const std::vector<float>& values = comparison->deviations.perMesh[m];
    std::vector<v3d::Color4ub>& colors = mesh.mGetVertexColors();
    colors.resize(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
      colors[i] = DeviationColor(values[i], m_tolerance);
  }

  // One marker per reported feature, below the test object.
  m_reportData = MakeReportData(*comparison, test->GetName(), reference->GetName());
  const math::Frame4d local = test->GetWorldFrame().GetInverse();
  const auto addMarker = [&](const math::Vec3d& world, const std::string& label) {
    if (ReferenceMarker* marker =
            m_listener.NewDataTip(math::Vec3f(local.MultP(world)), m_testID)) {
      marker->SetLabel(label);
      m_featureIDs.push_back(marker->GetNodeID());
    }
  };
  int number = 0;
  for (const PlaneFeature& plane : comparison->features.planes)
    if (plane.points.size() >= 10) addMarker(plane.point, "Plane " + std::to_string(++number));
  number = 0;
  for (const SphereFeature& sphere : comparison->features.spheres) {
    if (sphere.points.size() < 10) continue;
    std::ostringstream label;
    label << "Sphere " << ++number << ": diameter " << 2 * sphere.radius << " mm";
    addMarker(sphere.centre, label.str());
  }
  m_comparison = std::move(comparison);
  m_comparisonKey = MakeComparisonKey();
  m_scene.Redraw();
  Changed();
  if (m_reportPath.empty()) return true;
  return WriteMeasureReport(m_reportPath, m_reportData);
}

MeasureReportData Measure::GetReportData() const { return m_reportData; }

std::vector<ReferenceMarker*> Measure::GetFeatureMarkers() const {
  std::vector<ReferenceMarker*> markers;
  for (const std::int32_t id : m_featureIDs)
    if (ReferenceMarker* marker = m_listener.GetDataTip(id)) markers.push_back(marker);
  return markers;
}

int Measure::AddDistanceAB(const math::Vec3f& positionA, std::int32_t parentA,
                           const math::Vec3f& positionB, std::int32_t parentB) {
  v3d::LockGuard lock;
  if (!ResolveGeo(parentA) || !ResolveGeo(parentB)) {
    std::cerr << "Error in LinkListener::NewLink: Could not create one of the data tips."
              << std::endl;
    return -1;
  }
  m_distances.push_back({parentA, parentB, positionA, positionB});
  Changed();
  return int(m_distances.size()) - 1;
}

void Measure::DeleteDistancesAB() {
  if (m_distances.empty()) return;
  m_distances.clear();
  Changed();
}

std::optional<double> Measure::GetDistanceABLength(std::size_t i) const {
  v3d::LockGuard lock;
  if (i >= m_distances.size()) return std::nullopt;
  const DistanceAB& d = m_distances[i];
  const v3d::Geo* a = ResolveGeo(d.parentA);
  const v3d::Geo* b = ResolveGeo(d.parentB);
  if (!a || !b) return std::nullopt;
  return (a->GetWorldFrame().MultP(math::Vec3d(d.positionA)) -
          b->GetWorldFrame().MultP(math::Vec3d(d.positionB)))
      .Length();
}

utils::ChunkNode::Ptr Measure::GetProjectItem(std::size_t i) const {
  if (i != 0)
    throw std::out_of_range("Measure::GetProjectItem - Invalid item index " + std::to_string(i) +
                            ".");
  v3d::LockGuard lock;
  MeasureTreeData data;
  data.testObject = GuidOf(m_testID);
  data.referenceObject = GuidOf(m_referenceID);
  data.comparisonTolerance = m_tolerance;
  for (std::size_t k = 0; k < m_markerIDs.size(); ++k) {
    const ReferenceMarker* marker = m_listener.GetDataTip(m_markerIDs[k]);
    if (!marker) continue;
    MeasureTreeData::Marker record;
    if (const v3d::Node* parent = marker->GetParent()) record.parent = GuidOf(parent->GetNodeID());
    record.position = marker->GetPosition();
    record.distance = marker->GetDistance();
    record.distanceValid = marker->IsDistanceValid();
    record.tolerance = marker->GetTolerance();
    data.markers.push_back(record);
  }
  for (const DistanceAB& d : m_distances) {
    data.links.push_back({GuidOf(d.parentA), GuidOf(d.parentB), d.positionA, d.positionB});
  }
  return WriteMeasureTree(data);
}

void Measure::LoadProjectItem(const utils::ChunkNode& tree) {
  const std::optional<MeasureTreeData> data =
      ReadMeasureTree(tree);  // throws before anything changes
  if (!data) return;
  v3d::LockGuard lock;
  InitMeasure();
  if (data->comparisonTolerance > 0.f && std::isfinite(data->comparisonTolerance)) {
    m_tolerance = data->comparisonTolerance;
  } else {
    std::cerr << "Error: the stored comparison tolerance " << data->comparisonTolerance
              << " is not a number above 0; the default " << kDefaultTolerance << " mm is used.\n";
  }
  SetTestObject(FindGeoByGuid(data->testObject));
  SetReferenceObject(FindGeoByGuid(data->referenceObject));
  for (const auto& record : data->markers) {
    ReferenceMarker* marker = m_listener.NewDataTip(record.position, FindGeoByGuid(record.parent));
    if (!marker) continue;
    marker->SetStoredDistance(record.distance, record.distanceValid, record.tolerance);
    m_markerIDs.push_back(marker->GetNodeID());
    m_markerKeys.emplace_back();
  }
  for (const auto& link : data->links) {
    AddDistanceAB(link.positionA, FindGeoByGuid(link.parentA), link.positionB,
                  FindGeoByGuid(link.parentB));
  }
  Changed();
}

}  // namespace surf
