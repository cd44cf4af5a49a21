#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <iostream>

#include "apps/tarvelin/Commands.h"
#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/FloatMap.h"
#include "foundation/img/ImageIO.h"
#include "foundation/utils/Timer.h"

namespace tarvelin {
namespace {

// Fraction of camera pixels with quality > 0 and every coordinate in [0, 1).
double DecodedFraction(const scan::SLScanEvaluationResult& result) {
  const auto quality = result.Quality();
  if (!quality || quality->size == 0) return 0.0;
  const auto x = result.CorrespondencesX();
  const auto y = result.CorrespondencesY();
  auto inside = [](const img::UniImagePtr<float>& c, std::int32_t j) {
    return !c || (c->data[j] >= 0.0f && c->data[j] < 1.0f);
  };
  std::int64_t decoded = 0;
  for (std::int32_t j = 0; j < quality->size; ++j) {
    if (quality->data[j] > 0.0f && inside(x, j) && inside(y, j)) ++decoded;
  }
  return double(decoded) / double(quality->size);
}

class Outputs {
 public:
  explicit Outputs(std::filesystem::path dir) : m_dir(std::move(dir)) {}

  bool Float(const img::UniImagePtr<float>& image, const std::string& name, const img::UniImage<float>* mask,
             bool grey) {
    if (!image) return true;
    if (!Check(SaveFloatMap(*image, m_dir / (name + ".pfm")), name + ".pfm")) return false;
    const auto preview = m_dir / (name + "_preview.png");
    const bool saved = grey ? img::SavePNG(GreyPreview(*image), preview)
                            : img::SavePNG(FalseColour(*image, 0.0f, 1.0f, mask), preview);
    return Check(saved, preview.filename().string());
  }
  bool Texture(const img::UniImagePtr<img::RGB8>& texture) {
    return !texture || Check(img::SavePNG(*texture, m_dir / "texture.png"), "texture.png");
  }
  const nlohmann::json& Written() const { return m_written; }

 private:
  bool Check(bool ok, const std::string& name) {
    if (!ok) {
      std::cerr << "Error: " << (m_dir / name).string() << ": cannot write\n";
      return false;
    }
    m_written.push_back(name);
    return true;
  }
  std::filesystem::path m_dir;
  nlohmann::json m_written = nlohmann::json::array();
};

}  // namespace

CLI::App* DecodeCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand("decode", "Decode camera frames of a scan into projector correspondences");
  sub->add_option("--frames", frames, "Folder with scan.xml and frame_NNNN.png (one per pattern, display order)")
      ->required();
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int DecodeCommand::Run() {
  ScanSettings settings;
  std::uint32_t patternCount = 0;
  std::string error;
  const auto xml = frames / "scan.xml";
  if (!LoadScanSettings(xml, settings, patternCount, error)) {
    if (!std::filesystem::exists(xml))
      error = "missing: the frames need the scan definition they were taken with (`tarvelin patterns` writes it, "
              "`tarvelin capture --scan scan.xml` copies it beside the frames)";
    std::cerr << "Error: " << xml.string() << ": " << error << '\n';
    return kExitFailure;
  }
  const scan::SLScanPtr scan = BuildScan(settings);
  if (scan->PatternCount() != patternCount) {
    std::cerr << "Error: " << xml.string() << ": <PatternCount> " << patternCount << " does not match the "
              << scan->PatternCount() << " patterns of the scan it describes\n";
    return kExitFailure;
  }
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::cerr << "Error: " << out.string() << ": cannot create folder (" << ec.message() << ")\n";
    return kExitFailure;
  }

  nlohmann::json report;
  report["frames"] = frames.string();
  report["mode"] = settings.mode;
  report["pattern_count"] = patternCount;

  utils::Timer loadTimer;
  scan::SLScannedImagesStore store;
  std::uint32_t width = 0, height = 0;
  {
    ProgressBar bar("loading");
    for (std::uint32_t i = 0; i < patternCount; ++i) {
      if (bar(double(i) / patternCount)) return kExitCancelled;
      const auto pattern = scan->PatternAtIndex(i);
      const auto file = NumberedFile(frames, "frame", i);
      std::uint32_t w = 0, h = 0;
      bool loaded = false;
      if (pattern->GetCaptureType() == 1) {
        auto image = std::make_shared<img::UniImage<img::RGB8>>();
        loaded = img::LoadUniImage(*image, file);
        w = image->width, h = image->height;
        if (loaded) store.AddColorImage(pattern, image);
      } else {
        auto image = std::make_shared<img::UniImage<img::uint8>>();
        loaded = img::LoadUniImage(*image, file);
        w = image->width, h = image->height;
        if (loaded) store.AddGrayImage(pattern, image);
      }
      if (!loaded) {
        bar.Finish();
        std::cerr << "Error: " << file.string() << ": missing or not a readable image\n";
        return kExitFailure;
      }
      if (i == 0) {
        width = w, height = h;
      } else if (w != width || h != height) {
        bar.Finish();
        std::cerr << "Error: " << file.string() << ": " << w << "x" << h << " differs from the " << width << "x"
                  << height << " of frame_0000.png\n";
        return kExitFailure;
      }
    }
    bar(1.0);
  }
  report["seconds"]["load_frames"] = loadTimer.ElapsedSeconds();

  utils::Timer evaluateTimer;
  nlohmann::json steps = nlohmann::json::array();
  scan::SLScanEvaluationResultPtr result;
  {
    ProgressBar bar("decoding");
    double last = 0.0;
    result = scan->Evaluate(store, [&](double fraction) {
      const double now = evaluateTimer.ElapsedSeconds();
      steps.push_back({{"fraction", fraction}, {"seconds", now - last}});
      last = now;
      return bar(fraction);
    });
  }
  if (!result) return kExitCancelled;
  report["seconds"]["evaluate"] = evaluateTimer.ElapsedSeconds();
  report["evaluation_steps"] = steps;

  utils::Timer writeTimer;
  Outputs outputs(out);
  const auto quality = result->Quality();
  if (!outputs.Float(result->CorrespondencesX(), "correspondences_x", quality.get(), false) ||
      !outputs.Float(result->CorrespondencesY(), "correspondences_y", quality.get(), false) ||
      !outputs.Float(quality, "quality", nullptr, true) || !outputs.Texture(result->Texture())) {
    return kExitFailure;
  }
  report["seconds"]["write_outputs"] = writeTimer.ElapsedSeconds();
  report["image"] = {{"width", width}, {"height", height}};
  const double fraction = DecodedFraction(*result);
  report["decoded_fraction"] = fraction;
  report["outputs"] = outputs.Written();
  std::ofstream json(out / "report.json");
  json << report.dump(2) << '\n';
  if (!json) {
    std::cerr << "Error: " << (out / "report.json").string() << ": cannot write\n";
    return kExitFailure;
  }
  std::cout << "Decoded " << width << "x" << height << " frames: " << fraction * 100.0 << "% of the pixels, "
            << "results in " << out.string() << '\n';
  return kExitSuccess;
}

}  // namespace tarvelin
