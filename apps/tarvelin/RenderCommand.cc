#include "apps/tarvelin/RenderCommand.h"

#include <algorithm>
#include <iostream>

#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/Preview.h"
#include "foundation/img/ImageIO.h"
#include "surf/files/MeshFormats.h"

namespace tarvelin {
namespace {

bool IsProject(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".tarvelinproj" || extension == ".zentoproj";
}

}  // namespace

CLI::App* RenderCommand::Register(CLI::App& app) {
  CLI::App* command = app.add_subcommand("render", "Draw a picture of a mesh file or project (no display needed)");
  command->add_option("file", file, "A mesh file (" + surf::LoadableExtensions() + ") or a .tarvelinproj/.zentoproj project")
      ->required();
  command->add_option("--out", out, "The PNG file to write")->required();
  command->add_option("--width", width, "Picture width in pixels")->check(CLI::Range(16, 8192));
  command->add_option("--height", height, "Picture height in pixels")->check(CLI::Range(16, 8192));
  command->add_option("--azimuth", azimuth, "Viewing direction about the vertical (z) axis, degrees; 0 = from -y");
  command->add_option("--elevation", elevation, "Viewing elevation above the xy plane, degrees")
      ->check(CLI::Range(-90.0, 90.0));
  command->add_option("--colour,--color", colour, "auto, texture, normals or deviation (vertex qualities, mm)")
      ->check(CLI::IsMember({"auto", "texture", "normals", "deviation"}));
  command->add_option("--range", range, "Deviation of full colour in mm (default: the largest deviation)")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--fusion-result", fusionResultOnly, "For a project: only its fusion result");
  command->add_option("--title", title, "A title at the top-left of the picture");
  return command;
}

int RenderCommand::Run() const {
  std::string extension = out.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".png") {
    std::cerr << "Error: " << out.string() << ": the picture is written as PNG (give a .png file)\n";
    return kExitUsage;
  }
  std::vector<surf::GeoItem> owned;
  if (IsProject(file)) {
    surf::ScanListData data;
    if (!surf::LoadProject(file, data)) return kExitFailure;
    if (fusionResultOnly) {
      if (!data.fusionResult) {
        std::cerr << "Error: " << file.string() << " holds no fusion result\n";
        return kExitFailure;
      }
      owned.push_back(*data.fusionResult);
    } else {
      owned = data.scans;
      if (data.fusionResult) owned.push_back(*data.fusionResult);
    }
  } else {
    if (!surf::CanLoad(surf::MeshFormatOf(file))) {
      std::cerr << "Error: cannot read " << file.string() << ": readable formats are " << surf::LoadableExtensions()
                << ", .tarvelinproj, .zentoproj\n";
      return kExitUsage;
    }
    surf::GeoItem item;
    if (!surf::LoadMesh(file, item)) return kExitFailure;
    owned.push_back(std::move(item));
  }
  std::vector<const surf::GeoItem*> items;
  for (const auto& item : owned) items.push_back(&item);

  PreviewOptions options;
  options.width = width;
  options.height = height;
  options.azimuthDeg = azimuth;
  options.elevationDeg = elevation;
  options.colour = colour == "texture"     ? PreviewColour::kTexture
                   : colour == "normals"   ? PreviewColour::kNormals
                   : colour == "deviation" ? PreviewColour::kDeviation
                                           : PreviewColour::kAuto;
  options.deviationRangeMm = range;
  options.title = title;
  options.font = DefaultPreviewFont();
  try {
    const img::RGBImage image = RenderPreview(items, options);
    if (!img::SavePNG(image, out)) {
      std::cerr << "Error: could not write " << out.string() << "\n";
      return kExitFailure;
    }
  } catch (const std::exception& e) {
    std::cerr << "Error: cannot render " << file.string() << ": " << e.what() << "\n";
    return kExitFailure;
  }
  std::cout << "Picture written to " << out.string() << " (" << width << " x " << height << ")\n";
  return kExitSuccess;
}

}  // namespace tarvelin
