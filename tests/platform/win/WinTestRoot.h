#pragma once
// Test fixture of the virtual Windows: every test gets a machine of its own
// under a fresh temporary root, set through the root variable.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/win/WinPaths.h"
#include "support/TestDir.h"

namespace wintest {

class WinRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv(plat::win::kRootVariable, dir_.Path().c_str(), 1);
    plat::win::EnsureWindowsRoot();
  }
  void TearDown() override { ::unsetenv(plat::win::kRootVariable); }

  const std::string& Root() const { return dir_.Path(); }

  // Writes a file by Windows path (the folder must exist).
  static void WriteFile(const std::string& winPath, const std::string& content) {
    std::ofstream out(plat::win::HostPath(winPath), std::ios::binary);
    out << content;
  }
  static std::string ReadFile(const std::string& winPath) {
    std::ifstream in(plat::win::HostPath(winPath), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  testsupport::TempDir dir_;
};

}  // namespace wintest
