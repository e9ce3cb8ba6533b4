// A photo-like GIF as a photo is usually made into one: a fractal plasma
// reduced to 256 colours with Floyd-Steinberg dithering, whose noisy indices
// give short LZW strings. Made by ImageMagick's convert when asked (the
// same picture each time: a fixed seed); empty when convert is missing.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<uint8_t> MakePhotoGif(int width, int height) {
  char name[] = "/tmp/vl_bench_photo_XXXXXX.gif";
  const int fd = mkstemps(name, 4);
  if (fd < 0) return {};
  close(fd);
  std::string command = "convert -size ";
  command += std::to_string(width) + "x" + std::to_string(height);
  command += " -seed 7 plasma:fractal -dither FloydSteinberg -colors 256 gif:";
  command += name;
  command += " 2>/dev/null";
  std::vector<uint8_t> bytes;
  if (std::system(command.c_str()) == 0) {
    std::ifstream in(name, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::remove(name);
  return bytes;
}
