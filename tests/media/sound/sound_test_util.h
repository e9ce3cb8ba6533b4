// Shared helpers of the sound tests: a private temporary folder, running
// real tools (sox, python3) and reading their files back.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace soundtest {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vl_sound_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Runs a python3 program (written to the folder) with arguments; its exit
// status.
inline int RunPython(const TempDir& dir, const std::string& program, const std::string& args = "") {
  std::string script = dir.File("script.py");
  std::ofstream(script) << program;
  return Run("python3 '" + script + "' " + args);
}

inline std::string TestData(const std::string& name) {
  const char* root = std::getenv("VL_TESTDATA");
  return std::string(root ? root : "") + "/" + name;
}

}  // namespace soundtest
