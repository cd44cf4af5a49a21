#include "surf/files/SafeWrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace surf {
namespace {

namespace fs = std::filesystem;

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX.tmp")).string();
    const int fd = mkstemps(pattern.data(), 4);
    if (fd < 0) return;
    ::close(fd);
    m_path = pattern;
  }
  ~TemporaryFile() {
    if (!m_path.empty()) {
      std::error_code ignored;
      fs::remove(m_path, ignored);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool IsValid() const { return !m_path.empty(); }
  const fs::path& Path() const { return m_path; }

  // Syncs the data, sets the permissions and renames the file to target.
  bool MoveTo(const fs::path& target) {
    const int fd = ::open(m_path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced) return false;
    std::error_code error;
    const fs::file_status existing = fs::status(target, error);
    const fs::perms perms = fs::exists(existing) ? existing.permissions()
                                                 : fs::perms::owner_read | fs::perms::owner_write |
                                                       fs::perms::group_read | fs::perms::others_read;
    fs::permissions(m_path, perms, error);
    fs::rename(m_path, target, error);
    if (error) return false;
    m_path.clear();
    return true;
  }

 private:
  fs::path m_path;
};

}  // namespace

bool WriteFileSafely(const fs::path& path, const std::function<bool(const fs::path& temporary)>& write) {
  if (path.empty() || fs::is_directory(path)) return false;
  TemporaryFile temporary(path);
  if (!temporary.IsValid()) return false;
  if (!write(temporary.Path())) return false;
  return temporary.MoveTo(path);
}

bool WriteStreamSafely(const fs::path& path, const std::function<bool(std::ostream& out)>& write) {
  return WriteFileSafely(path, [&](const fs::path& temporary) {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out || !write(out)) return false;
    out.close();
    return !out.fail();
  });
}

}  // namespace surf
