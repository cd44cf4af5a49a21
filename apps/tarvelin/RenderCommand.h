#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

namespace tarvelin {

// `tarvelin render FILE --out PNG`: a picture of a mesh file or a project
// (its scans and fusion result, or with --fusion-result only that) drawn by
// the viewer's renderer offscreen (EGL, no X server needed), with
// --width/--height, --azimuth/--elevation (degrees) and --colour
// auto|texture|normals|deviation. Exit codes: 0 written, 1 unreadable input,
// nothing to draw, no OpenGL or an unwritable file, 2 bad option.
struct RenderCommand {
  std::filesystem::path file;
  std::filesystem::path out;
  int width = 1280, height = 960;
  double azimuth = 30.0, elevation = 25.0;
  std::string colour = "auto";
  double range = 0.0;
  bool fusionResultOnly = false;
  std::string title;

  CLI::App* Register(CLI::App& app);
  int Run() const;
};

}  // namespace tarvelin
