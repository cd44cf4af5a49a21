#pragma once

#include <stdexcept>
#include <string>

namespace utils {

// Base of the errors raised while reading and interpreting chunk files.
// what() gives the message; Where() names the operation that failed.
class Exception : public std::runtime_error {
 public:
  Exception(std::string where, const std::string& message)
      : std::runtime_error(message), m_where(std::move(where)) {}

  const std::string& Where() const { return m_where; }

 private:
  std::string m_where;
};

class ChunkNotFoundException : public Exception {
 public:
  using Exception::Exception;
};

class InvalidChunkFormatException : public Exception {
 public:
  using Exception::Exception;
};

class InvalidChunkSizeException : public Exception {
 public:
  using Exception::Exception;
};

class InvalidChunkVersionException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace utils
