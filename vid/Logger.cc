#include "vid/Logger.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace vid {
namespace {

std::string LocalTime(const char* pattern) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof(text), pattern, &local);
  return std::string(text, n);
}

bool ValidLevel(Logger::Level level) { return level >= 0 && level <= 2; }

}  // namespace

Logger::Logger(const std::filesystem::path& path) : Logger(path, std::cout, std::cerr) {}

Logger::Logger(const std::filesystem::path& path, std::ostream& out, std::ostream& err)
    : m_out(&out), m_err(&err) {
  if (path.empty()) return;
  m_file.open(path, std::ios::out | std::ios::trunc);
  if (!m_file) {
    Log(kError, "Logger", "Could not create log file '" + path.string() + "'.");
    return;
  }
  m_file << std::string(79, '=') << '\n'
         << LocalTime("%Y.%m.%d %H:%M:%S") << '\n'
         << std::string(79, '-') << '\n';
  m_file.flush();
}

const char* Logger::LevelName(Level level) {
  switch (level) {
    case kInfo:
      return "INFO";
    case kWarning:
      return "WARNING";
    default:
      return "ERROR";
  }
}

bool Logger::IsFileOpen() const {
  std::lock_guard lock(m_mutex);
  return m_file.is_open();
}

void Logger::SetFilePriority(Level level, int priority) {
  std::lock_guard lock(m_mutex);
  if (ValidLevel(level)) m_filePriority[level] = priority;
}

void Logger::SetConsolePriority(Level level, int priority) {
  std::lock_guard lock(m_mutex);
  if (ValidLevel(level)) m_consolePriority[level] = priority;
}

void Logger::SetThreshold(int threshold) {
  std::lock_guard lock(m_mutex);
  m_threshold = threshold;
}

void Logger::Log(Level level, const std::string& source, const std::string& message, bool newline) {
  std::lock_guard lock(m_mutex);
  Write(level, source, message, newline);
}

bool Logger::Check(std::int32_t code, const std::string& source, const std::string& message) {
  if (code >= 0) return false;
  std::lock_guard lock(m_mutex);
  m_code = code;
  Write(kError, source, message, true);
  return true;
}

void Logger::Section(const std::string& source, const std::string& title) {
  Log(kInfo, source, "########## " + title);
}

void Logger::Write(Level level, const std::string& source, const std::string& message,
                   bool newline) {
  if (!ValidLevel(level)) level = kError;
  std::string text = std::string(LevelName(level)) + " - " + source + " - " + message;
  if (m_code < 0) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "%08X", static_cast<std::uint32_t>(m_code));
    text += std::string(" (HRESULT: 0x") + hex + ")";
  }
  if (newline) text += '\n';
  if (m_file.is_open() && m_threshold <= m_filePriority[level]) {
    m_file << LocalTime("[%H:%M:%S]") << ' ' << text;
    m_file.flush();
  }
  if (m_threshold <= m_consolePriority[level]) {
    std::ostream& console = level == kInfo ? *m_out : *m_err;
    console << text;
    console.flush();
  }
  m_threshold = 0;
  m_code = 0;
}

}  // namespace vid
