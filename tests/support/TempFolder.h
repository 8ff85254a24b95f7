// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace zorva_test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Path() / name, as text.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace zorva_test
