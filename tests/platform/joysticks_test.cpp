// Joysticks read from stand-in device files: regular files and FIFOs of
// crafted 8-byte events in a temporary device tree, scanned through the same
// device patterns as /dev/input/js%d and /dev/js%d.
#include "platform/joysticks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vm/error_codes.h"

namespace {

std::vector<uint8_t> Event(uint8_t type, uint8_t number, int16_t value, uint32_t time = 0) {
  std::vector<uint8_t> bytes(8);
  std::memcpy(&bytes[0], &time, 4);
  std::memcpy(&bytes[4], &value, 2);
  bytes[6] = type;
  bytes[7] = number;
  return bytes;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> events) {
  std::vector<uint8_t> all;
  for (const auto& e : events) all.insert(all.end(), e.begin(), e.end());
  return all;
}

class Devices : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vl_joy_XXXXXX";
    root_ = mkdtemp(pattern);
    mkdir((root_ + "/input").c_str(), 0755);
    primary_ = root_ + "/input/js%d";
    fallback_ = root_ + "/js%d";
    SetJoystickDevicePatterns(primary_.c_str(), fallback_.c_str());
  }
  void TearDown() override {
    CloseJoysticks();
    SetJoystickDevicePatterns("/dev/input/js%d", "/dev/js%d");
    std::system(("rm -rf '" + root_ + "'").c_str());
  }
  void WriteDevice(const std::string& name, const std::vector<uint8_t>& bytes) {
    int fd = open((root_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
  }
  int Count() {
    int count = -1;
    EXPECT_EQ(OpenJoysticks(&count), 0);
    return count;
  }
  std::string root_, primary_, fallback_;
};

TEST_F(Devices, FallbackDirectoryAlone) {
  rmdir((root_ + "/input").c_str());
  WriteDevice("js0", Event(VL_JS_EVENT_BUTTON, 3, 1));
  EXPECT_EQ(Count(), 1);
  PollJoysticks();
  int direction = -1;
  uint32_t buttons = 0;
  EXPECT_EQ(ReadJoystick(0, &direction, &buttons), 0);
  EXPECT_EQ(direction, VL_JOY_CENTRE);
  EXPECT_EQ(buttons, 1u << 3);
  EXPECT_EQ(ReadJoystick(1, &direction, &buttons), ERR_NOJOYATPORT);
  EXPECT_EQ(ReadJoystick(-1, nullptr, nullptr), ERR_NOJOYATPORT);
}

TEST_F(Devices, ScanStopsAtTheFirstGap) {
  WriteDevice("input/js0", {});
  WriteDevice("input/js2", {});
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(ReadJoystick(0, nullptr, nullptr), 0);
  EXPECT_EQ(ReadJoystick(1, nullptr, nullptr), ERR_NOJOYATPORT);
  // Later calls do not scan again, they only count.
  WriteDevice("input/js1", {});
  EXPECT_EQ(Count(), 1);
}

TEST_F(Devices, EachNumberTriesBothDirectories) {
  WriteDevice("js0", Event(VL_JS_EVENT_AXIS, 0, 30000));
  WriteDevice("input/js1", Event(VL_JS_EVENT_AXIS, 1, -30000));
  EXPECT_EQ(Count(), 2);
  PollJoysticks();
  int direction = -1;
  ASSERT_EQ(ReadJoystick(0, &direction, nullptr), 0);
  EXPECT_EQ(direction, VL_JOY_RIGHT);
  ASSERT_EQ(ReadJoystick(1, &direction, nullptr), 0);
  EXPECT_EQ(direction, VL_JOY_UP);
}

TEST_F(Devices, NoDevicesMeansNothingToPoll) {
  EXPECT_EQ(Count(), 0);
  PollJoysticks();
  EXPECT_EQ(ReadJoystick(0, nullptr, nullptr), ERR_NOJOYATPORT);
}

TEST_F(Devices, EventsApplyInOrderAndOddBytesAreIgnored) {
  std::vector<uint8_t> stream = Join({
      Event(VL_JS_EVENT_BUTTON | VL_JS_EVENT_INIT, 0, 1),  // initial state counts
      Event(VL_JS_EVENT_BUTTON, 31, 1),
      Event(VL_JS_EVENT_BUTTON, 40, 1),  // beyond the 32 buttons: nothing
      Event(VL_JS_EVENT_BUTTON, 32, 1),
      Event(VL_JS_EVENT_BUTTON, 5, 1),
      Event(VL_JS_EVENT_BUTTON, 5, 0),  // released again
      Event(VL_JS_EVENT_AXIS, 0, -20000),
      Event(VL_JS_EVENT_AXIS, 1, 20000),
      Event(VL_JS_EVENT_AXIS, 3, 100),  // a second stick overwrites y
  });
  // A torn event at the end of the stream is dropped.
  stream.insert(stream.end(), {1, 2, 3, 4, 5});
  WriteDevice("input/js0", stream);
  EXPECT_EQ(Count(), 1);
  int direction = -1;
  uint32_t buttons = 1234;
  ASSERT_EQ(ReadJoystick(0, &direction, &buttons), 0);
  EXPECT_EQ(buttons, 0u);  // nothing read before the pump polls
  EXPECT_EQ(direction, VL_JOY_CENTRE);
  PollJoysticks();
  ASSERT_EQ(ReadJoystick(0, &direction, &buttons), 0);
  EXPECT_EQ(buttons, (1u << 0) | (1u << 31));
  EXPECT_EQ(direction, VL_JOY_LEFT);
}

TEST_F(Devices, LongStreamsAreReadToTheEnd) {
  // 100 events: more than one 256-byte read.
  std::vector<uint8_t> stream;
  for (int i = 0; i < 100; i++) {
    auto e = Event(VL_JS_EVENT_BUTTON, uint8_t(i % 32), int16_t(i % 3 != 0));
    stream.insert(stream.end(), e.begin(), e.end());
  }
  WriteDevice("input/js0", stream);
  Count();
  PollJoysticks();
  uint32_t buttons = 0;
  ASSERT_EQ(ReadJoystick(0, nullptr, &buttons), 0);
  uint32_t expected = 0;
  for (int i = 0; i < 100; i++) {
    uint32_t bit = 1u << (i % 32);
    expected = (i % 3 != 0) ? (expected | bit) : (expected & ~bit);
  }
  EXPECT_EQ(buttons, expected);
}

TEST_F(Devices, LiveDeviceKeepsStateBetweenPolls) {
  std::string fifo = root_ + "/input/js0";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(Count(), 1);  // the reader opens without waiting for a writer
  int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  auto send = [&](const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(writer, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  };
  send(Join({Event(VL_JS_EVENT_AXIS, 0, 20000), Event(VL_JS_EVENT_AXIS, 1, -20000),
             Event(VL_JS_EVENT_BUTTON, 2, 1)}));
  PollJoysticks();
  int direction = -1;
  uint32_t buttons = 0;
  ASSERT_EQ(ReadJoystick(0, &direction, &buttons), 0);
  EXPECT_EQ(direction, VL_JOY_UP_RIGHT);
  EXPECT_EQ(buttons, 1u << 2);
  PollJoysticks();  // nothing pending: the read would block, and does not
  ASSERT_EQ(ReadJoystick(0, &direction, &buttons), 0);
  EXPECT_EQ(direction, VL_JOY_UP_RIGHT);
  send(Join({Event(VL_JS_EVENT_AXIS, 1, 0), Event(VL_JS_EVENT_BUTTON, 2, 0)}));
  PollJoysticks();
  ASSERT_EQ(ReadJoystick(0, &direction, &buttons), 0);
  EXPECT_EQ(direction, VL_JOY_RIGHT);
  EXPECT_EQ(buttons, 0u);
  close(writer);
}

TEST(JoystickDirection, EightDirectionsAndTheDeadZone) {
  EXPECT_EQ(JoystickDirection(20000, -20000), VL_JOY_UP_RIGHT);
  EXPECT_EQ(JoystickDirection(16000, 16001), VL_JOY_DOWN);
  EXPECT_EQ(JoystickDirection(16001, 0), VL_JOY_RIGHT);
  EXPECT_EQ(JoystickDirection(32767, 32767), VL_JOY_DOWN_RIGHT);
  EXPECT_EQ(JoystickDirection(0, 32767), VL_JOY_DOWN);
  EXPECT_EQ(JoystickDirection(-32768, 32767), VL_JOY_DOWN_LEFT);
  EXPECT_EQ(JoystickDirection(-16001, 16000), VL_JOY_LEFT);
  EXPECT_EQ(JoystickDirection(-32768, -32768), VL_JOY_UP_LEFT);
  EXPECT_EQ(JoystickDirection(0, -16001), VL_JOY_UP);
  EXPECT_EQ(JoystickDirection(-16000, -16000), VL_JOY_CENTRE);
  EXPECT_EQ(JoystickDirection(16000, 16000), VL_JOY_CENTRE);
}

TEST(JoystickEvents, RandomBytesStayInBounds) {
  // Arbitrary streams of any length only ever touch the record's fields.
  std::mt19937 random(1234);
  for (int round = 0; round < 2000; round++) {
    std::vector<uint8_t> bytes(random() % 80);
    for (auto& b : bytes) b = uint8_t(random());
    struct Guarded {
      uint64_t before = 0x5a5a5a5a5a5a5a5aull;
      vlJoystick record{};
      uint64_t after = 0xa5a5a5a5a5a5a5a5ull;
    } guarded;
    guarded.record.fd = -7;
    ApplyJoystickEvents(&guarded.record, bytes.data(), bytes.size());
    EXPECT_EQ(guarded.before, 0x5a5a5a5a5a5a5a5aull);
    EXPECT_EQ(guarded.after, 0xa5a5a5a5a5a5a5a5ull);
    EXPECT_EQ(guarded.record.fd, -7);
    EXPECT_EQ(guarded.record.next, nullptr);
    EXPECT_GE(guarded.record.x, -32768);
    EXPECT_LE(guarded.record.x, 32767);
    if (bytes.size() < 8) {
      EXPECT_EQ(guarded.record.buttons, 0u);
      EXPECT_EQ(guarded.record.x, 0);
      EXPECT_EQ(guarded.record.y, 0);
    }
  }
}

}  // namespace
