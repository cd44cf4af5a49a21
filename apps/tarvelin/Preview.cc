#include "apps/tarvelin/Preview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "foundation/img/ImageIO.h"
#include "shell/DataRoot.h"
#include "v3d/GeoTools.h"
#include "v3d/LockGuard.h"
#include "v3d/Navigation.h"
#include "v3d/OffscreenDisplay.h"
#include "v3d/Scene.h"

namespace tarvelin {
namespace {

constexpr double kDegrees = std::numbers::pi / 180.0;

v3d::Color4ub DeviationColour(double t) {
  t = std::clamp(t, -1.0, 1.0);
  const auto mix = [](double a, double b, double s) { return static_cast<std::uint8_t>(std::lround(a + (b - a) * s)); };
  if (t < 0.0) return {mix(40, 30, -t), mix(200, 60, -t), mix(60, 230, -t)};
  return {mix(40, 230, t), mix(200, 40, t), mix(60, 40, t)};
}

double LargestDeviation(const std::vector<const surf::GeoItem*>& items) {
  double largest = 0.0;
  for (const surf::GeoItem* item : items) {
    for (const auto& mesh : *item->geo) {
      for (float q : mesh->GetVertexQualities()) {
        if (std::isfinite(q)) largest = std::max(largest, static_cast<double>(std::abs(q)));
      }
    }
  }
  return largest;
}

// A copy of the item's geo for the scene: texture IDs become the scene's
// slots, colours follow the mode.
std::unique_ptr<v3d::Geo> PrepareGeo(const surf::GeoItem& item, v3d::Scene& scene,
                                     std::vector<std::unique_ptr<v3d::Texture>>& textures,
                                     const PreviewOptions& options, double range) {
  auto geo = std::make_unique<v3d::Geo>(*item.geo);
  std::vector<std::int32_t> slots(item.textures.size(), -1);
  for (std::size_t i = 0; i < item.textures.size(); ++i) {
    if (!item.textures[i] || !item.textures[i]->HasData()) continue;
    const v3d::Texture& source = *item.textures[i];
    auto copy = std::make_unique<v3d::Texture>();
    copy->ChangeImage(source.GetWidth(), source.GetHeight(), source.GetFormat(), source.GetType(),
                      source.GetData().data());
    slots[i] = scene.AddTexture(copy.get());
    textures.push_back(std::move(copy));
  }
  std::uint32_t flags = 0;
  for (std::size_t m = 0; m < geo->GetNumMeshes(); ++m) {
    v3d::Mesh& mesh = *geo->GetMesh(static_cast<std::int64_t>(m));
    const std::int32_t id = mesh.GetTextureID();
    mesh.SetTextureID(id >= 0 && id < static_cast<std::int32_t>(slots.size()) ? slots[id] : -1);
    const std::size_t n = mesh.GetNumVertices();
    if (options.colour == PreviewColour::kNormals) {
      if (!mesh.HasVertexNormals()) v3d::CalcVertexNormals(mesh);
      mesh.AddVertexColors();
      auto& colours = mesh.mGetVertexColors();
      const auto& normals = mesh.GetVertexNormals();
      for (std::size_t i = 0; i < n; ++i) {
        const auto c = [&](int k) { return static_cast<std::uint8_t>(std::lround((normals[i][k] + 1.f) * 127.5f)); };
        colours[i] = {c(0), c(1), c(2), 255};
      }
      flags |= v3d::kRenderFlagNoTexture | v3d::kRenderFlagNoLighting;
    } else if (options.colour == PreviewColour::kDeviation) {
      mesh.AddVertexColors();
      auto& colours = mesh.mGetVertexColors();
      const auto& qualities = mesh.GetVertexQualities();
      for (std::size_t i = 0; i < n; ++i) {
        const bool known = i < qualities.size() && std::isfinite(qualities[i]);
        colours[i] = known ? DeviationColour(qualities[i] / range) : v3d::Color4ub(128, 128, 128, 255);
      }
      flags |= v3d::kRenderFlagNoTexture;
    } else {
      mesh.SetGlobalColor({190, 190, 190, 255});
    }
  }
  geo->SetRenderFlags(flags);
  return geo;
}

bool HasTexture(const std::vector<const surf::GeoItem*>& items) {
  for (const surf::GeoItem* item : items) {
    for (const auto& mesh : *item->geo) {
      const v3d::Texture* texture = mesh->HasVertexTexCoords() ? item->GetMeshTexture(*mesh) : nullptr;
      if (texture && texture->HasData()) return true;
    }
  }
  return false;
}

void DrawColourBar(v3d::Canvas& canvas, const PreviewOptions& options, double range, bool text) {
  const float x = static_cast<float>(options.width) - 60.f, top = 40.f;
  const float height = std::min(300.f, static_cast<float>(options.height) - 80.f);
  constexpr int kSteps = 64;
  for (int s = 0; s < kSteps; ++s) {
    canvas.SetPenColor(DeviationColour(1.0 - 2.0 * (s + 0.5) / kSteps));
    canvas.DrawRect(x, top + height * s / kSteps, 20.f, height / kSteps + 1.f);
  }
  if (!text) return;
  canvas.SetPenColor({230, 230, 230, 255});
  char label[32];
  for (int k = 0; k <= 2; ++k) {
    const double value = range * (1 - k);
    std::snprintf(label, sizeof label, "%+.3g", value);
    float w = 0.f, h = 0.f;
    canvas.MeasureString(label, w, h);
    canvas.DrawString(x - w - 6.f, top + height * k / 2.f - h / 2.f, label);
  }
  canvas.DrawString(x - 10.f, top + height + 6.f, "mm");
}

}  // namespace

std::filesystem::path DefaultPreviewFont() {
  return shell::DataRoot::FindShippedShare() / "fonts" / "DejaVuSans-20.fnt";
}

img::RGBImage RenderPreview(const std::vector<const surf::GeoItem*>& items, const PreviewOptions& options) {
  if (options.width < 16 || options.height < 16 || options.width > 8192 || options.height > 8192) {
    throw std::runtime_error("the picture size must be 16…8192 pixels on each side");
  }
  std::size_t triangles = 0;
  for (const surf::GeoItem* item : items) {
    for (const auto& mesh : *item->geo) {
      if (mesh->GetPrimSize() >= 3) triangles += mesh->GetNumPrims();
    }
  }
  if (triangles == 0) throw std::runtime_error("there are no triangles to draw (an empty mesh)");
  if (options.colour == PreviewColour::kTexture && !HasTexture(items)) {
    throw std::runtime_error("the mesh has no texture (try --colour normals)");
  }
  double range = options.deviationRangeMm;
  if (options.colour == PreviewColour::kDeviation) {
    bool any = false;
    for (const surf::GeoItem* item : items) {
      for (const auto& mesh : *item->geo) any |= mesh->HasVertexQualities();
    }
    if (!any) throw std::runtime_error("the mesh carries no per-vertex deviations (vertex qualities)");
    if (!(range > 0.0)) range = LargestDeviation(items);
    if (!(range > 0.0)) range = 1.0;
  }

  v3d::OffscreenDisplay display(options.width, options.height, {0.16f, 0.17f, 0.19f, 1.f});
  v3d::LockGuard lock;
  v3d::Scene scene;
  display.SetScene(&scene);
  bool text = false;
  if (!options.font.empty()) {
    try {
      display.LoadDefaultFont(options.font.string());
      text = true;
    } catch (const std::exception& e) {
      std::cerr << "Warning: " << options.font.string() << ": " << e.what() << "; the picture has no text\n";
    }
  }
  std::vector<std::unique_ptr<v3d::Texture>> textures;
  std::vector<std::unique_ptr<v3d::Geo>> geos;
  for (const surf::GeoItem* item : items) {
    geos.push_back(PrepareGeo(*item, scene, textures, options, range));
    scene.AddNode(geos.back().get());
  }
  math::Vec3d low, high;
  if (!v3d::ComputeSceneBounds(scene, low, high)) throw std::runtime_error("every vertex is non-finite");
  auto camera = std::make_unique<v3d::Camera>();
  v3d::SetViewAngles(*camera, options.azimuthDeg * kDegrees, options.elevationDeg * kDegrees, low, high,
                     options.width, options.height);
  scene.SetCamera(0, std::move(camera));
  scene.SetActiveCamera(0);
  v3d::Canvas& canvas = *scene.GetDrawControl().GetDefaultCanvas();
  if (text && !options.title.empty()) {
    canvas.SetPenColor({235, 235, 235, 255});
    canvas.DrawString(12.f, 8.f, options.title);
  }
  if (options.colour == PreviewColour::kDeviation) DrawColourBar(canvas, options, range, text);
  img::RGBImage image = display.Render();
  display.SetScene(nullptr);
  for (auto& geo : geos) scene.RemoveNode(geo.get());
  return image;
}

bool WritePreview(const std::vector<const surf::GeoItem*>& items, const std::filesystem::path& png,
                  const PreviewOptions& options) {
  try {
    const img::RGBImage image = RenderPreview(items, options);
    if (!img::SavePNG(image, png)) throw std::runtime_error("the file cannot be written");
    return true;
  } catch (const std::exception& e) {
    std::cerr << "Warning: no " << png.string() << ": " << e.what() << "\n";
    return false;
  }
}

img::RGBImage MakeContactSheet(const std::vector<img::RGBImage>& tiles, int columns, int gap) {
  if (tiles.empty() || columns < 1) return img::RGBImage();
  const std::size_t tw = tiles[0].width, th = tiles[0].height;
  const std::size_t cols = std::min<std::size_t>(columns, tiles.size());
  const std::size_t rows = (tiles.size() + cols - 1) / cols;
  img::RGBImage sheet(static_cast<std::uint32_t>(cols * tw + (cols + 1) * gap),
                      static_cast<std::uint32_t>(rows * th + (rows + 1) * gap));
  for (std::size_t i = 0; i < sheet.width * sheet.height; ++i) sheet.data[i] = img::RGB8{30, 28, 26};
  for (std::size_t k = 0; k < tiles.size(); ++k) {
    const std::size_t ox = gap + (k % cols) * (tw + gap), oy = gap + (k / cols) * (th + gap);
    const img::RGBImage& tile = tiles[k];
    for (std::size_t y = 0; y < std::min<std::size_t>(th, tile.height); ++y) {
      for (std::size_t x = 0; x < std::min<std::size_t>(tw, tile.width); ++x) {
        sheet.data[(oy + y) * sheet.width + ox + x] = tile.data[y * tile.width + x];
      }
    }
  }
  return sheet;
}

}  // namespace tarvelin
