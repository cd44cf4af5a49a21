#include "scan/HardwareSetupIO.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <pugixml.hpp>
#include <sstream>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"

namespace scan {
namespace {

// Attribute numbers, independent of the global locale. Missing, malformed
// or non-finite values read as 0.
double ReadDouble(const pugi::xml_node& node, const char* name) {
  const char* text = node.attribute(name).value();
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') ++text;
  if (*text == '+') ++text;
  double value = 0.0;
  const char* end = text + std::char_traits<char>::length(text);
  const auto [ptr, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || !std::isfinite(value)) return 0.0;
  return value;
}

// A number that must also be finite as a float.
float ReadFloat(const pugi::xml_node& node, const char* name) {
  const float value = static_cast<float>(ReadDouble(node, name));
  return std::isfinite(value) ? value : 0.0f;
}

std::int32_t ReadInt(const pugi::xml_node& node, const char* name) {
  const double value = ReadDouble(node, name);
  if (value < double(std::numeric_limits<std::int32_t>::min()) ||
      value > double(std::numeric_limits<std::int32_t>::max())) {
    return 0;
  }
  return std::int32_t(value);
}

void WriteNumber(pugi::xml_node node, const char* name, double value) {
  char buffer[64];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  node.append_attribute(name).set_value(std::string(buffer, ptr).c_str());
}

void WriteNumber(pugi::xml_node node, const char* name, float value) {
  char buffer[64];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  node.append_attribute(name).set_value(std::string(buffer, ptr).c_str());
}

void WriteNumber(pugi::xml_node node, const char* name, std::int64_t value) {
  node.append_attribute(name).set_value(std::to_string(value).c_str());
}

bool ReadPose(cam::CameraModel& model, const pugi::xml_node& pose) {
  const std::string type = pose.attribute("type").value();
  if (type != "Frame4d") {
    std::cerr << "Error - Expected Frame4d as pose type: " << type << "\n";
    return false;
  }
  math::Frame<double> frame;
  const char* columns[4] = {"n", "o", "a", "p"};
  for (int c = 0; c < 4; ++c) {
    const pugi::xml_node column = pose.child(columns[c]);
    frame.SetColumn(c, {ReadDouble(column, "x"), ReadDouble(column, "y"), ReadDouble(column, "z"), c == 3 ? 1.0 : 0.0});
  }
  frame.OrthoNormalize();
  for (int k = 0; k < 16; ++k) {
    if (!std::isfinite(frame.data()[k])) return false;
  }
  // Zero or parallel axes leave no rotation to restore.
  if (!frame.IsOrthoNorm(1e-6)) {
    std::cerr << "Error - The pose's axes do not span a rotation.\n";
    return false;
  }
  model.SetFrame_wTc(frame);
  return true;
}

std::shared_ptr<cam::CameraModel> ReadCameraModel(const pugi::xml_node& element) {
  const std::string type = element.attribute("type").value();
  const pugi::xml_node in = element.child("intrinsics");
  const auto resX = std::uint32_t(std::max(0, ReadInt(in, "resX")));
  const auto resY = std::uint32_t(std::max(0, ReadInt(in, "resY")));
  std::shared_ptr<cam::CameraModel> model;
  if (type == "CameraModelTsai" || type == "CameraTsai") {
    auto tsai = std::make_shared<cam::CameraModelTsai>();
    tsai->SetIntrinsics(ReadDouble(in, "cx"), ReadDouble(in, "cy"), ReadDouble(in, "f"), ReadDouble(in, "sx"),
                        ReadDouble(in, "kappa1"));
    tsai->SetResolution(resX, resY);
    model = tsai;
  } else if (type == "CameraModelOCV") {
    auto ocv = std::make_shared<cam::CameraModelOCV>();
    cam::CameraModelOCVIntrinsics c;
    c.cx = ReadDouble(in, "cx");
    c.cy = ReadDouble(in, "cy");
    c.f = ReadDouble(in, "f");
    c.k1 = ReadDouble(in, "k1");
    c.k2 = ReadDouble(in, "k2");
    c.k3 = ReadDouble(in, "k3");
    c.p1 = ReadDouble(in, "p1");
    c.p2 = ReadDouble(in, "p2");
    c.sx = ReadDouble(in, "sx");
    ocv->SetIntrinsics(c, resX, resY);
    model = ocv;
  } else {
    std::cerr << "Error - Expected CameraModelTsai or CameraModelOCV as camera model type: " << type << "\n";
    return nullptr;
  }
  if (!ReadPose(*model, element.child("pose"))) return nullptr;
  return model;
}

std::shared_ptr<cam::CameraModel> ReadModelOrReport(const pugi::xml_node& element) {
  auto model = ReadCameraModel(element);
  if (!model) std::cerr << "Error - Could not read camera model from XML\n";
  return model;
}

void ReadCamera(HardwareSetupIO::Camera& camera, const pugi::xml_node& node) {
  camera.name = node.attribute("name").value();
  const std::string rotation = node.attribute("rotation").value();
  camera.imageRotation = rotation == "Left" ? -1 : (rotation == "Right" ? 1 : 0);
  const pugi::xml_node wb = node.child("whiteBalanceFactors");
  camera.whiteBalanceFactors = {ReadFloat(wb, "blue"), ReadFloat(wb, "green"), ReadFloat(wb, "red")};
  camera.cameraModel = ReadModelOrReport(node.child("cameraModel"));
  for (const pugi::xml_node property : node.child("cameraProperties").children("property")) {
    const std::string name = property.attribute("name").value();
    if (name.empty()) continue;
    const bool isAuto = std::string(property.attribute("mode").value()) == "auto";
    camera.cameraProperties[name] =
        vid::Property(ReadDouble(property, "value"), isAuto ? vid::Property::kAuto : vid::Property::kManual);
  }
}

std::string ModelTypeName(const cam::CameraModel& model) {
  if (dynamic_cast<const cam::CameraModelTsai*>(&model)) return "CameraModelTsai";
  if (dynamic_cast<const cam::CameraModelOCV*>(&model)) return "CameraModelOCV";
  return {};
}

void WriteCameraModel(pugi::xml_node parent, const char* elementName, const cam::CameraModel* model) {
  if (!model || ModelTypeName(*model).empty()) return;
  pugi::xml_node element = parent.append_child(elementName);
  element.append_attribute("type").set_value(ModelTypeName(*model).c_str());
  pugi::xml_node in = element.append_child("intrinsics");
  WriteNumber(in, "resX", std::int64_t(model->GetResX()));
  WriteNumber(in, "resY", std::int64_t(model->GetResY()));
  if (const auto* tsai = dynamic_cast<const cam::CameraModelTsai*>(model)) {
    const cam::CameraModelTsai::Intrinsics& t = tsai->GetIntrinsics();
    WriteNumber(in, "cx", t.cx);
    WriteNumber(in, "cy", t.cy);
    WriteNumber(in, "f", t.f);
    WriteNumber(in, "sx", t.sx);
    WriteNumber(in, "kappa1", t.kappa1);
  } else if (const auto* ocv = dynamic_cast<const cam::CameraModelOCV*>(model)) {
    const cam::CameraModelOCVIntrinsics& c = ocv->GetIntrinsics();
    WriteNumber(in, "cx", c.cx);
    WriteNumber(in, "cy", c.cy);
    WriteNumber(in, "f", c.f);
    WriteNumber(in, "k1", c.k1);
    WriteNumber(in, "k2", c.k2);
    WriteNumber(in, "k3", c.k3);
    WriteNumber(in, "p1", c.p1);
    WriteNumber(in, "p2", c.p2);
    WriteNumber(in, "sx", c.sx);
  }
  pugi::xml_node pose = element.append_child("pose");
  pose.append_attribute("type").set_value("Frame4d");
  const char* columns[4] = {"n", "o", "a", "p"};
  for (int c = 0; c < 4; ++c) {
    pugi::xml_node column = pose.append_child(columns[c]);
    const math::Vec4d v = model->GetFrame_wTc().Column(c);
    WriteNumber(column, "x", v[0]);
    WriteNumber(column, "y", v[1]);
    WriteNumber(column, "z", v[2]);
  }
}

bool Parse(HardwareSetupIO& setup, const pugi::xml_document& doc) {
  const pugi::xml_node root = doc.child("hardwareSetup");
  setup.product = root.attribute("product").value();
  const pugi::xml_node calibration = root.child("calibration");
  setup.calibration.scale = ReadDouble(calibration, "scale");
  setup.calibration.orientation = calibration.attribute("orientation").value();
  for (const pugi::xml_node node : root.child("cameras").children("camera")) {
    ReadCamera(setup.cameras.emplace_back(), node);
  }
  const pugi::xml_node projector = root.child("projectors").child("projector");
  if (projector) {
    const pugi::xml_node model = projector.child("projectorModel");
    setup.projector.modelType = model.attribute("type").value();
    if (model) setup.projector.projectorModel = ReadModelOrReport(model);
    const pugi::xml_node display = projector.child("extendedDisplay");
    HardwareSetupIO::ExtendedDisplay& d = setup.projector.extendedDisplay;
    d.name = display.attribute("name").value();
    d.screenID = ReadInt(display, "screenID");
    d.x = ReadInt(display, "x");
    d.y = ReadInt(display, "y");
    d.resX = ReadInt(display, "resX");
    d.resY = ReadInt(display, "resY");
    d.refreshRate = ReadDouble(display, "refreshRate");
  }
  return true;
}

}  // namespace

bool ReadHardwareSetup(HardwareSetupIO& setup, std::string_view xml) {
  setup = HardwareSetupIO();
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    std::cerr << "Error: LoadHardwareSetup - " << parsed.description() << " at offset " << parsed.offset << "\n";
    return false;
  }
  return Parse(setup, doc);
}

bool LoadHardwareSetup(HardwareSetupIO& setup, const std::string& path) {
  setup = HardwareSetupIO();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::cerr << "Error: LoadHardwareSetup - cannot open " << path << "\n";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  return ReadHardwareSetup(setup, text.str());
}

std::string WriteHardwareSetup(const HardwareSetupIO& setup) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("hardwareSetup");
  root.append_attribute("product").set_value(setup.product.c_str());
  pugi::xml_node calibration = root.append_child("calibration");
  WriteNumber(calibration, "scale", setup.calibration.scale);
  calibration.append_attribute("orientation").set_value(setup.calibration.orientation.c_str());

  pugi::xml_node cameras = root.append_child("cameras");
  for (const HardwareSetupIO::Camera& camera : setup.cameras) {
    pugi::xml_node node = cameras.append_child("camera");
    node.append_attribute("name").set_value(camera.name.c_str());
    node.append_attribute("rotation")
        .set_value(camera.imageRotation == -1 ? "Left" : (camera.imageRotation == 1 ? "Right" : "None"));
    pugi::xml_node wb = node.append_child("whiteBalanceFactors");
    WriteNumber(wb, "red", camera.whiteBalanceFactors[2]);
    WriteNumber(wb, "green", camera.whiteBalanceFactors[1]);
    WriteNumber(wb, "blue", camera.whiteBalanceFactors[0]);
    WriteCameraModel(node, "cameraModel", camera.cameraModel.get());
    pugi::xml_node properties = node.append_child("cameraProperties");
    for (const auto& [name, property] : camera.cameraProperties) {
      pugi::xml_node p = properties.append_child("property");
      p.append_attribute("name").set_value(name.c_str());
      WriteNumber(p, "value", property.value);
      p.append_attribute("mode").set_value(property.IsAuto() ? "auto" : "manual");
    }
  }

  pugi::xml_node projector = root.append_child("projectors").append_child("projector");
  WriteCameraModel(projector, "projectorModel", setup.projector.projectorModel.get());
  pugi::xml_node display = projector.append_child("extendedDisplay");
  const HardwareSetupIO::ExtendedDisplay& d = setup.projector.extendedDisplay;
  display.append_attribute("name").set_value(d.name.c_str());
  WriteNumber(display, "screenID", std::int64_t(d.screenID));
  WriteNumber(display, "x", std::int64_t(d.x));
  WriteNumber(display, "y", std::int64_t(d.y));
  WriteNumber(display, "resX", std::int64_t(d.resX));
  WriteNumber(display, "resY", std::int64_t(d.resY));
  WriteNumber(display, "refreshRate", d.refreshRate);

  std::ostringstream out;
  doc.save(out, "  ");
  return out.str();
}

bool SaveHardwareSetup(const HardwareSetupIO& setup, const std::string& path) {
  // Written beside the file and renamed over it, so that a failed write
  // leaves the last good setup intact.
  const std::string temporary = path + ".writing";
  {
    std::ofstream file(temporary, std::ios::binary);
    file << WriteHardwareSetup(setup);
    file.close();
    std::error_code ec;
    if (file && (std::filesystem::rename(temporary, path, ec), !ec)) return true;
  }
  std::error_code ignored;
  std::filesystem::remove(temporary, ignored);
  std::cerr << "Error: SaveHardwareSetup - cannot write " << path << "\n";
  return false;
}

bool SaveCalibrationCopy(const HardwareSetupIO& setup, const std::filesystem::path& calibrationFolder,
                         bool afterCalibration) {
  std::error_code ec;
  std::filesystem::create_directories(calibrationFolder, ec);
  return SaveHardwareSetup(setup, (calibrationFolder / (afterCalibration ? kHardwareSetupAfterCalibration
                                                                          : kHardwareSetupBeforeCalibration))
                                      .string());
}

}  // namespace scan
