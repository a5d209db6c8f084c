// A folder of the running test's own: test programs run side by side (ctest
// -j), so no two tests may write the same file. The folder is made empty when
// the test asks for it and removed with what it holds when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>

class Scratch {
 public:
  Scratch() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
    dir_ = std::filesystem::path(testing::TempDir()) /
           ("selquant-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  std::string dir() const { return dir_.string(); }
  // The path of a file in the folder.
  std::string operator/(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};
