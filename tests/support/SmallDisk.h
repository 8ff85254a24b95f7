// A small file system of its own (tmpfs), mounted over a folder for the life
// of the guard: a disk that fills up, in tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zorva_test {

class SmallDisk {
 public:
  explicit SmallDisk(const std::string& folder, const std::string& size = "64k") : folder_(folder) {
    std::filesystem::create_directories(folder);
    mounted_ = Run("mount -t tmpfs -o size=" + size + " tmpfs '" + folder + "'");
  }
  ~SmallDisk() {
    if (mounted_) Run("umount -l '" + folder_ + "'");
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  // Fills it to the last byte.
  void Fill() { Run("dd if=/dev/zero of='" + folder_ + "/fill' bs=4k >/dev/null 2>&1"); }
  // From now on nothing in it can be written, whoever asks.
  bool MakeReadOnly() { return Run("mount -o remount,ro '" + folder_ + "'"); }

 private:
  static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

  std::string folder_;
  bool mounted_ = false;
};

}  // namespace zorva_test
