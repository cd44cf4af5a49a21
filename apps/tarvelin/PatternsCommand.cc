#include <cstdio>
#include <iostream>

#include "apps/tarvelin/Commands.h"
#include "apps/tarvelin/Console.h"
#include "foundation/img/ImageIO.h"

namespace tarvelin {

std::filesystem::path NumberedFile(const std::filesystem::path& dir, const std::string& prefix, std::uint32_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "_%04u.png", index);
  return dir / (prefix + name);
}

CLI::App* PatternsCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand("patterns", "Render the pattern sequence of a scan and save its definition");
  ScanSettings& s = settings;
  sub->add_option("--projector", projector, "Projector size WIDTHxHEIGHT")->capture_default_str();
  sub->add_option("--mode", s.mode, "Pattern mode")->check(CLI::IsMember({"coded", "psk"}))->capture_default_str();
  sub->add_option("--period", s.period, "Stripe period in projector pixels")->capture_default_str();
  sub->add_option("--shifts", s.shifts, "Phase shifts per orientation")->capture_default_str();
  sub->add_flag("--inverse,!--no-inverse", s.inverse,
                "Coded light: project inverse Gray codes (default), else threshold against the mean");
  sub->add_option("--orientation", s.orientation,
                  "both; vertical: stripes vary along y (projector rows); horizontal: along x (columns)")
      ->check(CLI::IsMember({"both", "vertical", "horizontal"}))
      ->capture_default_str();
  sub->add_option("--symbols", s.symbols, "PSK: symbols per level")->capture_default_str();
  sub->add_option("--shifts-per-level", s.shiftsPerLevel, "PSK: shifts per level")->capture_default_str();
  sub->add_option("--texture", s.texture, "Texture patterns: none, grey (4 grey frames) or colour (1 colour frame)")
      ->check(CLI::IsMember({"none", "grey", "colour"}))
      ->capture_default_str();
  sub->add_option("--brightness", s.brightness, "Full-scale output level 1-255")->capture_default_str();
  sub->add_option("--gamma", s.gamma, "Display gamma of the projector (patterns are pre-compensated)")
      ->capture_default_str();
  sub->add_option("--min-contrast", s.minContrast, "Modulation in grey levels below which a pixel is invalid")
      ->capture_default_str();
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int PatternsCommand::Run() {
  unsigned w = 0, h = 0;
  char extra = 0;
  if (std::sscanf(projector.c_str(), "%ux%u%c", &w, &h, &extra) != 2) {
    std::cerr << "Error: --projector must be WIDTHxHEIGHT, e.g. 1920x1080 (got \"" << projector << "\")\n";
    return kExitUsage;
  }
  settings.projectorWidth = w;
  settings.projectorHeight = h;
  if (const std::string problem = settings.Validate(); !problem.empty()) {
    std::cerr << "Error: " << problem << '\n';
    return kExitUsage;
  }
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::cerr << "Error: " << out.string() << ": cannot create folder (" << ec.message() << ")\n";
    return kExitFailure;
  }
  const scan::SLScanPtr scan = BuildScan(settings);
  const auto patterns = scan->AllPatterns();
  scan::SLRenderImage render(settings.projectorWidth, settings.projectorHeight);
  ProgressBar bar("patterns");
  for (std::uint32_t i = 0; i < patterns.size(); ++i) {
    if (bar(double(i) / patterns.size())) return kExitCancelled;
    patterns[i]->Render(render);
    const auto file = NumberedFile(out, "pattern", i);
    if (!img::SavePNG(render.ToRGBImage(), file)) {
      bar.Finish();
      std::cerr << "Error: " << file.string() << ": cannot write\n";
      return kExitFailure;
    }
  }
  bar(1.0);
  bar.Finish();
  const auto xml = out / "scan.xml";
  if (!SaveScanSettings(settings, scan->PatternCount(), xml)) {
    std::cerr << "Error: " << xml.string() << ": cannot write\n";
    return kExitFailure;
  }
  std::cout << "Wrote " << patterns.size() << " patterns and scan.xml to " << out.string() << '\n';
  return kExitSuccess;
}

}  // namespace tarvelin
