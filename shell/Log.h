#pragma once

#include <functional>
#include <string>

namespace shell {

// Where the shell's log lines go (one line per call, without the newline).
using LogSink = std::function<void(const std::string& line)>;
// The shell's message box: a title and a message.
using ErrorSink = std::function<void(const std::string& title, const std::string& message)>;

// Writes each line to standard output.
LogSink StdoutLogSink();
// Writes "Error: " + message to standard error.
ErrorSink StderrErrorSink();

}  // namespace shell
