#include "foundation/utils/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace utils {

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (m_data) munmap(const_cast<std::uint8_t*>(m_data), m_size);
  m_data = nullptr;
  m_size = 0;
}

bool MappedFile::Open(const std::filesystem::path& path, std::string& error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file";
    ::close(fd);
    return false;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  if (size > 0) {
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (data == MAP_FAILED) {
      error = std::strerror(errno);
      ::close(fd);
      return false;
    }
    m_data = static_cast<const std::uint8_t*>(data);
    m_size = size;
  }
  ::close(fd);
  return true;
}

}  // namespace utils
