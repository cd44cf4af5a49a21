#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace utils {

// A whole file mapped read-only into memory, its pages read in at once: the
// bytes of a large file without copying them into a buffer of our own.
// Not copyable; the bytes stay valid while the object lives.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // False, with the reason in error, for a file that cannot be opened or
  // mapped (a folder, a missing file, no permission). An empty file opens
  // with no bytes.
  bool Open(const std::filesystem::path& path, std::string& error);

  std::span<const std::uint8_t> Bytes() const { return {m_data, m_size}; }

 private:
  void Close();

  const std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
};

}  // namespace utils
