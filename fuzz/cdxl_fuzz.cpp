// Fuzzes the CDXL decoder through a memory name: the open checks, every
// packet, video and audio decoding, and seeks.
#include <vector>

#include "formats/cdxl.h"
#include "runtime/memory_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char name[64];
  if (!MakeMemoryName(name, sizeof name, data, size)) return 0;
  vlVideoFormatInfo info{};
  vlCDXLDecoder* d = OpenCDXL(name, &info);
  if (d) {
    std::vector<uint32_t> pixels(static_cast<size_t>(info.width) * info.height);
    std::vector<int16_t> samples(65536);
    for (int round = 0; round < 2; ++round) {
      vlVideoPacketInfo packet{};
      for (int i = 0; i < 64 && ReadCDXLPacket(d, &packet) == 0; ++i) {
        if (packet.kind == 0) {
          vlVideoFrameInfo frame{pixels.data(), 0, 0, 0, 0, 0};
          DecodeCDXLVideo(d, packet.packet, &frame);
        } else {
          vlVideoSampleInfo s{samples.data(), 0, 0};
          DecodeCDXLAudio(d, packet.packet, &s);
        }
        FreeCDXLPacket(packet.packet);
      }
      SeekCDXL(d, round ? 0 : 1000000);
    }
    CloseCDXL(d);
  }
  ReleaseMemoryName(name);
  return 0;
}
