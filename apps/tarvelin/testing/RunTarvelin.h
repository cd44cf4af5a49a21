#pragma once

#include <filesystem>
#include <string>

namespace tarvelin::testing {

// What a run of the tarvelin binary printed and how it ended.
struct CommandResult {
  int exitCode = -1;    // -1 when it did not exit normally
  std::string output;  // standard output and standard error
};

// Runs `tarvelin ARGUMENTS` through the shell, as a user types it.
CommandResult RunTarvelin(const std::string& arguments);

// The path in single quotes, for a command line.
std::string Quoted(const std::filesystem::path& path);

}  // namespace tarvelin::testing
