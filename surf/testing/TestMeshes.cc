#include "surf/testing/TestMeshes.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace surf::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device device;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("tarvelin-surf-" + std::to_string(device()));
    if (fs::create_directory(candidate)) {
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("TempFolder - could not create a folder");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(m_path, ignored);
}

std::vector<std::string> TempFolder::FileNames() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(m_path)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

MeshArrays MakeGrid(std::uint32_t nx, std::uint32_t ny, bool withTexture, std::uint32_t w, std::uint32_t h) {
  MeshArrays mesh;
  for (std::uint32_t y = 0; y <= ny; ++y) {
    for (std::uint32_t x = 0; x <= nx; ++x) {
      const float fx = static_cast<float>(x), fy = static_cast<float>(y);
      mesh.positions.emplace_back(fx, fy, 0.5f * fx - 0.25f * fy);
      mesh.texCoords.emplace_back(fx / static_cast<float>(nx), fy / static_cast<float>(ny));
      mesh.normals.push_back(math::Vec3f(-0.5f, 0.25f, 1.f).GetNormalized());
      mesh.colors.emplace_back(std::uint8_t(x * 7), std::uint8_t(y * 5), std::uint8_t(x + y), 255);
    }
  }
  for (std::uint32_t y = 0; y < ny; ++y) {
    for (std::uint32_t x = 0; x < nx; ++x) {
      const std::uint32_t a = y * (nx + 1) + x, b = a + 1, c = a + nx + 1, d = c + 1;
      mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
    }
  }
  if (withTexture) {
    mesh.texture.ResetSize(w, h);
    for (std::uint32_t y = 0; y < h; ++y) {
      for (std::uint32_t x = 0; x < w; ++x) {
        mesh.texture(x, y) = img::RGB8{std::uint8_t(x), std::uint8_t(y), std::uint8_t(x + y)};
      }
    }
  }
  return mesh;
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool IsClosedAndOriented(const std::vector<std::uint32_t>& triangles) {
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> directed;
  for (std::size_t k = 0; k < triangles.size(); k += 3) {
    for (int e = 0; e < 3; ++e) ++directed[{triangles[k + e], triangles[k + (e + 1) % 3]}];
  }
  for (const auto& [edge, uses] : directed) {
    const auto reverse = directed.find({edge.second, edge.first});
    if (uses != 1 || reverse == directed.end() || reverse->second != 1) return false;
  }
  return true;
}

}  // namespace surf::testing
