#include "sim/sim_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocol/little_endian.h"
#include "sim/sim_brick.h"
#include "sim/sim_host_files.h"
#include "sim/sim_trace.h"
#include "sim_test_support.h"

namespace {

namespace fs = std::filesystem;

class SimFilesTest : public ::testing::Test {
 public:
  void SetUp() override {
    config.files = std::make_shared<const std::vector<SimFile>>(
        std::vector<SimFile>{{"a.rxe", {1, 2, 3, 4, 5}}, {"b.rso", {7, 8, 9}}});
    simBrickReset(brick, config, SimClock::now());
  }
  // The brick's answer to the telegram given as spaced hex.
  std::string send(const std::string& telegram) { return brickReply(brick, bytesOf(telegram)); }
  std::uint32_t freeFlash() {
    const std::vector<std::uint8_t> bytes = bytesOf(send("01 9b"));
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
  run(*this,
      {
          {"01 86" + nameField("*.*"), "02 86 00 00" + nameField("a.rxe") + " 05 00 00 00"},
          {"01 87 00", "02 87 00 00" + nameField("b.rso") + " 03 00 00 00"},
          {"01 87 00", "02 87 87 00" + zeros(24)},  // the handle stays open
          {"01 84 00", "02 84 00 00"},
          {"01 84 00", "02 84 88 00"},
          {"01 86" + nameField("*.RSO"), "02 86 00 00" + nameField("b.rso") + " 03 00 00 00"},
          {"01 86" + nameField("A.*"), "02 86 00 01" + nameField("a.rxe") + " 05 00 00 00"},
          {"01 86" + nameField("B.RSO"), "02 86 00 02" + nameField("b.rso") + " 03 00 00 00"},
          {"01 86" + nameField("none.rxe"), "02 86 87 03" + zeros(24)},  // handle 3 freed
          {"01 86" + nameField("a.rx"), "02 86 87 03" + zeros(24)},
          {"01 87 03", "02 87 93 03" + zeros(24)},
          {"01 86 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61",
           "02 86 92 03" + zeros(24)},
      });
}

TEST_F(SimFilesTest, ReadsInChunksUpToTheEnd) {
  run(*this, {
                 {"01 80" + nameField("A.RXE"), "02 80 00 00 05 00 00 00"},
                 {"01 82 00 03 00", "02 82 00 00 03 00 01 02 03"},
                 // The count asked for comes back; what the file lacks is zeros.
                 {"01 82 00 04 00", "02 82 85 00 04 00 04 05 00 00"},
                 {"01 82 00 c8 00", "02 82 85 00 c8 00" + zeros(58)},  // 58 bytes at most
                 {"01 84 00", "02 84 00 00"},
                 {"01 82 00 02 00", "02 82 93 00 02 00 00 00"},
                 {"01 82 20 01 00", "02 82 93 20 01 00 00"},
                 {"01 80" + nameField("gone.rxe"), "02 80 87 00 00 00 00 00"},
             });
}

TEST_F(SimFilesTest, WritesAFileThatCanBeReadBack) {
  run(*this,
      {
          {"01 89" + nameField("p.rxe") + " 05 00 00 00", "02 89 00 00"},
          {"01 86" + nameField("p.rxe"), "02 86 87 01" + zeros(24)},  // not yet there
          {"01 83 00 61 62 63", "02 83 00 00 03 00"},
          {"01 83 00 64 65", "02 83 00 00 02 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 80" + nameField("P.RXE"), "02 80 00 00 05 00 00 00"},
          {"01 82 00 05 00", "02 82 00 00 05 00 61 62 63 64 65"},
          {"01 84 00", "02 84 00 00"},
          {"01 81" + nameField("p.RXE") + " 01 00 00 00", "02 81 8f 00"},
          {"81 81" + nameField("q.txt") + " 01 00 00 00", ""},  // done, not answered
          {"01 83 00 7a", "02 83 00 00 01 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 86" + nameField("q.txt"), "02 86 00 00" + nameField("q.txt") + " 01 00 00 00"},
      });
}

TEST_F(SimFilesTest, WritingRefusals) {
  run(*this,
      {
          // More bytes than announced: cut, and the file is dropped at close.
          {"01 81" + nameField("x.txt") + " 02 00 00 00", "02 81 00 00"},
          {"01 83 00 01 02 03", "02 83 84 00 02 00"},
          {"01 83 00 04", "02 83 84 00 00 00"},
          {"01 84 00", "02 84 00 00"},
          // Fewer bytes than announced: dropped too.
          {"01 81" + nameField("y.txt") + " 02 00 00 00", "02 81 00 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 86" + nameField("?.txt"), "02 86 87 00" + zeros(24)},
          {"01 86" + nameField("*.txt"), "02 86 87 00" + zeros(24)},
          // A data file keeps what was written.
          {"01 8b" + nameField("d.dat") + " 08 00 00 00", "02 8b 00 00"},
          {"01 83 00 01", "02 83 00 00 01 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 86" + nameField("d.dat"), "02 86 00 00" + nameField("d.dat") + " 01 00 00 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 81" + nameField("big.rxe") + " 00 00 10 00", "02 81 82 00"},
          {"01 81" + nameField("a/b.rxe") + " 01 00 00 00", "02 81 92 00"},
          {"01 81" + nameField("*.rxe") + " 01 00 00 00", "02 81 92 00"},
          {"01 8b" + nameField("log.rxe") + " 01 00 00 00", "02 8b 92 00"},
          {"01 83 05 01", "02 83 93 05 00 00"},
          {"01 84 10", "02 84 00 10"},  // beyond the table: as the firmware
      });
}

TEST_F(SimFilesTest, AppendsToADataFileUpToItsAnnouncedSize) {
  run(*this,
      {
          // Made with room for 6 bytes, closed after 2.
          {"01 8b" + nameField("log.dat") + " 06 00 00 00", "02 8b 00 00"},
          {"01 83 00 61 62", "02 83 00 00 02 00"},
          {"01 84 00", "02 84 00 00"},
          // Opened again after its last byte: the room left.
          {"01 8c" + nameField("LOG.DAT"), "02 8c 00 00 04 00 00 00"},
          {"01 8c" + nameField("log.dat"), "02 8c 8b 01 00 00 00 00"},  // in progress
          {"01 83 00 63", "02 83 00 00 01 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 80" + nameField("log.dat"), "02 80 00 00 03 00 00 00"},
          {"01 82 00 03 00", "02 82 00 00 03 00 61 62 63"},
          {"01 84 00", "02 84 00 00"},
          // Written past its room: cut at the announced size, then full.
          {"01 8c" + nameField("log.dat"), "02 8c 00 00 03 00 00 00"},
          {"01 83 00 64 65 66 67", "02 83 84 00 03 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 86" + nameField("log.dat"), "02 86 00 00" + nameField("log.dat") + " 06 00 00 00"},
          {"01 84 00", "02 84 00 00"},
          {"01 8c" + nameField("log.dat"), "02 8c 8e 00 00 00 00 00"},
          // No data file, no such file.
          {"01 8c" + nameField("a.rxe"), "02 8c 8d 00 00 00 00 00"},
          {"01 8c" + nameField("none.dat"), "02 8c 87 00 00 00 00 00"},
      });
}

// A name byte outside printable ASCII is an illegal name for every command
// that takes one, a C1 code and a UTF-8 letter as much as a control code.
TEST_F(SimFilesTest, NamesOutsidePrintableAsciiAreIllegal) {
  for (const std::string& bad : {std::string("a\x85.rxe"), std::string("a\x1b[2J.rxe"),
                                 std::string("\xc3\xa9.rso"), std::string("a\x7f.rxe")}) {
    SCOPED_TRACE(bad);
    run(*this, {
                   {"01 80" + nameField(bad), "02 80 92 00 00 00 00 00"},
                   {"01 81" + nameField(bad) + " 01 00 00 00", "02 81 92 00"},
                   {"01 89" + nameField(bad) + " 01 00 00 00", "02 89 92 00"},
                   {"01 8b" + nameField(bad) + " 01 00 00 00", "02 8b 92 00"},
                   {"01 8c" + nameField(bad), "02 8c 92 00 00 00 00 00"},
                   {"01 85" + nameField(bad), "02 85 92" + nameField(bad)},
                   {"01 86" + nameField(bad), "02 86 92 00" + zeros(24)},
               });
  }
}

TEST_F(SimFilesTest, DeleteEchoesTheName) {
  run(*this,
      {
          {"01 80" + nameField("b.rso"), "02 80 00 00 03 00 00 00"},
          {"01 85" + nameField("B.RSO"), "02 85 8b" + nameField("B.RSO")},  // open for reading
          {"01 84 00", "02 84 00 00"},
          {"01 85" + nameField("B.RSO"), "02 85 00" + nameField("B.RSO")},
          {"01 85" + nameField("B.RSO"), "02 85 87" + nameField("B.RSO")},
          {"01 86" + nameField("*.*"), "02 86 00 00" + nameField("a.rxe") + " 05 00 00 00"},
          {"01 87 00", "02 87 87 00" + zeros(24)},
      });
}

TEST_F(SimFilesTest, HandlesAndWriteBuffersRunOut) {
  for (int h = 0; h < 16; ++h) send("01 80" + nameField("a.rxe"));
  EXPECT_EQ(send("01 80" + nameField("a.rxe")), "02 80 81 00 00 00 00 00");
  EXPECT_EQ(send("01 86" + nameField("*.*")), "02 86 81 00" + zeros(24));
  for (int h = 0; h < 16; ++h) {
    char close[16];
    std::snprintf(close, sizeof close, "01 84 %02x", h);
    send(close);
  }
  for (int h = 0; h < 4; ++h) {
    EXPECT_EQ(send("01 81" + nameField("w" + std::to_string(h) + ".txt") + " 01 00 00 00"),
              "02 81 00 0" + std::to_string(h));
  }
  EXPECT_EQ(send("01 81" + nameField("w4.txt") + " 01 00 00 00"), "02 81 8c 04");
}

TEST_F(SimFilesTest, FreeFlashFollowsWhatIsStored) {
  // 448 sectors of 256 bytes; each of the two small files takes one.
  EXPECT_EQ(freeFlash(), 446u * 256 - 928);
  send("01 81" + nameField("c.txt") + " 2c 01 00 00");  // 300 bytes: 2 sectors, held at once
  EXPECT_EQ(freeFlash(), 444u * 256 - 924);
  send("01 84 00");  // dropped: nothing written
  EXPECT_EQ(freeFlash(), 446u * 256 - 928);
  send("01 85" + nameField("a.rxe"));
  send("01 85" + nameField("b.rso"));
  EXPECT_EQ(freeFlash(), 448u * 256 - 932);
  EXPECT_EQ(send("01 81" + nameField("all.txt") + " 5c bc 01 00"), "02 81 00 00");
  EXPECT_EQ(freeFlash(), 0u);
}

TEST_F(SimFilesTest, FirmwareVersionAndUnknownOpcodes) {
  EXPECT_EQ(send("01 88"), "02 88 00 7c 01 1d 01");
  EXPECT_EQ(send("81 88"), "");
  // An opcode the firmware does not know: 0x02, the opcode, and as many
  // bytes again as the request had, of what the reply buffer held.
  EXPECT_EQ(send("01 99 aa bb cc"), "02 99 00 7c 01 1d 01");
  EXPECT_EQ(send("01 9a"), "02 9a 00 7c");
}

// A brick whose flash is kept in a folder.
struct FolderBrick {
  SimBrickConfig config;
  SimBrick brick;
  std::string error;
  bool load(const std::string& dir) {
    std::vector<SimFile> files;
    if (!simFlashLoadFolder(dir, config.flashFolder, files, error)) return false;
    config.files = std::make_shared<const std::vector<SimFile>>(std::move(files));
    simBrickReset(brick, config, SimClock::now());
    return true;
  }
  std::string send(const std::string& telegram) { return brickReply(brick, bytesOf(telegram)); }
  // Uploads "hi" as `file`; the reply to CLOSE.
  std::string upload(const std::string& file) {
    send("01 81" + nameField(file) + " 02 00 00 00");
    send("01 83 00 68 69");
    return send("01 84 00");
  }
};

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder of its own under the system's temporary folder, removed
// with all it holds at the end.
struct TemporaryFolder {
  fs::path path;
  explicit TemporaryFolder(const std::string& stem) {
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / (stem + "-" + std::to_string(tick) +
                                                              "-" + std::to_string(attempt));
      if (fs::create_directory(candidate)) path = candidate;
    }
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

bool isPlainFile(const fs::path& path) { return fs::is_regular_file(fs::symlink_status(path)); }

TEST(SimFlashFolder, KeepsUploadsAcrossARestart) {
  TemporaryFolder dir("nxt-flash-test");
  ASSERT_FALSE(dir.path.empty());
  FolderBrick b;
  ASSERT_TRUE(b.load(dir.path.string())) << b.error;
  EXPECT_EQ(b.upload("Up.TXT"), "02 84 00 00");
  EXPECT_EQ(contents(dir.path / "Up.TXT"), "hi");

  FolderBrick again;
  ASSERT_TRUE(again.load(dir.path.string())) << again.error;
  ASSERT_EQ(again.config.files->size(), 1u);
  EXPECT_EQ((*again.config.files)[0].name, "Up.TXT");
  EXPECT_EQ((*again.config.files)[0].bytes, (std::vector<std::uint8_t>{'h', 'i'}));

  EXPECT_EQ(b.send("01 85" + nameField("up.txt")), "02 85 00" + nameField("up.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path / "Up.TXT")));
}

// Links planted in the folder, before the start or while serving, never let
// the brick read or write a file outside it: a link is skipped at start (a
// line on standard error names it), written over rather than through, and
// removed rather than followed. The folder may itself be reached by a link.
// Where this test cannot make symbolic links (under Wine), the hard links
// are planted alone; the end-to-end suites plant Linux links there.
TEST(SimFlashFolder, PlantedLinksReachNothingOutsideIt) {
  TemporaryFolder root("nxt-flash-jail");
  ASSERT_FALSE(root.path.empty());
  const fs::path top = root.path, dir = top / "flash", host = top / "host.txt";
  fs::create_directory(dir);
  put(host, "host");
  put(top / "other.txt", "other");
  put(dir / "Own.txt", "own");
  fs::create_hard_link(top / "other.txt", dir / "Hard.txt");
  put(dir / "Twin.txt", "twin");
  fs::create_hard_link(dir / "Twin.txt", top / "twin.txt");
  std::error_code noLinks;
  fs::create_symlink(host, dir / "Link.txt", noLinks);
  const bool symbolic = !noLinks;
  std::vector<std::string> planted = {"Hard.txt", "Twin.txt"};
  fs::path loaded = dir;
  if (symbolic) {
    fs::create_symlink(host, dir / ".nxt-Up.txt");
    fs::create_directory_symlink(dir, top / "alias");
    loaded = top / "alias";
    planted.push_back("Link.txt");
  }

  FolderBrick b;
  ASSERT_TRUE(b.load(loaded.string())) << b.error;
  ASSERT_EQ(b.config.files->size(), 1u);
  EXPECT_EQ((*b.config.files)[0].name, "Own.txt");
  for (const std::string& file : planted) {
    EXPECT_EQ(b.send("01 80" + nameField(file)), "02 80 87 00 00 00 00 00") << file;
  }

  if (symbolic) fs::create_symlink(host, dir / "Late.txt");  // while serving
  if (!symbolic) put(dir / "Late.txt", "late");
  planted.insert(planted.end(), {"Up.txt", "Late.txt"});
  for (const std::string& file : planted) {
    SCOPED_TRACE(file);
    EXPECT_EQ(b.upload(file), "02 84 00 00");
    EXPECT_TRUE(isPlainFile(dir / file));
    EXPECT_EQ(contents(dir / file), "hi");
  }
  // Planted anew, while serving, over files the brick has: removed, not followed.
  fs::remove(dir / "Twin.txt");
  fs::create_hard_link(top / "twin.txt", dir / "Twin.txt");
  if (symbolic) {
    fs::remove(dir / "Late.txt");
    fs::create_symlink(host, dir / "Late.txt");
  }
  for (const char* file : {"Late.txt", "Twin.txt"}) {
    EXPECT_EQ(b.send("01 85" + nameField(file)), "02 85 00" + nameField(file));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / file))) << file;
  }
  EXPECT_EQ(contents(host), "host");
  EXPECT_EQ(contents(top / "other.txt"), "other");
  EXPECT_EQ(contents(top / "twin.txt"), "twin");
}

}  // namespace
