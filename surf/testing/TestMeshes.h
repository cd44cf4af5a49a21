#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "surf/mesh/MeshArrays.h"

namespace surf::testing {

// A folder of its own under the system's temporary folder, removed with
// everything in it at destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
  // The names of the files in the folder, sorted.
  std::vector<std::string> FileNames() const;

 private:
  std::filesystem::path m_path;
};

// A grid of nx × ny quads in the plane z = 0.5·x − 0.25·y (spacing 1 mm),
// each split into two triangles; every vertex carries a texture coordinate
// (x/nx, y/ny), an upward normal and a colour from its position. With a
// texture, a w × h image whose pixel (x, y) is (b, g, r) = (x, y, x + y).
MeshArrays MakeGrid(std::uint32_t nx, std::uint32_t ny, bool withTexture = true, std::uint32_t w = 16,
                    std::uint32_t h = 8);

// True when every edge is used by exactly two triangles, in opposite
// directions: the mesh is closed and consistently oriented.
bool IsClosedAndOriented(const std::vector<std::uint32_t>& triangles);

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace surf::testing
