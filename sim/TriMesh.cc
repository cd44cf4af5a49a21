#include "sim/TriMesh.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "v3d/Mesh.h"

namespace sim {

AlbedoTexture::AlbedoTexture(img::RGBImage image) : m_image(std::move(image)) {
  if (m_image.IsEmpty()) throw std::invalid_argument("AlbedoTexture::AlbedoTexture - Empty image.");
}

Albedo AlbedoTexture::Lookup(float s, float t) const {
  const int w = static_cast<int>(m_image.width), h = static_cast<int>(m_image.height);
  // Pixel-centre coordinates, wrapped into [0, w) × [0, h).
  auto wrap = [](double x, int n) {
    double r = std::fmod(x, static_cast<double>(n));
    return r < 0 ? r + n : r;
  };
  const double x = wrap(static_cast<double>(s) * w - 0.5, w);
  const double y = wrap(static_cast<double>(t) * h - 0.5, h);
  const int x0 = static_cast<int>(x) % w, y0 = static_cast<int>(y) % h;
  const int x1 = (x0 + 1) % w, y1 = (y0 + 1) % h;
  const float fx = static_cast<float>(x - std::floor(x)),
              fy = static_cast<float>(y - std::floor(y));
  auto value = [&](int px, int py) {
    const img::RGB8& c = m_image(static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py));
    return Albedo(c.r / 255.f, c.g / 255.f, c.b / 255.f);
  };
  const Albedo top = value(x0, y0) * (1.f - fx) + value(x1, y0) * fx;
  const Albedo bottom = value(x0, y1) * (1.f - fx) + value(x1, y1) * fx;
  return top * (1.f - fy) + bottom * fy;
}

std::shared_ptr<const AlbedoTexture> AlbedoTexture::MakeChecker(int cellsX, int cellsY,
                                                                const Albedo& a, const Albedo& b,
                                                                int cellPixels) {
  if (cellsX < 1 || cellsY < 1 || cellPixels < 1 || cellsX * cellPixels > 16384 ||
      cellsY * cellPixels > 16384) {
    throw std::invalid_argument("AlbedoTexture::MakeChecker - Invalid cell counts or size.");
  }
  auto toByte = [](float v) {
    return static_cast<img::uint8>(std::lround(std::clamp(v, 0.f, 1.f) * 255.f));
  };
  const img::RGB8 ca = img::RGB8::FromRGB(toByte(a[0]), toByte(a[1]), toByte(a[2]));
  const img::RGB8 cb = img::RGB8::FromRGB(toByte(b[0]), toByte(b[1]), toByte(b[2]));
  img::RGBImage image(static_cast<std::uint32_t>(cellsX * cellPixels),
                      static_cast<std::uint32_t>(cellsY * cellPixels));
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const bool even = ((x / cellPixels) + (y / cellPixels)) % 2 == 0;
      image(x, y) = even ? ca : cb;
    }
  }
  return std::make_shared<const AlbedoTexture>(std::move(image));
}

std::string TriMesh::Validate() const {
  std::ostringstream out;
  const std::size_t n = positions.size();
  for (std::size_t i = 0; i < n; ++i) {
    const math::Vec3f& p = positions[i];
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
      out << "position " << i << " is not finite";
      return out.str();
    }
  }
  for (std::size_t t = 0; t < triangles.size(); ++t) {
    for (int k = 0; k < 3; ++k) {
      if (triangles[t][k] >= n) {
        out << "triangle " << t << " refers to vertex " << triangles[t][k] << " of " << n;
        return out.str();
      }
    }
  }
  if (!albedo.empty() && albedo.size() != n) {
    out << albedo.size() << " albedo values for " << n << " vertices";
  } else if (!texCoords.empty() && texCoords.size() != n) {
    out << texCoords.size() << " texture coordinates for " << n << " vertices";
  }
  return out.str();
}

TriMesh TriMesh::Transformed(const math::Frame4d& a_T_mesh) const {
  TriMesh result = *this;
  for (math::Vec3f& p : result.positions) {
    p = math::Vec3f(a_T_mesh.MultP(math::Vec3d(p)));
  }
  return result;
}

TriMesh FromV3dMesh(const v3d::Mesh& mesh) {
  TriMesh result;
  const v3d::VertexBuffer& vb = mesh.GetVertexBuffer();
  result.positions = vb.GetVertexCoords();
  if (!vb.GetVertexColors().empty()) {
    result.albedo.reserve(vb.GetVertexColors().size());
    for (const v3d::Color4ub& c : vb.GetVertexColors()) {
      result.albedo.push_back(Albedo(c.r / 255.f, c.g / 255.f, c.b / 255.f));
    }
  }
  result.texCoords = vb.GetVertexTexCoords();
  const std::vector<std::uint32_t>& prims = mesh.GetSurface().GetPrims();
  const std::uint32_t primSize = mesh.GetSurface().GetPrimSize();
  const std::size_t n = result.positions.size();
  for (std::uint32_t index : prims) {
    if (index >= n) throw std::invalid_argument("sim::FromV3dMesh - Vertex index out of range.");
  }
  if (primSize == 3) {
    for (std::size_t i = 0; i + 2 < prims.size(); i += 3) {
      result.triangles.push_back(TriMesh::Triangle(prims[i], prims[i + 1], prims[i + 2]));
    }
  } else if (primSize == 4) {
    for (std::size_t i = 0; i + 3 < prims.size(); i += 4) {
      result.triangles.push_back(TriMesh::Triangle(prims[i], prims[i + 1], prims[i + 2]));
      result.triangles.push_back(TriMesh::Triangle(prims[i], prims[i + 2], prims[i + 3]));
    }
  }
  const std::string problem = result.Validate();
  if (!problem.empty()) throw std::invalid_argument("sim::FromV3dMesh - " + problem + ".");
  return result;
}

}  // namespace sim
