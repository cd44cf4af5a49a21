#include "surf/fusion/ShapeFusion.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>

#include "surf/mesh/CombineGeos.h"
#include "surf/files/MeshFormats.h"
#include "surf/mesh/MeshTools.h"
#include "v3d/GeoTools.h"
#include "v3d/LockGuard.h"

namespace surf {
namespace {

constexpr std::uint32_t kDisplayFlags = kRenderShowTextures | kRenderShowEdges | kRenderShowNormals;

std::string IndexError(const char* method, int index) {
  return std::string("ShapeFusion::") + method + " - Invalid scan index " + std::to_string(index) + ".";
}

// A texture of its own with the same image and properties.
std::shared_ptr<v3d::Texture> CopyTexture(const v3d::Texture& source) {
  auto copy = std::make_shared<v3d::Texture>();
  if (source.GetNumComponents() > 0) {
    copy->ChangeImage(source.GetWidth(), source.GetHeight(), source.GetFormat(), source.GetType(),
                      source.HasData() ? source.GetData().data() : nullptr);
    copy->SetFilters(source.GetMinFilter(), source.GetMagFilter());
    copy->SetEnvMode(source.GetEnvMode());
  }
  return copy;
}

// Vertex normals for triangle meshes that have none.
void AddMissingNormals(v3d::Geo& geo) {
  for (const auto& mesh : geo) {
    if (mesh->GetPrimSize() == 3 && !mesh->HasVertexNormals()) v3d::CalcVertexNormals(*mesh);
  }
}

std::size_t CountVertices(const v3d::Geo& geo) {
  std::size_t n = 0;
  for (const auto& mesh : geo) n += mesh->GetNumVertices();
  return n;
}

// The box of the geo's vertices in its parent's coordinates (the corners of
// its own box carried by the node frame).
void ParentBox(const v3d::Geo& geo, math::Vec3d& lo, math::Vec3d& hi) {
  math::Vec3d min, max;
  GetAxisAlignedBoundingBox(geo, min, max);
  for (int corner = 0; corner < 8; ++corner) {
    const math::Vec3d local(corner & 1 ? max[0] : min[0], corner & 2 ? max[1] : min[1], corner & 4 ? max[2] : min[2]);
    const math::Vec3d p = geo.GetFrame().MultP(local);
    for (int k = 0; k < 3; ++k) {
      lo[k] = corner == 0 ? p[k] : std::min(lo[k], p[k]);
      hi[k] = corner == 0 ? p[k] : std::max(hi[k], p[k]);
    }
  }
}

}  // namespace

ShapeFusion::ShapeFusion()
    : m_scene(std::make_unique<v3d::Scene>()), m_registration(std::make_unique<PairRegistration>(m_params.seed)) {}

ShapeFusion::~ShapeFusion() {
  // The scene lets go of the geos and textures it does not own; the list's
  // shared pointers release them afterwards.
  v3d::LockGuard lock;
  m_scene.reset();
}

void ShapeFusion::SetV3dClientWnd(v3d::Display* display) {
  v3d::LockGuard lock;
  m_scene->SetDisplay(display);
  Touch();
}

void ShapeFusion::Set3DViewParams(const ViewParams& params) {
  v3d::LockGuard lock;
  m_viewParams = params;
  auto apply = [&](const Placed& placed) {
    for (const auto& texture : placed.textures) texture->SetTextureResolutionLimit(params.textureResolutionLimit);
  };
  for (const Scan& scan : m_scans) apply(scan);
  if (m_fusionResult) apply(*m_fusionResult);
  Touch();
}

void ShapeFusion::SetShapeFusionParams(const ShapeFusionParams& params) {
  m_params = params;
  ResetRegistration();
}

// ---------------------------------------------------------------- slots

ShapeFusion::Placed* ShapeFusion::Find(int index) {
  if (index == kFusionResultIndex) return m_fusionResult ? &*m_fusionResult : nullptr;
  if (index < 0 || index >= GetNumGeos()) return nullptr;
  return &m_scans[static_cast<std::size_t>(index)];
}

const ShapeFusion::Placed* ShapeFusion::Find(int index) const {
  return const_cast<ShapeFusion*>(this)->Find(index);
}

ShapeFusion::Scan& ShapeFusion::At(int index, const char* method) {
  if (index < 0 || index >= GetNumGeos()) throw std::out_of_range(IndexError(method, index));
  return m_scans[static_cast<std::size_t>(index)];
}

ShapeFusion::Placed& ShapeFusion::PlacedAt(int index, const char* method) {
  Placed* placed = Find(index);
  if (!placed) throw std::out_of_range(IndexError(method, index));
  return *placed;
}

ShapeFusion::Placed ShapeFusion::Attach(GeoItem item) {
  if (!item.geo) throw std::invalid_argument("ShapeFusion::AddGeo - The item has no geo.");
  if (item.geo->GetScene() || item.geo->GetParent()) {
    throw std::invalid_argument("ShapeFusion::AddGeo - The geo is already part of a scene.");
  }
  v3d::LockGuard lock;
  m_scene->AddNode(item.geo.get());  // throws when the node table is full; nothing changed yet
  item.geo->SetRenderFlags((item.geo->GetRenderFlags() & ~kDisplayFlags) | m_displayFlags);

  Placed placed{item.geo, {}};
  std::vector<std::int32_t> slots(item.textures.size(), -1);
  for (std::size_t i = 0; i < item.textures.size(); ++i) {
    std::shared_ptr<v3d::Texture> texture = item.textures[i];
    if (!texture) continue;
    // A texture that already has a slot somewhere gets a copy of its own.
    if (texture->GetTextureID() >= 0) texture = CopyTexture(*texture);
    texture->SetTextureResolutionLimit(m_viewParams.textureResolutionLimit);
    const std::int32_t slot = m_scene->AddTexture(texture.get());
    if (slot < 0) {
      std::cerr << "Error: ShapeFusion::AddGeo - The scene has no free texture slot; a texture is left out.\n";
      continue;
    }
    slots[i] = slot;
    placed.textures.push_back(std::move(texture));
  }
  for (const auto& mesh : *item.geo) {
    const std::int32_t id = mesh->GetTextureID();
    mesh->SetTextureID(id >= 0 && static_cast<std::size_t>(id) < slots.size() ? slots[std::size_t(id)] : -1);
  }
  return placed;
}

void ShapeFusion::DetachTextures(Placed& placed) {
  v3d::LockGuard lock;
  for (const auto& texture : placed.textures) m_scene->RemoveTexture(texture.get());
  placed.textures.clear();
  for (const auto& mesh : *placed.geo) mesh->SetTextureID(-1);
}

void ShapeFusion::Detach(Placed& placed) {
  v3d::LockGuard lock;
  DetachTextures(placed);
  m_scene->RemoveNode(placed.geo.get());
}

int ShapeFusion::AppendScan(Placed placed, int position) {
  Scan scan;
  static_cast<Placed&>(scan) = std::move(placed);
  scan.fragment = std::make_unique<Fragment>();
  if (position < 0 || position > GetNumGeos()) position = GetNumGeos();
  m_scans.insert(m_scans.begin() + position, std::move(scan));
  RenumberFragments();
  ApplyColors();
  return position;
}

GeoItem ShapeFusion::ExportItem(const Placed& placed) const {
  GeoItem item{placed.geo, {}};
  for (const auto& texture : placed.textures) {
    const std::int32_t slot = texture->GetTextureID();
    if (slot < 0) continue;
    if (item.textures.size() <= static_cast<std::size_t>(slot)) item.textures.resize(std::size_t(slot) + 1);
    item.textures[std::size_t(slot)] = texture;
  }
  return item;
}

void ShapeFusion::RenumberFragments() {
  for (std::size_t i = 0; i < m_scans.size(); ++i) m_scans[i].fragment->SetId(static_cast<std::int32_t>(i));
}

void ShapeFusion::ResetRegistration() { m_registration = std::make_unique<PairRegistration>(m_params.seed); }

void ShapeFusion::ApplyColors() {
  v3d::LockGuard lock;
  for (const Scan& scan : m_scans) {
    const v3d::Color4ub color = GetScanColor(m_colors.Assign(scan.geo->GetGuid()));
    for (const auto& mesh : *scan.geo) mesh->SetGlobalColor(color);
  }
  Touch();
}

// ---------------------------------------------------------------- adding and storing

int ShapeFusion::AddGeo(const std::filesystem::path& path, const ImportOptions& options) {
  if (path.empty()) return -1;
  ScanListData loaded;
  const int result = AddGeoFromFile(loaded, path, options);
  if (result == kAddedFusionResult) {
    SetFusionResult(std::move(*loaded.fusionResult));
    return result;
  }
  if (result < 0) return result;
  GeoItem& item = loaded.scans.front();
  AddMissingNormals(*item.geo);
  return AddGeo(std::move(item));
}

int ShapeFusion::AddGeo(const std::vector<float>& vertices, const std::vector<std::uint32_t>& indices,
                        const std::vector<float>& textureCoordinates, const std::string& name) {
  std::cout << "Generate geometry..." << std::flush;
  std::shared_ptr<v3d::Geo> geo = MeshToGeo(vertices, indices, textureCoordinates, false);
  if (!geo) {
    std::cout << "\n";
    std::cerr << "Error: ShapeFusion::AddGeo - The mesh has no vertices or no triangles.\n";
    return -1;
  }
  v3d::CalcVertexNormals(*geo);
  geo->SetName(name.empty() ? "Scan_" + std::to_string(++m_scanNumber) : name);
  std::cout << "done.\n";
  return AddGeo(GeoItem{std::move(geo), {}});
}

int ShapeFusion::AddGeo(GeoItem item) {
  v3d::LockGuard lock;
  return AppendScan(Attach(std::move(item)));
}

bool ShapeFusion::SaveGeo_zentomesh(const std::filesystem::path& path, int geoIndex) const {
  return SaveGeoZentomesh(ExportScanListData(), path, geoIndex);
}

ScanListData ShapeFusion::ExportScanListData() const {
  ScanListData data;
  for (const Scan& scan : m_scans) data.scans.push_back(ExportItem(scan));
  if (m_fusionResult) data.fusionResult = ExportItem(*m_fusionResult);
  data.unfilteredFusionTriangles = m_unfilteredFusionTriangles;
  data.geoColorMap = m_colors.Get();
  return data;
}

bool ShapeFusion::SaveProject(const std::filesystem::path& path, const ProjectSaveOptions& options) const {
  return surf::SaveProject(path, ExportScanListData(), options);
}

std::size_t ShapeFusion::GetNumProjectItems() const {
  return m_scans.size() + (m_fusionResult ? 1 : 0) + (m_unfilteredFusionTriangles.empty() ? 0 : 1) + 1;
}

utils::ChunkNode::Ptr ShapeFusion::GetProjectItem(std::size_t i) const {
  return surf::GetProjectItem(ExportScanListData(), i);
}

void ShapeFusion::MergeLoaded(ScanListData&& loaded, const std::optional<GeoItem>& previousResult) {
  v3d::LockGuard lock;
  const std::size_t nodes = loaded.scans.size() + (loaded.fusionResult ? 1 : 0);
  if (static_cast<std::size_t>(m_scene->GetNumNodes()) + nodes > static_cast<std::size_t>(v3d::Scene::MAX_NUM_NODES)) {
    throw std::length_error("ShapeFusion::LoadProject - The scene cannot take " + std::to_string(nodes) +
                            " more geos.");
  }
  const bool newResult =
      loaded.fusionResult && (!previousResult || loaded.fusionResult->geo != previousResult->geo);
  if (newResult) SetFusionResult(std::move(*loaded.fusionResult));
  m_unfilteredFusionTriangles = std::move(loaded.unfilteredFusionTriangles);
  m_colors.Replace(std::move(loaded.geoColorMap));
  for (GeoItem& item : loaded.scans) AppendScan(Attach(std::move(item)));
  ApplyColors();
}

// The loaders start from the list's own fusion result, triangle list and
// colour map, so that what a project does not hold stays as it is.
bool ShapeFusion::LoadProject(const std::filesystem::path& path, const std::vector<ProjectItemModule*>& modules) {
  ScanListData data;
  if (m_fusionResult) data.fusionResult = ExportItem(*m_fusionResult);
  const std::optional<GeoItem> previous = data.fusionResult;
  data.unfilteredFusionTriangles = m_unfilteredFusionTriangles;
  data.geoColorMap = m_colors.Get();
  std::vector<utils::ChunkNode::Ptr> others;
  if (!surf::LoadProject(path, data, &others)) return false;
  try {
    MergeLoaded(std::move(data), previous);
  } catch (const std::length_error& e) {
    std::cerr << "Error: " << e.what() << "\n";
    return false;
  }
  for (const auto& tree : others) {
    for (ProjectItemModule* module : modules) {
      if (!module || !module->TakesProjectItem(tree->GetName())) continue;
      try {
        module->LoadProjectItem(*tree);
      } catch (const std::exception& e) {
        std::cerr << "Error: the \"" << tree->GetName() << "\" item of " << path.string()
                  << " could not be read and was left out (" << e.what() << ").\n";
      }
      break;
    }
  }
  return true;
}

void ShapeFusion::LoadProjectItem(const utils::ChunkNode& tree) {
  ScanListData data;
  if (m_fusionResult) data.fusionResult = ExportItem(*m_fusionResult);
  const std::optional<GeoItem> previous = data.fusionResult;
  data.unfilteredFusionTriangles = m_unfilteredFusionTriangles;
  data.geoColorMap = m_colors.Get();
  surf::LoadProjectItem(data, tree);
  MergeLoaded(std::move(data), previous);
}

// ---------------------------------------------------------------- editing

int ShapeFusion::DuplicateGeo(int index) {
  v3d::LockGuard lock;
  const Scan& source = At(index, "DuplicateGeo");
  const bool inverted = source.normalsInverted;
  GeoItem item{std::make_shared<v3d::Geo>(*source.geo), {}};
  item.geo->SetName(source.geo->GetName() + "_copy");
  std::map<std::int32_t, std::int32_t> localOfSlot;
  for (const auto& mesh : *item.geo) {
    const std::int32_t slot = mesh->GetTextureID();
    mesh->SetTextureID(-1);
    if (slot < 0) continue;
    if (!localOfSlot.contains(slot)) {
      const v3d::Texture* texture = m_scene->GetTexture(slot);
      if (!texture) continue;
      localOfSlot[slot] = static_cast<std::int32_t>(item.textures.size());
      item.textures.push_back(CopyTexture(*texture));
    }
    mesh->SetTextureID(localOfSlot[slot]);
  }
  const int copy = AppendScan(Attach(std::move(item)));
  m_scans[std::size_t(copy)].normalsInverted = inverted;
  return copy;
}

void ShapeFusion::RemoveGeo(int index) {
  v3d::LockGuard lock;
  Scan& scan = At(index, "RemoveGeo");
  Detach(scan);
  m_colors.Erase(scan.geo->GetGuid());
  m_scans.erase(m_scans.begin() + index);
  RenumberFragments();
  ResetRegistration();
  ApplyColors();
}

void ShapeFusion::SwapGeoIndices(int i, int j) {
  v3d::LockGuard lock;
  Scan& a = At(i, "SwapGeoIndices");
  Scan& b = At(j, "SwapGeoIndices");
  if (i != j) std::swap(a, b);
  RenumberFragments();
  Touch();
}

void ShapeFusion::InvertNormals(int index) {
  v3d::LockGuard lock;
  Scan& scan = At(index, "InvertNormals");
  for (const auto& mesh : *scan.geo) {
    if (mesh->HasVertexNormals()) {
      for (auto& n : mesh->mGetVertexNormals()) n = -n;
    }
    const std::uint32_t size = mesh->GetPrimSize();
    if (size != 3 && size != 4) continue;
    std::vector<std::uint32_t>& prims = mesh->mGetPrims();
    // (a, b, c) → (a, c, b); (a, b, c, d) → (a, d, c, b).
    for (std::size_t p = 0; p + size <= prims.size(); p += size) std::swap(prims[p + 1], prims[p + size - 1]);
  }
  scan.normalsInverted = !scan.normalsInverted;
  Touch();
}

bool ShapeFusion::GetNormalsInverted(int index) const {
  return const_cast<ShapeFusion*>(this)->At(index, "GetNormalsInverted").normalsInverted;
}

// ---------------------------------------------------------------- textures

bool ShapeFusion::AddTexture(int index, const img::RGBImage& image) {
  v3d::LockGuard lock;
  Placed& placed = PlacedAt(index, "AddTexture");
  DetachTextures(placed);
  Touch();
  if (image.IsEmpty()) return false;
  auto texture = std::make_shared<v3d::Texture>();
  texture->SetImage(image);
  texture->SetTextureResolutionLimit(m_viewParams.textureResolutionLimit);
  const std::int32_t slot = m_scene->AddTexture(texture.get());
  if (slot < 0) {
    std::cerr << "Error: ShapeFusion::AddTexture - The scene has no free texture slot.\n";
    return false;
  }
  placed.textures.push_back(std::move(texture));
  for (const auto& mesh : *placed.geo) mesh->SetTextureID(slot);
  return true;
}

void ShapeFusion::RemoveTexture(int index) {
  v3d::LockGuard lock;
  DetachTextures(PlacedAt(index, "RemoveTexture"));
  Touch();
}

bool ShapeFusion::HasTexture(int index) const {
  const Placed* placed = Find(index);
  if (!placed) throw std::out_of_range(IndexError("HasTexture", index));
  return std::any_of(placed->geo->begin(), placed->geo->end(),
                     [&](const auto& mesh) { return m_scene->GetTexture(mesh->GetTextureID()) != nullptr; });
}

img::RGBImage ShapeFusion::GetTextureImage(int index) const {
  const Placed* placed = Find(index);
  if (!placed) throw std::out_of_range(IndexError("GetTextureImage", index));
  for (const auto& mesh : *placed->geo) {
    if (const v3d::Texture* texture = m_scene->GetTexture(mesh->GetTextureID())) return TextureToImage(*texture);
  }
  return {};
}

// ---------------------------------------------------------------- look-ups

int ShapeFusion::NodeID2GeoIndex(std::int32_t nodeID) const {
  if (nodeID < 0) return kNoGeo;
  for (std::size_t i = 0; i < m_scans.size(); ++i) {
    if (m_scans[i].geo->GetNodeID() == nodeID) return static_cast<int>(i);
  }
  if (m_fusionResult && m_fusionResult->geo->GetNodeID() == nodeID) return kFusionResultIndex;
  return kNoGeo;
}

std::int32_t ShapeFusion::GeoIndex2NodeID(int index) const {
  const Placed* placed = Find(index);
  return placed ? placed->geo->GetNodeID() : -1;
}

v3d::Geo* ShapeFusion::GetGeo(int index) const {
  const Placed* placed = Find(index);
  return placed ? placed->geo.get() : nullptr;
}

v3d::Geo* ShapeFusion::GetGeoByNodeID(std::int32_t nodeID) const {
  const int index = NodeID2GeoIndex(nodeID);
  return index == kNoGeo ? nullptr : GetGeo(index);
}

Fragment* ShapeFusion::GetFragment(int index) const {
  if (index < 0 || index >= GetNumGeos()) return nullptr;
  return m_scans[std::size_t(index)].fragment.get();
}

// ---------------------------------------------------------------- combining

int ShapeFusion::CombineGeos(const std::vector<int>& indices) {
  v3d::LockGuard lock;
  std::vector<int> order;
  for (const int index : indices) {
    At(index, "CombineGeos");
    if (std::find(order.begin(), order.end(), index) == order.end()) order.push_back(index);
  }
  if (order.size() < 2) throw std::invalid_argument("ShapeFusion::CombineGeos - At least two scans are needed.");

  const Scan& first = m_scans[std::size_t(order.front())];
  Placed combined{std::make_shared<v3d::Geo>(), {}};
  v3d::Geo& target = *combined.geo;
  target.SetName(first.geo->GetName());
  target.SetFrame(first.geo->GetFrame());
  target.SetVisibility(first.geo->GetVisibility());
  const std::int32_t colorIndex = m_colors.Find(first.geo->GetGuid());
  for (const int index : order) {
    const Scan& scan = m_scans[std::size_t(index)];
    const std::size_t before = target.GetNumMeshes();
    surf::CombineGeos_MultipleSurfaces(target, *scan.geo);
    const math::Frame4d rotation = target.GetFrame().GetInverse() * scan.geo->GetFrame();
    for (std::size_t k = 0; k < scan.geo->GetNumMeshes(); ++k) {
      const v3d::Mesh& from = *scan.geo->GetMesh(std::int64_t(k));
      v3d::Mesh& to = *target.GetMesh(std::int64_t(before + k));
      if (from.HasVertexNormals()) {
        to.AddVertexNormals();
        auto& normals = to.mGetVertexNormals();
        for (std::size_t v = 0; v < normals.size(); ++v) normals[v] = rotation.MultV(from.GetVertexNormals()[v]);
      }
      if (from.HasVertexColors()) {
        to.AddVertexColors();
        to.mGetVertexColors() = from.GetVertexColors();
      }
      if (from.HasVertexQualities()) {
        to.AddVertexQualities();
        to.mGetVertexQualities() = from.GetVertexQualities();
      }
      to.Surface::SetName(from.Surface::GetName());
      to.SetTag(from.GetTag());
      to.SetTextureID(from.GetTextureID());  // the slot travels with the texture
    }
  }
  for (const int index : order) {
    Scan& scan = m_scans[std::size_t(index)];
    for (auto& texture : scan.textures) combined.textures.push_back(std::move(texture));
    scan.textures.clear();
  }

  std::vector<int> descending = order;
  std::sort(descending.rbegin(), descending.rend());
  for (const int index : descending) {
    Scan& scan = m_scans[std::size_t(index)];
    m_scene->RemoveNode(scan.geo.get());
    m_colors.Erase(scan.geo->GetGuid());
    m_scans.erase(m_scans.begin() + index);
  }
  m_scene->AddNode(combined.geo.get());
  combined.geo->SetRenderFlags(m_displayFlags);
  if (colorIndex >= 0) m_colors.Set(combined.geo->GetGuid(), colorIndex);
  ResetRegistration();
  return AppendScan(std::move(combined), descending.back());
}

int ShapeFusion::UncombineGeo(int index) {
  v3d::LockGuard lock;
  Scan& scan = At(index, "UncombineGeo");
  if (scan.geo->GetNumMeshes() < 2) return 0;
  std::vector<Placed> pieces;
  std::set<const v3d::Texture*> taken;
  for (std::size_t k = 0; k < scan.geo->GetNumMeshes(); ++k) {
    const v3d::Mesh& from = *scan.geo->GetMesh(std::int64_t(k));
    Placed piece{std::make_shared<v3d::Geo>(), {}};
    piece.geo->SetName(scan.geo->GetName() + "_" + std::to_string(k + 1));
    piece.geo->SetFrame(scan.geo->GetFrame());
    piece.geo->SetVisibility(scan.geo->GetVisibility());
    v3d::Mesh& to = *piece.geo->AddMesh(from.GetPrimSize());
    to.GetVertexBuffer() = from.GetVertexBuffer();
    to.mGetPrims() = from.GetPrims();
    to.Surface::SetName(from.Surface::GetName());
    to.SetTag(from.GetTag());
    const auto texture = std::find_if(scan.textures.begin(), scan.textures.end(), [&](const auto& t) {
      return t->GetTextureID() >= 0 && t->GetTextureID() == from.GetTextureID();
    });
    if (texture != scan.textures.end()) {
      // A texture shared by several meshes goes to the first piece; the
      // others get copies in slots of their own.
      std::shared_ptr<v3d::Texture> own = *texture;
      if (!taken.insert(own.get()).second) {
        own = CopyTexture(**texture);
        own->SetTextureResolutionLimit(m_viewParams.textureResolutionLimit);
        if (m_scene->AddTexture(own.get()) < 0) {
          std::cerr << "Error: ShapeFusion::UncombineGeo - The scene has no free texture slot.\n";
          own.reset();
        }
      }
      if (own) {
        to.SetTextureID(own->GetTextureID());
        piece.textures.push_back(std::move(own));
      }
    }
    pieces.push_back(std::move(piece));
  }
  for (const auto& texture : scan.textures) {
    if (!taken.contains(texture.get())) m_scene->RemoveTexture(texture.get());
  }
  const std::int32_t colorIndex = m_colors.Find(scan.geo->GetGuid());
  m_scene->RemoveNode(scan.geo.get());
  m_colors.Erase(scan.geo->GetGuid());
  m_scans.erase(m_scans.begin() + index);
  if (colorIndex >= 0) m_colors.Set(pieces.front().geo->GetGuid(), colorIndex);
  const int count = static_cast<int>(pieces.size());
  for (int k = 0; k < count; ++k) {
    Placed& piece = pieces[std::size_t(k)];
    m_scene->AddNode(piece.geo.get());
    piece.geo->SetRenderFlags(m_displayFlags);
    AppendScan(std::move(piece), index + k);
  }
  ResetRegistration();
  return count;
}

bool ShapeFusion::MoveToFreePosition(int index) {
  v3d::LockGuard lock;
  Scan& scan = At(index, "MoveToFreePosition");
  if (CountVertices(*scan.geo) == 0) return false;
  bool any = false;
  math::Vec3d lo, hi;
  for (const Scan& other : m_scans) {
    if (&other == &scan || CountVertices(*other.geo) == 0) continue;
    math::Vec3d a, b;
    ParentBox(*other.geo, a, b);
    for (int k = 0; k < 3; ++k) {
      lo[k] = any ? std::min(lo[k], a[k]) : a[k];
      hi[k] = any ? std::max(hi[k], b[k]) : b[k];
    }
    any = true;
  }
  if (!any) return false;
  math::Vec3d ownLo, ownHi;
  ParentBox(*scan.geo, ownLo, ownHi);
  const math::Vec3d extent = ownHi - ownLo;
  const double gap = 0.1 * std::max({extent[0], extent[1], extent[2]});
  const math::Vec3d shift(hi[0] + gap - ownLo[0], 0.5 * (lo[1] + hi[1] - ownLo[1] - ownHi[1]),
                          0.5 * (lo[2] + hi[2] - ownLo[2] - ownHi[2]));
  scan.geo->SetFrame(math::FTrans(shift) * scan.geo->GetFrame());
  Touch();
  return true;
}

// ---------------------------------------------------------------- alignment

bool ShapeFusion::CheckPair(int indexA, int indexB, const char* method) const {
  const char* problem = nullptr;
  if (GetNumGeos() < 2) {
    problem = "At least two scans are needed.";
  } else if (indexA < 0 || indexA >= GetNumGeos() || indexB < 0 || indexB >= GetNumGeos()) {
    problem = "Invalid scan index.";
  } else if (indexA == indexB) {
    problem = "Scans A and B are the same scan.";
  }
  if (problem) std::cerr << "Error: ShapeFusion::" << method << " - " << problem << "\n";
  return !problem;
}

AlignScan ShapeFusion::MakeAlignScan(int index, const FragmentOptions& options, img::RGBImage& texture) {
  Scan& scan = m_scans[std::size_t(index)];
  AlignScan align{scan.geo.get(), scan.fragment.get(), {}};
  if (options.useTexture) texture = GetTextureImage(index);
  align.prepare.useTexture = options.useTexture && !texture.IsEmpty();
  align.prepare.texture = align.prepare.useTexture ? &texture : nullptr;
  align.prepare.useTexturePercentage = m_params.useTexturePercentage;
  align.prepare.useSurfaceFeatures = options.useSurfaceFeatures;
  align.prepare.normalSmoothingPasses = options.normalSmoothingPasses;
  align.prepare.shuffleSeed = m_params.seed == 0 ? 0 : m_params.seed + static_cast<std::uint64_t>(index);
  return align;
}

double ShapeFusion::CoarseRegistration(int indexA, int indexB, bool keepPrepared,
                                       const CoarseRegistrationParams& params, const FragmentOptions& options,
                                       const utils::ProgressCallback& progress) {
  if (!CheckPair(indexA, indexB, "CoarseRegistration")) return 0.0;
  img::RGBImage textureA, textureB;
  const AlignScan a = MakeAlignScan(indexA, options, textureA);
  const AlignScan b = MakeAlignScan(indexB, options, textureB);
  return m_registration->CoarseRegistration(a, b, keepPrepared, params, progress);
}

PairAlignmentInfo ShapeFusion::FineRegistration(int indexA, int indexB, bool keepPrepared, const IcpParams& params,
                                                const FragmentOptions& options) {
  if (!CheckPair(indexA, indexB, "FineRegistration")) return {};
  img::RGBImage textureA, textureB;
  const AlignScan a = MakeAlignScan(indexA, options, textureA);
  const AlignScan b = MakeAlignScan(indexB, options, textureB);
  return m_registration->FineRegistration(a, b, keepPrepared, params);
}

GlobalFineResult ShapeFusion::GlobalFineRegistration(const utils::ProgressCallback& progress) {
  return GlobalFineRegistration(m_params.globalFine, progress);
}

GlobalFineResult ShapeFusion::GlobalFineRegistration(const GlobalFineParams& params,
                                                     const utils::ProgressCallback& progress) {
  std::vector<AlignScan> scans;
  std::vector<img::RGBImage> unused(m_scans.size());
  for (int i = 0; i < GetNumGeos(); ++i) scans.push_back(MakeAlignScan(i, {}, unused[std::size_t(i)]));
  return surf::GlobalFineRegistration(scans, params, progress);
}

// ---------------------------------------------------------------- node state

void ShapeFusion::SetGeoSelected(int index, bool selected) {
  v3d::LockGuard lock;
  PlacedAt(index, "SetGeoSelected").geo->SetSelected(selected);
  Touch();
}

void ShapeFusion::SetGeoVisibility(int index, std::uint32_t state) {
  v3d::LockGuard lock;
  PlacedAt(index, "SetGeoVisibility").geo->SetVisibility(state);
  Touch();
}

void ShapeFusion::SetGlobalVisibility(std::uint32_t mask) {
  v3d::LockGuard lock;
  m_scene->SetGlobalVisibility(mask);
  Touch();
}

void ShapeFusion::SetGeoFrame(int index, const math::Frame4d& frame) {
  v3d::LockGuard lock;
  PlacedAt(index, "SetGeoFrame").geo->SetFrame(frame);
  Touch();
}

int ShapeFusion::ChangeGeoColor(int index) {
  v3d::LockGuard lock;
  const int color = m_colors.Change(At(index, "ChangeGeoColor").geo->GetGuid());
  ApplyColors();
  return color;
}

int ShapeFusion::GetGeoColorIndex(int index) const {
  const Placed* placed = index >= 0 ? Find(index) : nullptr;
  if (!placed) throw std::out_of_range(IndexError("GetGeoColorIndex", index));
  return m_colors.Find(placed->geo->GetGuid());
}

void ShapeFusion::SetDisplayFlag(std::uint32_t flag, bool on) {
  v3d::LockGuard lock;
  m_displayFlags = on ? m_displayFlags | flag : m_displayFlags & ~flag;
  auto apply = [&](const Placed& placed) {
    const std::uint32_t flags = placed.geo->GetRenderFlags();
    placed.geo->SetRenderFlags(on ? flags | flag : flags & ~flag);
  };
  for (const Scan& scan : m_scans) apply(scan);
  if (m_fusionResult) apply(*m_fusionResult);
  Touch();
}

void ShapeFusion::SyncShowTextures(bool on) { SetDisplayFlag(kRenderShowTextures, on); }
void ShapeFusion::SyncShowNormals(bool on) { SetDisplayFlag(kRenderShowNormals, on); }
void ShapeFusion::SyncShowEdges(bool on) { SetDisplayFlag(kRenderShowEdges, on); }

// ---------------------------------------------------------------- undo

FrameSnapshot ShapeFusion::TakeFrames() const {
  FrameSnapshot frames;
  for (const Scan& scan : m_scans) frames[scan.geo->GetGuid()] = scan.geo->GetFrame();
  if (m_fusionResult) frames[m_fusionResult->geo->GetGuid()] = m_fusionResult->geo->GetFrame();
  return frames;
}

void ShapeFusion::RestoreFrames(const FrameSnapshot& frames) {
  v3d::LockGuard lock;
  auto restore = [&](const Placed& placed) {
    const auto it = frames.find(placed.geo->GetGuid());
    if (it != frames.end() && !(it->second == placed.geo->GetFrame())) placed.geo->SetFrame(it->second);
  };
  for (const Scan& scan : m_scans) restore(scan);
  if (m_fusionResult) restore(*m_fusionResult);
  Touch();
}

void ShapeFusion::RememberCurrentFramesForUndo() { m_history.Remember(TakeFrames()); }

bool ShapeFusion::Undo() {
  FrameSnapshot restore;
  if (!m_history.Undo(TakeFrames(), restore)) return false;
  RestoreFrames(restore);
  return true;
}

bool ShapeFusion::Redo() {
  FrameSnapshot restore;
  if (!m_history.Redo(TakeFrames(), restore)) return false;
  RestoreFrames(restore);
  return true;
}

// ---------------------------------------------------------------- fusion result

void ShapeFusion::SetFusionResult(GeoItem item) {
  v3d::LockGuard lock;
  if (item.geo && (item.geo->GetScene() || item.geo->GetParent())) {
    throw std::invalid_argument("ShapeFusion::SetFusionResult - The geo is already part of a scene.");
  }
  if (m_fusionResult) {
    Detach(*m_fusionResult);
    m_fusionResult.reset();
  }
  if (item.geo) m_fusionResult = Attach(std::move(item));
  Touch();
}

}  // namespace surf
