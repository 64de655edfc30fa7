// A size-limited file system (tmpfs) mounted for one test and unmounted on
// every way out; Mounted() is false where mounting is not allowed, and the
// test then skips. Linux only.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qd::test_support {

class SmallDisk {
 public:
  SmallDisk(const std::string& path, const std::string& size) : path_(path) {
    std::filesystem::create_directories(path);
    mounted_ = std::system(("mount -t tmpfs -o size=" + size + " none '" + path + "' 2>/dev/null").c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) std::system(("umount '" + path_ + "' 2>/dev/null").c_str());
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool Mounted() const { return mounted_; }
  // Fills what is left of it.
  void Fill() const {
    std::ofstream out(path_ + "/filler", std::ios::binary);
    const std::vector<char> block(4096, 'x');
    for (int i = 0; i < 100000 && out.write(block.data(), static_cast<std::streamsize>(block.size())); ++i) {
    }
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace qd::test_support
