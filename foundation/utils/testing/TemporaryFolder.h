#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace utils::testing {

// A fresh, empty folder in the system's temporary directory for the running
// test, named prefix_Suite_Test_pid (so that tests and processes running at
// the same time never share one), removed with its contents when the object
// goes. Outside a test the name is prefix_pid.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& prefix)
      : m_path(std::filesystem::temp_directory_path() / UniqueName(prefix)) {
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~TemporaryFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& GetPath() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  static std::string UniqueName(const std::string& prefix) {
    std::string name = prefix;
    if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info())
      name += std::string("_") + test->test_suite_name() + "_" + test->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests
    return name + "_" + std::to_string(getpid());
  }

  std::filesystem::path m_path;
};

}  // namespace utils::testing
