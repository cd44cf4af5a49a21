#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

namespace tarvelin {

// `tarvelin align A B --out A_aligned.ext`: moves mesh A onto mesh B by a
// coarse random search (optionally with a known rotation axis, a point on
// it and a known angle) followed by ICP, writes the moved A in the format
// of the output's extension and a report.json beside it (transform, score,
// overlap inlier fraction, RMS point-to-plane distance, seconds per stage).
// Meshes without normals get area-weighted vertex normals. Exit codes: 0
// aligned, 1 unreadable input, no alignment found or output not written,
// 2 bad option, 130 cancelled.
struct AlignCommand {
  std::filesystem::path a;
  std::filesystem::path b;
  std::filesystem::path out;
  std::string axis;
  std::string axisPoint;
  double angleDegrees = 0.0;
  double angleToleranceDegrees = 0.0;
  double effort = 1.0;
  bool fineOnly = false;
  std::uint64_t seed = 1;
  int threads = 0;

  CLI::App* Register(CLI::App& app);
  int Run() const;
};

}  // namespace tarvelin
