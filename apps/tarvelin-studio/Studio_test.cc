// The studio as a user drives it: started on the virtual rig under a
// virtual X server, clicked and typed at only through real X events
// (xdotool) on the buttons whose places the studio reports in its test
// mode, and checked on the X server's own screen (Xvfb's frame-buffer file)
// and on the files it leaves: a scan, a turntable run to a fused mesh, a
// calibration from the target's picture to the calibrated scanner, and
// faults (a camera unplugged, a save that cannot be written, a broken
// project) that end in a message without losing anything.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "shell/Settings.h"
#include "shell/testing/ShellFixture.h"
#include "surf/files/MeshFormats.h"
#include "v3d/Geo.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// The X screen as 8-bit RGB, read from Xvfb's XWD frame-buffer file.
struct Screen {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  const std::uint8_t* At(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
};

std::uint32_t Field(const std::vector<char>& bytes, int index, bool bigEndian) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + index * 4;
  return bigEndian ? (std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3])
                   : (std::uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0]);
}

bool ReadScreen(Screen& screen) {
  std::ifstream in(XVFB_SCREEN_FILE, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 100) return false;
  const bool big = Field(bytes, 0, true) < 4096;
  const std::uint32_t headerSize = Field(bytes, 0, big), width = Field(bytes, 4, big),
                      height = Field(bytes, 5, big);
  const std::uint32_t pixelOrder = Field(bytes, 7, big), bitsPerPixel = Field(bytes, 11, big);
  const std::uint32_t bytesPerLine = Field(bytes, 12, big), colours = Field(bytes, 19, big);
  const std::size_t start = headerSize + std::size_t(colours) * 12;
  if (bitsPerPixel != 32 || bytes.size() < start + std::size_t(bytesPerLine) * height) return false;
  screen.width = int(width);
  screen.height = int(height);
  screen.rgb.resize(std::size_t(width) * height * 3);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto* p =
          reinterpret_cast<const unsigned char*>(&bytes[start + y * bytesPerLine + x * 4]);
      const std::uint32_t v = pixelOrder == 0
                                  ? (p[3] << 24 | p[2] << 16 | p[1] << 8 | p[0])
                                  : (std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
      std::uint8_t* out = &screen.rgb[(std::size_t(y) * width + x) * 3];
      out[0] = std::uint8_t(v >> 16);
      out[1] = std::uint8_t(v >> 8);
      out[2] = std::uint8_t(v);
    }
  }
  return true;
}

// The fraction of the rectangle's pixels that differ from the view's
// background colour (41, 43, 48) by more than a few levels.
double CoveredFraction(const Screen& screen, const std::vector<int>& rect) {
  std::size_t covered = 0, total = 0;
  for (int y = rect[1]; y < rect[1] + rect[3] && y < screen.height; ++y) {
    for (int x = rect[0]; x < rect[0] + rect[2] && x < screen.width; ++x) {
      const std::uint8_t* p = screen.At(x, y);
      ++total;
      if (std::abs(p[0] - 41) + std::abs(p[1] - 43) + std::abs(p[2] - 48) > 12) ++covered;
    }
  }
  return total ? double(covered) / double(total) : 0.0;
}

// Edges used by one triangle only, vertices at the same place taken as one.
std::size_t BorderEdges(const v3d::Geo& geo) {
  std::size_t borders = 0;
  for (const auto& mesh : geo) {
    std::map<std::array<float, 3>, std::uint32_t> welded;
    std::vector<std::uint32_t> id;
    for (const auto& p : mesh->GetVertexCoords())
      id.push_back(
          welded.emplace(std::array<float, 3>{p[0], p[1], p[2]}, std::uint32_t(welded.size()))
              .first->second);
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
    const auto& t = mesh->GetPrims();
    for (std::size_t i = 0; i + 2 < t.size(); i += 3)
      for (int e = 0; e < 3; ++e) {
        const std::uint32_t a = id[t[i + e]], b = id[t[i + (e + 1) % 3]];
        if (a != b) ++uses[{std::min(a, b), std::max(a, b)}];
      }
    for (const auto& [edge, count] : uses) borders += count == 1;
  }
  return borders;
}

class Studio : public ::testing::Test {
 protected:
  Studio() : m_root("Studio_test") {
    shell::testing::WriteRigScene(m_root.GetPath(), "default", shell::testing::kFastVaseScene);
  }
  // Every text the pages showed came from the language table.
  void TearDown() override {
    const std::string output = Output();
    const std::size_t missing = output.find("Missing text for");
    EXPECT_EQ(missing, std::string::npos)
        << output.substr(missing == std::string::npos ? 0 : missing, 200);
  }
  ~Studio() override {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }

  // The user's settings before the start, as the settings dialog would
  // leave them.
  void PresetSettings(const std::map<std::string, std::string>& values) {
    shell::SettingsOptions options;
    options.root = m_root.GetPath();
    options.log = [](const std::string&) {};
    shell::Settings settings(options);
    for (const auto& [path, value] : values)
      settings.SetValue(settings.FindSettingElement(path), value);
    ASSERT_TRUE(settings.SaveSettings());
  }

  void StartStudio() {
    m_probe = m_root.GetPath() / "probe.json";
    const std::string root = m_root.GetPath().string(), probe = m_probe.string();
    const std::string output = (m_root.GetPath() / "studio.out").string();
    m_pid = ::fork();
    ASSERT_GE(m_pid, 0);
    if (m_pid == 0) {
      const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
      ::execl(TARVELIN_STUDIO, TARVELIN_STUDIO, "--root", root.c_str(), "--rig", "default",
              "--rig-scale", "0.5", "--test-probe", probe.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_TRUE(WaitFor(
        [](const Json& p) { return p["widgets"].contains("scan") && p["state"]["idle"]; }, 60))
        << Output();
    // A message at the start (none expected on the virtual rig) is read and closed.
    const Json state = Probe()["state"];
    EXPECT_EQ(state["message"], "");
    if (state["message"] != "") Click("message_ok");
  }

  Json Probe() const {
    std::ifstream in(m_probe);
    Json probe = Json::parse(in, nullptr, false);
    return probe.is_discarded() ? Json::object() : probe;
  }

  bool WaitFor(const std::function<bool(const Json&)>& done, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      const Json probe = Probe();
      if (probe.contains("state") && probe.contains("widgets") && done(probe)) return true;
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        ADD_FAILURE() << "the studio ended early (status " << status << ")";
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::vector<int> Rect(const std::string& widget) {
    std::vector<int> rect;
    WaitFor([&](const Json& p) { return p["widgets"].contains(widget); }, 5);
    const Json probe = Probe();
    if (probe.contains("widgets") && probe["widgets"].contains(widget))
      rect = probe["widgets"][widget].get<std::vector<int>>();
    return rect;
  }

  static void Xdotool(const std::string& arguments) {
    const std::string command = std::string(XDOTOOL) + " " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  void Click(const std::string& widget) {
    // A widget that just appeared (a popup, a page) may still move in its
    // first frames while its layout settles: its place is read after them.
    Settle(Probe().value("frame", 0));
    const std::vector<int> r = Rect(widget);
    ASSERT_EQ(r.size(), 4u) << "no widget " << widget;
    Xdotool("mousemove " + std::to_string(r[0] + r[2] / 2) + " " + std::to_string(r[1] + r[3] / 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const int frame = Probe().value("frame", 0);
    Xdotool("click 1");
    Settle(frame);
  }

  // Waits until the studio has drawn a few frames after `frame`: the input
  // sent before has been handled and the probe shows its effect.
  void Settle(int frame) {
    EXPECT_TRUE(WaitFor([frame](const Json& p) { return p.value("frame", 0) >= frame + 3; }, 20));
  }

  // Types a path into the open file dialog (the field emptied first) and
  // presses OK.
  void TypePathAndOk(const fs::path& path) {
    ASSERT_EQ(Rect("file_path").size(), 4u);
    // The field takes the keyboard a frame or two after the dialog appears.
    Settle(Probe().value("frame", 0));
    Xdotool("key ctrl+a BackSpace");
    Xdotool("type --delay 20 '" + path.string() + "'");
    Click("file_ok");
  }

  // Ctrl+Q, then the exit code.
  int Close() {
    Xdotool("mousemove 700 300");  // the keyboard goes to the window under the pointer
    Xdotool("key ctrl+q");
    for (int i = 0; i < 600; ++i) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -2;
  }

  // A copy of the X screen beside the frame-buffer file, for a look after the run.
  static void KeepScreen(const std::string& name) {
    std::error_code ec;
    fs::copy_file(XVFB_SCREEN_FILE, std::string(XVFB_SCREEN_FILE) + "." + name + ".xwd",
                  fs::copy_options::overwrite_existing, ec);
  }

  // The studio's output and the end of its log pane's file.
  std::string Output() const {
    std::ifstream in(m_root.GetPath() / "studio.out");
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::ifstream log(m_root.GetPath() / "logs" / "studio.log");
    std::string lines{std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
    if (lines.size() > 6000) lines = lines.substr(lines.size() - 6000);
    return text + "\n--- studio.log (end)\n" + lines;
  }

  shell::testing::TemporaryRoot m_root;
  fs::path m_probe;
  pid_t m_pid = -1;
};

TEST_F(Studio, ScanShowsTheObjectCancelKeepsTheListAndClosingSavesTheSettings) {
  StartStudio();
  Screen screen;
  const std::vector<int> view = Rect("view");
  ASSERT_EQ(view.size(), 4u);
  ASSERT_TRUE(ReadScreen(screen));
  EXPECT_LT(CoveredFraction(screen, view), 0.01);  // an empty list: the background only

  // A single scan is shown at once and goes to the list on "Add to list".
  Click("mode_single");
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["mode"] == "single"; }, 5));
  const auto start = Clock::now();
  Click("scan");
  ASSERT_TRUE(
      WaitFor([](const Json& p) { return p["state"]["preview"] && p["state"]["idle"]; }, 60))
      << Output();
  const double scanSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // a frame or two to draw it
  ASSERT_TRUE(ReadScreen(screen));
  KeepScreen("single_scan");
  const double previewCovered = CoveredFraction(screen, view);
  EXPECT_EQ(Probe()["state"]["scans"], 0);
  EXPECT_GT(previewCovered, 0.10);
  EXPECT_GT(Probe()["state"]["patternsShown"].get<int>(),
            10);  // the pattern window showed the scan
  Click("add_to_list");
  ASSERT_TRUE(
      WaitFor([](const Json& p) { return p["state"]["scans"] == 1 && !p["state"]["preview"]; }, 10))
      << Output();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ASSERT_TRUE(ReadScreen(screen));
  KeepScreen("after_scan");
  // The vase (80 mm wide, 120 mm high) fitted into the view fills a good part of it, the same
  // part before and after it went to the list.
  const double covered = CoveredFraction(screen, view);
  std::printf(
      "scan: %.1f s from the click to the view; the object covers %.0f %% of the view before "
      "\"Add to list\", %.0f %% after\n",
      scanSeconds, previewCovered * 100.0, covered * 100.0);
  EXPECT_GT(covered, 0.10);
  EXPECT_LT(covered, 0.80);
  EXPECT_NEAR(covered, previewCovered, 0.05);

  Click("mode_sequence");
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["mode"] == "sequence"; }, 5));

  // Cancel during the next scan (a click as soon as the button is there):
  // back to idle, the list as it was.
  Click("scan");
  Click("cancel");
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["idle"].get<bool>(); }, 30));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Probe()["state"]["scans"], 1);
  EXPECT_EQ(Probe()["state"]["status"], "Idle");

  EXPECT_EQ(Close(), 0) << Output();
  // The mode chosen with the mouse is in the user's settings file.
  shell::SettingsOptions options;
  options.root = m_root.GetPath();
  options.log = [](const std::string&) {};
  shell::Settings saved(options);
  EXPECT_EQ(saved.GetSetting<std::string>(shell::testing::SettingPath("Scan", "ScanMode")).Value(),
            "sequence");
}

TEST_F(Studio, TurntableRunAlignmentAndFusionEndInAClosedMesh) {
  PresetSettings(
      {{shell::testing::SettingPath("Scan", "ScanMode"), "turntable"},
       {shell::testing::SettingPath("Scan", "AutoGrabTexture"), "false"},
       {shell::testing::SettingPath("Turntable", "NumberOfScans"), "4"},
       {shell::testing::SettingPath("ShapeFusion/Registration", "AxisKnown"), "true"},
       {shell::testing::SettingPath("ShapeFusion/Registration", "RotationAxisX"), "0"},
       {shell::testing::SettingPath("ShapeFusion/Registration", "RotationAxisY"), "0"},
       {shell::testing::SettingPath("ShapeFusion/Registration", "RotationAxisZ"), "1"},
       {shell::testing::SettingPath("ShapeFusion/Fusion", "Resolution"), "128"},
       {shell::testing::SettingPath("ShapeFusion/Fusion", "CloseHolesRelSizeStep"), "6"},
       {shell::testing::SettingPath("ShapeFusion/Fusion", "CloseHolesRelSizePercent"), "100"}});
  StartStudio();
  Click("scan");
  ASSERT_TRUE(
      WaitFor([](const Json& p) { return p["state"]["scans"] == 4 && p["state"]["idle"]; }, 120))
      << Output();

  Click("tab_alignment");
  Click("align_global");
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["idle"].get<bool>(); }, 60));

  Click("tab_fusion");
  Click("fuse");
  ASSERT_TRUE(
      WaitFor([](const Json& p) { return p["state"]["fusion"] && p["state"]["idle"]; }, 120))
      << Output();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  KeepScreen("after_fusion");
  // The view kept drawing while the workers ran: the scene's picture is
  // kept and drawn again only when it changed, so a frame while fusing is
  // the panels over that picture. A UI that waited for a job would stand
  // still for the job's whole length.
  const Json frames = Probe()["state"]["frames"];
  std::printf("frames: %s\n", frames.dump().c_str());
  ASSERT_TRUE(frames.contains("fusion"));
  EXPECT_LT(frames["fusion"]["p95Ms"].get<double>(), 250.0) << "95 % of the frames while fusing";
  EXPECT_LT(Probe()["state"]["worstBusyFrameMs"].get<double>(), 1500.0)
      << "the slowest frame while the workers ran";

  // File > Export… of the fusion result, typed as a user types it.
  const fs::path exported = m_root.GetPath() / "fused.ply";
  Click("menu_file");
  Click("menu_export");
  ASSERT_EQ(Rect("file_path").size(), 4u);
  // The field takes the keyboard a frame or two after the dialog appears;
  // keys typed before that are not its own.
  Settle(Probe().value("frame", 0));
  Xdotool("type --delay 20 '" + exported.string() + "'");
  Click("file_ok");
  ASSERT_TRUE(WaitFor([&](const Json&) { return fs::exists(exported); }, 20)) << Output();
  EXPECT_EQ(Close(), 0) << Output();

  surf::GeoItem fused;
  ASSERT_TRUE(surf::LoadMesh(exported, fused));
  std::size_t triangles = 0;
  for (const auto& mesh : *fused.geo) triangles += mesh->GetNumPrims();
  EXPECT_GT(triangles, 1000u);
  EXPECT_EQ(BorderEdges(*fused.geo), 0u);
}

TEST_F(Studio, CalibrationShowsTheTargetCancelsAndThenCalibratesTheScanner) {
  StartStudio();
  Click("tab_calibration");
  Click("calib_picture");
  ASSERT_TRUE(WaitFor(
      [](const Json& p) {
        return p["state"]["targetPoints"].get<int>() > 0 && !p["state"]["targetPictureBusy"];
      },
      60))
      << Output();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  Screen screen;
  ASSERT_TRUE(ReadScreen(screen));
  KeepScreen("calibration_target");
  // Both panels' points are marked on the picture: green and cyan pixels.
  const std::vector<int> image = Rect("calib_image");
  ASSERT_EQ(image.size(), 4u);
  std::size_t green = 0, cyan = 0;
  for (int y = image[1]; y < image[1] + image[3] && y < screen.height; ++y)
    for (int x = image[0]; x < image[0] + image[2] && x < screen.width; ++x) {
      const std::uint8_t* p = screen.At(x, y);
      green += p[0] < 90 && p[1] > 180 && p[2] < 110;
      cyan += p[0] < 60 && p[1] > 170 && p[2] > 190;
    }
  EXPECT_GT(green, 100u);
  EXPECT_GT(cyan, 100u);

  // Cancel while the panels are scanned: idle again, nothing stored.
  const fs::path calibrated = m_root.GetPath() / "calibration" / "CalibratedSetup.tarvelinsetup";
  Click("calib_start");
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["calibStatus"] == 6; }, 60))
      << Output();
  Click("cancel");
  ASSERT_TRUE(WaitFor(
      [](const Json& p) { return p["state"]["calibStatus"] == 0 && p["state"]["idle"]; }, 60))
      << Output();
  EXPECT_EQ(Probe()["state"]["calibrationsAccepted"], 0);
  EXPECT_NE(Probe()["state"]["calibOutcome"].get<std::string>().find("cancelled"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(calibrated));

  // The whole calibration: accepted, stored and given to the scanner, which
  // then scans with it.
  const auto start = Clock::now();
  Click("calib_start");
  ASSERT_TRUE(WaitFor(
      [](const Json& p) { return p["state"]["calibrationsAccepted"] == 1 && p["state"]["idle"]; },
      180))
      << Output();
  std::printf("calibration: %.1f s from the click to the calibrated scanner\n",
              std::chrono::duration<double>(Clock::now() - start).count());
  EXPECT_TRUE(fs::exists(calibrated));
  EXPECT_TRUE(
      fs::exists(m_root.GetPath() / "calibration" / "HardwareSetupAfterCalibration.tarvelinsetup"));
  Click("tab_sl");
  Click("mode_sequence");
  Click("scan");
  ASSERT_TRUE(
      WaitFor([](const Json& p) { return p["state"]["scans"] == 1 && p["state"]["idle"]; }, 60))
      << Output();
  EXPECT_EQ(Close(), 0) << Output();
}

TEST_F(Studio, FaultsEndInAMessageAndLoseNothing) {
  PresetSettings({{shell::testing::SettingPath("Scan", "ScanMode"), "sequence"}});
  StartStudio();
  const auto messageOf = [this] { return Probe()["state"]["message"].get<std::string>(); };

  // The camera's cable pulled before a scan: the scan ends at once with a
  // message naming the camera, and nothing is added.
  const fs::path cable = m_root.GetPath() / "camera.unplugged";
  std::ofstream(cable) << "";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  Click("scan");
  ASSERT_TRUE(
      WaitFor([](const Json& p) { return p["state"]["message"] != "" && p["state"]["idle"]; }, 60))
      << Output();
  EXPECT_NE(messageOf().find("Camera \"VirtualCamera0\" stopped delivering"), std::string::npos)
      << messageOf();
  EXPECT_EQ(Probe()["state"]["scans"], 0);
  Click("message_ok");
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["message"] == ""; }, 10))
      << messageOf();
  // Plugged in again, the next scan works.
  fs::remove(cable);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  Click("scan");
  const bool scanned =
      WaitFor([](const Json& p) { return p["state"]["scans"] == 1 && p["state"]["idle"]; }, 60);
  KeepScreen("after_replug");
  ASSERT_TRUE(scanned) << Probe()["state"].dump() << Output();

  // Saved, then a save into a folder that cannot exist: a message, and
  // the project saved before is untouched.
  const fs::path project = m_root.GetPath() / "kept.tarvelinproj";
  Click("menu_file");
  Click("menu_save");
  ASSERT_NO_FATAL_FAILURE(TypePathAndOk(project));
  ASSERT_TRUE(WaitFor([&](const Json&) { return fs::exists(project); }, 20)) << Output();
  const auto savedSize = fs::file_size(project);
  std::ofstream(m_root.GetPath() / "not-a-folder") << "a file";
  Click("menu_file");
  Click("menu_save");
  ASSERT_NO_FATAL_FAILURE(TypePathAndOk(m_root.GetPath() / "not-a-folder" / "p.tarvelinproj"));
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["message"] != ""; }, 10)) << Output();
  std::printf("messages: a save that cannot be written: \"%s\"\n", messageOf().c_str());
  Click("message_ok");
  EXPECT_EQ(fs::file_size(project), savedSize);

  // A project file that is not one: a message, the list as it was.
  const fs::path broken = m_root.GetPath() / "broken.tarvelinproj";
  std::ofstream(broken) << "this is not a project";
  Click("menu_file");
  Click("menu_open");
  ASSERT_NO_FATAL_FAILURE(TypePathAndOk(broken));
  ASSERT_TRUE(WaitFor([](const Json& p) { return p["state"]["message"] != ""; }, 10)) << Output();
  std::printf("messages: a broken project: \"%s\"\n", messageOf().c_str());
  Click("message_ok");
  EXPECT_EQ(Probe()["state"]["scans"], 1);
  EXPECT_GT(Probe()["state"]["errors"].get<int>(), 0);  // the log pane has the errors too
  EXPECT_EQ(Close(), 0) << Output();
}

}  // namespace
