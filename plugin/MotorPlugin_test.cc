#include "plugin/MotorPlugin.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "foundation/utils/testing/TemporaryFolder.h"


namespace plugin {
namespace {

struct FakeMotorCounters {
  int connects;
  int disconnects;
  int disconnectsWithoutHandle;
  int moves;
};

std::string FakeLibrary(const std::string& variant) {
  return std::string(TARVELIN_FAKE_PLUGIN_DIR) + "/motor_plugin1_64_fake" + variant + ".so";
}

// Keeps a fake library open for the test, so that its counters live on
// while MotorPlugin loads and unloads it.
class FakeHandle {
 public:
  explicit FakeHandle(const std::string& variant) : m_library(dlopen(FakeLibrary(variant).c_str(), RTLD_NOW)) {}
  ~FakeHandle() {
    if (m_library) dlclose(m_library);
  }
  FakeMotorCounters* Counters() const {
    return m_library ? static_cast<FakeMotorCounters*>(dlsym(m_library, "fake_motor_counters")) : nullptr;
  }

 private:
  void* m_library;
};

// Each test's log files go to a folder of its own that goes with the test.
class MotorPluginTest : public ::testing::Test {
 protected:
  std::string TempLog(const std::string& name) const { return (m_folder / (name + ".txt")).string(); }

 private:
  utils::testing::TemporaryFolder m_folder{"MotorPlugin_test"};
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(MotorPlugin, UnloadedPluginAnswersUnavailable) {
  MotorPlugin motor;
  double position = 5;
  std::intptr_t value = 0;
  EXPECT_FALSE(motor.IsLoaded());
  EXPECT_EQ(motor.Connect("", ""), -10);
  EXPECT_EQ(motor.Disconnect(), 0);
  EXPECT_EQ(motor.Move(10), -10);
  EXPECT_EQ(motor.Stop(), -10);
  EXPECT_EQ(motor.GetPosition(position), -10);
  EXPECT_EQ(position, 5);
  EXPECT_EQ(motor.GetStatus(), -10);
  EXPECT_EQ(motor.GetParameter(value, "speed"), -13);
  EXPECT_EQ(motor.SetParameter(1, "speed"), -13);
}

TEST(MotorPlugin, AcceptsOnlyItsInterface) {
  MotorPlugin motor;
  EXPECT_TRUE(motor.IsInterface("motor_plugin1"));
  EXPECT_FALSE(motor.IsInterface("motor_plugin2"));
  EXPECT_FALSE(motor.IsInterface(""));
}

TEST_F(MotorPluginTest, MissingLibraryReturnsMinusOne) {
  MotorPlugin motor;
  testing::internal::CaptureStderr();
  EXPECT_EQ(motor.Load(FakeLibrary("doesnotexist"), "", TempLog("missing")), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error - MotorPlugin - Could not load library.\n");
  EXPECT_FALSE(motor.IsLoaded());
  EXPECT_FALSE(motor.GetLastLoadError().empty());
}

TEST_F(MotorPluginTest, CompleteLibraryConnectsWithTheTextsItWasGiven) {
  FakeHandle fake("complete");
  ASSERT_NE(fake.Counters(), nullptr);
  const FakeMotorCounters before = *fake.Counters();
  const std::string log = TempLog("complete");
  {
    MotorPlugin motor;
    testing::internal::CaptureStderr();
    // The texts reach the library by pointer and length, not as C strings.
    EXPECT_EQ(motor.Load(FakeLibrary("complete"), std::string("speed=5 a\0b", 11), log), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(motor.IsConnected());
    EXPECT_EQ(motor.Move(12.5), 0);
    double position = 0;
    EXPECT_EQ(motor.GetPosition(position), 0);
    EXPECT_EQ(position, 12.5);
    // Codes of the library pass through unchanged.
    EXPECT_EQ(motor.GetStatus(), 7);
    std::intptr_t value = 0;
    EXPECT_EQ(motor.GetParameter(value, "answer"), 0);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(motor.SetParameter(1, "question"), -13);
    EXPECT_EQ(motor.Stop(), 0);
  }
  EXPECT_EQ(fake.Counters()->connects, before.connects + 1);
  EXPECT_EQ(fake.Counters()->disconnects, before.disconnects + 1);
  EXPECT_EQ(fake.Counters()->moves, before.moves + 1);
  EXPECT_EQ(ReadFile(log), "connect parameters=" + std::string("speed=5 a\0b", 11) + "\n");
}

TEST_F(MotorPluginTest, DisconnectForgetsTheHandleAndCallsReachTheLibraryWithout) {
  FakeHandle fake("complete");
  MotorPlugin motor;
  ASSERT_EQ(motor.Load(FakeLibrary("complete"), "", TempLog("disconnect")), 0);
  EXPECT_EQ(motor.Disconnect(), 0);
  EXPECT_TRUE(motor.IsLoaded());
  EXPECT_FALSE(motor.IsConnected());
  // The library answers for a missing handle itself.
  EXPECT_EQ(motor.Move(1), -10);
  EXPECT_EQ(motor.Connect("", TempLog("disconnect")), 0);
  EXPECT_EQ(motor.Move(1), 0);
}

TEST_F(MotorPluginTest, LibraryWithoutParameterFunctionsConnects) {
  MotorPlugin motor;
  testing::internal::CaptureStderr();
  EXPECT_EQ(motor.Load(FakeLibrary("noparameters"), "", TempLog("noparameters")), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Info - MotorPlugin - Function motor_getParameter not available.\n"
            "Info - MotorPlugin - Function motor_setParameter not available.\n");
  EXPECT_TRUE(motor.IsConnected());
  std::intptr_t value = 3;
  EXPECT_EQ(motor.GetParameter(value, "answer"), -13);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(motor.SetParameter(1, "answer"), -13);
  EXPECT_EQ(motor.Move(2), 0);
}

TEST_F(MotorPluginTest, LibraryWithoutStopDoesNotConnect) {
  FakeHandle fake("nostop");
  ASSERT_NE(fake.Counters(), nullptr);
  const int connects = fake.Counters()->connects;
  MotorPlugin motor;
  testing::internal::CaptureStderr();
  EXPECT_EQ(motor.Load(FakeLibrary("nostop"), "", TempLog("nostop")), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error - MotorPlugin - Could not get pointer to motor_stop.\n");
  EXPECT_EQ(fake.Counters()->connects, connects);
  EXPECT_FALSE(motor.IsLoaded());
  EXPECT_EQ(motor.Move(1), -10);
}

TEST_F(MotorPluginTest, FailedConnectionIsReportedDisconnectedAndUnloaded) {
  FakeHandle fake("failconnect");
  ASSERT_NE(fake.Counters(), nullptr);
  const FakeMotorCounters before = *fake.Counters();
  MotorPlugin motor;
  testing::internal::CaptureStderr();
  EXPECT_EQ(motor.Load(FakeLibrary("failconnect"), "", TempLog("failconnect")), -7);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error - MotorPlugin - Connection failed.\n");
  EXPECT_FALSE(motor.IsLoaded());
  EXPECT_EQ(fake.Counters()->connects, before.connects + 1);
  EXPECT_EQ(fake.Counters()->disconnectsWithoutHandle, before.disconnectsWithoutHandle + 1);
}

TEST_F(MotorPluginTest, LoadingAgainReleasesTheFirstLibrary) {
  FakeHandle fake("complete");
  const FakeMotorCounters before = *fake.Counters();
  MotorPlugin motor;
  ASSERT_EQ(motor.Load(FakeLibrary("complete"), "", TempLog("again")), 0);
  testing::internal::CaptureStderr();
  ASSERT_EQ(motor.Load(FakeLibrary("noparameters"), "", TempLog("again")), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(fake.Counters()->disconnects, before.disconnects + 1);
  std::intptr_t value = 0;
  EXPECT_EQ(motor.GetParameter(value, "answer"), -13);
}

TEST_F(MotorPluginTest, ExportsAreListedInLookupOrderWhenAllAreMissing) {
  // The C maths library serves as a library without any motor export.
  MotorPlugin motor;
  testing::internal::CaptureStderr();
  const int result = motor.Load("libm.so.6", "", TempLog("none"));
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, -2);
  EXPECT_EQ(errors,
            "Error - MotorPlugin - Could not get pointer to motor_connect.\n"
            "Error - MotorPlugin - Could not get pointer to motor_disconnect.\n"
            "Error - MotorPlugin - Could not get pointer to motor_move.\n"
            "Error - MotorPlugin - Could not get pointer to getPosition.\n"
            "Error - MotorPlugin - Could not get pointer to motor_getStatus.\n"
            "Error - MotorPlugin - Could not get pointer to motor_stop.\n"
            "Info - MotorPlugin - Function motor_getParameter not available.\n"
            "Info - MotorPlugin - Function motor_setParameter not available.\n");
}

}  // namespace
}  // namespace plugin
