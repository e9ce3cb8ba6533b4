// Where saves fail for want of room: /dev/full, which takes no byte, and a
// small tmpfs filled to its last block. The tmpfs is mounted in a mount
// namespace of the calling thread, so that thread and the programs it
// starts see it and the rest of the machine does not. Without the right to
// make one, dir() is empty and a test skips that part.
#pragma once
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vltest {

class FullTmpfs {
 public:
  // "old" holds oldContent, written before the disk was filled.
  explicit FullTmpfs(const std::string& oldContent = "OLD") {
    std::string pattern = testing::TempDir() + "vlfullXXXXXX";
    if (!mkdtemp(pattern.data())) return;
    path_ = pattern;
    if (!EnterMountNamespace() ||
        mount("vlfull", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0777") != 0)
      return;
    mounted_ = true;
    std::ofstream(path_ + "/old", std::ios::binary) << oldContent;
    int fd = open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    char block[4096] = {};
    while (write(fd, block, sizeof block) > 0) {
    }
    while (write(fd, block, 1) > 0) {
    }
    close(fd);
    dir_ = path_;
  }
  ~FullTmpfs() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) rmdir(path_.c_str());
  }
  FullTmpfs(const FullTmpfs&) = delete;
  FullTmpfs& operator=(const FullTmpfs&) = delete;

  const std::string& dir() const { return dir_; }
  // The names in the directory, sorted ("filler" and "old" among them).
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.' || (e->d_name[1] && (e->d_name[1] != '.' || e->d_name[2])))
          names.emplace_back(e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Old() const {
    std::ifstream in(dir_ + "/old", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  static bool WriteProc(const char* file, const std::string& text) {
    int fd = open(file, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
  }
  // A private mount namespace; without the right to make one, a user
  // namespace of our own ids gives it (single-threaded processes only).
  static bool EnterMountNamespace() {
    if (unshare(CLONE_NEWNS) != 0) {
      const uid_t uid = getuid();
      const gid_t gid = getgid();
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
      WriteProc("/proc/self/setgroups", "deny");
      if (!WriteProc("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
          !WriteProc("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
        return false;
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }

  std::string path_, dir_;
  bool mounted_ = false;
};

}  // namespace vltest
