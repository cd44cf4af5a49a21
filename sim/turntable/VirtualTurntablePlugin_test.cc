// The virtual turntable plug-in, loaded the way the shell loads it: its
// shipped description scanned beside the built library, then driven through
// plugin::MotorPlugin while the rig's table follows through the channel.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <thread>

#include "foundation/utils/testing/TemporaryFolder.h"
#include "plugin/MotorPlugin.h"
#include "plugin/PluginLoader.h"
#include "sim/turntable/TurntableChannel.h"
#include "sim/turntable/TurntableFollower.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

class VirtualTurntable : public testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(fs::path(TARVELIN_SHARE_DIR) / "Plugins" / "VirtualTurntable.xml", m_folder / "VirtualTurntable.xml");
    fs::copy_file(fs::path(TARVELIN_PLUGIN_DIR) / "motor_plugin1_64_virtualturntable.so",
                  m_folder / "motor_plugin1_64_virtualturntable.so");
  }

  std::string Channel() const { return (m_folder / "table.state").string(); }
  std::string Logs() const { return (m_folder / "logs").string(); }

  // Scans the folder with the extra parameters and loads the turntable.
  int Load(plugin::MotorPlugin& motor, const std::string& extra) {
    plugin::PluginLoader loader;
    if (loader.Scan(m_folder.string(), {"motor_plugin1"}, "channel=" + Channel() + " " + extra) != 1) return -100;
    return loader.LoadPlugin(motor, "Turntable", "", Logs()).first;
  }

  // Polls the status until the table stands; false after timeout seconds.
  static bool WaitForRest(plugin::MotorPlugin& motor, double timeout) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (std::chrono::steady_clock::now() < end) {
      if (motor.GetStatus() != 1) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  utils::testing::TemporaryFolder m_temporary{"VirtualTurntable_test"};
  const std::filesystem::path m_folder = m_temporary.GetPath();
};

TEST_F(VirtualTurntable, MovesForTheTimeItsSpeedNeedsAndArrivesExactly) {
  plugin::MotorPlugin motor;
  ASSERT_EQ(Load(motor, "speed=400"), 0);
  double position = -1;
  ASSERT_EQ(motor.GetPosition(position), 0);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(motor.GetStatus(), 0);

  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(motor.Move(45), 0);
  EXPECT_EQ(motor.GetStatus(), 1);
  ASSERT_EQ(motor.GetPosition(position), 0);
  EXPECT_GE(position, 0);
  EXPECT_LT(position, 45);
  ASSERT_TRUE(WaitForRest(motor, 5));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_GE(seconds, 45.0 / 400.0 - 0.005);  // clock granularity
  EXPECT_EQ(motor.GetStatus(), 0);
  ASSERT_EQ(motor.GetPosition(position), 0);
  EXPECT_EQ(position, 45);

  TurntableMotion motion;
  std::string error;
  ASSERT_TRUE(ReadTurntableChannel(Channel(), motion, error)) << error;
  EXPECT_TRUE(motion.connected);
  EXPECT_EQ(motion.AngleAt(MonotonicSeconds()), 45);
  std::intptr_t speed = 0;
  EXPECT_EQ(motor.GetParameter(speed, "speed"), 0);
  EXPECT_EQ(speed, 400);
  EXPECT_EQ(motor.GetParameter(speed, "colour"), -13);
}

TEST_F(VirtualTurntable, TurnsTheRigsTable) {
  const scan::HardwareSetupIO setup = MakeShippedRigSetup(false);
  const SceneDescription description =
      ReadSceneFile(fs::path(TARVELIN_SHARE_DIR) / "rigs" / "default" / kRigSceneFile);
  VirtualRig::Options options;
  options.imageScale = 0.1;
  options.supersampling = 1;
  VirtualRig rig(setup, description, BuildScene(description), options);
  TurntableFollower follower(rig, Channel());
  std::string error;
  EXPECT_FALSE(follower.Update(&error));  // no driver yet: no channel

  plugin::MotorPlugin motor;
  ASSERT_EQ(Load(motor, "speed=1000"), 0);
  ASSERT_TRUE(follower.Update(&error)) << error;
  EXPECT_EQ(rig.GetScene().GetTurntable().angle, 0);
  const math::Frame4d before = rig.GetScene().GetObjectPose(0);
  for (int step = 1; step <= 3; ++step) {
    double position = 0;
    ASSERT_EQ(motor.GetPosition(position), 0);
    ASSERT_EQ(motor.Move(position + 45), 0);
    ASSERT_TRUE(WaitForRest(motor, 5));
    ASSERT_TRUE(follower.Update(&error)) << error;
    EXPECT_FALSE(follower.IsMoving());
    EXPECT_EQ(follower.GetAngleDeg(), 45.0 * step);
    EXPECT_NEAR(rig.GetScene().GetTurntable().angle, 45.0 * step * std::numbers::pi / 180.0, 1e-12);
  }
  // The object on the table turned with it.
  const math::Frame4d turn = rig.GetScene().GetObjectPose(0) * before.GetInverse();
  const math::Vec3d x = turn.MultV(math::Vec3d{1, 0, 0});
  EXPECT_NEAR(std::atan2(x[1], x[0]), 135.0 * std::numbers::pi / 180.0, 1e-9);
}

TEST_F(VirtualTurntable, StopHoldsTheTableWhereItIs) {
  plugin::MotorPlugin motor;
  ASSERT_EQ(Load(motor, "speed=100 start=10"), 0);
  double position = 0;
  ASSERT_EQ(motor.GetPosition(position), 0);
  EXPECT_EQ(position, 10);
  ASSERT_EQ(motor.Move(100), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(motor.Stop(), 0);
  EXPECT_EQ(motor.GetStatus(), 0);
  ASSERT_EQ(motor.GetPosition(position), 0);
  EXPECT_GT(position, 10);
  EXPECT_LT(position, 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  double later = 0;
  ASSERT_EQ(motor.GetPosition(later), 0);
  EXPECT_EQ(later, position);
}

TEST_F(VirtualTurntable, ReconnectingKeepsTheTablesAngle) {
  {
    plugin::MotorPlugin motor;
    ASSERT_EQ(Load(motor, "speed=2000"), 0);
    ASSERT_EQ(motor.Move(-30), 0);
    ASSERT_TRUE(WaitForRest(motor, 5));
  }
  TurntableMotion motion;
  std::string error;
  ASSERT_TRUE(ReadTurntableChannel(Channel(), motion, error)) << error;
  EXPECT_FALSE(motion.connected);
  EXPECT_EQ(motion.AngleAt(MonotonicSeconds()), -30);
  plugin::MotorPlugin motor;
  ASSERT_EQ(Load(motor, "start=5"), 0);  // start only applies to a new table
  double position = 0;
  ASSERT_EQ(motor.GetPosition(position), 0);
  EXPECT_EQ(position, -30);
}

TEST_F(VirtualTurntable, PowerFailureAnswersMinus14UntilPowerReturns) {
  plugin::MotorPlugin motor;
  ASSERT_EQ(Load(motor, "speed=5000 power_fail_after=2"), 0);
  EXPECT_EQ(motor.Move(10), 0);
  EXPECT_EQ(motor.Move(20), 0);
  EXPECT_EQ(motor.Move(30), -14);
  EXPECT_EQ(motor.GetStatus(), -14);
  std::intptr_t power = 1;
  EXPECT_EQ(motor.GetParameter(power, "power"), 0);
  EXPECT_EQ(power, 0);
  TurntableMotion motion;
  std::string error;
  ASSERT_TRUE(ReadTurntableChannel(Channel(), motion, error)) << error;
  EXPECT_FALSE(motion.powered);
  EXPECT_EQ(motor.SetParameter(1, "power"), 0);
  ASSERT_TRUE(WaitForRest(motor, 5));
  EXPECT_EQ(motor.GetStatus(), 0);
  EXPECT_EQ(motor.SetParameter(0, "power"), 0);
  EXPECT_EQ(motor.Move(40), -14);
  EXPECT_EQ(motor.SetParameter(3, "power"), -3);
  EXPECT_EQ(motor.SetParameter(1, "colour"), -13);
}

TEST_F(VirtualTurntable, LostChannelAnswersMinus10) {
  plugin::MotorPlugin motor;
  ASSERT_EQ(Load(motor, ""), 0);
  fs::remove(Channel());
  double position = 0;
  EXPECT_EQ(motor.GetStatus(), -10);
  EXPECT_EQ(motor.Move(10), -10);
  EXPECT_EQ(motor.GetPosition(position), -10);
  EXPECT_EQ(motor.Stop(), -10);
}

TEST_F(VirtualTurntable, BadParametersFailTheConnectionAndAreLogged) {
  for (const char* bad : {"speed=0", "speed=fast", "power_fail_after=-1", "start=", "tilt=3", "channel="}) {
    plugin::MotorPlugin motor;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Load(motor, bad), -3) << bad;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error - MotorPlugin - Connection failed.\n");
    EXPECT_FALSE(motor.IsLoaded());
  }
  std::ifstream log(fs::path(Logs()) / "Virtual turntable.txt");
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("VirtualTurntable: Error - bad parameter 'tilt=3'"), std::string::npos) << text.str();
}

TEST_F(VirtualTurntable, UnwritableChannelFailsTheConnection) {
  plugin::MotorPlugin motor;
  plugin::PluginLoader loader;
  ASSERT_EQ(loader.Scan(m_folder.string(), {}, "channel=" + (m_folder / "missing" / "table.state").string()), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(loader.LoadPlugin(motor, "Turntable", "Virtual turntable", Logs()).first, -20);
  testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace sim
