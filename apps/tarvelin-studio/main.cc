// tarvelin-studio: the desktop application on the shell.
#include <GLFW/glfw3.h>
#include <execinfo.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apps/tarvelin-studio/StudioWindow.h"

namespace {

void PrintGlfwError(int code, const char* description) {
  std::fprintf(stderr, "GLFW error %d: %s\n", code, description ? description : "");
}

// A crash writes the signal and the call stack to the error stream (the
// log pane's capture passes it on to the terminal) before the process ends
// as it would have, so that a report can say where it happened.
void ReportCrash(int signal) {
  static const char kHeader[] = "tarvelin-studio crashed; the call stack (addr2line -e <binary> <+offset>):\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kHeader, sizeof kHeader - 1);
  void* frames[64];
  ::backtrace_symbols_fd(frames, ::backtrace(frames, 64), STDERR_FILENO);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
  studio::StudioOptions options;
  CLI::App app{"Tarvelin studio: structured-light scanning, alignment, fusion and measurement"};
  app.add_option("--root", options.root,
                 "The data root (default: $TARVELIN_HOME, else ~/.local/share/tarvelin)");
  app.add_option("--language", options.language,
                 "The language of the texts (a string table xaml/Strings_<NAME>.xaml of the data root; "
                 "default: the saved choice, else English)");
  app.add_option("--rig", options.rig,
                 "The virtual rig: default, stereo or a rig folder (default: the settings')");
  app.add_option("--rig-scale", options.rigScale,
                 "Image scale of the virtual rig's cameras and projector")
      ->check(CLI::Range(0.05, 1.0))
      ->capture_default_str();
  app.add_option("--width", options.width, "Width of the main window")
      ->check(CLI::Range(800, 8192));
  app.add_option("--height", options.height, "Height of the main window")
      ->check(CLI::Range(600, 8192));
  app.add_option("project", options.project, "A project file to open")
      ->check(CLI::ExistingFile);
  app.add_option(
      "--test-probe", options.probeFile,
      "Test mode: writes the positions of the buttons and the state as JSON to this file");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, ReportCrash);
  glfwSetErrorCallback(PrintGlfwError);
  if (!glfwInit()) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "Error: tarvelin-studio needs a display and could not open one (DISPLAY=%s).\n"
                 "Start it in a desktop session, or under a virtual X server:\n"
                 "  xvfb-run -a -s \"-screen 0 1920x1080x24\" %s --rig default\n",
                 display && *display ? display : "not set", argv[0]);
    return 1;
  }
  glfwSetErrorCallback(nullptr);
  int code = 0;
  {
    studio::StudioWindow window(std::move(options));
    code = window.Run();
  }
  // GLFW stays initialised to the end of the process (the windows are gone):
  // terminating it unloads Mesa's driver, whose allocations the leak checker
  // of the sanitizer builds could then no longer attribute.
  return code;
}
