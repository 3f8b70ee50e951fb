#include "sim/sim_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "protocol/little_endian.h"
#include "scratch_folder.h"
#include "sim/sim_brick.h"
#include "sim/sim_trace.h"

namespace {

// "01 80" and the like: bytes as spaced hex.
std::vector<std::uint8_t> hex(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::uint8_t> bytes;
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

// The 20-byte name field as spaced hex.
std::string name(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < 20; ++i) {
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, " %02x",
                  i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
    out += buffer;
  }
  return out;
}

std::string zeros(std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += " 00";
  return out;
}

class SimFilesTest : public ::testing::Test {
 public:
  void SetUp() override {
    config.files = {{"a.rxe", {1, 2, 3, 4, 5}}, {"b.rso", {7, 8, 9}}};
    simBrickReset(brick, config, SimClock::now());
  }
  // The brick's answer to the telegram given as spaced hex, as a trace line.
  std::string send(const std::string& telegram) {
    const std::vector<std::uint8_t> bytes = hex(telegram);
    SimReply reply;
    if (!simBrickReceive(brick, bytes.data(), bytes.size(), SimClock::now(), reply)) return "";
    return traceLine('<', reply.bytes, reply.length);
  }
  std::uint32_t freeFlash() {
    const std::vector<std::uint8_t> bytes = hex(send("01 9b").substr(2));
    return nxt::readU32(&bytes[29]);
  }
  SimBrickConfig config;
  SimBrick brick;
};

struct Step {
  std::string telegram;
  std::string reply;
};

void run(SimFilesTest& test, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    EXPECT_EQ(test.send(step.telegram), step.reply) << "after " << step.telegram;
  }
}

TEST_F(SimFilesTest, FindsWithWildcardsWithoutRegardToCase) {
  run(*this, {
                 {"01 86" + name("*.*"), "< 02 86 00 00" + name("a.rxe") + " 05 00 00 00"},
                 {"01 87 00", "< 02 87 00 00" + name("b.rso") + " 03 00 00 00"},
                 {"01 87 00", "< 02 87 87 00" + zeros(24)},  // the handle stays open
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 84 00", "< 02 84 88 00"},
                 {"01 86" + name("*.RSO"), "< 02 86 00 00" + name("b.rso") + " 03 00 00 00"},
                 {"01 86" + name("A.*"), "< 02 86 00 01" + name("a.rxe") + " 05 00 00 00"},
                 {"01 86" + name("B.RSO"), "< 02 86 00 02" + name("b.rso") + " 03 00 00 00"},
                 {"01 86" + name("none.rxe"), "< 02 86 87 03" + zeros(24)},  // handle 3 freed
                 {"01 86" + name("a.rx"), "< 02 86 87 03" + zeros(24)},
                 {"01 87 03", "< 02 87 93 03" + zeros(24)},
                 {"01 86 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61",
                  "< 02 86 92 03" + zeros(24)},
             });
}

TEST_F(SimFilesTest, ReadsInChunksUpToTheEnd) {
  run(*this, {
                 {"01 80" + name("A.RXE"), "< 02 80 00 00 05 00 00 00"},
                 {"01 82 00 03 00", "< 02 82 00 00 03 00 01 02 03"},
                 // The count asked for comes back; what the file lacks is zeros.
                 {"01 82 00 04 00", "< 02 82 85 00 04 00 04 05 00 00"},
                 {"01 82 00 c8 00", "< 02 82 85 00 c8 00" + zeros(58)},  // 58 bytes at most
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 82 00 02 00", "< 02 82 93 00 02 00 00 00"},
                 {"01 82 20 01 00", "< 02 82 93 20 01 00 00"},
                 {"01 80" + name("gone.rxe"), "< 02 80 87 00 00 00 00 00"},
             });
}

TEST_F(SimFilesTest, WritesAFileThatCanBeReadBack) {
  run(*this, {
                 {"01 89" + name("p.rxe") + " 05 00 00 00", "< 02 89 00 00"},
                 {"01 86" + name("p.rxe"), "< 02 86 87 01" + zeros(24)},  // not yet there
                 {"01 83 00 61 62 63", "< 02 83 00 00 03 00"},
                 {"01 83 00 64 65", "< 02 83 00 00 02 00"},
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 80" + name("P.RXE"), "< 02 80 00 00 05 00 00 00"},
                 {"01 82 00 05 00", "< 02 82 00 00 05 00 61 62 63 64 65"},
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 81" + name("p.RXE") + " 01 00 00 00", "< 02 81 8f 00"},
                 {"81 81" + name("q.txt") + " 01 00 00 00", ""},  // done, not answered
                 {"01 83 00 7a", "< 02 83 00 00 01 00"},
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 86" + name("q.txt"), "< 02 86 00 00" + name("q.txt") + " 01 00 00 00"},
             });
}

TEST_F(SimFilesTest, WritingRefusals) {
  run(*this, {
                 // More bytes than announced: cut, and the file is dropped at close.
                 {"01 81" + name("x.txt") + " 02 00 00 00", "< 02 81 00 00"},
                 {"01 83 00 01 02 03", "< 02 83 84 00 02 00"},
                 {"01 83 00 04", "< 02 83 84 00 00 00"},
                 {"01 84 00", "< 02 84 00 00"},
                 // Fewer bytes than announced: dropped too.
                 {"01 81" + name("y.txt") + " 02 00 00 00", "< 02 81 00 00"},
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 86" + name("?.txt"), "< 02 86 87 00" + zeros(24)},
                 {"01 86" + name("*.txt"), "< 02 86 87 00" + zeros(24)},
                 // A data file keeps what was written.
                 {"01 8b" + name("d.dat") + " 08 00 00 00", "< 02 8b 00 00"},
                 {"01 83 00 01", "< 02 83 00 00 01 00"},
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 86" + name("d.dat"), "< 02 86 00 00" + name("d.dat") + " 01 00 00 00"},
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 81" + name("big.rxe") + " 00 00 10 00", "< 02 81 82 00"},
                 {"01 81" + name("a/b.rxe") + " 01 00 00 00", "< 02 81 92 00"},
                 {"01 81" + name("*.rxe") + " 01 00 00 00", "< 02 81 92 00"},
                 {"01 8b" + name("log.rxe") + " 01 00 00 00", "< 02 8b 92 00"},
                 {"01 83 05 01", "< 02 83 93 05 00 00"},
                 {"01 84 10", "< 02 84 00 10"},  // beyond the table: as the firmware
             });
}

TEST_F(SimFilesTest, DeleteEchoesTheName) {
  run(*this, {
                 {"01 80" + name("b.rso"), "< 02 80 00 00 03 00 00 00"},
                 {"01 85" + name("B.RSO"), "< 02 85 8b" + name("B.RSO")},  // open for reading
                 {"01 84 00", "< 02 84 00 00"},
                 {"01 85" + name("B.RSO"), "< 02 85 00" + name("B.RSO")},
                 {"01 85" + name("B.RSO"), "< 02 85 87" + name("B.RSO")},
                 {"01 86" + name("*.*"), "< 02 86 00 00" + name("a.rxe") + " 05 00 00 00"},
                 {"01 87 00", "< 02 87 87 00" + zeros(24)},
             });
}

TEST_F(SimFilesTest, HandlesAndWriteBuffersRunOut) {
  for (int h = 0; h < 16; ++h) send("01 80" + name("a.rxe"));
  EXPECT_EQ(send("01 80" + name("a.rxe")), "< 02 80 81 00 00 00 00 00");
  EXPECT_EQ(send("01 86" + name("*.*")), "< 02 86 81 00" + zeros(24));
  for (int h = 0; h < 16; ++h) {
    char close[16];
    std::snprintf(close, sizeof close, "01 84 %02x", h);
    send(close);
  }
  for (int h = 0; h < 4; ++h) {
    EXPECT_EQ(send("01 81" + name("w" + std::to_string(h) + ".txt") + " 01 00 00 00"),
              "< 02 81 00 0" + std::to_string(h));
  }
  EXPECT_EQ(send("01 81" + name("w4.txt") + " 01 00 00 00"), "< 02 81 8c 04");
}

TEST_F(SimFilesTest, FreeFlashFollowsWhatIsStored) {
  // 448 sectors of 256 bytes; each of the two small files takes one.
  EXPECT_EQ(freeFlash(), 446u * 256 - 928);
  send("01 81" + name("c.txt") + " 2c 01 00 00");  // 300 bytes: 2 sectors, held at once
  EXPECT_EQ(freeFlash(), 444u * 256 - 924);
  send("01 84 00");  // dropped: nothing written
  EXPECT_EQ(freeFlash(), 446u * 256 - 928);
  send("01 85" + name("a.rxe"));
  send("01 85" + name("b.rso"));
  EXPECT_EQ(freeFlash(), 448u * 256 - 932);
  EXPECT_EQ(send("01 81" + name("all.txt") + " 5c bc 01 00"), "< 02 81 00 00");
  EXPECT_EQ(freeFlash(), 0u);
}

TEST_F(SimFilesTest, FirmwareVersionAndUnknownOpcodes) {
  EXPECT_EQ(send("01 88"), "< 02 88 00 7c 01 1d 01");
  EXPECT_EQ(send("81 88"), "");
  // An opcode the firmware does not know: 0x02, the opcode, and as many
  // bytes again as the request had, of what the reply buffer held.
  EXPECT_EQ(send("01 99 aa bb cc"), "< 02 99 00 7c 01 1d 01");
  EXPECT_EQ(send("01 9a"), "< 02 9a 00 7c");
}

TEST(SimFlashFolder, KeepsUploadsAcrossARestart) {
  const ScratchFolder scratch("nxt-flash-test");
  ASSERT_NE(scratch.path, "");
  const std::string dir = scratch.path;
  SimBrickConfig config;
  config.files = {};
  config.flashFolder = dir;
  SimBrick brick;
  simBrickReset(brick, config, SimClock::now());
  auto send = [&](const std::string& telegram) {
    const std::vector<std::uint8_t> bytes = hex(telegram);
    SimReply reply;
    simBrickReceive(brick, bytes.data(), bytes.size(), SimClock::now(), reply);
    return traceLine('<', reply.bytes, reply.length);
  };
  send("01 81" + name("Up.TXT") + " 02 00 00 00");
  send("01 83 00 68 69");
  EXPECT_EQ(send("01 84 00"), "< 02 84 00 00");
  {
    // Closed before the brick deletes it: Windows deletes no open file.
    std::ifstream stored(dir + "/Up.TXT", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "hi");
  }

  std::vector<SimFile> loaded;
  std::string error;
  ASSERT_TRUE(simFlashLoadFolder(dir, loaded, error)) << error;
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].name, "Up.TXT");
  EXPECT_EQ(loaded[0].bytes, (std::vector<std::uint8_t>{'h', 'i'}));

  EXPECT_EQ(send("01 85" + name("up.txt")), "< 02 85 00" + name("up.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/Up.TXT"));
}

}  // namespace
