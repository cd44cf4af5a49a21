#include "surf/files/StlFile.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "surf/files/SafeWrite.h"

namespace surf {
namespace {

static_assert(std::endian::native == std::endian::little, "STL is little-endian");

constexpr std::size_t kHeaderSize = 84;
constexpr std::size_t kRecordSize = 50;
constexpr int kMarks = 10;

std::vector<std::uint8_t> ReadWholeFile(std::ifstream& in) {
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  std::vector<std::uint8_t> bytes(size > 0 ? static_cast<std::size_t>(size) : 0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::size_t>(in.gcount()) != bytes.size()) bytes.clear();
  return bytes;
}

void PutFloats(std::uint8_t*& out, const math::Vec3f& v) {
  std::memcpy(out, v.data(), 12);
  out += 12;
}

}  // namespace

bool ParseStl(std::span<const std::uint8_t> bytes, MeshArrays& mesh, const ImportOptions& options) {
  if (bytes.size() < kHeaderSize) {
    std::cerr << "Error: ParseStl - " << bytes.size() << " bytes are too few for a binary STL file.\n";
    return false;
  }
  std::uint32_t n = 0;
  std::memcpy(&n, bytes.data() + 80, 4);
  // In 64 bits, so that no count can wrap around.
  const std::uint64_t expected = kHeaderSize + kRecordSize * std::uint64_t{n};
  if (bytes.size() != expected) {
    std::cerr << "Error: ParseStl - The file has " << bytes.size() << " bytes, a binary STL file of " << n
              << " triangles has " << expected << ".\n";
    return false;
  }

  MeshArrays read;
  read.positions.resize(3 * std::size_t{n});
  read.indices.resize(3 * std::size_t{n});
  const std::uint8_t* record = bytes.data() + kHeaderSize;
  const std::size_t step = n / kMarks + 1;
  for (std::size_t t = 0; t < n; ++t, record += kRecordSize) {
    std::memcpy(read.positions[3 * t].data(), record + 12, 36);
    for (std::size_t k = 0; k < 3; ++k) read.indices[3 * t + k] = static_cast<std::uint32_t>(3 * t + k);
    if (t % step == 0) {
      if (options.marks) *options.marks << '>' << std::flush;
      if (options.progress && options.progress(0.9 * t / n)) {
        std::cerr << "Error: ParseStl - Cancelled.\n";
        return false;
      }
    }
  }
  UnifyIdenticalVertices(read);
  if (options.marks) *options.marks << ">>>>>\n" << std::flush;
  if (options.progress) options.progress(1.0);
  mesh = std::move(read);
  return true;
}

bool LoadStl(const std::filesystem::path& path, MeshArrays& mesh, const ImportOptions& options) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  if (!in || std::filesystem::is_directory(path, error)) {
    std::cerr << "Can't open " << path.string() << "\n";
    return false;
  }
  const std::vector<std::uint8_t> bytes = ReadWholeFile(in);
  return ParseStl(bytes, mesh, options);
}

bool SaveStl(const std::filesystem::path& path, const MeshArrays& mesh) {
  std::string error;
  if (!mesh.IsValid(&error)) {
    std::cerr << "Error: SaveStl - " << error << ".\n";
    return false;
  }
  const std::size_t n = mesh.NumTriangles();
  if (n > 0xFFFFFFFFu) {
    std::cerr << "Error: SaveStl - Too many triangles for STL.\n";
    return false;
  }
  std::vector<std::uint8_t> bytes(kHeaderSize + kRecordSize * n, 0);
  std::memcpy(bytes.data(), kStlHeaderText, sizeof(kStlHeaderText) - 1);
  const auto count = static_cast<std::uint32_t>(n);
  std::memcpy(bytes.data() + 80, &count, 4);
  std::uint8_t* out = bytes.data() + kHeaderSize;
  for (std::size_t t = 0; t < n; ++t) {
    const math::Vec3f& a = mesh.positions[mesh.indices[3 * t]];
    const math::Vec3f& b = mesh.positions[mesh.indices[3 * t + 1]];
    const math::Vec3f& c = mesh.positions[mesh.indices[3 * t + 2]];
    math::Vec3f normal = (b - a) ^ (c - a);
    const float length = normal.Length();
    normal = length > 0.f ? normal / length : math::Vec3f(0.f, 0.f, 0.f);
    PutFloats(out, normal);
    PutFloats(out, a);
    PutFloats(out, b);
    PutFloats(out, c);
    out += 2;
  }
  const bool written = WriteStreamSafely(path, [&](std::ostream& stream) {
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return stream.good();
  });
  if (!written) std::cerr << "Error: SaveStl - Could not write " << path.string() << "\n";
  return written;
}

}  // namespace surf
