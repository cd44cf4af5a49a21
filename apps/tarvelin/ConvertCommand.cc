#include "apps/tarvelin/ConvertCommand.h"

#include <iostream>

#include "apps/tarvelin/Console.h"
#include "surf/files/MeshFormats.h"

namespace tarvelin {

CLI::App* ConvertCommand::Register(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "convert", "Convert a mesh file: reads " + surf::LoadableExtensions() + "; writes " + surf::SavableExtensions());
  command->add_option("in", in, "The mesh file to read")->required();
  command->add_option("out", out, "The file to write; its extension chooses the format")->required();
  command->add_flag("--ply-ascii", plyAscii, "Write PLY as ASCII with positions and faces only (default: binary)");
  command->add_option("--texture-format", textureFormat, "Texture image beside an OBJ: png or jpg")
      ->check(CLI::IsMember({"png", "jpg"}));
  command->add_option("--texture-quality", textureQuality, "JPEG texture quality, 1-100");
  return command;
}

int ConvertCommand::Run() const {
  const surf::MeshFormat from = surf::MeshFormatOf(in);
  const surf::MeshFormat to = surf::MeshFormatOf(out);
  if (!surf::CanLoad(from)) {
    std::cerr << "Error: cannot read " << in.string() << ": readable formats are " << surf::LoadableExtensions()
              << "\n";
    return kExitUsage;
  }
  if (!surf::CanSave(to)) {
    std::cerr << "Error: cannot write " << out.string() << ": writable formats are " << surf::SavableExtensions()
              << "\n";
    return kExitUsage;
  }
  surf::GeoItem item;
  surf::GeoSource source = surf::GeoSource::kNone;
  if (!surf::LoadMesh(in, item, {{}, nullptr}, &source)) {
    std::cerr << "Error: could not read " << in.string() << "\n";
    return kExitFailure;
  }
  surf::MeshExportOptions options;
  options.plyEncoding = plyAscii ? surf::PlyEncoding::kAscii : surf::PlyEncoding::kBinary;
  options.obj.textureFormat = textureFormat;
  options.obj.textureQuality = textureQuality;
  if (!surf::SaveMesh(out, item, options, source)) {
    std::cerr << "Error: could not write " << out.string() << "\n";
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace tarvelin
