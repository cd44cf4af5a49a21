#include "vid/Logger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>

namespace vid {
namespace {

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = std::filesystem::temp_directory_path() /
             ("tarvelin_logger_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log");
  }
  void TearDown() override { std::filesystem::remove(m_path); }

  std::vector<std::string> FileLines() const {
    std::ifstream file(m_path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

  std::filesystem::path m_path;
  std::ostringstream m_out, m_err;
};

// True when `line` matches `pattern`, in which each '9' stands for a digit.
bool Matches(const std::string& line, const std::string& pattern) {
  if (line.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (pattern[i] == '9' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                          : line[i] != pattern[i])
      return false;
  }
  return true;
}

TEST_F(LoggerTest, FileStartsWithTheBannerAndStampsEachLine) {
  {
    Logger logger(m_path, m_out, m_err);
    EXPECT_TRUE(logger.IsFileOpen());
    logger.Info("GrabberDirectShow", "Connecting to source - name: cam");
    logger.Log(Logger::kWarning, "Sampler", "Format is not supported.");
  }
  const auto lines = FileLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], std::string(79, '='));
  EXPECT_TRUE(Matches(lines[1], "9999.99.99 99:99:99")) << lines[1];
  EXPECT_EQ(lines[2], std::string(79, '-'));
  EXPECT_TRUE(
      Matches(lines[3], "[99:99:99] INFO - GrabberDirectShow - Connecting to source - name: cam"))
      << lines[3];
  EXPECT_TRUE(Matches(lines[4], "[99:99:99] WARNING - Sampler - Format is not supported."))
      << lines[4];
}

TEST_F(LoggerTest, ConsoleSplitsInfoFromWarningsAndErrors) {
  Logger logger({}, m_out, m_err);
  EXPECT_FALSE(logger.IsFileOpen());
  logger.Info("src", "one");
  logger.Warning("src", "two");
  logger.Error("src", "three");
  logger.Log(Logger::kInfo, "src", "no break", false);
  EXPECT_EQ(m_out.str(), "INFO - src - one\nINFO - src - no break");
  EXPECT_EQ(m_err.str(), "WARNING - src - two\nERROR - src - three\n");
}

TEST_F(LoggerTest, FilePrioritiesKeepInfoOutOfTheFile) {
  {
    Logger logger(m_path, m_out, m_err);
    logger.SetFilePriority(Logger::kInfo, -1);
    logger.SetFilePriority(Logger::kWarning, 0);
    logger.SetFilePriority(Logger::kError, 100);
    logger.Info("s", "info");
    logger.Warning("s", "warning");
    logger.SetThreshold(50);  // for the next message only
    logger.Warning("s", "quiet warning");
    logger.Warning("s", "loud warning");
  }
  const auto lines = FileLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[3].find("WARNING - s - warning"), std::string::npos);
  EXPECT_NE(lines[4].find("WARNING - s - loud warning"), std::string::npos);
  EXPECT_EQ(m_out.str(), "INFO - s - info\n");  // console priorities stay at 100
  EXPECT_EQ(m_err.str(),
            "WARNING - s - warning\nWARNING - s - quiet warning\nWARNING - s - loud warning\n");
}

TEST_F(LoggerTest, CheckLogsFailingCodesInHexadecimal) {
  Logger logger({}, m_out, m_err);
  EXPECT_FALSE(logger.Check(0, "Grabber", "Could not run graph."));
  EXPECT_FALSE(logger.Check(1, "Grabber", "Could not run graph."));
  EXPECT_EQ(m_err.str(), "");
  EXPECT_TRUE(
      logger.Check(static_cast<std::int32_t>(0x80004005u), "Grabber", "Could not run graph."));
  logger.Error("Grabber", "plain");  // the code does not stick to later messages
  EXPECT_EQ(
      m_err.str(),
      "ERROR - Grabber - Could not run graph. (HRESULT: 0x80004005)\nERROR - Grabber - plain\n");
}

TEST_F(LoggerTest, SectionHeadings) {
  Logger logger({}, m_out, m_err);
  logger.Section("Scanner", "Capture");
  EXPECT_EQ(m_out.str(), "INFO - Scanner - ########## Capture\n");
}

TEST_F(LoggerTest, UnwritableFileLeavesAConsoleLogger) {
  Logger logger(m_path / "no" / "such" / "dir.log", m_out, m_err);
  EXPECT_FALSE(logger.IsFileOpen());
  EXPECT_NE(m_err.str().find("ERROR - Logger - Could not create log file"), std::string::npos);
  logger.Info("s", "still works");
  EXPECT_EQ(m_out.str(), "INFO - s - still works\n");
}

}  // namespace
}  // namespace vid
