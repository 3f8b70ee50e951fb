// The pieces of the Bluetooth link that need no brick: the address parser,
// the bytes of the RFCOMM socket address, and reading frames across partial
// reads, out-of-step lengths and a hang-up, over a socket pair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "link/bt_address.h"
#include "link/bt_frame.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(BluetoothAddress, ParsesTheWrittenFormOnly) {
  struct Case {
    const char* text;
    bool valid;
    BluetoothAddress address;
  };
  const Case cases[] = {
      {"00:16:53:0A:0B:0C", true, {0x00, 0x16, 0x53, 0x0a, 0x0b, 0x0c}},
      {"00:16:53:0a:0b:ff", true, {0x00, 0x16, 0x53, 0x0a, 0x0b, 0xff}},
      {"00:16:53:0A:0B", false, {}},
      {"00:16:53:0A:0B:0C:", false, {}},
      {"00-16-53-0A-0B-0C", false, {}},
      {"00:16:53:0G:0B:0C", false, {}},
      {"0:16:53:0A:0B:0CC", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    BluetoothAddress address{};
    EXPECT_EQ(parseBluetoothAddress(c.text, address), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(address, c.address) << c.text;
      std::string upper = c.text;
      for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      EXPECT_EQ(formatBluetoothAddress(address), upper);
    }
  }
}

TEST(BluetoothAddress, SocketAddressHasTheKernelsLayout) {
  BluetoothAddress address{};
  ASSERT_TRUE(parseBluetoothAddress("00:16:53:0A:0B:0C", address));
  const RfcommSocketAddress socketAddress = rfcommSocketAddress(address, 1);
  std::uint8_t bytes[sizeof socketAddress];
  std::memcpy(bytes, &socketAddress, sizeof bytes);
  // AF_BLUETOOTH (31) in the host's order, the address reversed, channel
  // 1, a zero byte of padding: the kernel's connect takes no fewer than 10.
  const std::uint16_t family = 31;
  std::uint8_t expected[10] = {0, 0, 0x0c, 0x0b, 0x0a, 0x53, 0x16, 0x00, 0x01, 0x00};
  std::memcpy(expected, &family, sizeof family);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + sizeof bytes),
            std::vector<std::uint8_t>(expected, expected + 10));
}

TEST(BluetoothAddress, BrickIsAnAddressOrAPath) {
  BtBrick brick;
  ASSERT_TRUE(parseBtBrick("00:16:53:0a:0b:0c", brick));
  EXPECT_TRUE(brick.isAddress);
  ASSERT_TRUE(parseBtBrick("/dev/rfcomm0", brick));
  EXPECT_FALSE(brick.isAddress);
  EXPECT_EQ(brick.devicePath, "/dev/rfcomm0");
  ASSERT_TRUE(parseBtBrick("./line", brick));
  EXPECT_EQ(brick.devicePath, "./line");
  for (const char* neither : {"rfcomm0", "00:16:53:0a:0b", "", "NXT"}) {
    EXPECT_FALSE(parseBtBrick(neither, brick)) << neither;
  }
}

// Both ends of a stream socket pair, non-blocking, closed at the end.
struct Line {
  int near = -1;
  int far = -1;
  Line() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) == 0) {
      near = fds[0];
      far = fds[1];
    }
  }
  ~Line() {
    if (near >= 0) ::close(near);
    if (far >= 0) ::close(far);
  }
  void put(const std::vector<std::uint8_t>& bytes) const {
    ASSERT_EQ(::write(far, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
};

struct Read {
  BtIoResult result;
  std::vector<std::uint8_t> telegram;
};

Read readFrame(const Line& line, BtFrameReader& reader, milliseconds wait = milliseconds(20),
               std::size_t capacity = 64) {
  std::uint8_t buffer[kBtMaxFrameBody];
  std::size_t received = 0;
  int error = 0;
  const BtIoResult result =
      btReadFrame(line.near, reader, buffer, capacity, received, Clock::now() + wait, error);
  return {result, std::vector<std::uint8_t>(buffer, buffer + received)};
}

TEST(BtFrame, EncodesTheLengthLowByteFirst) {
  std::uint8_t telegram[40] = {0x01, 0x9b};
  std::uint8_t frame[42];
  ASSERT_EQ(btEncodeFrame(telegram, 2, frame), 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(frame, frame + 4),
            (std::vector<std::uint8_t>{2, 0, 1, 0x9b}));
  ASSERT_EQ(btEncodeFrame(telegram, 40, frame), 42u);
  EXPECT_EQ(frame[0], 40);
  EXPECT_EQ(frame[1], 0);
}

TEST(BtFrame, AFrameInPiecesIsReadWholeAcrossCalls) {
  Line line;
  BtFrameReader reader;
  const std::vector<std::uint8_t> frame = {5, 0, 0x02, 0x0b, 0x00, 0xa4, 0x1f};
  for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
    line.put({frame[i]});
    EXPECT_EQ(readFrame(line, reader, milliseconds(1)).result, BtIoResult::kTimeout) << i;
  }
  // The last byte, then the next frame already behind it: one frame a call.
  line.put({frame.back(), 1, 0, 0x77});
  const Read first = readFrame(line, reader);
  EXPECT_EQ(first.result, BtIoResult::kOk);
  EXPECT_EQ(first.telegram, (std::vector<std::uint8_t>{0x02, 0x0b, 0x00, 0xa4, 0x1f}));
  const Read second = readFrame(line, reader);
  EXPECT_EQ(second.result, BtIoResult::kOk);
  EXPECT_EQ(second.telegram, (std::vector<std::uint8_t>{0x77}));
}

// A whole frame of 65 bytes: one more than any telegram.
std::vector<std::uint8_t> longFrame() {
  std::vector<std::uint8_t> frame = {65, 0};
  frame.resize(2 + 65, 0x41);
  return frame;
}

TEST(BtFrame, LengthsOutOfStepHangUpsAndOverflows) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool hangUp;
    BtIoResult result;
  };
  const Case cases[] = {
      {"length 0", {0, 0, 0x02}, false, BtIoResult::kOutOfStep},
      {"length 129", {129, 0, 0x02}, false, BtIoResult::kOutOfStep},
      {"length 512", {0, 2}, false, BtIoResult::kOutOfStep},
      {"hang-up mid-frame", {3, 0, 0x02}, true, BtIoResult::kClosed},
      {"hang-up between frames", {}, true, BtIoResult::kClosed},
      {"longer than the buffer", longFrame(), false, BtIoResult::kOverflow},
  };
  for (const Case& c : cases) {
    Line line;
    BtFrameReader reader;
    if (!c.bytes.empty()) line.put(c.bytes);
    if (c.hangUp) ::shutdown(line.far, SHUT_WR);
    EXPECT_EQ(readFrame(line, reader).result, c.result) << c.name;
  }
  // An overflowing frame is consumed whole: the next one reads as usual.
  Line line;
  BtFrameReader reader;
  std::vector<std::uint8_t> bytes = longFrame();
  bytes.push_back(1);
  bytes.push_back(0);
  bytes.push_back(0x42);
  line.put(bytes);
  EXPECT_EQ(readFrame(line, reader).result, BtIoResult::kOverflow);
  const Read next = readFrame(line, reader);
  EXPECT_EQ(next.result, BtIoResult::kOk);
  EXPECT_EQ(next.telegram, (std::vector<std::uint8_t>{0x42}));
}

}  // namespace
