#include "surf/fusion/TextureFusion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "surf/testing/TexturedScans.h"

namespace surf {
namespace {

using math::Vec2f;
using math::Vec3d;
using math::Vec3f;
using testing::AppendIcosphere;
using testing::ScanSphere;
using testing::SphereScanSpec;
using testing::SyntheticTexturedScan;

constexpr double kRadius = 30.0;
constexpr double kAmplitude = 100.0;
constexpr double kWavelength = 40.0;  // mm
const double kOmega = 2.0 * std::numbers::pi / kWavelength;

// The known colour (b, g, r) of a world point: three plane waves in different
// directions; steepest slope kAmplitude·kOmega per mm.
Vec3d Wave(const Vec3d& p) {
  return {128.0 + kAmplitude * std::sin(kOmega * (p[0] + 0.3 * p[2])),
          128.0 + kAmplitude * std::sin(kOmega * (0.8 * p[1] - 0.5 * p[0]) + 1.0),
          128.0 + kAmplitude * std::sin(kOmega * (p[2] + 0.4 * p[1]) + 2.0)};
}
double WaveSlope() { return kAmplitude * kOmega * std::sqrt(1.0 + 0.3 * 0.3); }

// The atlas colour at a texture coordinate: bilinear, texel centres at (i + ½)/W.
Vec3d SampleAtlas(const img::RGBImage& image, const Vec2f& uv) {
  const double x = std::clamp(uv[0] * double(image.width) - 0.5, 0.0, image.width - 1.0);
  const double y = std::clamp(uv[1] * double(image.height) - 0.5, 0.0, image.height - 1.0);
  const auto x0 = static_cast<std::uint32_t>(x), y0 = static_cast<std::uint32_t>(y);
  const std::uint32_t x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
  const double ax = x - x0, ay = y - y0;
  Vec3d out;
  const std::uint32_t xs[2] = {x0, x1}, ys[2] = {y0, y1};
  for (int j = 0; j < 2; ++j) {
    for (int i = 0; i < 2; ++i) {
      const img::RGB8& c = image(xs[i], ys[j]);
      out += Vec3d{c.b, c.g, c.r} * ((i ? ax : 1.0 - ax) * (j ? ay : 1.0 - ay));
    }
  }
  return out;
}

double MaxChannelError(const Vec3d& a, const Vec3d& b) {
  return std::max({std::fabs(a[0] - b[0]), std::fabs(a[1] - b[1]), std::fabs(a[2] - b[2])});
}

struct Scene {
  std::vector<Vec3f> positions;
  std::vector<std::uint32_t> indices;
  std::vector<SyntheticTexturedScan> scans;
  std::vector<TexturedScan> Views() const {
    std::vector<TexturedScan> views;
    for (const auto& s : scans) views.push_back(s.View());
    return views;
  }
};

// The six axis views of a sphere, each in a frame twisted about its view.
void AddSixScans(Scene& scene, const Vec3d& centre, const testing::SurfaceColour& colour, std::uint32_t texels = 128,
                 int grid = 101) {
  const Vec3d dirs[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (int k = 0; k < 6; ++k) {
    SphereScanSpec spec;
    spec.centre = centre;
    spec.radius = kRadius;
    spec.viewDirection = dirs[k];
    spec.grid = grid;
    spec.textureWidth = spec.textureHeight = texels;
    spec.twist = 0.4 * k + 0.1;
    scene.scans.push_back(ScanSphere(spec, colour));
  }
}

struct Outcome {
  bool ok = false;
  TextureFusionResult result;
  std::vector<std::string> log;
};

Outcome Fuse(const Scene& scene, TextureFusionOptions options = {}, const utils::ProgressCallback& progress = {}) {
  Outcome run;
  options.log = [&](const std::string& line) { run.log.push_back(line); };
  const auto views = scene.Views();
  run.ok = FuseTextures(scene.positions, scene.indices, views, options, run.result, progress);
  return run;
}

// Bound on an atlas colour against the truth: 1 for the two roundings (scan
// texture, atlas) plus the colour change over a quarter of a scan texel
// (texelMm): atlas and scan sample positions agree to well within that, while
// a half-texel misplacement exceeds it.
double ColourBound(double texelMm) { return 1.0 + WaveSlope() * texelMm / 4.0; }

// Largest error at the result's vertices and at its triangle centroids
// (truth at the centroid pushed onto the sphere of the given centre).
struct Errors {
  double vertex = 0.0;
  double centroid = 0.0;
};
Errors MeasureErrors(const TextureFusionResult& r, const Vec3d& centre, const std::set<std::uint32_t>& only = {}) {
  Errors e;
  for (std::size_t i = 0; i < r.positions.size(); ++i) {
    if (!only.empty() && !only.count(r.sourceVertex[i])) continue;
    const double err = MaxChannelError(SampleAtlas(r.texture, r.texCoords[i]), Wave(Vec3d(r.positions[i])));
    e.vertex = std::max(e.vertex, err);
  }
  for (std::size_t t = 0; t < r.indices.size(); t += 3) {
    if (!only.empty() && !only.count(r.sourceVertex[r.indices[t]])) continue;
    Vec3d p;
    Vec2f uv;
    for (int k = 0; k < 3; ++k) {
      p += Vec3d(r.positions[r.indices[t + k]]) / 3.0;
      uv += r.texCoords[r.indices[t + k]] / 3.f;
    }
    const Vec3d onSphere = centre + (p - centre).GetNormalized() * kRadius;
    e.centroid = std::max(e.centroid, MaxChannelError(SampleAtlas(r.texture, uv), Wave(onSphere)));
  }
  return e;
}

// Fused vertices begin…end − 1 (one sphere).
std::set<std::uint32_t> VerticesOf(std::uint32_t begin, std::uint32_t end) {
  std::set<std::uint32_t> out;
  for (std::uint32_t v = begin; v < end; ++v) out.insert(v);
  return out;
}

const Vec3d kCentre{5.0, -3.0, 12.0};
constexpr std::uint32_t kTexels = 128;
const double kTexelMm = 2.0 * kRadius / kTexels;

TEST(TextureFusion, SixViewsReproduceTheSurfaceColour) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 4, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  const Outcome run = Fuse(scene);
  ASSERT_TRUE(run.ok);
  EXPECT_THAT(run.log, ::testing::ElementsAre("TextureFusion(): CC 0 succeeded\n"));
  const TextureFusionResult& r = run.result;
  ASSERT_EQ(r.texCoords.size(), r.positions.size());
  ASSERT_EQ(r.indices.size(), scene.indices.size());
  // Six views leave seams: some vertices are duplicated, but not most.
  EXPECT_GT(r.positions.size(), scene.positions.size());
  EXPECT_LT(r.positions.size(), scene.positions.size() * 3 / 2);
  const Errors e = MeasureErrors(r, kCentre);
  EXPECT_LE(e.vertex, ColourBound(kTexelMm));
  EXPECT_LE(e.centroid, ColourBound(kTexelMm));
}

TEST(TextureFusion, KeepsTrianglesAndCarriesVertexArrays) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 3, scene.positions, scene.indices);
  scene.positions.push_back({1000.f, 0.f, 0.f});  // in no triangle
  AddSixScans(scene, kCentre, Wave);
  const Outcome run = Fuse(scene);
  ASSERT_TRUE(run.ok);
  const TextureFusionResult& r = run.result;
  ASSERT_EQ(r.sourceVertex.size(), r.positions.size());
  for (std::size_t i = 0; i < r.positions.size(); ++i) {
    ASSERT_LT(r.sourceVertex[i], scene.positions.size());
    EXPECT_EQ(r.positions[i], scene.positions[r.sourceVertex[i]]);
    EXPECT_GE(r.texCoords[i][0], 0.f);
    EXPECT_LE(r.texCoords[i][0], 1.f);
    EXPECT_GE(r.texCoords[i][1], 0.f);
    EXPECT_LE(r.texCoords[i][1], 1.f);
  }
  for (std::size_t k = 0; k < scene.indices.size(); ++k) EXPECT_EQ(r.sourceVertex[r.indices[k]], scene.indices[k]);
  // Every fused vertex survives, the lonely one with the neutral colour.
  std::vector<int> copies(scene.positions.size(), 0);
  for (std::uint32_t s : r.sourceVertex) ++copies[s];
  EXPECT_EQ(std::count(copies.begin(), copies.end(), 0), 0);
  const std::size_t lonely = std::find(r.sourceVertex.begin(), r.sourceVertex.end(), scene.positions.size() - 1) -
                             r.sourceVertex.begin();
  EXPECT_EQ(SampleAtlas(r.texture, r.texCoords[lonely]), (Vec3d{kNeutralColor.b, kNeutralColor.g, kNeutralColor.r}));

  std::vector<float> support(scene.positions.size());
  for (std::size_t v = 0; v < support.size(); ++v) support[v] = 0.5f * static_cast<float>(v) - 3.f;
  const std::vector<float> carried = r.Remap(support);
  ASSERT_EQ(carried.size(), r.positions.size());
  for (std::size_t i = 0; i < carried.size(); ++i) EXPECT_EQ(carried[i], support[r.sourceVertex[i]]);
  support.pop_back();
  EXPECT_THROW(r.Remap(support), std::invalid_argument);
}

TEST(TextureFusion, SeamLevellingHidesABrighterScan) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 4, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  constexpr int kOffset = 24;
  for (std::uint32_t k = 0; k < static_cast<std::uint32_t>(scene.scans[0].texture.size); ++k) {
    img::RGB8& c = scene.scans[0].texture.data[k];
    for (std::uint8_t* ch : {&c.b, &c.g, &c.r}) *ch = static_cast<std::uint8_t>(std::min(255, *ch + kOffset));
  }
  const Outcome run = Fuse(scene);
  ASSERT_TRUE(run.ok);
  const TextureFusionResult& r = run.result;
  // The copies of a seam vertex show nearly one colour (they would differ by
  // kOffset along the brighter scan's seams without levelling).
  double worst = 0.0;
  int seams = 0;
  for (std::size_t i = 0; i + 1 < r.positions.size(); ++i) {
    if (r.sourceVertex[i + 1] != r.sourceVertex[i]) continue;
    ++seams;
    worst = std::max(worst, MaxChannelError(SampleAtlas(r.texture, r.texCoords[i]),
                                            SampleAtlas(r.texture, r.texCoords[i + 1])));
  }
  EXPECT_GT(seams, 50);
  EXPECT_LE(worst, kOffset / 4.0);
}

TEST(TextureFusion, UnseenFacesTakeTheColourOfTheirNeighbours) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 3, scene.positions, scene.indices);
  const Vec3d colour{40.0, 90.0, 200.0};
  SphereScanSpec spec;
  spec.centre = kCentre;
  spec.radius = kRadius;
  spec.viewDirection = {0.2, 0.1, -1.0};
  spec.textureWidth = spec.textureHeight = kTexels;
  scene.scans.push_back(ScanSphere(spec, [&](const Vec3d&) { return colour; }));
  const Outcome run = Fuse(scene);
  ASSERT_TRUE(run.ok);
  EXPECT_THAT(run.log, ::testing::ElementsAre("TextureFusion(): CC 0 succeeded\n"));
  for (std::size_t i = 0; i < run.result.positions.size(); ++i) {
    EXPECT_LE(MaxChannelError(SampleAtlas(run.result.texture, run.result.texCoords[i]), colour), 1.0) << i;
  }
}

TEST(TextureFusion, AComponentNoScanSeesFailsAlone) {
  Scene scene;
  const Vec3d unseen = kCentre + Vec3d{200.0, 0.0, 0.0};
  AppendIcosphere(unseen, kRadius, 2, scene.positions, scene.indices);
  const auto first = static_cast<std::uint32_t>(scene.positions.size());
  AppendIcosphere(kCentre, kRadius, 3, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  const Outcome run = Fuse(scene);
  ASSERT_TRUE(run.ok);
  EXPECT_THAT(run.log, ::testing::ElementsAre("TextureFusion(): CC 0 failed!\n", "TextureFusion(): CC 1 succeeded\n"));
  const TextureFusionResult& r = run.result;
  const Vec3d neutral{kNeutralColor.b, kNeutralColor.g, kNeutralColor.r};
  for (std::size_t i = 0; i < r.positions.size(); ++i) {
    if (r.sourceVertex[i] < first) {
      EXPECT_EQ(SampleAtlas(r.texture, r.texCoords[i]), neutral);
    }
  }
  const Errors e = MeasureErrors(r, kCentre, VerticesOf(first, static_cast<std::uint32_t>(scene.positions.size())));
  EXPECT_LE(e.vertex, ColourBound(kTexelMm));
}

TEST(TextureFusion, TwoComponentsAreTexturedEach) {
  Scene scene;
  const Vec3d other = kCentre + Vec3d{0.0, 150.0, -40.0};
  AppendIcosphere(kCentre, kRadius, 3, scene.positions, scene.indices);
  const auto first = static_cast<std::uint32_t>(scene.positions.size());
  AppendIcosphere(other, kRadius, 3, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  AddSixScans(scene, other, Wave);
  const Outcome run = Fuse(scene);
  ASSERT_TRUE(run.ok);
  EXPECT_THAT(run.log,
              ::testing::ElementsAre("TextureFusion(): CC 0 succeeded\n", "TextureFusion(): CC 1 succeeded\n"));
  EXPECT_LE(MeasureErrors(run.result, kCentre, VerticesOf(0, first)).vertex, ColourBound(kTexelMm));
  EXPECT_LE(MeasureErrors(run.result, other, VerticesOf(first, static_cast<std::uint32_t>(scene.positions.size())))
                .vertex,
            ColourBound(kTexelMm));
}

TEST(TextureFusion, FailsWithoutTexturedScansAndLeavesTheResult) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 2, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  for (auto& s : scene.scans) s.texture = img::RGBImage();
  Outcome run;
  run.result.positions = {{1.f, 2.f, 3.f}};
  TextureFusionOptions options;
  options.log = [&](const std::string& line) { run.log.push_back(line); };
  const auto views = scene.Views();
  EXPECT_FALSE(FuseTextures(scene.positions, scene.indices, views, options, run.result));
  EXPECT_THAT(run.log, ::testing::ElementsAre("TextureFusion(): CC 0 failed!\n"));
  EXPECT_THAT(run.result.positions, ::testing::ElementsAre(Vec3f{1.f, 2.f, 3.f}));
}

TEST(TextureFusion, CancelsAtAnyReportAndLeavesTheResult) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 3, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  const auto views = scene.Views();
  // A full run: reports rise from 0 to 1.
  std::vector<double> reports;
  TextureFusionResult full;
  TextureFusionOptions options;
  options.log = [](const std::string&) {};
  ASSERT_TRUE(FuseTextures(scene.positions, scene.indices, views, options, full, [&](double f) {
    reports.push_back(f);
    return false;
  }));
  ASSERT_GE(reports.size(), 5u);
  EXPECT_EQ(reports.front(), 0.0);
  EXPECT_DOUBLE_EQ(reports.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  for (std::size_t stop : {std::size_t{0}, reports.size() / 2, reports.size() - 1}) {
    std::vector<std::string> log;
    options.log = [&](const std::string& line) { log.push_back(line); };
    TextureFusionResult result;
    result.positions = {{1.f, 2.f, 3.f}};
    std::size_t calls = 0;
    EXPECT_FALSE(FuseTextures(scene.positions, scene.indices, views, options, result,
                              [&](double) { return calls++ == stop; }));
    EXPECT_EQ(calls, stop + 1);
    EXPECT_THAT(result.positions, ::testing::ElementsAre(Vec3f{1.f, 2.f, 3.f}));
    EXPECT_TRUE(log.empty());
  }
}

TEST(TextureFusion, ASmallAtlasLimitScalesTheCharts) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 3, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  TextureFusionOptions options;
  options.maxAtlasSize = 96;
  const Outcome run = Fuse(scene, options);
  ASSERT_TRUE(run.ok);
  EXPECT_LE(run.result.texture.width, 96u);
  EXPECT_LE(run.result.texture.height, 96u);
  // The charts shrink by about sqrt(atlas area / charts' area): an atlas
  // texel spans texel = kTexelMm / scale on the scan image. On top of the
  // bound for that texel, bilinear interpolation of the wave (second
  // derivative A·ω²) at that spacing errs by up to A·ω²·texel²/8, twice.
  const double scale = std::sqrt(96.0 * 96.0 / (6.0 * kTexels * kTexels * 0.9));
  const double texel = kTexelMm / scale;
  const double bound = ColourBound(texel) + 2.0 * kAmplitude * kOmega * kOmega * texel * texel / 8.0;
  EXPECT_LE(MeasureErrors(run.result, kCentre).vertex, bound);
}

TEST(TextureFusion, SurvivesNonFiniteVertices) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 3, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave);
  scene.positions[7] = {std::nanf(""), 0.f, 0.f};
  scene.scans[1].positions[3] = {0.f, std::numeric_limits<float>::infinity(), 0.f};
  const Outcome run = Fuse(scene);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.result.indices.size(), scene.indices.size());
}

TEST(TextureFusion, RejectsBadArrays) {
  Scene scene;
  AppendIcosphere(kCentre, kRadius, 1, scene.positions, scene.indices);
  AddSixScans(scene, kCentre, Wave, 32, 21);
  TextureFusionResult result;
  std::vector<std::uint32_t> bad = scene.indices;
  bad[4] = static_cast<std::uint32_t>(scene.positions.size());
  auto views = scene.Views();
  EXPECT_THROW(FuseTextures(scene.positions, bad, views, {}, result), std::invalid_argument);
  bad.pop_back();
  EXPECT_THROW(FuseTextures(scene.positions, bad, views, {}, result), std::invalid_argument);
  views[2].texCoords = views[2].texCoords.first(views[2].texCoords.size() - 1);
  EXPECT_THROW(FuseTextures(scene.positions, scene.indices, views, {}, result), std::invalid_argument);
}

}  // namespace
}  // namespace surf
