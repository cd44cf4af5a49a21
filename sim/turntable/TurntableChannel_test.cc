#include "sim/turntable/TurntableChannel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace sim {
namespace {

TEST(TurntableMotion, TurnsAtConstantSpeedTowardsTheTargetAndStops) {
  TurntableMotion motion;
  motion.startDeg = 10;
  motion.targetDeg = -35;
  motion.startTime = 100;
  motion.speedDegPerS = 30;
  EXPECT_EQ(motion.AngleAt(99), 10);  // before the start
  EXPECT_DOUBLE_EQ(motion.AngleAt(100.5), -5);
  EXPECT_TRUE(motion.IsMovingAt(101.4));
  EXPECT_EQ(motion.AngleAt(101.5), -35);  // 45 deg at 30 deg/s
  EXPECT_FALSE(motion.IsMovingAt(101.5));
  EXPECT_EQ(motion.AngleAt(1e6), -35);
  const TurntableMotion still = TurntableMotion::StandingAt(7, 3, 20);
  EXPECT_FALSE(still.IsMovingAt(3));
  EXPECT_EQ(still.AngleAt(50), 7);
}

TEST(TurntableChannel, TextRoundTripsExactly) {
  TurntableMotion motion;
  motion.connected = true;
  motion.powered = false;
  motion.startDeg = 1.0 / 3.0;
  motion.targetDeg = 720.125;
  motion.startTime = 81234.56789012345;
  motion.speedDegPerS = 45.5;
  TurntableMotion read;
  std::string error;
  ASSERT_TRUE(ParseTurntableChannel(FormatTurntableChannel(motion), read, error)) << error;
  EXPECT_EQ(read.connected, true);
  EXPECT_EQ(read.powered, false);
  EXPECT_EQ(read.startDeg, motion.startDeg);
  EXPECT_EQ(read.targetDeg, motion.targetDeg);
  EXPECT_EQ(read.startTime, motion.startTime);
  EXPECT_EQ(read.speedDegPerS, motion.speedDegPerS);
}

TEST(TurntableChannel, TruncatedAndCorruptTextIsRejected) {
  const std::string good = FormatTurntableChannel(TurntableMotion::StandingAt(5, 1, 2));
  TurntableMotion motion = TurntableMotion::StandingAt(99, 0, 1);
  std::string error;
  // Every truncation fails, except the one that drops only the final newline.
  for (std::size_t length = 0; length + 1 < good.size(); ++length) {
    EXPECT_FALSE(ParseTurntableChannel(good.substr(0, length), motion, error)) << length;
  }
  EXPECT_TRUE(ParseTurntableChannel(good.substr(0, good.size() - 1), motion, error));
  motion = TurntableMotion::StandingAt(99, 0, 1);
  EXPECT_FALSE(ParseTurntableChannel("", motion, error));
  EXPECT_FALSE(ParseTurntableChannel("tarvelin-virtual-turntable 2\n", motion, error));
  std::string noSpeed = good.substr(0, good.find("speed_deg_per_s"));
  EXPECT_FALSE(ParseTurntableChannel(noSpeed, motion, error));
  EXPECT_EQ(error, "a value is missing");
  for (const char* bad : {"start_deg abc\n", "start_deg 1e999\n", "speed_deg_per_s 0\n", "speed_deg_per_s -5\n",
                          "connected 2\n", "powered\n", "target_deg nan\n", "start_time_s 12x\n"}) {
    EXPECT_FALSE(ParseTurntableChannel(good + bad, motion, error)) << bad;
  }
  // A failed parse leaves the motion alone.
  EXPECT_EQ(motion.startDeg, 99);
  // Unknown keys are ignored.
  EXPECT_TRUE(ParseTurntableChannel(good + "colour blue\n", motion, error));
  EXPECT_EQ(motion.startDeg, 5);
}

TEST(TurntableChannel, FileIsReplacedWholeAndReadBack) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("TurntableChannel_test_" + std::to_string(getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "table.state").string();
  std::string error;
  TurntableMotion motion;
  EXPECT_FALSE(ReadTurntableChannel(path, motion, error));
  motion = TurntableMotion::StandingAt(12, 3, 4);
  ASSERT_TRUE(WriteTurntableChannel(path, motion, error)) << error;
  motion.targetDeg = 48;
  ASSERT_TRUE(WriteTurntableChannel(path, motion, error)) << error;
  TurntableMotion read;
  ASSERT_TRUE(ReadTurntableChannel(path, read, error)) << error;
  EXPECT_EQ(read.targetDeg, 48);
  // No temporary files are left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
  EXPECT_FALSE(WriteTurntableChannel((folder / "missing" / "table.state").string(), motion, error));
  std::ofstream(path) << "garbage";
  EXPECT_FALSE(ReadTurntableChannel(path, read, error));
  EXPECT_NE(error.find(path), std::string::npos);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sim
