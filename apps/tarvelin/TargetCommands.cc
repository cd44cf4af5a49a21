#include "apps/tarvelin/TargetCommands.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <numbers>
#include <optional>
#include <sstream>

#include "CamCalib/Interface.h"
#include "CamCalib/TargetGrid.h"
#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/Overlay.h"
#include "foundation/img/ImageIO.h"
#include "scan/HardwareSetup.h"
#include "sim/RigSetup.h"
#include "sim/TargetShot.h"

namespace tarvelin {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

bool MakeFolder(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec)
    std::cerr << "Error: " << dir.string() << ": cannot create folder (" << ec.message() << ")\n";
  return !ec;
}

bool WriteJson(const std::filesystem::path& path, const nlohmann::ordered_json& json) {
  std::ofstream file(path);
  file << json.dump(1) << "\n";
  file.close();
  if (!file) std::cerr << "Error: " << path.string() << ": cannot write\n";
  return bool(file);
}

std::chrono::year_month_day Today() {
  return std::chrono::year_month_day(
      std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
}

// The default corner panels at a scale: their grids and printed faces.
std::vector<CamCalib::CalibGrid> CornerGrids(double scale) {
  scan::HardwareSetup setup;
  setup.SetDefaultZentoCalibGrids(scale);
  return setup.GetCalibGrids();
}

// A short hint at what to change when no grid could be found.
std::string Diagnose(const img::GreyImage& image, std::size_t ellipses, std::size_t negatives) {
  std::size_t bright = 0, dark = 0;
  for (std::int32_t i = 0; i < image.size; ++i)
    bright += image.data[i] >= 250, dark += image.data[i] <= 5;
  if (bright > std::size_t(image.size) / 4)
    return "target overexposed: lower the exposure or the gain";
  if (dark > std::size_t(image.size) * 3 / 4)
    return "image underexposed: raise the exposure or the light";
  if (ellipses == 0) return "no circular marks found: bring the target into view and into focus";
  if (negatives < 3)
    return "no marker cell found (fewer than three inverted marks): keep the marker cell in view";
  return "the marks could not be ordered into the grid: check that the grid file matches the "
         "target and the whole "
         "marker cell is visible";
}

void DrawDetection(img::RGBImage& picture, const CamCalib::Interface& detector,
                   const std::vector<math::Vec2i>& nodes, const std::vector<math::Vec2d>& points) {
  const img::RGB8 green = img::RGB8::FromRGB(40, 220, 40), orange = img::RGB8::FromRGB(255, 140, 0);
  const img::RGB8 red = img::RGB8::FromRGB(255, 40, 40), cyan = img::RGB8::FromRGB(0, 220, 255);
  const img::RGB8 yellow = img::RGB8::FromRGB(255, 230, 0);
  for (std::size_t i = 0; i < detector.GetEllipses().size(); ++i)
    overlay::EllipseOutline(picture, detector.GetEllipses()[i],
                            detector.GetPolarities()[i] ? green : orange);
  const auto& cell = detector.GetMarkerCell();
  if (cell[0] >= 0) {
    for (int k = 0; k < 4; ++k)
      overlay::Line(picture, detector.GetEllipses()[std::size_t(cell[k])].Centre(),
                    detector.GetEllipses()[std::size_t(cell[(k + 1) % 4])].Centre(), cyan);
  }
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    overlay::Cross(picture, points[k], 3.0, red);
    overlay::Text(picture, int(points[k][0]) + 4, int(points[k][1]) + 4,
                  std::to_string(nodes[k][0]) + "," + std::to_string(nodes[k][1]), 1, yellow);
  }
}

}  // namespace

CLI::App* DetectCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand(
      "detect", "Find the circular marks and the grid of a calibration-target image");
  sub->add_option("image", image, "The image (PNG, JPEG, BMP, …; colour is averaged to grey)")
      ->required();
  sub->add_option(
      "--grid", grid,
      "corner-left, corner-right (the default corner panels) or a target file; without it only the "
      "ellipses are found");
  sub->add_option(
         "--centre-mode", centreMode,
         "0 fitted ellipse centres, 1 locally corrected, 2 the images of the true circle centres")
      ->check(CLI::Range(0, 2))
      ->capture_default_str();
  sub->add_option("--scale", scale, "Corner panels: node spacing scale x 0.25 mm")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int DetectCommand::Run() {
  // The grids to map: the panel asked for (and, for the mirror test, the
  // other one), or the target file's.
  std::vector<CamCalib::CalibGrid> grids;
  std::optional<cam::FlatPlateCalibrationTarget> targetFile;
  int asked = 0;
  if (grid == "corner-left" || grid == "corner-right") {
    grids = CornerGrids(scale);
    asked = grid == "corner-left" ? 0 : 1;
  } else if (!grid.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(grid, ec)) {
      std::cerr << "Error: --grid " << grid
                << ": neither corner-left, corner-right nor a target file\n";
      return kExitUsage;
    }
    try {
      targetFile.emplace(std::filesystem::path(grid));
    } catch (const cam::TargetFileError& e) {
      std::cerr << "Error: " << e.what() << '\n';
      return kExitFailure;
    }
    CamCalib::CalibGrid g;
    std::string error;
    if (!CamCalib::MakeCalibGrid(*targetFile, g, error)) {
      std::cerr << "Error: " << grid << ": " << error << '\n';
      return kExitFailure;
    }
    grids = {g};
  }
  img::GreyImage picture;
  if (!img::LoadUniImage(picture, image)) {
    std::cerr << "Error: " << image.string()
              << ": cannot read the image (missing, not an image, or grey with alpha)\n";
    return kExitFailure;
  }
  if (!MakeFolder(out)) return kExitFailure;
  if (InterruptRequested()) return kExitCancelled;

  CamCalib::Parameters parameters =
      CamCalib::Parameters::ForCameraCalibration(int(picture.width), int(picture.height));
  parameters.centreMode = centreMode;
  CamCalib::Interface detector;
  const auto start = std::chrono::steady_clock::now();
  bool extracted = false, mapped = false;
  std::vector<math::Vec2i> nodes;
  std::vector<math::Vec2d> points;
  std::vector<math::Vec3d> plate;
  std::vector<std::vector<math::Vec2d>> panelPoints(grids.size());
  std::vector<std::string> messages;
  if (detector.Init(parameters)) {
    extracted = detector.ExtractEllipses(picture);
    messages = detector.GetMessages();
    for (std::size_t g = 0; extracted && g < grids.size(); ++g) {
      const bool ok = detector.MapEllipses(grids[g]);
      for (const auto& m : detector.GetMessages()) messages.push_back(m);
      if (ok) panelPoints[g] = detector.GetImagePoints();
      if (int(g) != asked || !ok) continue;
      mapped = true;
      nodes = detector.GetGridNodes();
      points = detector.GetImagePoints();
      plate = targetFile ? detector.GetWorldPoints() : detector.GetPlatePoints();
    }
    // The panel asked for last, so that the drawn marker cell is its own.
    if (extracted && grids.size() == 2 && asked == 0) detector.MapEllipses(grids[0]);
  } else {
    messages = detector.GetMessages();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  bool mirrored = false;
  if (grids.size() == 2 && scan::IsCornerImageMirrored(panelPoints[0], panelPoints[1])) {
    mirrored = true;
    mapped = false;
    messages.push_back("Camera image seems to be mirrored!");
  }

  std::size_t negatives = 0;
  nlohmann::ordered_json ellipses = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < detector.GetEllipses().size(); ++i) {
    const img::Ellipse& e = detector.GetEllipses()[i];
    negatives += !detector.GetPolarities()[i];
    ellipses.push_back({{"cx", e.cx},
                        {"cy", e.cy},
                        {"rx", e.rx},
                        {"ry", e.ry},
                        {"theta_radians", e.theta},
                        {"score", detector.GetScores()[i]},
                        {"normal", bool(detector.GetPolarities()[i])}});
  }
  const math::Vec2i origin = targetFile ? targetFile->GetGridOrigin() : math::Vec2i{0, 0};
  nlohmann::ordered_json detection;
  detection["image"] = image.string();
  detection["width"] = picture.width;
  detection["height"] = picture.height;
  detection["grid"] = grid.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(grid);
  detection["centre_mode"] = centreMode;
  detection["ellipses"] = ellipses;
  if (mapped) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      list.push_back({{"x", nodes[k][0] + origin[0]},
                      {"y", nodes[k][1] + origin[1]},
                      {"image", {points[k][0], points[k][1]}},
                      {"plate", {plate[k][0], plate[k][1], plate[k][2]}}});
    }
    detection["nodes"] = list;
    detection["marker_cell"] = detector.GetMarkerCell();
  }
  detection["messages"] = messages;
  detection["seconds"] = seconds;
  if (!WriteJson(out / "detection.json", detection)) return kExitFailure;
  img::RGBImage drawn = overlay::FromGrey(picture);
  if (!mirrored) {
    std::vector<math::Vec2i> labels = nodes;
    for (auto& n : labels) n += origin;
    DrawDetection(drawn, detector, labels, points);
  }
  if (!img::SavePNG(drawn, out / "detection.png")) {
    std::cerr << "Error: " << (out / "detection.png").string() << ": cannot write\n";
    return kExitFailure;
  }

  const bool ok = grid.empty() ? !detector.GetEllipses().empty() : mapped;
  std::string hint;
  if (!ok)
    hint = mirrored ? "Camera image seems to be mirrored!"
                    : Diagnose(picture, detector.GetEllipses().size(), negatives);
  nlohmann::ordered_json report;
  report["image"] = image.string();
  report["grid"] = detection["grid"];
  report["ellipses"] = detector.GetEllipses().size();
  report["negative_ellipses"] = negatives;
  report["nodes"] = nodes.size();
  report["ok"] = ok;
  if (!ok) report["problem"] = hint;
  report["seconds"] = seconds;
  if (!WriteJson(out / "report.json", report)) return kExitFailure;
  if (!ok) {
    std::cerr << "Error: " << image.string() << ": " << hint << '\n';
    return kExitFailure;
  }
  std::cout << image.string() << ": " << detector.GetEllipses().size() << " ellipses (" << negatives
            << " inverted)";
  if (mapped) std::cout << ", " << nodes.size() << " grid nodes of " << grid;
  std::printf(", %.1f ms\n", seconds * 1e3);
  return kExitSuccess;
}

CLI::App* TargetCommand::Register(CLI::App& app) {
  auto* sub =
      app.add_subcommand("target", "Write a printable calibration target and its target file");
  sub->add_option("--type", type, "plate, corner-left or corner-right")
      ->check(CLI::IsMember({"plate", "corner-left", "corner-right"}))
      ->capture_default_str();
  sub->add_option("--out", out,
                  "The page: FILE.svg (millimetres) or FILE.png; the target file goes to FILE.xml")
      ->required();
  sub->add_option("--dpi", dpi, "Pixels per inch of a PNG page")
      ->check(CLI::Range(50.0, 2400.0))
      ->capture_default_str();
  sub->add_option("--scale", scale, "Corner panels: node spacing scale x 0.25 mm")
      ->check(CLI::Range(4.0, 400.0))
      ->capture_default_str();
  return sub;
}

int TargetCommand::Run() {
  const std::string extension = out.extension().string();
  if (extension != ".svg" && extension != ".png") {
    std::cerr << "Error: --out " << out.string() << ": the page must be a .svg or .png file\n";
    return kExitUsage;
  }
  cam::FlatPlateCalibrationTarget target;
  try {
    if (type == "plate") {
      target = cam::FlatPlateCalibrationTarget(sim::ShareDirectory() / "targets" / "plate.xml");
    } else {
      target = scan::MakePanelTarget(CornerGrids(scale)[type == "corner-left" ? 0 : 1], type);
      target.timestamp = Today();
    }
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
    return kExitFailure;
  }
  if (out.has_parent_path() && !MakeFolder(out.parent_path())) return kExitFailure;
  const auto xml = std::filesystem::path(out).replace_extension(".xml");
  if (xml == out || !target.Save(xml)) return kExitFailure;

  // The page: the marks with a margin of one spacing, and below them a bar
  // of 50 mm for checking the printed scale.
  sim::PrintOptions ink;
  ink.paper = 1.0f;
  ink.black = 0.0f;
  const sim::PrintedTarget print(target, ink);
  const double margin = target.spacing;
  const math::Vec2d lo = print.GetMin() - math::Vec2d{margin, margin};
  const double width = print.GetMax()[0] - lo[0] + margin;
  const double height = print.GetMax()[1] - lo[1] + 2.5 * margin;
  const double barY = print.GetMax()[1] - lo[1] + margin,
               barLength = std::min(50.0, width - 2.0 * margin);
  if (extension == ".svg") {
    std::ofstream svg(out);
    svg << "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
        << "mm\" height=\"" << height << "mm\" viewBox=\"0 0 " << width << ' ' << height << "\">\n";
    svg << "<rect width=\"" << width << "\" height=\"" << height << "\" fill=\""
        << cam::ToString(target.background) << "\"/>\n";
    for (const auto& [node, m] : target.markers) {
      const double x = m.center[0] - lo[0], y = m.center[1] - lo[1];
      svg << "<circle cx=\"" << x << "\" cy=\"" << y << "\" r=\"" << m.outerDiameter / 2
          << "\" fill=\"" << cam::ToString(m.color) << "\"/>\n";
      if (m.innerDiameter > 0.0)
        svg << "<circle cx=\"" << x << "\" cy=\"" << y << "\" r=\"" << m.innerDiameter / 2
            << "\" fill=\"" << cam::ToString(target.background) << "\"/>\n";
    }
    svg << "<rect x=\"" << margin << "\" y=\"" << barY << "\" width=\"" << barLength
        << "\" height=\"1\" fill=\"black\"/>\n";
    svg << "<text x=\"" << margin << "\" y=\"" << barY + 0.9 * margin << "\" font-size=\""
        << 0.5 * margin << "\" font-family=\"sans-serif\">" << target.id
        << ": print at 100 %; the bar is " << barLength << " mm long</text>\n</svg>\n";
    svg.close();
    if (!svg) {
      std::cerr << "Error: " << out.string() << ": cannot write\n";
      return kExitFailure;
    }
  } else {
    const double pixel = 25.4 / dpi;  // mm
    const auto w = std::uint32_t(std::ceil(width / pixel)),
               h = std::uint32_t(std::ceil(height / pixel));
    if (std::uint64_t(w) * h > 400'000'000ull) {
      std::cerr << "Error: a page of " << w << " x " << h << " pixels is too large: lower --dpi\n";
      return kExitUsage;
    }
    img::GreyImage page(w, h);
    ProgressBar bar("target");
    for (std::uint32_t y = 0; y < h; ++y) {
      if (y % 64 == 0 && bar(double(y) / h)) return kExitCancelled;
      for (std::uint32_t x = 0; x < w; ++x) {
        const math::Vec2d q = lo + math::Vec2d{(x + 0.5) * pixel, (y + 0.5) * pixel};
        const math::Vec2d half{0.5 * pixel, 0.0}, halfY{0.0, 0.5 * pixel};
        double v = print.Reflectance(q, half, halfY)[0];
        const double yy = (y + 0.5) * pixel, xx = (x + 0.5) * pixel;
        if (yy >= barY && yy < barY + 1.0 && xx >= margin && xx < margin + barLength) v = 0.0;
        page(x, y) = std::uint8_t(std::lround(255.0 * std::clamp(v, 0.0, 1.0)));
      }
    }
    bar(1.0);
    bar.Finish();
    if (!img::SavePNG(page, out)) {
      std::cerr << "Error: " << out.string() << ": cannot write\n";
      return kExitFailure;
    }
  }
  nlohmann::ordered_json report;
  report["type"] = type;
  report["page"] = out.string();
  report["target_file"] = xml.string();
  report["width_mm"] = width;
  report["height_mm"] = height;
  if (extension == ".png") report["dpi"] = dpi;
  report["nodes"] = {target.countX, target.countY};
  report["spacing_mm"] = target.spacing;
  if (!WriteJson(out.parent_path().empty() ? "report.json" : out.parent_path() / "report.json",
                 report))
    return kExitFailure;
  std::printf("Wrote %s (%.1f x %.1f mm) and %s\n", out.string().c_str(), width, height,
              xml.string().c_str());
  return kExitSuccess;
}

CLI::App* RigImageCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand(
      "rig-image", "Render what a virtual rig camera sees of printed calibration targets");
  sub->add_option("--rig", rig, "default, stereo or a rig folder")->capture_default_str();
  sub->add_option("--target", target,
                  "corner (the default corner panels) or plate (the shipped plate)")
      ->check(CLI::IsMember({"corner", "plate"}))
      ->capture_default_str();
  sub->add_option("--pose", pose,
                  "Plate: TILT,AXIS,ROLL,DISTANCE (degrees, mm) from facing the camera squarely")
      ->capture_default_str();
  sub->add_option("--camera", camera, "Camera index")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  sub->add_option("--noise", noise, "Noise sigma, grey levels (default: the rig's)");
  sub->add_option("--defocus", defocus, "Camera defocus sigma, pixels")
      ->check(CLI::Range(0.0, 20.0))
      ->capture_default_str();
  sub->add_option("--gamma", gamma, "Camera gamma")
      ->check(CLI::Range(0.1, 10.0))
      ->capture_default_str();
  sub->add_option("--gain", gain, "Camera gain (default: the rig's; raise it to overexpose)")
      ->check(CLI::Range(0.0, 16.0));
  sub->add_option("--supersampling", supersampling, "n x n rays per pixel")
      ->check(CLI::Range(1, 8))
      ->capture_default_str();
  sub->add_option("--seed", seed, "Noise seed")->capture_default_str();
  sub->add_flag("--plain", plain, "Print the marks without marker cell (all normal)");
  sub->add_flag("--mirror", mirror, "Mirror the image left to right (the truth follows)");
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int RigImageCommand::Run() {
  double tilt = 0, axis = 0, roll = 0, distance = 0;
  char extra = 0;
  if (std::sscanf(pose.c_str(), "%lf,%lf,%lf,%lf%c", &tilt, &axis, &roll, &distance, &extra) != 4 ||
      !(distance > 0.0) || !(std::abs(tilt) < 89.0)) {
    std::cerr << "Error: --pose must be TILT,AXIS,ROLL,DISTANCE with |tilt| < 89 degrees and "
                 "distance > 0 mm (got \""
              << pose << "\")\n";
    return kExitUsage;
  }
  scan::HardwareSetupIO setup;
  sim::SceneDescription description;
  std::string error;
  if (!sim::LoadRigFolder(sim::ResolveRigFolder(rig), setup, description, error)) {
    std::cerr << "Error: " << error << '\n';
    return kExitFailure;
  }
  if (std::size_t(camera) >= setup.cameras.size()) {
    std::cerr << "Error: --camera " << camera << ": the rig has " << setup.cameras.size()
              << " camera(s)\n";
    return kExitUsage;
  }
  std::vector<sim::PlacedTarget> targets;
  try {
    if (target == "corner") {
      targets = sim::MakeCornerTargets(sim::CornerScale(setup));
    } else {
      const cam::FlatPlateCalibrationTarget plate(sim::ShareDirectory() / "targets" / "plate.xml");
      targets = {{"plate", plate,
                  sim::PlateFacingCamera(*setup.cameras[std::size_t(camera)].cameraModel, plate,
                                         distance, tilt * kDeg, axis * kDeg, roll * kDeg)}};
    }
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
    return kExitFailure;
  }
  if (plain) {
    for (auto& t : targets) {
      for (auto& [node, m] : t.target.markers) {
        if (m.innerDiameter > 0.0) m.outerDiameter = m.innerDiameter, m.innerDiameter = 0.0;
      }
    }
  }
  if (!MakeFolder(out)) return kExitFailure;
  if (InterruptRequested()) return kExitCancelled;
  sim::TargetRenderOptions options;
  options.noiseSigma = noise;
  options.cameraDefocus = defocus;
  options.cameraGamma = gamma;
  options.gain = gain;
  options.supersampling = supersampling;
  options.seed = seed;
  sim::TargetShot shot;
  const auto start = std::chrono::steady_clock::now();
  std::cerr << "rendering " << target << " on rig " << rig << ", camera " << camera << " …\n";
  if (!sim::ShootTargets(setup, description, std::size_t(camera), targets, options, shot, error)) {
    std::cerr << "Error: " << error << '\n';
    return kExitFailure;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (InterruptRequested()) return kExitCancelled;
  const double w = shot.image.width;
  if (mirror) {
    for (std::uint32_t y = 0; y < shot.image.height; ++y)
      std::reverse(shot.image.Row(y), shot.image.Row(y) + shot.image.width);
    for (auto& m : shot.marks) m.image[0] = w - 1.0 - m.image[0];
  }
  if (!img::SavePNG(shot.image, out / "image.png")) {
    std::cerr << "Error: " << (out / "image.png").string() << ": cannot write\n";
    return kExitFailure;
  }
  nlohmann::ordered_json marks = nlohmann::ordered_json::array();
  std::size_t visible = 0;
  for (const auto& m : shot.marks) {
    if (!m.visible) continue;
    ++visible;
    marks.push_back({{"target", shot.targets[std::size_t(m.target)].name},
                     {"node", {m.node[0], m.node[1]}},
                     {"image", {m.image[0], m.image[1]}}});
  }
  nlohmann::ordered_json truth;
  truth["width"] = shot.image.width;
  truth["height"] = shot.image.height;
  truth["marks"] = marks;
  if (!WriteJson(out / "truth.json", truth)) return kExitFailure;
  for (const auto& t : shot.targets) {
    if (!t.target.Save(out / (t.name + ".xml"))) return kExitFailure;
  }
  nlohmann::ordered_json report;
  report["rig"] = rig;
  report["camera"] = camera;
  report["target"] = target;
  if (target == "plate")
    report["pose"] = {
        {"tilt_deg", tilt}, {"axis_deg", axis}, {"roll_deg", roll}, {"distance_mm", distance}};
  report["plain"] = plain;
  report["mirrored"] = mirror;
  report["rendering"] = {
      {"supersampling", supersampling},
      {"defocus_px", defocus},
      {"gamma", gamma},
      {"noise_sigma", noise >= 0.0 ? noise : description.settings.noiseSigma},
      {"gain", gain > 0.0 ? nlohmann::ordered_json(gain) : nlohmann::ordered_json("rig")},
      {"paper_reflectance", options.print.paper},
      {"ink_reflectance", options.print.black},
      {"light", "projector full white"}};
  report["visible_marks"] = visible;
  report["seconds"] = seconds;
  if (!WriteJson(out / "report.json", report)) return kExitFailure;
  std::printf("Wrote %s/image.png (%ux%u, %zu visible marks) and truth.json in %.1f s\n",
              out.string().c_str(), shot.image.width, shot.image.height, visible, seconds);
  return kExitSuccess;
}

}  // namespace tarvelin
