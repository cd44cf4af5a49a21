#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <mutex>
#include <string>

namespace vid {

// The log of a capture source: one line per event on the console and, when
// opened with a path, in a file.
//
// File:    "[%H:%M:%S] LEVEL - source - message" (local time)
// Console: "LEVEL - source - message"; INFO to the output stream, WARNING and
//          ERROR to the error stream.
// A message reaches the file (console) when the current threshold does not
// exceed the level's file (console) priority. Priorities default to 100 and
// the threshold to 0; SetThreshold applies to the next message only.
// Thread-safe.
class Logger {
 public:
  enum Level : int { kInfo = 0, kWarning = 1, kError = 2 };

  // An empty path gives a console-only logger. Otherwise the file is created
  // (replacing an old one) and starts with a line of 79 "=", the local time as
  // "%Y.%m.%d %H:%M:%S" and a line of 79 "-". A file that cannot be created
  // leaves a console-only logger and reports it as an ERROR line.
  explicit Logger(const std::filesystem::path& path = {});
  // The same with other console streams (for tests and tools).
  Logger(const std::filesystem::path& path, std::ostream& out, std::ostream& err);
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  static const char* LevelName(Level level);

  bool IsFileOpen() const;
  void SetFilePriority(Level level, int priority);
  void SetConsolePriority(Level level, int priority);
  void SetThreshold(int threshold);

  void Log(Level level, const std::string& source, const std::string& message, bool newline = true);
  void Info(const std::string& source, const std::string& message) { Log(kInfo, source, message); }
  void Warning(const std::string& source, const std::string& message) {
    Log(kWarning, source, message);
  }
  void Error(const std::string& source, const std::string& message) {
    Log(kError, source, message);
  }

  // A negative (failing) result code is logged as ERROR with
  // " (HRESULT: 0x" + the code as 8 upper-case hex digits + ")" appended, and
  // true is returned. Other codes log nothing and give false.
  bool Check(std::int32_t code, const std::string& source, const std::string& message);

  // An INFO line "########## " + title.
  void Section(const std::string& source, const std::string& title);

 private:
  void Write(Level level, const std::string& source, const std::string& message, bool newline);

  mutable std::mutex m_mutex;
  std::ofstream m_file;
  std::ostream* m_out;
  std::ostream* m_err;
  int m_filePriority[3] = {100, 100, 100};
  int m_consolePriority[3] = {100, 100, 100};
  int m_threshold = 0;
  std::int32_t m_code = 0;  // the failing code of the message being written
};

}  // namespace vid
