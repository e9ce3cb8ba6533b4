// CreateSample over raw PCM that sox writes: read from an open file of the
// dos library and from a memory block, with byte swapping, offsets and the
// errors of short reads, write-only files and ranges.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "libraries/dos/dos_library.h"
#include "libraries/memblock/memblock_library.h"
#include "media/sound/sound_library.h"
#include "runtime/objects.h"
#include "sound_test_util.h"
#include "tests/libraries/library_script.h"
#include "vm/error_codes.h"

namespace {

class SampleSource : public vltest::LibraryScript {
 protected:
  void SetUp() override {
    LibraryScript::SetUp();
    for (auto open : {OpenMemBlockLib, OpenDosLib, OpenSoundLib}) {
      vl::PushSlotCopy(L, vl::kGlobalsIndex);
      ASSERT_EQ(open(L), 0);
      vl::SetStackTop(L, 0);
    }
    gSound.deviceName[0] = 0;
    raw_ = dir_.File("a.raw");
    // 80 frames of 16-bit stereo and the same bytes as 8-bit mono.
    ASSERT_EQ(soundtest::Run("sox -n -r 8000 -b 16 -c 2 -e signed-integer -t raw '" + raw_ + "' synth 0.01 sine 440"),
              0);
    bytes_ = soundtest::ReadBytes(raw_);
    ASSERT_EQ(bytes_.size(), 320u);
  }
  void TearDown() override {
    FreeSoundLib(L);
    FreeMemBlocks(L);
    FreeDosObjects(L);
    FreeObjectRegistries();
    LibraryScript::TearDown();
  }
  std::vector<uint8_t> Pcm(int id) {
    vlSample* s = nullptr;
    if (GetSampleByID({id, nullptr}, &s) != 0) return {};
    return std::vector<uint8_t>(s->data->pcm, s->data->pcm + s->bytes);
  }
  soundtest::TempDir dir_;
  std::string raw_;
  std::vector<uint8_t> bytes_;
};

TEST_F(SampleSource, FromAnOpenFile) {
  ASSERT_EQ(Run(".call openfile 1 \"" + raw_ + "\"\n.call createsample 1 { source = \"file\" id = 1 } 8000 3 40"), 0);
  EXPECT_EQ(Pcm(1), std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + 160));
  // The file's position moved on: the next read continues there, swapped.
  ASSERT_EQ(Run(".call createsample 2 { source = \"file\" id = 1 swap = 1 } 8000 1 40"), 0);
  std::vector<uint8_t> swapped(bytes_.begin() + 160, bytes_.begin() + 240);
  for (size_t i = 0; i < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  EXPECT_EQ(Pcm(2), swapped);
  // 80 bytes are left: 81 8-bit frames is a short read.
  EXPECT_EQ(Run(".call createsample 3 { source = \"file\" id = 1 } 8000 0 81"), 1009);
  EXPECT_EQ(Run(".call createsample 3 { source = \"file\" id = 1 } 8000 0 0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call createsample 3 { source = \"file\" } 8000 0 4"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call createsample 3 { source = \"file\" id = 9 } 8000 0 4"), 1179);
  EXPECT_EQ(Run(".call openfile 2 \"" + dir_.File("w") + "\" 1006\n" +
                ".call createsample 3 { source = \"file\" id = 2 } 8000 0 4"),
            1142);
  EXPECT_EQ(Run(".call createsample 3 { source = \"tape\" id = 1 } 8000 0 4"), ERR_WRONGUSAGE);
}

TEST_F(SampleSource, FromAMemoryBlock) {
  ASSERT_EQ(Run(".call allocmem 1 320\n.call openfile 1 \"" + raw_ + "\"\n.call readmem 1 1 320\n" +
                ".call createsample 1 { source = \"memory\" id = 1 offset = 80 } 8000 1 100"),
            0);
  EXPECT_EQ(Pcm(1), std::vector<uint8_t>(bytes_.begin() + 80, bytes_.begin() + 280));
  // 8-bit values are kept unsigned.
  ASSERT_EQ(Run(".call createsample 2 { source = \"memory\" id = 1 } 8000 0 4"), 0);
  std::vector<uint8_t> unsigned8;
  for (int i = 0; i < 4; ++i) unsigned8.push_back(uint8_t(bytes_[i] + 128));
  EXPECT_EQ(Pcm(2), unsigned8);
  EXPECT_EQ(Run(".call createsample 3 { source = \"memory\" id = 1 offset = 1 } 8000 1 160"), 1146);
  EXPECT_EQ(Run(".call createsample 3 { source = \"memory\" id = 1 offset = -1 } 8000 1 4"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call createsample 3 { source = \"memory\" id = 5 } 8000 1 4"), 1180);
  ASSERT_EQ(Run(".call createsample nil { source = \"memory\" id = 1 } 8000 3 80 -> h"), 0);
  EXPECT_EQ(Tag("h"), VL_TLIGHTUSERDATA);
}

}  // namespace
