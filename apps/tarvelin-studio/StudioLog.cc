#include "apps/tarvelin-studio/StudioLog.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <thread>

namespace studio {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

StudioLog::StudioLog(const std::filesystem::path& file) {
  if (!file.empty()) m_file.open(file, std::ios::app);
}

void StudioLog::SetFile(const std::filesystem::path& file) {
  std::lock_guard lock(m_mutex);
  m_file.close();
  m_file.open(file, std::ios::app);
  for (const Line& line : m_lines) m_file << line.text << '\n';
  m_file.flush();
}

StudioLog::Kind StudioLog::Classify(const std::string& text) {
  if (StartsWith(text, "Error") || StartsWith(text, "ERROR")) return Kind::kError;
  if (StartsWith(text, "Warning") || StartsWith(text, "WARNING")) return Kind::kWarning;
  return Kind::kInfo;
}

void StudioLog::Add(const std::string& text) { Add(text, Classify(text)); }

void StudioLog::Add(const std::string& text, Kind kind) {
  std::lock_guard lock(m_mutex);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  m_lines.push_back({text, kind, seconds});
  if (m_lines.size() > kMaxLines) m_lines.pop_front();
  ++m_counts[static_cast<int>(kind)];
  ++m_version;
  if (m_file) {
    m_file << text << '\n';
    m_file.flush();
  }
}

shell::LogSink StudioLog::Sink() {
  return [this](const std::string& line) { Add(line); };
}

std::uint64_t StudioLog::GetVersion() const {
  std::lock_guard lock(m_mutex);
  return m_version;
}

std::vector<StudioLog::Line> StudioLog::GetLines() const {
  std::lock_guard lock(m_mutex);
  return {m_lines.begin(), m_lines.end()};
}

std::size_t StudioLog::Count(Kind kind) const {
  std::lock_guard lock(m_mutex);
  return m_counts[static_cast<int>(kind)];
}

std::vector<std::string> StudioLog::GetLast(Kind kind, std::size_t n) const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> lines;
  for (auto it = m_lines.rbegin(); it != m_lines.rend() && lines.size() < n; ++it)
    if (it->kind == kind) lines.insert(lines.begin(), it->text);
  return lines;
}

// One redirected stream: the pipe, the original descriptor and the reader.
struct ConsoleCapture::Stream {
  int target = -1;    // 1 or 2
  int original = -1;  // a duplicate of the original descriptor
  int readEnd = -1;
  std::thread reader;
};

ConsoleCapture::ConsoleCapture(StudioLog& log) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::cout.flush();
  for (const int target : {STDOUT_FILENO, STDERR_FILENO}) {
    int fds[2];
    if (::pipe(fds) != 0) continue;
    auto stream = std::make_unique<Stream>();
    stream->target = target;
    stream->original = ::dup(target);
    stream->readEnd = fds[0];
    if (stream->original < 0 || ::dup2(fds[1], target) < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      if (stream->original >= 0) ::close(stream->original);
      continue;
    }
    ::close(fds[1]);
    if (target == STDOUT_FILENO) std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Stream* s = stream.get();
    stream->reader = std::thread([s, &log] {
      std::string pending;
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::read(s->readEnd, buffer, sizeof buffer);
        if (n <= 0) break;
        [[maybe_unused]] const ssize_t written = ::write(s->original, buffer, std::size_t(n));
        pending.append(buffer, std::size_t(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
          std::string line = pending.substr(0, end);
          pending.erase(0, end + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          if (!line.empty()) log.Add(line);
        }
      }
      if (!pending.empty()) log.Add(pending);
    });
    m_streams.push_back(std::move(stream));
  }
}

ConsoleCapture::~ConsoleCapture() {
  std::fflush(stdout);
  std::fflush(stderr);
  std::cout.flush();
  std::cerr.flush();
  for (auto& stream : m_streams) {
    ::dup2(stream->original,
           stream->target);  // closes the pipe's write end: the reader sees its end
    if (stream->reader.joinable()) stream->reader.join();
    ::close(stream->readEnd);
    ::close(stream->original);
  }
}

}  // namespace studio
