// ImageMagick as a counterpart: an operation run by convert on raw 8-bit
// RGB, and the count of differing pixels from compare -metric AE.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vltest {

// A real ImageMagick convert, or "" (a stand-in earlier on the path
// does not count).
inline std::string FindConvert() {
  for (const char* c : {"/usr/bin/convert", "convert", "magick"}) {
    const std::string probe = std::string(c) + " -version 2>/dev/null | grep -q 'Version: ImageMagick'";
    if (std::system(probe.c_str()) == 0) return c;
  }
  return "";
}

inline std::string UniqueTemp(const std::string& name) {
  static int serial = 0;
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/vl_gfxk_" + std::to_string(getpid()) + "_" + std::to_string(++serial) +
         "_" + name;
}

inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// convert -size WxH rgb:input <op> rgb:out, then compare -metric AE of
// ours (ow x oh RGB) against it. The differing pixel count, or -1 when
// ImageMagick failed.
inline long ImageMagickAE(const std::string& convert, const std::vector<uint8_t>& input, int w, int h,
                          const std::string& op, const std::vector<uint8_t>& ours, int ow, int oh) {
  const std::string in = UniqueTemp("in.rgb"), want = UniqueTemp("want.rgb"), got = UniqueTemp("got.rgb");
  long result = -1;
  if (WriteBytes(in, input) && WriteBytes(got, ours)) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    const std::string osize = std::to_string(ow) + "x" + std::to_string(oh);
    const std::string run = convert + " -size " + size + " -depth 8 rgb:" + in + " " + op + " -depth 8 rgb:" + want;
    if (std::system(run.c_str()) == 0) {
      const std::string cmp = "compare -metric AE -size " + osize + " -depth 8 rgb:" + got + " rgb:" + want +
                              " null: 2>&1";
      if (FILE* p = popen(cmp.c_str(), "r")) {
        char buf[128] = {};
        if (std::fgets(buf, sizeof buf, p)) result = std::strtol(buf, nullptr, 10);
        pclose(p);
      }
    }
  }
  std::remove(in.c_str());
  std::remove(want.c_str());
  std::remove(got.c_str());
  return result;
}

}  // namespace vltest
