#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>

namespace surf {

// Saves a file without ever destroying the previous one: write fills a new
// temporary file in the same folder ("." + name + ".XXXXXX.tmp"), which is
// flushed to disk and then renamed over path in one step. When write returns
// false or throws, or the file cannot be created, the temporary file is
// removed, path is left as it was and the result is false (write's
// exception is passed on). A replaced file's permissions are kept; a new
// file gets rw-r--r--.
bool WriteFileSafely(const std::filesystem::path& path,
                     const std::function<bool(const std::filesystem::path& temporary)>& write);

// The same for writers to a binary stream; false also when the stream
// failed.
bool WriteStreamSafely(const std::filesystem::path& path,
                       const std::function<bool(std::ostream& out)>& write);

}  // namespace surf
