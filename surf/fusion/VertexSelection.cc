#include "surf/fusion/VertexSelection.h"

#include <cmath>
#include <vector>

#include "surf/mesh/IndexMapping.h"
#include "v3d/LockGuard.h"
#include "v3d/Scene.h"

namespace surf {
namespace {

bool Selected(const v3d::Color4ub& c, const v3d::Color4ub& selection) {
  return c.r == selection.r && c.g == selection.g && c.b == selection.b;
}

// Calls f(geo) for every Geo in the tree below (and including) node whose
// visibility mask meets groupMask.
template <typename F>
void ForEachGeo(v3d::Node& node, std::uint32_t groupMask, F&& f) {
  std::vector<v3d::Node*> stack{&node};
  while (!stack.empty()) {
    v3d::Node* current = stack.back();
    stack.pop_back();
    const auto& children = current->GetChildren();
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    auto* geo = dynamic_cast<v3d::Geo*>(current);
    if (geo && (groupMask == kAllGroups || (geo->GetVisibility() & groupMask) != 0)) f(*geo);
  }
}

void Touch(const v3d::Node& node) {
  if (v3d::Scene* scene = node.GetScene()) scene->Redraw();
}

}  // namespace

std::size_t ColorAllGeosByBitmapMask(v3d::Node& node, const img::GreyImage& mask, const v3d::Color4ub& selectionColor,
                                     const math::Mat<4, 4, double>& clipTWorld, std::uint32_t groupMask) {
  v3d::LockGuard lock;
  const double width = mask.width, height = mask.height;
  std::size_t hits = 0;
  ForEachGeo(node, groupMask, [&](v3d::Geo& geo) {
    const math::Mat<4, 4, double> clipTGeo = clipTWorld * geo.GetWorldFrame();
    for (const auto& mesh : geo) {
      std::vector<std::uint32_t> inside;
      const auto& positions = mesh->GetVertexCoords();
      for (std::size_t i = 0; i < positions.size(); ++i) {
        const math::Vec<4, double> p{double(positions[i][0]), double(positions[i][1]), double(positions[i][2]), 1.0};
        const math::Vec<4, double> clip = clipTGeo * p;
        if (!(clip[3] > 0.0)) continue;
        const double x = std::round((clip[0] / clip[3] + 1.0) * width / 2.0);
        const double y = std::round((clip[1] / clip[3] + 1.0) * height / 2.0);
        if (!(x >= 0.0 && x < width && y >= 0.0 && y < height)) continue;
        if (mask(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) != 0) {
          inside.push_back(static_cast<std::uint32_t>(i));
        }
      }
      if (inside.empty()) continue;
      mesh->AddVertexColors();
      std::vector<v3d::Color4ub>& colors = mesh->mGetVertexColors();
      for (const std::uint32_t i : inside) colors[i] = selectionColor;
      hits += inside.size();
    }
  });
  Touch(node);
  return hits;
}

std::size_t ExpandColorAllGeos(v3d::Node& node, const v3d::Color4ub& selectionColor, std::uint32_t groupMask) {
  v3d::LockGuard lock;
  std::size_t added = 0;
  ForEachGeo(node, groupMask, [&](v3d::Geo& geo) {
    for (const auto& mesh : geo) {
      const std::uint32_t size = mesh->GetPrimSize();
      const std::size_t n = mesh->GetNumVertices();
      if (mesh->GetVertexColors().size() != n || size < 2 || size > 4) continue;
      const auto& colors = mesh->GetVertexColors();
      std::vector<bool> grow(n, false);
      const std::vector<std::uint32_t>& prims = mesh->GetPrims();
      for (std::size_t p = 0; p + size <= prims.size(); p += size) {
        bool any = false, valid = true;
        for (std::uint32_t k = 0; k < size; ++k) {
          valid = valid && prims[p + k] < n;
          any = any || (valid && Selected(colors[prims[p + k]], selectionColor));
        }
        if (!valid || !any) continue;
        for (std::uint32_t k = 0; k < size; ++k) grow[prims[p + k]] = true;
      }
      std::size_t count = 0;
      for (std::size_t i = 0; i < n; ++i) count += grow[i] && !Selected(colors[i], selectionColor);
      if (count == 0) continue;
      std::vector<v3d::Color4ub>& out = mesh->mGetVertexColors();
      for (std::size_t i = 0; i < n; ++i) {
        if (grow[i]) out[i] = selectionColor;
      }
      added += count;
    }
  });
  Touch(node);
  return added;
}

std::size_t InvertVertexColors(v3d::Geo& geo, const v3d::Color4ub& selectionColor) {
  v3d::LockGuard lock;
  std::size_t selected = 0;
  for (const auto& mesh : geo) {
    mesh->AddVertexColors();
    const v3d::Color4ub global = mesh->GetGlobalColor();
    for (v3d::Color4ub& c : mesh->mGetVertexColors()) {
      if (Selected(c, selectionColor)) {
        c = global;
      } else {
        c = selectionColor;
        ++selected;
      }
    }
  }
  Touch(geo);
  return selected;
}

std::size_t RemoveColoredVerticesFromAllGeos(v3d::Node& node, const v3d::Color4ub& selectionColor,
                                             std::uint32_t groupMask) {
  v3d::LockGuard lock;
  std::size_t removed = 0;
  ForEachGeo(node, groupMask, [&](v3d::Geo& geo) {
    for (const auto& mesh : geo) {
      const std::size_t n = mesh->GetNumVertices();
      const auto& colors = mesh->GetVertexColors();
      const int primSize = static_cast<int>(mesh->GetPrimSize());
      if (colors.size() != n || n == 0 || primSize < 1 || primSize > 4) continue;
      std::vector<bool> selection(n);
      bool any = false;
      for (std::size_t i = 0; i < n; ++i) {
        selection[i] = Selected(colors[i], selectionColor);
        any = any || selection[i];
      }
      if (!any) continue;
      IndexMapping mapping(n);
      mapping.RemoveSelectedVertices(mesh->GetPrims(), primSize, selection);
      mapping.Apply(mesh->GetVertexBuffer(), mesh->GetSurface());
      removed += n - mesh->GetNumVertices();
    }
  });
  Touch(node);
  return removed;
}

void RemoveVertexColorFromAllGeos(v3d::Node& node) {
  v3d::LockGuard lock;
  ForEachGeo(node, kAllGroups, [](v3d::Geo& geo) {
    for (const auto& mesh : geo) {
      if (mesh->HasVertexColors()) mesh->RemoveVertexColors();
    }
  });
  Touch(node);
}

std::size_t CountSelectedVertices(const v3d::Geo& geo, const v3d::Color4ub& selectionColor) {
  std::size_t count = 0;
  for (const auto& mesh : geo) {
    for (const v3d::Color4ub& c : mesh->GetVertexColors()) count += Selected(c, selectionColor);
  }
  return count;
}

}  // namespace surf
