#include "apps/tarvelin/testing/RunTarvelin.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace tarvelin::testing {

CommandResult RunTarvelin(const std::string& arguments) {
  const std::string command = std::string(TARVELIN_BINARY) + " " + arguments + " 2>&1";
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  while (std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

}  // namespace tarvelin::testing
