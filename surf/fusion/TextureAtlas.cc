#include "surf/fusion/TextureAtlas.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "surf/fusion/TextureFusion.h"

namespace surf {

using math::Vec2f;
using math::Vec3f;

Vec3f SampleBilinear(const img::RGBImage& image, float x, float y) {
  const float fx = std::clamp(x - 0.5f, 0.f, static_cast<float>(image.width - 1));
  const float fy = std::clamp(y - 0.5f, 0.f, static_cast<float>(image.height - 1));
  const auto x0 = static_cast<std::uint32_t>(fx), y0 = static_cast<std::uint32_t>(fy);
  const std::uint32_t x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
  const float ax = fx - static_cast<float>(x0), ay = fy - static_cast<float>(y0);
  const auto at = [&](std::uint32_t px, std::uint32_t py) {
    const img::RGB8& c = image(px, py);
    return Vec3f{c.b, c.g, c.r};
  };
  return (at(x0, y0) * (1.f - ax) + at(x1, y0) * ax) * (1.f - ay) + (at(x0, y1) * (1.f - ax) + at(x1, y1) * ax) * ay;
}

namespace {

img::RGB8 ToRGB8(const Vec3f& bgr) {
  const auto q = [](float v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return {q(bgr[0]), q(bgr[1]), q(bgr[2])};
}

}  // namespace

bool TextureAtlas::Layout(const AtlasInput& input) {
  const std::size_t numCharts = input.charts.size();
  m_rects.assign(numCharts + 1, Rect{});
  m_extent.assign(numCharts, Vec2f{});
  m_textured.assign(numCharts, false);
  for (std::size_t c = 0; c < numCharts; ++c) {
    const AtlasChart& chart = input.charts[c];
    if (chart.scan == kNoChart) continue;
    m_textured[c] = true;
    Vec2f lo{std::numeric_limits<float>::max(), std::numeric_limits<float>::max()};
    Vec2f hi{std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest()};
    for (std::uint32_t f : chart.faces) {
      for (int k = 0; k < 3; ++k) {
        const Vec2f& t = input.scanTexel[input.cornerVertex[3 * f + k]];
        lo = {std::min(lo[0], t[0]), std::min(lo[1], t[1])};
        hi = {std::max(hi[0], t[0]), std::max(hi[1], t[1])};
      }
    }
    m_rects[c].origin = lo;
    m_extent[c] = hi - lo;
  }
  m_scale = 1.f;
  for (int attempt = 0; attempt < 200 && m_scale > 1.f / 1024.f; ++attempt) {
    std::uint32_t width = 0, height = 0;
    if (Pack(width, height)) {
      m_image = img::RGBImage(width, height);
      m_mask = img::GreyImage(width, height);
      m_mask = 0;
      return true;
    }
    const double excess = std::max(1.0, static_cast<double>(std::max(width, height)) / m_maxSize);
    m_scale *= static_cast<float>(std::clamp(0.98 / std::sqrt(excess), 0.5, 0.97));
  }
  return false;
}

bool TextureAtlas::Pack(std::uint32_t& width, std::uint32_t& height) {
  const auto pad = static_cast<std::uint32_t>(m_padding);
  std::vector<std::uint32_t> order;
  double area = 0.0;
  std::uint32_t widest = 0;
  for (std::size_t c = 0; c < m_rects.size(); ++c) {
    Rect& r = m_rects[c];
    r.placed = false;
    if (c >= m_textured.size() || !m_textured[c]) {
      r.w = r.h = kFlatBlock;
    } else {
      r.w = static_cast<std::uint32_t>(std::ceil(m_extent[c][0] * m_scale)) + 2 * pad + 1;
      r.h = static_cast<std::uint32_t>(std::ceil(m_extent[c][1] * m_scale)) + 2 * pad + 1;
    }
    order.push_back(static_cast<std::uint32_t>(c));
    area += double(r.w) * r.h;
    widest = std::max(widest, r.w);
  }
  width = std::max(widest, static_cast<std::uint32_t>(std::ceil(std::sqrt(area * 1.1))));
  width = (width + 3) / 4 * 4;
  if (width > m_maxSize) width = std::max(widest, m_maxSize);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return m_rects[a].h > m_rects[b].h; });
  std::uint32_t x = 0, y = 0, shelf = 0;
  for (std::uint32_t c : order) {
    Rect& r = m_rects[c];
    if (x + r.w > width) {
      x = 0;
      y += shelf;
      shelf = 0;
    }
    r.x = x;
    r.y = y;
    r.placed = true;
    x += r.w;
    shelf = std::max(shelf, r.h);
  }
  height = y + shelf;
  return width <= m_maxSize && height <= m_maxSize;
}

Vec2f TextureAtlas::AtlasPosition(const Rect& rect, const Vec2f& scanTexel) const {
  const float pad = static_cast<float>(m_padding);
  return (scanTexel - rect.origin) * m_scale + Vec2f{static_cast<float>(rect.x) + pad, static_cast<float>(rect.y) + pad};
}

Vec2f TextureAtlas::TexCoord(const AtlasInput& input, std::uint32_t vertex) const {
  const std::uint32_t chart = input.chartOfVertex[vertex];
  Vec2f p;
  if (chart != kNoChart && input.charts[chart].scan != kNoChart) {
    p = AtlasPosition(m_rects[chart], input.scanTexel[vertex]);
  } else {
    const bool flat = chart != kNoChart && input.charts[chart].flatSamples > 0;
    const Rect& r = flat ? m_rects[chart] : m_rects.back();
    p = {static_cast<float>(r.x) + 0.5f * kFlatBlock, static_cast<float>(r.y) + 0.5f * kFlatBlock};
  }
  return {p[0] / static_cast<float>(m_image.width), p[1] / static_cast<float>(m_image.height)};
}

void TextureAtlas::FillBlock(const Rect& rect, const img::RGB8& colour) {
  for (std::uint32_t y = rect.y; y < rect.y + rect.h; ++y) {
    for (std::uint32_t x = rect.x; x < rect.x + rect.w; ++x) {
      m_image(x, y) = colour;
      m_mask(x, y) = 1;
    }
  }
}

void TextureAtlas::FillTextured(const AtlasInput& input, std::uint32_t c) {
  // Interiors first, then the padding around every triangle: the scan
  // texture beyond the triangle with the correction of its nearest point.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::uint32_t f : input.charts[c].faces) RasteriseFace(input, c, f, pass == 1);
  }
}

void TextureAtlas::RasteriseFace(const AtlasInput& input, std::uint32_t c, std::uint32_t f, bool padding) {
  const Rect& rect = m_rects[c];
  const img::RGBImage& texture = *input.textures[input.charts[c].scan];
  const float inverse = 1.f / m_scale;
  const Vec2f corner{static_cast<float>(rect.x + m_padding), static_cast<float>(rect.y + m_padding)};
  const std::uint32_t* v = &input.cornerVertex[3 * f];
  const Vec2f a[3] = {AtlasPosition(rect, input.scanTexel[v[0]]), AtlasPosition(rect, input.scanTexel[v[1]]),
                      AtlasPosition(rect, input.scanTexel[v[2]])};
  const auto edge = [](const Vec2f& p, const Vec2f& q, const Vec2f& r) {
    return (q[0] - p[0]) * (r[1] - p[1]) - (r[0] - p[0]) * (q[1] - p[1]);
  };
  const float area = edge(a[0], a[1], a[2]);
  if (std::fabs(area) < 1e-8f) return;
  const float inv = 1.f / area;
  const float reach = padding ? static_cast<float>(m_padding) + 0.5f : 0.f;
  const auto lo = [&](int k) { return std::min({a[0][k], a[1][k], a[2][k]}) - reach; };
  const auto hi = [&](int k) { return std::max({a[0][k], a[1][k], a[2][k]}) + reach; };
  const std::uint32_t x0 = std::max(rect.x, static_cast<std::uint32_t>(std::max(0.f, std::floor(lo(0)))));
  const std::uint32_t y0 = std::max(rect.y, static_cast<std::uint32_t>(std::max(0.f, std::floor(lo(1)))));
  const std::uint32_t x1 = std::min(rect.x + rect.w - 1, static_cast<std::uint32_t>(std::max(0.f, hi(0))));
  const std::uint32_t y1 = std::min(rect.y + rect.h - 1, static_cast<std::uint32_t>(std::max(0.f, hi(1))));
  const Vec3f g[3] = {input.correction[v[0]], input.correction[v[1]], input.correction[v[2]]};
  constexpr float kInside = -1e-4f;
  for (std::uint32_t y = y0; y <= y1; ++y) {
    for (std::uint32_t x = x0; x <= x1; ++x) {
      const Vec2f p{static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f};
      float w[3] = {edge(a[1], a[2], p) * inv, edge(a[2], a[0], p) * inv, 0.f};
      w[2] = 1.f - w[0] - w[1];
      const bool inside = w[0] >= kInside && w[1] >= kInside && w[2] >= kInside;
      if (padding) {
        if (inside || m_mask(x, y) == 1) continue;
        // Nearest point, approximately: negative weights clamped.
        float sum = 0.f;
        for (float& wk : w) sum += (wk = std::max(wk, 0.f));
        for (float& wk : w) wk /= sum;
        if ((a[0] * w[0] + a[1] * w[1] + a[2] * w[2] - p).Length() > reach) continue;
      } else if (!inside) {
        continue;
      }
      const Vec2f s = (p - corner) * inverse + rect.origin;
      m_image(x, y) = ToRGB8(SampleBilinear(texture, s[0], s[1]) + g[0] * w[0] + g[1] * w[1] + g[2] * w[2]);
      m_mask(x, y) = padding ? 2 : 1;
    }
  }
}

bool TextureAtlas::Fill(const AtlasInput& input, const utils::ProgressCallback& progress) {
  const std::size_t numCharts = input.charts.size();
  FillBlock(m_rects.back(), kNeutralColor);
  for (std::size_t c = 0; c < numCharts; ++c) {
    const AtlasChart& chart = input.charts[c];
    if (chart.scan == kNoChart && chart.flatSamples > 0) {
      FillBlock(m_rects[c], ToRGB8(chart.flatSum / static_cast<float>(chart.flatSamples)));
    }
  }
  // Charts in blocks of about equal work between progress reports.
  std::vector<std::uint32_t> textured;
  std::size_t totalFaces = 0;
  for (std::size_t c = 0; c < numCharts; ++c) {
    if (input.charts[c].scan != kNoChart) {
      textured.push_back(static_cast<std::uint32_t>(c));
      totalFaces += input.charts[c].faces.size();
    }
  }
  const std::size_t blockFaces = std::max<std::size_t>(1, totalFaces / 20);
  std::size_t done = 0;
  for (std::size_t begin = 0; begin < textured.size();) {
    std::size_t end = begin, faces = 0;
    while (end < textured.size() && faces < blockFaces) faces += input.charts[textured[end++]].faces.size();
#pragma omp parallel for schedule(dynamic, 1)
    for (std::int64_t i = static_cast<std::int64_t>(begin); i < static_cast<std::int64_t>(end); ++i) {
      FillTextured(input, textured[static_cast<std::size_t>(i)]);
    }
    done += faces;
    begin = end;
    if (progress && progress(static_cast<double>(done) / static_cast<double>(totalFaces))) return false;
  }
  return true;
}

}  // namespace surf
