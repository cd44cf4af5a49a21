#include "CamCalib/Messages.h"

#include <iostream>

namespace CamCalib {

void Messages::Report(const char* context, const std::string& text) {
  ReportLine(std::string(context) + " " + text);
}

void Messages::ReportLine(const std::string& line) {
  if (m_print) std::cerr << line << '\n';
  m_lines.push_back(line);
}

void Report(Messages* sink, const char* context, const std::string& text) {
  if (sink) {
    sink->Report(context, text);
  } else {
    std::cerr << context << ' ' << text << '\n';
  }
}

void ReportLine(Messages* sink, const std::string& line) {
  if (sink) {
    sink->ReportLine(line);
  } else {
    std::cerr << line << '\n';
  }
}

}  // namespace CamCalib
