#include "apps/tarvelin/CameraCommands.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "apps/tarvelin/Commands.h"
#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/ScanSettings.h"
#include "foundation/img/ImageIO.h"
#include "foundation/utils/DisplayInfo.h"
#include "vid/GrabberDirectShow.h"
#include "vid/ImageConversion.h"
#include "vid/MediaType.h"
#include "vid/VideoInputDevices.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  return text;
}

std::string Describe(const vid::Format& f) {
  std::string text;
  if (f.width > 0) text += std::to_string(f.width) + "x" + std::to_string(f.height);
  if (f.fps > 0.0) text += "@" + Number(f.fps);
  if (!f.mediaSubtype.IsNull())
    text += "/" + (f.mediaSubtype == vid::subtype::MJPG
                       ? std::string("MJPG")
                       : vid::MediaSubtype2String(f.mediaSubtype).substr(13));
  return text.empty() ? "any" : text;
}

std::string PropertyLine(const vid::ImageCaptureProperties& camera, const std::string& name) {
  const vid::Property value = camera.GetProperty(name);
  const vid::PropertyRange range = camera.GetPropertyRange(name);
  std::ostringstream line;
  line << "    " << name << " = " << Number(value.value)
       << (value.IsAuto() ? " (auto)" : " (manual)");
  if (name == "exposure") line << ", " << Number(1000.0 * std::exp2(value.value)) << " ms";
  if (range.valid)
    line << "  [" << Number(range.minimum) << " .. " << Number(range.maximum) << ", default "
         << Number(range.defaultValue) << ", step " << Number(range.delta) << "]";
  return line.str();
}

// The frames of one device format grouped by size: "1920x1080 @ 30, 24 fps".
std::vector<std::string> SizeLines(const std::vector<vid::MediaType>& types, std::uint32_t fourcc) {
  std::vector<std::string> lines;
  std::vector<std::pair<int, int>> order;
  std::map<std::pair<int, int>, std::vector<double>> rates;
  for (const auto& t : types) {
    if (t.fourcc != fourcc) continue;
    const auto key = std::make_pair(t.format.width, t.format.height);
    if (!rates.count(key)) order.push_back(key);
    auto& list = rates[key];
    if (std::find(list.begin(), list.end(), t.format.fps) == list.end())
      list.push_back(t.format.fps);
  }
  for (const auto& key : order) {
    std::string line =
        "      " + std::to_string(key.first) + "x" + std::to_string(key.second) + " @ ";
    for (std::size_t i = 0; i < rates[key].size(); ++i)
      line += (i ? ", " : "") + Number(rates[key][i]);
    lines.push_back(line + " fps");
  }
  return lines;
}

// Holds the frames of a capture for the writer; counts the frames it had no
// room for. PushImage answers false once enough frames were accepted.
class CaptureStore : public vid::ImageStore {
 public:
  CaptureStore(std::size_t wanted, std::size_t room) : m_wanted(wanted), m_room(room) {}
  bool PushImage(vid::ImagePtr image) override {
    {
      std::lock_guard lock(m_mutex);
      if (m_accepted >= m_wanted) return false;
      if (m_frames.size() >= m_room) {
        ++m_dropped;
        return true;
      }
      m_frames.push_back(std::move(image));
      ++m_accepted;
    }
    m_ready.notify_all();
    return m_accepted < m_wanted;
  }
  // The next frame, or null after `seconds` without one.
  vid::ImagePtr Pop(double seconds) {
    std::unique_lock lock(m_mutex);
    if (!m_ready.wait_for(lock, std::chrono::duration<double>(seconds),
                          [&] { return !m_frames.empty(); }))
      return nullptr;
    auto image = std::move(m_frames.front());
    m_frames.pop_front();
    return image;
  }
  std::size_t Dropped() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
  }

 private:
  const std::size_t m_wanted, m_room;
  mutable std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<vid::ImagePtr> m_frames;
  std::size_t m_accepted = 0, m_dropped = 0;
};

bool SaveFrame(const vid::Image& image, const fs::path& file) {
  if (vid::IsGray8(image.format)) {
    img::UniImage<std::uint8_t> grey;
    return vid::ConvertToGray(image, grey) && img::SavePNG(grey, file);
  }
  img::UniImage<img::RGB8> colour;
  return vid::ConvertToColor(image, colour) && img::SavePNG(colour, file);
}

vid::SourceInfo SourceOf(const std::string& camera) {
  std::error_code ec;
  if (fs::is_directory(camera, ec)) return {vid::SourceType::Video, camera};
  if (fs::is_regular_file(camera, ec) && camera.rfind("/dev/", 0) != 0)
    return {vid::SourceType::Image, camera};
  return {vid::SourceType::Live, camera};
}

}  // namespace

namespace {

// "1920x1080" into two positive numbers.
bool ParseSize(const std::string& text, std::int32_t& width, std::int32_t& height) {
  const auto x = text.find('x');
  if (x == std::string::npos || x == 0 || x + 1 == text.size()) return false;
  const std::string w = text.substr(0, x), h = text.substr(x + 1);
  auto digits = [](const std::string& t) {
    return !t.empty() && t.size() < 7 &&
           std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c); });
  };
  if (!digits(w) || !digits(h)) return false;
  width = std::stoi(w), height = std::stoi(h);
  return true;
}

}  // namespace

bool ParseCaptureFormat(const std::string& text, vid::Format& format, std::string& error) {
  const std::string usage =
      "--format '" + text + "' is not WIDTHxHEIGHT@FPS/FOURCC (e.g. 1920x1080@30/MJPG)";
  std::string rest = text, code, rate;
  const auto slash = rest.find('/');
  if (slash != std::string::npos) code = rest.substr(slash + 1), rest.resize(slash);
  const auto at = rest.find('@');
  if (at != std::string::npos) rate = rest.substr(at + 1), rest.resize(at);
  if ((slash != std::string::npos && code.empty()) || (at != std::string::npos && rate.empty())) {
    error = usage;
    return false;
  }
  format = vid::Format{};
  if (!rest.empty() && !ParseSize(rest, format.width, format.height)) {
    error = usage;
    return false;
  }
  if (!rate.empty()) {
    char* end = nullptr;
    format.fps = std::strtod(rate.c_str(), &end);
    if (!end || *end != '\0' || !std::isfinite(format.fps)) {
      error = usage;
      return false;
    }
  }
  if (!code.empty()) {
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    static const std::map<std::string, utils::Guid> kCodes = {
        {"GREY", vid::subtype::Y800},  {"Y800", vid::subtype::Y800},
        {"YUYV", vid::subtype::YUY2},  {"YUY2", vid::subtype::YUY2},
        {"UYVY", vid::subtype::UYVY},  {"RGB3", vid::subtype::RGB24},
        {"BGR3", vid::subtype::RGB24}, {"RGB24", vid::subtype::RGB24},
        {"BY8", vid::subtype::BY8},    {"RGGB", vid::subtype::BY8},
        {"MJPG", vid::subtype::MJPG}};
    const auto it = kCodes.find(code);
    if (it == kCodes.end()) {
      error = "--format: unknown pixel format '" + code + "' (GREY, YUYV, UYVY, RGB3, BY8 or MJPG)";
      return false;
    }
    format.mediaSubtype = it->second;
  }
  if ((!rest.empty() && (format.width <= 0 || format.height <= 0)) ||
      (!rate.empty() && format.fps <= 0.0)) {
    error = "--format '" + text + "': sizes and rates must be positive";
    return false;
  }
  return true;
}

bool ParsePropertySetting(const std::string& text, std::string& name, vid::Property& value,
                          std::string& error) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
    error = "--set '" + text + "' is not NAME=VALUE or NAME=auto";
    return false;
  }
  name = text.substr(0, eq);
  const std::string v = text.substr(eq + 1);
  if (v == "auto") {
    value = vid::Property(0.0, vid::Property::kAuto);
    return true;
  }
  try {
    std::size_t used = 0;
    const double number = std::stod(v, &used);
    if (used != v.size() || !std::isfinite(number)) throw std::invalid_argument(v);
    value = vid::Property(number);
    return true;
  } catch (const std::exception&) {
    error = "--set '" + text + "': '" + v + "' is not a number or auto";
    return false;
  }
}

CLI::App* CamerasCommand::Register(CLI::App& app) {
  auto* sub =
      app.add_subcommand("cameras", "List cameras with their formats, frame rates and properties");
  sub->add_option("--camera", camera, "Only cameras whose name or device node contains this");
  return sub;
}

int CamerasCommand::Run() {
  const auto calls = v4l2 ? v4l2 : vid::SystemV4l2Calls();
  const auto devices = vid::EnumerateVideoInputDevices(*calls);
  int listed = 0;
  for (const auto& device : devices) {
    if (!camera.empty() && device.name.find(camera) == std::string::npos && device.path != camera)
      continue;
    ++listed;
    std::cout << device.path << ": " << device.name << " (" << device.driver << ", "
              << device.busInfo << ")\n";
    vid::GrabberDirectShow grabber("", vid::GrabberDirectShow::Options{calls, 30.0, false});
    grabber.Init();
    grabber.GetLogger().SetConsolePriority(vid::Logger::kWarning, -1);
    if (grabber.OpenSource({vid::SourceType::Live, device.path}) != 0) {
      std::cout << "  cannot be opened (in use by another program, or no permission for "
                << device.path << ")\n";
      continue;
    }
    std::cout << "  formats:\n";
    const auto types = grabber.GetMediaTypes();
    for (const auto& f : grabber.GetDeviceFormats()) {
      std::cout << "    " << vid::FourccToString(f.fourcc) << " (" << f.description << ")";
      if (!f.supported) {
        std::cout << ": not supported by the capture pipeline\n";
        continue;
      }
      const bool compressed = f.fourcc == vid::fourcc::MJPG || f.fourcc == vid::fourcc::JPEG;
      std::cout << (compressed ? ", decoded to RGB24 or Y800" : "") << "\n";
      for (const auto& line : SizeLines(types, f.fourcc)) std::cout << line << "\n";
    }
    std::cout << "  properties:\n";
    for (const auto& name : grabber.GetPropertyNames(false))
      std::cout << PropertyLine(grabber, name) << "\n";
  }
  if (listed == 0)
    std::cout << (devices.empty() ? "No video capture devices found (/dev/video*).\n"
                                  : "No camera matches '" + camera + "'.\n");
  return kExitSuccess;
}

CLI::App* CaptureCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand("capture", "Save frames of a camera through the capture pipeline");
  sub->add_option(
         "--camera", camera,
         "Camera name (or part of it) or device node; a folder of numbered images or an image file")
      ->required();
  sub->add_option("--format", format,
                  "WIDTHxHEIGHT@FPS/FOURCC, each part optional (e.g. 1280x720@30/MJPG)");
  sub->add_option("--frames", frames, "Frames to save")
      ->capture_default_str()
      ->check(CLI::Range(1u, 100000u));
  sub->add_option("--set", settings, "Set a property first: NAME=VALUE or NAME=auto (repeatable)");
  sub->add_option(
         "--scan", scan,
         "A scan.xml to copy beside the frames (then --frames defaults to its pattern count)")
      ->check(CLI::ExistingFile);
  sub->add_option("--timeout", timeout, "Seconds to wait for a frame")->capture_default_str();
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int CaptureCommand::Run() {
  vid::Format wanted;
  std::string error;
  if (!format.empty() && !ParseCaptureFormat(format, wanted, error)) {
    std::cerr << "Error: " << error << '\n';
    return kExitUsage;
  }
  std::vector<std::pair<std::string, vid::Property>> sets;
  for (const auto& text : settings) {
    std::string name;
    vid::Property value;
    if (!ParsePropertySetting(text, name, value, error)) {
      std::cerr << "Error: " << error << '\n';
      return kExitUsage;
    }
    sets.emplace_back(name, value);
  }
  std::uint32_t count = frames;
  if (!scan.empty()) {
    ScanSettings scanSettings;
    std::uint32_t patterns = 0;
    if (!LoadScanSettings(scan, scanSettings, patterns, error)) {
      std::cerr << "Error: " << scan.string() << ": " << error << '\n';
      return kExitFailure;
    }
    count = patterns;
  }
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) {
    std::cerr << "Error: " << out.string() << ": cannot create folder (" << ec.message() << ")\n";
    return kExitFailure;
  }
  if (!scan.empty() && !fs::equivalent(scan, out / "scan.xml", ec))
    fs::copy_file(scan, out / "scan.xml", fs::copy_options::overwrite_existing, ec);

  vid::GrabberDirectShow grabber(
      out / "camera.log",
      vid::GrabberDirectShow::Options{v4l2 ? v4l2 : vid::SystemV4l2Calls(), 30.0, false});
  grabber.Init();
  vid::CameraInfo info;
  info.source = SourceOf(camera);
  info.allowedFormats = {wanted};
  if (grabber.Open(info, false) != 0) {
    std::cerr
        << "Error: could not open camera '" << camera << "' in " << Describe(wanted)
        << " (see the messages above; `tarvelin cameras` lists the cameras and their formats)\n";
    return kExitFailure;
  }
  const vid::Format got = grabber.GetFormat();
  if (info.source.type == vid::SourceType::Live && !format.empty() &&
      vid::ScoreMediaType({got, vid::FourccOfSubtype(wanted.mediaSubtype)}, wanted) < 3 &&
      !(wanted.mediaSubtype == vid::subtype::MJPG && wanted.width == got.width &&
        wanted.height == got.height))
    std::cerr << "Warning: the camera offers no " << Describe(wanted) << "; capturing "
              << Describe(got) << '\n';
  for (const auto& [name, value] : sets) {
    if (!grabber.SetProperty(name, value)) {
      std::cerr << "Error: the camera refused --set " << name << "="
                << (value.IsAuto() ? "auto" : Number(value.value)) << "\n";
      return kExitFailure;
    }
  }
  if (!grabber.Run()) {
    std::cerr << "Error: camera '" << camera << "' does not start streaming (see "
              << (out / "camera.log").string() << ")\n";
    return kExitFailure;
  }
  // Frames wait for the writer in at most about 512 MB.
  const double frameBytes = double(vid::DefaultStride(got)) * std::max(got.height, 1);
  const auto room = static_cast<std::size_t>(std::clamp(512e6 / frameBytes, 4.0, double(count)));
  auto store = std::make_shared<CaptureStore>(count, room);
  grabber.StartCapture(store, nullptr);

  nlohmann::json written = nlohmann::json::array();
  double firstTime = 0.0, lastTime = 0.0;
  int result = kExitSuccess;
  std::uint32_t saved = 0;
  double idle = 0.0;  // seconds without a frame
  {
    ProgressBar bar("capture");
    while (saved < count) {
      if (bar(double(saved) / count)) {
        result = kExitCancelled;
        break;
      }
      vid::ImagePtr image = store->Pop(0.1);
      if (!image) {
        if (grabber.IsDeviceLost()) {
          bar.Finish();
          std::cerr << "Error: camera '" << camera << "' was disconnected after " << saved
                    << " frames\n";
          result = kExitFailure;
          break;
        }
        if (grabber.IsAtEnd()) {
          bar.Finish();
          std::cerr << "Error: " << camera << " has only " << saved << " frames, " << count
                    << " were asked\n";
          result = kExitFailure;
          break;
        }
        idle += 0.1;
        if (idle >= timeout) {
          bar.Finish();
          std::cerr
              << "Error: no frame from camera '" << camera << "' within " << Number(timeout)
              << " s (a triggered camera, a covered lens does not stop frames; check the cable)\n";
          result = kExitFailure;
          break;
        }
        continue;
      }
      idle = 0.0;
      if (saved == 0) firstTime = image->info.timestamp;
      lastTime = image->info.timestamp;
      const fs::path file = NumberedFile(out, "frame", saved);
      if (!SaveFrame(*image, file)) {
        bar.Finish();
        std::cerr << "Error: " << file.string() << ": cannot write\n";
        result = kExitFailure;
        break;
      }
      written.push_back(file.filename().string());
      ++saved;
    }
    bar(double(saved) / count);
  }
  grabber.StopCapture();
  if (grabber.GetState() >= vid::GrabberDirectShow::STATE_PAUSED) grabber.Stop();

  const vid::SamplerStatistics stats = grabber.GetStatistics();
  const double measured =
      saved > 1 && lastTime > firstTime ? (saved - 1) / (lastTime - firstTime) : 0.0;
  const std::uint64_t dropped = stats.dropped + store->Dropped();
  nlohmann::json report;
  report["camera"] = camera;
  report["format"] = {{"subtype", vid::MediaSubtype2String(got.mediaSubtype)},
                      {"width", got.width},
                      {"height", got.height},
                      {"fps", got.fps}};
  report["frames_requested"] = count;
  report["frames_written"] = saved;
  report["measured_fps"] = measured;
  report["dropped_frames"] = dropped;
  report["skipped_frames"] = stats.skipped;
  report["outputs"] = written;
  if (!scan.empty()) report["scan"] = "scan.xml";
  for (const auto& name : grabber.GetPropertyNames(false)) {
    const vid::Property p = grabber.GetProperty(name);
    report["properties"][name] = {{"value", p.value}, {"auto", p.IsAuto()}};
  }
  std::ofstream json(out / "report.json");
  json << report.dump(2) << '\n';
  if (!json) {
    std::cerr << "Error: " << (out / "report.json").string() << ": cannot write\n";
    return kExitFailure;
  }
  if (result != kExitSuccess) return result;
  std::cout << "Captured " << saved << " frames " << Describe(got) << " from '" << camera
            << "': " << Number(measured) << " fps measured, " << dropped << " dropped, "
            << stats.skipped << " skipped; frames in " << out.string() << '\n';
  return kExitSuccess;
}

CLI::App* DisplaysCommand::Register(CLI::App& app) {
  return app.add_subcommand("displays", "List the monitors and the display topology");
}

int DisplaysCommand::Run() {
  const auto displays = utils::GetActiveDisplaysInfos();
  if (displays.empty()) {
    std::cout << "No displays (no X server to ask: DISPLAY is '"
              << (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") << "').\n";
    return kExitSuccess;
  }
  for (const auto& display : displays) std::cout << display << '\n';
  std::cout << "Topology: " << utils::TopologyIdToString(utils::GetDisplayTopologyId(displays))
            << '\n';
  return kExitSuccess;
}

}  // namespace tarvelin
