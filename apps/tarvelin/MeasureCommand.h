#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "surf/measure/Deviation.h"
#include "surf/mesh/GeoItem.h"

namespace tarvelin {

// How a measurement runs.
struct MeasureSettings {
  float tolerance = 0.1f;  // t, mm
  surf::DeviationMethod method = surf::DeviationMethod::kVertex;
  bool alignFirst = false;        // fine alignment (ICP) of the test onto the reference first
  bool features = true;           // planes and spheres
  std::filesystem::path out;      // folder of deviations.ply, deviations.png, report.json
  std::filesystem::path report;   // the text report; empty: OUT/Measurements.txt
  std::filesystem::path project;  // when not empty: both objects and the measurement as a project
  bool printSummary = true;       // report.json also to standard output
};

// Measures test against reference (detached items in the same coordinates)
// as the measurement module does, then writes the report, deviations.ply
// (binary, the test object in the reference's coordinates with vertex
// colours on the −t…+t ramp and the signed deviation as the vertex property
// "deviation"), the histogram deviations.png and report.json. Meshes
// without normals get area-weighted ones. An exit code; summary receives
// report.json's content.
int MeasureItems(surf::GeoItem test, surf::GeoItem reference, const MeasureSettings& settings,
                 nlohmann::ordered_json* summary = nullptr);

// `tarvelin measure TEST [REF]`: TEST and REF are mesh files or project
// items ("P.tarvelinproj" is its fusion result, or its only scan;
// "P.tarvelinproj:fusion", "P.tarvelinproj:N" scan N from 0, or
// "P.tarvelinproj:NAME" a scan by name). Without REF, TEST is a project
// whose stored measurement names both objects and the tolerance.
// Exit codes: 0 measured, 1 unreadable or empty input or an output that
// cannot be written, 2 bad option, 130 cancelled.
struct MeasureCommand {
  std::string test;
  std::string reference;
  float tolerance = 0.1f;
  std::string method = "vertex";
  std::string align = "none";
  bool noFeatures = false;
  std::filesystem::path report;
  std::filesystem::path out;
  std::filesystem::path project;

  CLI::App* Register(CLI::App& app);
  int Run();

 private:
  CLI::Option* m_toleranceOption = nullptr;
};

}  // namespace tarvelin
