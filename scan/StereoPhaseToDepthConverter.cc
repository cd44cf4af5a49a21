#include "scan/StereoPhaseToDepthConverter.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "cam/CameraModelFunctions.h"
#include "scan/ClosestPoints.h"

namespace scan {
namespace {

constexpr int kBins = 4000;
constexpr float kMinQuality = 0.002f;

double Cross2(const math::Vec2d& a, const math::Vec2d& b) { return a[0] * b[1] - a[1] * b[0]; }

bool InUnit(double v) { return v >= 0.0 && v <= 1.0; }

// trunc(key · 4000) when it is a bin of the index.
bool BinOf(float key, int& bin) {
  const float f = key * float(kBins);
  if (!(f > -1.0f && f < float(kBins))) return false;
  bin = int(f);
  return true;
}

// trunc(v) limited to the bins.
int ClampBin(double v) { return int(std::clamp(v, 0.0, double(kBins - 1))); }

// The epipolar reference: baseline and the unit vector perpendicular to it
// in the plane of the baseline and the mean central viewing direction.
struct EpipolarFrame {
  math::Vec3d baseline;
  math::Vec3d reference;

  // The angle (radians, 0…π) of the epipolar plane containing direction d.
  double Angle(const math::Vec3d& d) const {
    const math::Vec3d n = baseline ^ d;
    return std::atan2((reference ^ n).Length(), Dot(reference, n));
  }
};

bool CentralDirection(math::Vec3d& direction, const cam::CameraModel& camera, std::uint32_t w, std::uint32_t h) {
  if (!cam::PixelToWorldDirection(direction, {w / 2.0, h / 2.0}, camera)) return false;
  direction.Normalize();
  return true;
}

// Minimum and maximum epipolar angle along the image border (a sample
// that lowers the minimum does not also raise the maximum).
void BorderRange(double& lo, double& hi, const EpipolarFrame& frame, const cam::CameraModel& camera,
                 std::uint32_t w, std::uint32_t h) {
  lo = std::numbers::pi;
  hi = -std::numbers::pi;
  auto sample = [&](double x, double y) {
    math::Vec3d d;
    if (!cam::PixelToWorldDirection(d, {x, y}, camera)) return;
    const double a = frame.Angle(d);
    if (a < lo) {
      lo = a;
    } else if (a > hi) {
      hi = a;
    }
  };
  for (std::uint32_t x = 0; x < w; ++x) {
    sample(x, 0.0);
    sample(x, h);
  }
  for (std::uint32_t y = 0; y < h; ++y) {
    sample(0.0, y);
    sample(w, y);
  }
}

void EpipolarImage(img::UniImage<float>& image, const EpipolarFrame& frame, const cam::CameraModel& camera,
                   std::uint32_t w, std::uint32_t h, double lo, double hi) {
  image.ResetSize(w, h);
  const double scale = 1.0 / (hi - lo);
  const math::Frame<double>& wTc = camera.GetFrame_wTc();
#pragma omp parallel for schedule(static)
  for (std::int64_t y = 0; y < std::int64_t(h); ++y) {
    float* row = image.Row(std::uint32_t(y));
    for (std::uint32_t x = 0; x < w; ++x) {
      math::Vec3d ray;
      row[x] = camera.PixelToCameraRay(ray, {double(x), double(y)})
                   ? float((frame.Angle(wTc.MultV(ray)) - lo) * scale)
                   : -1.0f;
    }
  }
}

// The 4000 × 4000 key index of camera 1 in counting-sort layout: bins in
// row-major order (first key along the rows), entries sorted by bin. One
// table of 32-bit values serves first as the counts and then, after the
// fill, as each bin's end; a bin's start is the end of the bin before it.
// Entries carry their keys, so that scanning a bin reads memory in order.
struct KeyIndex {
  struct Entry {
    std::uint32_t pixel;
    float keyA;
    float keyB;
  };
  std::vector<std::uint32_t> end;
  std::vector<Entry> entries;

  void Build(const img::UniImage<float>& keyA, const img::UniImage<float>& keyB, const img::UniImage<float>& quality) {
    const std::size_t n = std::size_t(keyA.size);
    end.assign(std::size_t(kBins) * kBins, 0);
    std::vector<std::uint32_t> binOf(n, UINT32_MAX);
    for (std::size_t i = 0; i < n; ++i) {
      int a, b;
      if (!(quality.data[i] >= kMinQuality) || !BinOf(keyA.data[i], a) || !BinOf(keyB.data[i], b)) continue;
      binOf[i] = std::uint32_t(b) * kBins + std::uint32_t(a);
      ++end[binOf[i]];
    }
    std::uint32_t sum = 0;
    for (std::uint32_t& e : end) {  // counts → starts (the fill cursors)
      const std::uint32_t count = e;
      e = sum;
      sum += count;
    }
    entries.resize(sum);
    for (std::size_t i = 0; i < n; ++i) {
      if (binOf[i] != UINT32_MAX) entries[end[binOf[i]]++] = {std::uint32_t(i), keyA.data[i], keyB.data[i]};
    }
  }
  // The entries of bins first … last (one run, first ≤ last).
  std::uint32_t Begin(std::size_t first) const { return first == 0 ? 0 : end[first - 1]; }
  std::uint32_t End(std::size_t last) const { return end[last]; }
};

struct Match {
  std::uint32_t pixel;
  float depth;
  float error;
  float gap;
  std::uint8_t quality;
  float x2, y2;  // camera-2 position
};

}  // namespace

math::Vec2d StereoPhaseToDepthConverter::InverseBilinear(const math::Vec2d& p, const math::Vec2d& k00,
                                                         const math::Vec2d& k10, const math::Vec2d& k01,
                                                         const math::Vec2d& k11) {
  const math::Vec2d e = k10 - k00, f = k01 - k00, g = k00 - k10 - k01 + k11, h = p - k00;
  // (h − t·f) ∥ (e + t·g): a·t² + b·t + c = 0.
  const double a = -Cross2(f, g), b = Cross2(h, g) - Cross2(f, e), c = Cross2(h, e);
  auto sFor = [&](double t) {
    const math::Vec2d d = e + g * t, r = h - f * t;
    const double dd = Dot(d, d);
    return dd > 0.0 ? Dot(r, d) / dd : -1.0;
  };
  if (std::abs(a) < 1e-10) {
    const double t = -c / b;
    return {sFor(t), t};
  }
  const double disc = b * b - 4.0 * a * c;
  if (disc < 0.0) return {-1.0, -1.0};
  const double root = std::sqrt(disc);
  const double t1 = (-b - root) / (2.0 * a);
  const double s1 = sFor(t1);
  if (InUnit(t1) && InUnit(s1)) return {s1, t1};
  const double t2 = (-b + root) / (2.0 * a);
  return {sFor(t2), t2};
}

bool StereoPhaseToDepthConverter::ComputeEpipolarImages(img::UniImage<float>& epipolar1,
                                                        img::UniImage<float>& epipolar2,
                                                        const cam::CameraModel& camera1, std::uint32_t width1,
                                                        std::uint32_t height1, const cam::CameraModel& camera2,
                                                        std::uint32_t width2, std::uint32_t height2) {
  EpipolarFrame frame;
  frame.baseline = camera2.GetFrame_wTc().GetTrans() - camera1.GetFrame_wTc().GetTrans();
  math::Vec3d m1, m2;
  if (!CentralDirection(m1, camera1, width1, height1) || !CentralDirection(m2, camera2, width2, height2)) {
    return false;
  }
  frame.reference = ((frame.baseline ^ (m1 + m2)) ^ frame.baseline).GetNormalized();
  if (frame.reference.LengthSquared() == 0.0) return false;
  double lo1, hi1, lo2, hi2;
  BorderRange(lo1, hi1, frame, camera1, width1, height1);
  BorderRange(lo2, hi2, frame, camera2, width2, height2);
  const double lo = std::max(lo1, lo2), hi = std::min(hi1, hi2);
  if (!(hi > lo)) return false;
  EpipolarImage(epipolar1, frame, camera1, width1, height1, lo, hi);
  EpipolarImage(epipolar2, frame, camera2, width2, height2, lo, hi);
  return true;
}

namespace {

const char* kProjectorRequired =
    "StereoPhaseToDepthConverter::Convert - Valid projector model required if phase orientation is not set to "
    "both.";

void RequireProjector(const cam::CameraModel* projector, int orientation) {
  if (orientation != StereoPhaseToDepthConverter::kBoth && (!projector || !projector->IsValid())) {
    throw std::runtime_error(kProjectorRequired);
  }
}

}  // namespace

bool StereoPhaseToDepthConverter::Convert(std::unique_ptr<surf::DepthMap>& result, const cam::CameraModel& camera1,
                                          const img::UniImage<float>& phase1, const img::UniImage<float>& quality1,
                                          const cam::CameraModel& camera2, const img::UniImage<float>& phase2,
                                          const img::UniImage<float>& quality2, const cam::CameraModel* projector,
                                          float* median, int orientation, img::UniImage<float>* gapImage) const {
  result.reset();
  if (median) *median = 0.0f;
  if (orientation == kBoth) {
    std::cerr << "This version of StereoPhaseToDepthConverter::Convert doesn't support phase orientation 'Both'\n";
    return false;
  }
  RequireProjector(projector, orientation);
  if (!phase1.SameSize(quality1) || !phase2.SameSize(quality2) || phase1.size == 0 || phase2.size == 0) {
    std::cerr << "Error: StereoPhaseToDepthConverter::Convert - phase and quality images differ in size\n";
    return false;
  }
  img::UniImage<float> epipolar1, epipolar2;
  if (!ComputeEpipolarImages(epipolar1, epipolar2, camera1, phase1.width, phase1.height, camera2, phase2.width,
                             phase2.height)) {
    std::cerr << "Error: StereoPhaseToDepthConverter::Convert - the cameras share no epipolar range\n";
    return false;
  }
  if (orientation == kHorizontal) {
    return Convert(result, camera1, phase1, epipolar1, quality1, camera2, phase2, epipolar2, quality2, projector,
                   median, orientation, gapImage);
  }
  return Convert(result, camera1, epipolar1, phase1, quality1, camera2, epipolar2, phase2, quality2, projector,
                 median, orientation, gapImage);
}

bool StereoPhaseToDepthConverter::Convert(
    std::unique_ptr<surf::DepthMap>& result, const cam::CameraModel& camera1,
    const img::UniImage<float>& keyA1, const img::UniImage<float>& keyB1,
    const img::UniImage<float>& quality1, const cam::CameraModel& camera2,
    const img::UniImage<float>& keyA2, const img::UniImage<float>& keyB2,
    const img::UniImage<float>& quality2, const cam::CameraModel* projector, float* median,
    int orientation, img::UniImage<float>* gapImage, MatchImages* matchImages) const {
  result.reset();
  if (median) *median = 0.0f;
  RequireProjector(projector, orientation);
  if (!keyA1.SameSize(keyB1) || !keyA1.SameSize(quality1) || !keyA2.SameSize(keyB2) || !keyA2.SameSize(quality2) ||
      keyA1.size == 0 || keyA2.size == 0 || orientation < kHorizontal || orientation > kBoth) {
    std::cerr << "Error: StereoPhaseToDepthConverter::Convert - key and quality images differ in size\n";
    return false;
  }
  const bool checkProjector = projector && projector->IsValid();
  const std::uint32_t w1 = keyA1.width, h1 = keyA1.height, w2 = keyA2.width, h2 = keyA2.height;
  const double t1 = 0.5 / double(w1 + h1) * 10.0, t2 = 4.0 * t1;

  KeyIndex index;
  index.Build(keyA1, keyB1, quality1);

  const math::Frame<double>& wTc1 = camera1.GetFrame_wTc();
  const math::Frame<double>& cTw1 = camera1.GetFrame_cTw();
  const math::Frame<double>& wTc2 = camera2.GetFrame_wTc();
  // The projector error of a world point seen by camera-1 pixel i.
  auto projectorError = [&](const math::Vec3d& point, std::size_t i) {
    if (!checkProjector) return 0.0;
    math::Vec2d uv;
    if (!cam::WorldPointToPixel(uv, point, *projector)) return HUGE_VAL;
    if (orientation == kHorizontal) return std::abs(uv[0] - keyA1.data[i]);
    if (orientation == kVertical) return std::abs(uv[1] - keyB1.data[i]);
    return std::max(std::abs(uv[0] - keyA1.data[i]), std::abs(uv[1] - keyB1.data[i]));
  };

  std::vector<std::vector<Match>> rows(h2);
  const std::int64_t cellRows = std::int64_t(h2) - 1;
#pragma omp parallel for schedule(dynamic, 4)
  for (std::int64_t y = 0; y < cellRows; ++y) {
    std::vector<Match>& matches = rows[std::size_t(y)];
    for (std::uint32_t x = 0; x + 1 < w2; ++x) {
      const std::size_t c[4] = {std::size_t(y) * w2 + x, std::size_t(y) * w2 + x + 1, std::size_t(y + 1) * w2 + x,
                                std::size_t(y + 1) * w2 + x + 1};
      bool usable = true;
      for (std::size_t k : c) {
        usable = usable && quality2.data[k] >= kMinQuality && std::isfinite(keyA2.data[k]) &&
                 std::isfinite(keyB2.data[k]);
      }
      if (!usable) continue;
      math::Vec2d quad[4];
      for (int k = 0; k < 4; ++k) quad[k] = {keyA2.data[c[k]], keyB2.data[c[k]]};
      const double minA = std::min({quad[0][0], quad[1][0], quad[2][0], quad[3][0]});
      const double maxA = std::max({quad[0][0], quad[1][0], quad[2][0], quad[3][0]});
      const double minB = std::min({quad[0][1], quad[1][1], quad[2][1], quad[3][1]});
      const double maxB = std::max({quad[0][1], quad[1][1], quad[2][1], quad[3][1]});
      if ((maxA - minA) * (maxA - minA) + (maxB - minB) * (maxB - minB) > t1 * t1) continue;
      const int a0 = ClampBin(minA * kBins - 1.0), a1 = ClampBin(maxA * kBins + 1.0);
      const int b0 = ClampBin(minB * kBins - 1.0), b1 = ClampBin(maxB * kBins + 1.0);
      for (int b = b0; b <= b1; ++b) {
        const std::size_t row = std::size_t(b) * kBins;
        for (std::uint32_t e = index.Begin(row + a0), last = index.End(row + a1); e < last; ++e) {
          const KeyIndex::Entry& entry = index.entries[e];
          // Blends with weights in [0, 1] stay inside the quad's box.
          if (entry.keyA < minA || entry.keyA > maxA || entry.keyB < minB || entry.keyB > maxB) continue;
          const std::uint32_t i = entry.pixel;
          const math::Vec2d st = InverseBilinear({entry.keyA, entry.keyB}, quad[0], quad[1], quad[2], quad[3]);
          if (!InUnit(st[0]) || !InUnit(st[1])) continue;
          math::Vec3d ray1, ray2;
          if (!camera1.PixelToCameraRay(ray1, {double(i % w1), double(i / w1)}) ||
              !camera2.PixelToCameraRay(ray2, {x + st[0], y + st[1]})) {
            continue;
          }
          const math::Line3d line1{wTc1.GetTrans(), wTc1.MultV(ray1)}, line2{wTc2.GetTrans(), wTc2.MultV(ray2)};
          math::Vec3d point = line1.point, onLine2;
          bool ok = false;
          const double gap = ClosestPointsOfLines(line1, line2, point, onLine2, &ok);
          if (!ok) continue;
          const double error = projectorError(point, i);
          if (!(error <= t2)) continue;
          const double s = st[0], t = st[1];
          const double q2 = (1 - s) * (1 - t) * quality2.data[c[0]] + s * (1 - t) * quality2.data[c[1]] +
                            (1 - s) * t * quality2.data[c[2]] + s * t * quality2.data[c[3]];
          const double q = std::trunc(255.0 * std::min(q2, double(quality1.data[i])));
          matches.push_back({i, float(cTw1.MultP(point)[2]), float(error), float(gap),
                             std::uint8_t(std::clamp(q, 0.0, 255.0)), float(x + s), float(y + t)});
        }
      }
    }
  }

  auto depth = std::make_unique<img::UniImage<float>>(w1, h1);
  auto quality = std::make_unique<img::UniImage<std::uint8_t>>(w1, h1);
  *depth = 0.0f;
  *quality = 0;
  std::vector<float> errors(std::size_t(w1) * h1, 0.0f);
  if (gapImage) {
    gapImage->ResetSize(w1, h1);
    *gapImage = 0.0f;
  }
  if (matchImages) {
    matchImages->x.ResetSize(w1, h1);
    matchImages->y.ResetSize(w1, h1);
    matchImages->x = -1.0f;
    matchImages->y = -1.0f;
  }
  std::vector<float> ratios;
  for (const std::vector<Match>& matches : rows) {
    for (const Match& m : matches) {
      if (depth->data[m.pixel] != 0.0f && errors[m.pixel] <= m.error) continue;
      depth->data[m.pixel] = m.depth;
      quality->data[m.pixel] = m.quality;
      errors[m.pixel] = m.error;
      if (gapImage) gapImage->data[m.pixel] = m.gap;
      if (matchImages) {
        matchImages->x.data[m.pixel] = m.x2;
        matchImages->y.data[m.pixel] = m.y2;
      }
      if (median && m.depth != 0.0f) ratios.push_back(m.gap / m.depth);
    }
  }
  if (median && !ratios.empty()) {
    std::nth_element(ratios.begin(), ratios.begin() + std::ptrdiff_t(ratios.size() / 2), ratios.end());
    *median = ratios[ratios.size() / 2];
  }
  result = std::make_unique<surf::DepthMap>(std::move(depth), std::move(quality), camera1.CloneModel());
  return true;
}

}  // namespace scan
