#pragma once

#include <string>
#include <vector>

namespace CamCalib {

// Collects the detector's messages. Each is printed to the error stream as
// one line, its context label first ("__CamCalib::Interface::Init__ Could
// not init CurveExtractor."), and kept for the caller. Not thread-safe:
// one per detector.
class Messages {
 public:
  void Report(const char* context, const std::string& text);
  // A line of its own form (no context label).
  void ReportLine(const std::string& line);
  const std::vector<std::string>& GetLines() const { return m_lines; }
  void Clear() { m_lines.clear(); }
  // Whether the lines are also printed (default true).
  void SetPrint(bool print) { m_print = print; }

 private:
  std::vector<std::string> m_lines;
  bool m_print = true;
};

// Report through sink, or print only when sink is null.
void Report(Messages* sink, const char* context, const std::string& text);
void ReportLine(Messages* sink, const std::string& line);

}  // namespace CamCalib
