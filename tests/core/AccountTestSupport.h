// Folders, web host and computer name of their own for the account tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Account.h"
#include "tests/core/DatabaseTestSupport.h"

namespace zorva_test {

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string Answer(const std::string& inside) {
  return "<?xml version=\"1.0\"?>\n<response>" + inside + "</response>\n";
}

class AccountFixture : public ::testing::Test {
 protected:
  AccountFixture() { std::filesystem::create_directories(data.Path() + "/Zorva"); }

  std::string AccountFile() const { return data.Path() + "/Zorva/zorva.auth"; }

  TempFolder data;
  ScopedEnv dataHome{"XDG_DATA_HOME", data.Path()};
  ScopedEnv computer{"ZORVA_COMPUTER_NAME", "studio-pc"};
};

}  // namespace zorva_test
