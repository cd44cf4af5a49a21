#include "shell/Log.h"

#include <iostream>

namespace shell {

LogSink StdoutLogSink() {
  return [](const std::string& line) { std::cout << line << std::endl; };
}

ErrorSink StderrErrorSink() {
  return [](const std::string& title, const std::string& message) { std::cerr << "Error: " << message << std::endl; };
}

}  // namespace shell
