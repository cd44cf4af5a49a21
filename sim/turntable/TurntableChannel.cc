#include "sim/turntable/TurntableChannel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace sim {
namespace {

constexpr const char* kHeader = "tarvelin-virtual-turntable 1";

bool ParseNumber(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

bool ParseFlag(const std::string& text, bool& value) {
  if (text != "0" && text != "1") return false;
  value = text == "1";
  return true;
}

}  // namespace

double TurntableMotion::AngleAt(double t) const {
  const double distance = targetDeg - startDeg;
  const double travelled = speedDegPerS * std::max(0.0, t - startTime);
  if (travelled >= std::fabs(distance)) return targetDeg;
  return startDeg + std::copysign(travelled, distance);
}

bool TurntableMotion::IsMovingAt(double t) const { return AngleAt(t) != targetDeg; }

TurntableMotion TurntableMotion::StandingAt(double angleDeg, double t, double speedDegPerS) {
  TurntableMotion motion;
  motion.startDeg = angleDeg;
  motion.targetDeg = angleDeg;
  motion.startTime = t;
  motion.speedDegPerS = speedDegPerS;
  return motion;
}

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::string DefaultTurntableChannelPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
    return std::string(runtime) + "/tarvelin-virtualturntable.state";
  return "/tmp/tarvelin-virtualturntable-" + std::to_string(getuid()) + ".state";
}

std::string FormatTurntableChannel(const TurntableMotion& motion) {
  char text[512];
  std::snprintf(text, sizeof(text),
                "%s\nconnected %d\npowered %d\nstart_deg %.17g\ntarget_deg %.17g\nstart_time_s %.17g\n"
                "speed_deg_per_s %.17g\n",
                kHeader, motion.connected ? 1 : 0, motion.powered ? 1 : 0, motion.startDeg, motion.targetDeg,
                motion.startTime, motion.speedDegPerS);
  return text;
}

bool ParseTurntableChannel(const std::string& text, TurntableMotion& motion, std::string& error) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) {
    error = "not a virtual turntable channel (first line '" + line.substr(0, 64) + "')";
    return false;
  }
  TurntableMotion read;
  int seen = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
    bool ok = true;
    if (key == "connected") {
      ok = ParseFlag(value, read.connected);
      seen |= 1;
    } else if (key == "powered") {
      ok = ParseFlag(value, read.powered);
      seen |= 2;
    } else if (key == "start_deg") {
      ok = ParseNumber(value, read.startDeg);
      seen |= 4;
    } else if (key == "target_deg") {
      ok = ParseNumber(value, read.targetDeg);
      seen |= 8;
    } else if (key == "start_time_s") {
      ok = ParseNumber(value, read.startTime);
      seen |= 16;
    } else if (key == "speed_deg_per_s") {
      ok = ParseNumber(value, read.speedDegPerS) && read.speedDegPerS > 0;
      seen |= 32;
    }
    if (!ok) {
      error = "bad value '" + value.substr(0, 64) + "' of " + key.substr(0, 64);
      return false;
    }
  }
  if (seen != 63) {
    error = "a value is missing";
    return false;
  }
  motion = read;
  return true;
}

bool WriteTurntableChannel(const std::string& path, const TurntableMotion& motion, std::string& error) {
  const std::string text = FormatTurntableChannel(motion);
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  fchmod(fd, 0644);
  ::close(fd);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool ReadTurntableChannel(const std::string& path, TurntableMotion& motion, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::string text(4096, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  if (!ParseTurntableChannel(text, motion, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace sim
