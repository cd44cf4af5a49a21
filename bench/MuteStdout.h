#pragma once

// Silences what the calibrations print (per-group RMS lines, start values)
// for as long as it lives.

#include <iostream>
#include <sstream>
#include <streambuf>

namespace bench {

struct MuteStdout {
  MuteStdout() : old(std::cout.rdbuf(sink.rdbuf())) {}
  ~MuteStdout() { std::cout.rdbuf(old); }
  std::ostringstream sink;
  std::streambuf* old;
};

}  // namespace bench
