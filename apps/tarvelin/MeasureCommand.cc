#include "apps/tarvelin/MeasureCommand.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>

#include "apps/tarvelin/Console.h"
#include "foundation/img/ImageIO.h"
#include "foundation/utils/Timer.h"
#include "surf/align/Registration.h"
#include "surf/files/MeshFormats.h"
#include "surf/fusion/ShapeFusion.h"
#include "surf/measure/DeviationColors.h"
#include "surf/measure/Measure.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

bool IsProjectPath(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return extension == ".tarvelinproj" || extension == ".zentoproj";
}

// "P.tarvelinproj:ITEM" split into the project and the item ("" without one).
std::pair<fs::path, std::string> SplitProjectItem(const std::string& spec) {
  std::error_code error;
  if (fs::exists(spec, error)) return {spec, ""};
  const auto colon = spec.rfind(':');
  if (colon == std::string::npos) return {spec, ""};
  return {spec.substr(0, colon), spec.substr(colon + 1)};
}

// A mesh file or a project item as a detached item; false after a message.
bool LoadItem(const std::string& spec, surf::GeoItem& item) {
  const auto [path, name] = SplitProjectItem(spec);
  if (!IsProjectPath(path)) {
    if (!surf::CanLoad(surf::MeshFormatOf(path))) {
      std::cerr << "Error: cannot read " << spec << ": readable formats are "
                << surf::LoadableExtensions() << ", .tarvelinproj[:ITEM]\n";
      return false;
    }
    if (!surf::LoadMesh(path, item, {{}, nullptr})) {
      std::cerr << "Error: could not read " << path.string() << "\n";
      return false;
    }
    return true;
  }
  surf::ScanListData data;
  if (!surf::LoadProject(path, data)) {
    std::cerr << "Error: could not read the project " << path.string() << "\n";
    return false;
  }
  if (name.empty() || name == "fusion") {
    if (data.fusionResult) {
      item = *data.fusionResult;
      return true;
    }
    if (name.empty() && data.scans.size() == 1) {
      item = data.scans.front();
      return true;
    }
    std::cerr << "Error: " << path.string() << " has "
              << (name.empty() ? "no fusion result and " : "no fusion result")
              << (name.empty() ? std::to_string(data.scans.size()) + " scans: name one as " +
                                     path.string() + ":N"
                               : "")
              << "\n";
    return false;
  }
  const bool number = !name.empty() && std::all_of(name.begin(), name.end(), ::isdigit);
  for (std::size_t i = 0; i < data.scans.size(); ++i) {
    if ((number && std::to_string(i) == name) || data.scans[i].geo->GetName() == name) {
      item = data.scans[i];
      return true;
    }
  }
  std::cerr << "Error: " << path.string() << " has no scan " << name << " (scans 0 to "
            << data.scans.size() << "; or :fusion)\n";
  return false;
}

std::size_t CountVertices(const v3d::Geo& geo) {
  std::size_t n = 0;
  for (const auto& mesh : geo) n += mesh->GetNumVertices();
  return n;
}

// The test object as one array set in world coordinates: every vertex of
// every mesh (so that they line up with the deviations), its colours and
// normals, and the triangles of its triangle and quad meshes.
surf::MeshArrays TestArrays(const v3d::Geo& geo) {
  surf::MeshArrays arrays;
  const math::Frame4d world = geo.GetWorldFrame();
  bool normals = true;
  for (const auto& mesh : geo)
    normals = normals && mesh->GetVertexNormals().size() == mesh->GetNumVertices();
  for (const auto& mesh : geo) {
    const auto offset = std::uint32_t(arrays.positions.size());
    for (const auto& p : mesh->GetVertexCoords())
      arrays.positions.push_back(math::Vec3f(world.MultP(math::Vec3d(p))));
    if (normals)
      for (const auto& n : mesh->GetVertexNormals())
        arrays.normals.push_back(math::Vec3f(world.MultV(math::Vec3d(n))));
    const auto& colors = mesh->GetVertexColors();
    for (std::size_t i = 0; i < mesh->GetNumVertices(); ++i)
      arrays.colors.push_back(i < colors.size() ? colors[i] : v3d::Color4ub(128, 128, 128));
    const auto& prims = mesh->GetPrims();
    const std::uint32_t n = mesh->GetPrimSize();
    if (n != 3 && n != 4) continue;
    for (std::size_t k = 0; k + n <= prims.size(); k += n) {
      arrays.indices.insert(arrays.indices.end(),
                            {offset + prims[k], offset + prims[k + 1], offset + prims[k + 2]});
      if (n == 4)
        arrays.indices.insert(arrays.indices.end(),
                              {offset + prims[k], offset + prims[k + 2], offset + prims[k + 3]});
    }
  }
  return arrays;
}

Json Vector(const math::Vec3d& v) { return Json::array({v[0], v[1], v[2]}); }

Json Percentiles(const std::vector<float>& magnitudes) {
  Json levels;
  for (const double level : surf::kReportLevels) {
    std::ostringstream name;
    name << "p" << level;
    levels[name.str()] = surf::Percentile(magnitudes, level);
  }
  return levels;
}

}  // namespace

int MeasureItems(surf::GeoItem test, surf::GeoItem reference, const MeasureSettings& settings,
                 Json* summary) {
  utils::Timer total;
  if (!test.geo || CountVertices(*test.geo) == 0) {
    std::cerr << "Error: the test object has no vertices\n";
    return kExitFailure;
  }
  if (!reference.geo || CountVertices(*reference.geo) == 0) {
    std::cerr << "Error: the reference object has no vertices\n";
    return kExitFailure;
  }
  const fs::path reportPath =
      settings.report.empty() ? settings.out / "Measurements.txt" : settings.report;
  std::error_code error;
  fs::create_directories(settings.out, error);
  if (error || !fs::is_directory(settings.out)) {
    std::cerr << "Error: cannot create the output folder " << settings.out.string() << "\n";
    return kExitFailure;
  }
  const fs::path reportFolder =
      reportPath.parent_path().empty() ? fs::path(".") : reportPath.parent_path();
  if (!fs::is_directory(reportFolder, error) || fs::is_directory(reportPath, error)) {
    std::cerr << "Error: cannot write the report " << reportPath.string()
              << (fs::is_directory(reportPath, error) ? ": it is a folder\n"
                                                      : ": its folder does not exist\n");
    return kExitFailure;
  }
  surf::EnsureVertexNormals(*test.geo);
  surf::EnsureVertexNormals(*reference.geo);

  surf::ShapeFusion list;
  const int testIndex = list.AddGeo(test);
  const int referenceIndex = list.AddGeo(reference);
  surf::Measure measure(list.GetScene());
  measure.SetReferenceObject(list.GeoIndex2NodeID(referenceIndex));
  measure.SetTestObject(list.GeoIndex2NodeID(testIndex));
  measure.SyncComparisonTolerance(settings.tolerance);
  Json report;
  Json seconds;

  if (settings.alignFirst) {
    utils::Timer stage;
    surf::Fragment fragmentTest, fragmentReference;
    surf::AlignScan scanTest{list.GetGeo(testIndex), &fragmentTest, {}};
    surf::AlignScan scanReference{list.GetGeo(referenceIndex), &fragmentReference, {}};
    scanTest.prepare.shuffleSeed = 1;
    scanReference.prepare.shuffleSeed = 2;
    surf::PairRegistration registration(1);
    surf::IcpParams icp = surf::PairwiseIcpParams();
    icp.seed = 1;
    const surf::PairAlignmentInfo info =
        registration.Prepare(scanTest, scanReference)
            ? registration.FineRegistration(scanTest, scanReference, true, icp)
            : surf::PairAlignmentInfo{};
    if (!info.valid) {
      std::cerr << "Error: the fine alignment of the test object onto the reference failed (no "
                   "overlap: place "
                   "them roughly first, e.g. with tarvelin align)\n";
      return kExitFailure;
    }
    const math::Frame4d& f = list.GetGeo(testIndex)->GetFrame();
    Json rows = Json::array();
    for (int r = 0; r < 4; ++r) rows.push_back({f(r, 0), f(r, 1), f(r, 2), f(r, 3)});
    report["alignment"] = {{"transform", rows},
                           {"inlier_fraction", info.inlierFraction},
                           {"rms_point_to_plane_mm", info.rmsDistance}};
    seconds["align"] = stage.ElapsedSeconds();
  }

  measure.SetReportPath(reportPath);
  surf::Measure::CompareOptions options;
  options.method = settings.method;
  options.detectFeatures = settings.features;
  bool compared = false;
  {
    ProgressBar bar("measuring");
    options.progress = [&bar](double f) { return bar(f); };
    compared = measure.Compare(options);
  }
  if (InterruptRequested()) return kExitCancelled;
  const surf::Comparison* comparison = measure.GetComparison();
  if (!compared || !comparison) return kExitFailure;  // the report could not be written (said so)
  seconds["deviations"] = comparison->deviationSeconds;
  seconds["features"] = comparison->featureSeconds;

  // deviations.ply, deviations.png.
  utils::Timer stage;
  const v3d::Geo& testGeo = *list.GetGeo(testIndex);
  const std::vector<float> deviations = comparison->Deviations();
  const surf::MeshArrays arrays = TestArrays(testGeo);
  if (!surf::SavePly(settings.out / "deviations.ply", arrays, surf::PlyEncoding::kBinary,
                     {{"deviation", deviations}})) {
    return kExitFailure;
  }
  const img::RGBImage histogram = surf::DeviationHistogram(deviations, settings.tolerance);
  if (!img::SavePNG(histogram, settings.out / "deviations.png")) {
    std::cerr << "Error: could not write " << (settings.out / "deviations.png").string() << "\n";
    return kExitFailure;
  }
  seconds["write"] = stage.ElapsedSeconds();
  if (!settings.project.empty()) {
    surf::ProjectSaveOptions projectOptions;
    projectOptions.modules = {&measure};
    if (!list.SaveProject(settings.project, projectOptions)) return kExitFailure;
  }

  const surf::MeasureReportData data = measure.GetReportData();
  const surf::DeviationResult& result = comparison->deviations;
  double sum = 0, sumSquares = 0;
  std::size_t finite = 0;
  for (const float d : deviations) {
    if (std::isnan(d)) continue;
    sum += d;
    sumSquares += double(d) * d;
    ++finite;
  }
  report["test"] = testGeo.GetName();
  report["reference"] = list.GetGeo(referenceIndex)->GetName();
  report["method"] = surf::DeviationMethodName(settings.method);
  report["tolerance_mm"] = settings.tolerance;
  report["vertices"] = result.vertices;
  report["vertices_not_finite"] = result.nonFinite;
  report["vertices_with_reference"] = result.withReference;
  report["no_overlap"] = comparison->NoOverlap();
  report["deviation_mm"] = {{"mean", finite ? sum / double(finite) : 0.0},
                            {"rms", finite ? std::sqrt(sumSquares / double(finite)) : 0.0},
                            {"percentiles_of_magnitude", Percentiles(data.magnitudes)}};
  Json planes = Json::array(), spheres = Json::array();
  for (const auto& plane : comparison->features.planes) {
    if (plane.points.size() < 10) continue;
    planes.push_back(
        {{"point", Vector(plane.point)},
         {"normal", Vector(plane.normal)},
         {"count", plane.points.size()},
         {"rms_mm", plane.rms},
         {"p99.7_mm",
          surf::Percentile(surf::DeviationMagnitudesOf(deviations, plane.points), 99.7)}});
  }
  for (const auto& sphere : comparison->features.spheres) {
    if (sphere.points.size() < 10) continue;
    spheres.push_back(
        {{"centre", Vector(sphere.centre)},
         {"radius_mm", sphere.radius},
         {"diameter_mm", 2 * sphere.radius},
         {"count", sphere.points.size()},
         {"rms_mm", sphere.rms},
         {"p99.7_mm",
          surf::Percentile(surf::DeviationMagnitudesOf(deviations, sphere.points), 99.7)}});
  }
  report["planes"] = planes;
  report["spheres"] = spheres;
  Json distances = Json::array();
  for (std::size_t i = 0; i < data.spheres.size(); ++i)
    for (std::size_t j = i + 1; j < data.spheres.size(); ++j)
      distances.push_back(
          {{"spheres", {i + 1, j + 1}},
           {"distance_mm", (data.spheres[i].centre - data.spheres[j].centre).Length()}});
  report["sphere_distances"] = distances;
  Json files = {reportPath.string(), (settings.out / "deviations.ply").string(),
                (settings.out / "deviations.png").string()};
  if (!settings.project.empty()) files.push_back(settings.project.string());
  report["files"] = files;
  seconds["total"] = total.ElapsedSeconds();
  report["seconds"] = seconds;
  const fs::path jsonPath = settings.out / "report.json";
  std::ofstream(jsonPath) << report.dump(2) << "\n";
  if (comparison->NoOverlap()) {
    std::cerr << "Warning: no vertex of the test object lies within twice the tolerance ("
              << 2 * settings.tolerance
              << " mm) of the reference: every deviation is the tolerance. Do the objects overlap? "
                 "Align them first "
                 "(--align icp, or tarvelin align), or raise --tolerance.\n";
  }
  if (settings.printSummary) std::cout << report.dump(2) << "\n";
  if (summary) *summary = report;
  return kExitSuccess;
}

CLI::App* MeasureCommand::Register(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "measure",
      "Measure a test object against a reference: deviations, planes and spheres, the report");
  command->add_option("test", test, "The test object: a mesh file or PROJECT[:fusion|:N|:NAME]")
      ->required();
  command->add_option(
      "reference", reference,
      "The reference object (a mesh file or project item); without it TEST is a project "
      "with a stored measurement");
  m_toleranceOption = command
                          ->add_option("--tolerance", tolerance,
                                       "Tolerance t in mm (> 0): colours span -t...+t, "
                                       "deviations are clamped to it")
                          ->capture_default_str();
  command
      ->add_option("--method", method,
                   "vertex: along the nearest reference vertex's normal; triangle: to the "
                   "closest point of the reference's triangles")
      ->check(CLI::IsMember({"vertex", "triangle"}))
      ->capture_default_str();
  command->add_option("--align", align, "none, or icp: fine alignment of TEST onto REF first")
      ->check(CLI::IsMember({"none", "icp"}))
      ->capture_default_str();
  command->add_flag("--no-features", noFeatures, "Do not look for planes and spheres");
  command->add_option("--report", report, "The text report (default: OUT/Measurements.txt)");
  command->add_option("--out", out, "Output folder: deviations.ply, deviations.png, report.json")
      ->required();
  command->add_option("--project", project,
                      "Also save both objects and the measurement as this project");
  return command;
}

int MeasureCommand::Run() {
  if (!(tolerance > 0.f) || !std::isfinite(tolerance)) {
    std::cerr << "Error: --tolerance must be a number above 0 mm, not " << tolerance << "\n";
    return kExitUsage;
  }
  MeasureSettings settings;
  settings.tolerance = tolerance;
  settings.method =
      method == "triangle" ? surf::DeviationMethod::kTriangle : surf::DeviationMethod::kVertex;
  settings.alignFirst = align == "icp";
  settings.features = !noFeatures;
  settings.out = out;
  settings.report = report;
  settings.project = project;

  surf::GeoItem testItem, referenceItem;
  if (reference.empty()) {
    // The measurement stored in a project.
    const fs::path path = test;
    if (!IsProjectPath(path)) {
      std::cerr << "Error: give a reference object, or a project with a stored measurement as the "
                   "only argument\n";
      return kExitUsage;
    }
    surf::ShapeFusion list;
    surf::Measure stored(list.GetScene());
    if (!list.LoadProject(path, {&stored})) {
      std::cerr << "Error: could not read the project " << path.string() << "\n";
      return kExitFailure;
    }
    if (!stored.GetTestObject() || !stored.GetReferenceObject()) {
      std::cerr << "Error: " << path.string()
                << " holds no measurement with both objects: give TEST and REF (e.g. "
                << path.string() << ":fusion REF)\n";
      return kExitFailure;
    }
    const surf::ScanListData data = list.ExportScanListData();
    // Detached copies of the stored objects (with their textures).
    const auto copyOf = [&](const v3d::Geo* geo) {
      surf::GeoItem item;
      for (const auto& scan : data.scans)
        if (scan.geo.get() == geo) item = scan;
      if (data.fusionResult && data.fusionResult->geo.get() == geo) item = *data.fusionResult;
      item.geo = std::make_shared<v3d::Geo>(*geo);
      return item;
    };
    testItem = copyOf(stored.GetTestObject());
    referenceItem = copyOf(stored.GetReferenceObject());
    if (m_toleranceOption && m_toleranceOption->count() == 0)
      settings.tolerance = stored.GetComparisonTolerance();
  } else if (!LoadItem(test, testItem) || !LoadItem(reference, referenceItem)) {
    return kExitFailure;
  }
  return MeasureItems(std::move(testItem), std::move(referenceItem), settings);
}

}  // namespace tarvelin
