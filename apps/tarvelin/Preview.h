#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "surf/mesh/GeoItem.h"

namespace tarvelin {

// How a preview colours the surface: kAuto shows the texture when there is
// one, else the vertex colours, else a shaded grey; kTexture the same but
// fails without a texture; kNormals maps unit normals (x, y, z) to (r, g, b)
// = (n + 1) / 2 unlit; kDeviation maps the per-vertex qualities (signed
// deviations, mm) blue (−range) – green (0) – red (+range) with a colour bar.
enum class PreviewColour { kAuto, kTexture, kNormals, kDeviation };

struct PreviewOptions {
  int width = 1280, height = 960;  // pixels
  // The camera looks at the items' box centre from this azimuth (about world
  // z, 0 = from −y, counter-clockwise seen from above) and elevation above
  // the xy plane, degrees, far enough back to show the whole box.
  double azimuthDeg = 30.0, elevationDeg = 25.0;
  PreviewColour colour = PreviewColour::kAuto;
  double deviationRangeMm = 0.0;  // 0: the largest |deviation| of the items
  std::string title;              // drawn at the top-left (with the font)
  std::filesystem::path font;     // a BMFont file for titles and the colour bar; none: no text
};

// The shipped font of the viewer (share/fonts/DejaVuSans-20.fnt).
std::filesystem::path DefaultPreviewFont();

// Renders the items (each geo placed by its frame, in world coordinates)
// offscreen, without any X server. Throws std::runtime_error with the
// reason: no OpenGL, nothing to draw, a colour mode the items cannot give.
img::RGBImage RenderPreview(const std::vector<const surf::GeoItem*>& items, const PreviewOptions& options);

// RenderPreview and then a PNG file. A preview is a by-product of the
// commands: on failure it prints "Warning: no <file>: <reason>" and returns
// false, and the command goes on.
bool WritePreview(const std::vector<const surf::GeoItem*>& items, const std::filesystem::path& png,
                  const PreviewOptions& options);

// The tiles side by side in rows of `columns`, gap pixels apart on a dark
// background; every tile takes the size of the first.
img::RGBImage MakeContactSheet(const std::vector<img::RGBImage>& tiles, int columns, int gap = 4);

}  // namespace tarvelin
