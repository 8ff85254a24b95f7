#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace zorva_test {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zorva-test-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  path_ = name.data();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zorva_test
