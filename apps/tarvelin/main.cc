// The tarvelin command: git-style subcommands over the scanning libraries.
// Exit codes: 0 success, 1 failure, 2 usage error, 130 cancelled.

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "apps/tarvelin/AlignCommand.h"
#include "apps/tarvelin/CalibrateCommand.h"
#include "apps/tarvelin/CameraCommands.h"
#include "apps/tarvelin/FuseCommand.h"
#include "apps/tarvelin/Commands.h"
#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/ConvertCommand.h"
#include "apps/tarvelin/DemoCommand.h"
#include "apps/tarvelin/InfoCommand.h"
#include "apps/tarvelin/MeasureCommand.h"
#include "apps/tarvelin/RenderCommand.h"
#include "apps/tarvelin/ScanCommand.h"
#include "apps/tarvelin/TargetCommands.h"
#include "foundation/utils/ChunkNode.h"

namespace {

constexpr const char* kVersion = "0.1.0";

// Prints the chunk tree of an own-format file, one node a line.
int InspectChunks(const std::string& path) {
  try {
    utils::ChunkNode::Ptr root = utils::ChunkNode::Load(std::filesystem::path(path));
    if (!root) {
      std::cerr << "Error: cannot open or empty chunk file: " << path << '\n';
      return 1;
    }
    std::vector<std::pair<utils::ChunkNode::Ptr, int>> pending{{root, 0}};
    while (!pending.empty()) {
      auto [node, depth] = pending.back();
      pending.pop_back();
      std::cout << std::string(2 * depth, ' ') << node->GetName() << "  (level " << node->level << ", version "
                << node->version << ", " << node->GetDataSize() << " bytes)\n";
      const auto& children = node->GetChildren();
      for (auto it = children.rbegin(); it != children.rend(); ++it) pending.emplace_back(*it, depth + 1);
    }
    return 0;
  } catch (const utils::Exception& e) {
    std::cerr << "Error: " << path << ": " << e.Where() << " - " << e.what() << '\n';
    return 1;
  }
}

}  // namespace

namespace {

// OpenMP threads that spin while they wait starve the other threads of a
// busy machine (fusion took four times as long). The runtime reads its wait
// policy when it loads, before main, so the process starts itself once more
// with the policy set, unless the user chose one.
void UsePassiveOpenMpWaiting(char** argv) {
  if (std::getenv("OMP_WAIT_POLICY")) return;
  setenv("OMP_WAIT_POLICY", "passive", 1);
  execv("/proc/self/exe", argv);  // returns only on failure: go on as we are
}

}  // namespace

int main(int argc, char** argv) {
  UsePassiveOpenMpWaiting(argv);
  CLI::App app{"Tarvelin: structured-light 3D scanning"};
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);

  std::string chunkPath;
  auto* chunks = app.add_subcommand("chunks", "Print the chunk tree of a .tarvelinmesh or .tarvelinproj file");
  chunks->add_option("file", chunkPath, "The file to inspect")->required();
  tarvelin::PatternsCommand patterns;
  auto* patternsApp = patterns.Register(app);
  tarvelin::DecodeCommand decode;
  auto* decodeApp = decode.Register(app);
  tarvelin::ConvertCommand convert;
  CLI::App* convertApp = convert.Register(app);
  tarvelin::InfoCommand info;
  CLI::App* infoApp = info.Register(app);
  tarvelin::AlignCommand align;
  CLI::App* alignApp = align.Register(app);
  tarvelin::FuseCommand fuse;
  CLI::App* fuseApp = fuse.Register(app);
  tarvelin::ScanCommand scan;
  CLI::App* scanApp = scan.Register(app);
  tarvelin::DemoCommand demo;
  CLI::App* demoApp = demo.Register(app);
  tarvelin::DetectCommand detect;
  CLI::App* detectApp = detect.Register(app);
  tarvelin::TargetCommand target;
  CLI::App* targetApp = target.Register(app);
  tarvelin::RigImageCommand rigImage;
  CLI::App* rigImageApp = rigImage.Register(app);
  tarvelin::RenderCommand render;
  CLI::App* renderApp = render.Register(app);
  tarvelin::MeasureCommand measure;
  CLI::App* measureApp = measure.Register(app);
  tarvelin::CamerasCommand cameras;
  CLI::App* camerasApp = cameras.Register(app);
  tarvelin::CaptureCommand capture;
  CLI::App* captureApp = capture.Register(app);
  tarvelin::DisplaysCommand displays;
  CLI::App* displaysApp = displays.Register(app);
  tarvelin::CalibrateCommand calibrate;
  CLI::App* calibrateApp = calibrate.Register(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? tarvelin::kExitSuccess : tarvelin::kExitUsage;
  }
  tarvelin::InstallInterruptHandler();
  try {
    if (*chunks) return InspectChunks(chunkPath);
    if (*patternsApp) return patterns.Run();
    if (*decodeApp) return decode.Run();
    if (*convertApp) return convert.Run();
    if (*infoApp) return info.Run();
    if (*alignApp) return align.Run();
    if (*fuseApp) return fuse.Run();
    if (*scanApp) return scan.Run();
    if (*demoApp) return demo.Run();
    if (*detectApp) return detect.Run();
    if (*targetApp) return target.Run();
    if (*rigImageApp) return rigImage.Run();
    if (*renderApp) return render.Run();
    if (*measureApp) return measure.Run();
    if (*camerasApp) return cameras.Run();
    if (*captureApp) return capture.Run();
    if (*displaysApp) return displays.Run();
    if (*calibrateApp) return calibrate.Run();
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
    return tarvelin::kExitFailure;
  }
  return tarvelin::kExitSuccess;
}
