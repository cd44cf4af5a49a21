#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "shell/Log.h"

namespace studio {

// The log pane's lines: the shell's log, the notifications and what the
// libraries print, kept in memory (the newest kMaxLines) and appended to a
// log file. A line's kind comes from how it starts ("Error"/"ERROR" an
// error, "Warning"/"WARNING" a warning) unless given.
//
// Thread-safe: the shell's workers and the console readers add lines.
class StudioLog {
 public:
  enum class Kind { kInfo, kWarning, kError, kNote };
  struct Line {
    std::string text;
    Kind kind = Kind::kInfo;
    double seconds = 0.0;  // since the log was made
  };
  static constexpr std::size_t kMaxLines = 5000;

  // file: appended to; empty: memory only.
  explicit StudioLog(const std::filesystem::path& file = {});

  // Appends every line kept so far and every later one to the file.
  void SetFile(const std::filesystem::path& file);
  void Add(const std::string& text);
  void Add(const std::string& text, Kind kind);
  // The shell's log sink over Add.
  shell::LogSink Sink();

  // Grows with every line added.
  std::uint64_t GetVersion() const;
  std::vector<Line> GetLines() const;
  // Lines of a kind added since the start, e.g. the errors.
  std::size_t Count(Kind kind) const;
  // The newest lines of a kind, newest last (at most n).
  std::vector<std::string> GetLast(Kind kind, std::size_t n) const;

  static Kind Classify(const std::string& text);

 private:
  mutable std::mutex m_mutex;
  std::deque<Line> m_lines;
  std::uint64_t m_version = 0;
  std::size_t m_counts[4] = {0, 0, 0, 0};
  std::ofstream m_file;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Sends the process's standard output and standard error through pipes
// into the log, line by line, while it lives; every line still reaches the
// original stream too.
class ConsoleCapture {
 public:
  explicit ConsoleCapture(StudioLog& log);
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

 private:
  struct Stream;
  std::vector<std::unique_ptr<Stream>> m_streams;
};

}  // namespace studio
