// The simulated brick's flash file system, as the firmware's loader keeps
// it, and the system commands that reach it: OPENREAD, OPENWRITE,
// OPENWRITELINEAR, OPENWRITEDATA, OPENAPPENDDATA, READ, WRITE, CLOSE,
// DELETE, FINDFIRST and FINDNEXT, each answered byte for byte as the
// firmware does, with the loader's status codes (0x81-0x93).
//
// Data files: one made by OPENWRITEDATA keeps the size announced for it;
// closed early, it holds the bytes written so far and the rest of that size
// stays its own. OPENAPPENDDATA opens it again after its last byte and
// answers the room left; a file that is no data file answers "append not
// possible", one without room "file is full". Appended bytes enter the
// flash when the handle is closed.
//
// Files: names of at most 19 characters, looked up without regard to case
// and with the wildcards "*.*", "NAME.*" and "*.EXT"; listed newest first.
// A file being written enters the flash when its handle is closed with
// every announced byte written (a data file: with the bytes written so far);
// otherwise it is dropped. Sixteen handles, at most four of them writing.
//
// Space: the flash is counted in 256-byte sectors; a file takes its bytes
// plus a header of 36 bytes and 2 bytes for each further sector, rounded up
// to whole sectors. The free figure (GETDEVICEINFO) is the largest file that
// the free sectors still hold. The size of the user flash, 448 sectors, is
// an estimate for a brick with firmware 1.29.
//
// With a folder (sim_host_files.h), the flash is kept there, one host file
// per brick file: a file closed complete is written to it, a deleted one
// removed from it. A name with a byte outside printable ASCII (0x20-0x7E)
// answers "illegal file name" wherever a name is sent, and so do names for
// a new file that a host folder cannot hold safely ('/' or '\' in them, a
// wildcard, a leading '.').
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/nxt_protocol.h"

struct SimReply;
struct SimFlashFolder;

// A file as the brick's configuration and a flash folder hold it.
struct SimFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
  bool dataFile = false;       // made by OPENWRITEDATA
  std::uint32_t capacity = 0;  // a data file's announced size
};

constexpr std::size_t kSimFileHandles = 16;
constexpr std::size_t kSimWriteHandles = 4;
constexpr std::size_t kSimMaxFiles = 127;
constexpr std::uint32_t kSimSectorBytes = 256;
constexpr std::uint32_t kSimUserFlashSectors = 448;
constexpr std::uint32_t kSimUserFlashBytes = kSimUserFlashSectors * kSimSectorBytes;
// A name as a telegram's 20-byte field holds it, with a zero after it.
constexpr std::size_t kSimNameBytes = nxt::kFileNameField + 1;

// A file in the flash: its name, zero-terminated, and its bytes, which lie
// in SimFlash::bytes from `offset`, followed by the rest of a data file's
// announced size. Plain data: a flash sets only the entries it uses.
struct SimFlashFile {
  char name[kSimNameBytes];
  std::uint32_t offset;
  std::uint32_t size;
  bool dataFile;
  std::uint32_t capacity;  // a data file's announced size
};

struct SimFileHandle {
  enum class Use : std::uint8_t { kFree, kRead, kWrite, kFind };
  Use use = Use::kFree;
  // kRead, kFind: the file in SimFlash::files; kWrite appending: the file
  // appended to (kSimMaxFiles once it is deleted).
  std::size_t fileIndex = 0;
  std::uint32_t position = 0;     // kRead: the next byte to read
  char name[kSimNameBytes] = {};  // kFind: the pattern; kWrite: the file's name
  std::uint32_t offset = 0;       // kWrite, not appending: where its bytes go
  std::uint32_t written = 0;      // kWrite: bytes written so far
  std::uint32_t announced = 0;    // kWrite: the size given when it was opened
  bool dataFile = false;          // kWrite: OPENWRITEDATA, may close early
  bool overflowed = false;        // kWrite: more bytes came than announced
  bool appending = false;         // kWrite: OPENAPPENDDATA to the file `fileIndex`
};

// The flash's bytes, left as they are when a flash is made (the files
// tell which bytes count).
struct SimFlashBytes {
  SimFlashBytes() {}  // so that a new brick does not zero 112 KiB
  std::uint8_t at[kSimUserFlashBytes];
};

// The flash in place, without allocating: the files' bytes and the space
// reserved for the files being written lie packed from the start of
// `bytes`, `used` of them; a file removed or dropped closes its gap.
struct SimFlash {
  SimFlashFile files[kSimMaxFiles];  // newest first
  std::size_t fileCount = 0;
  std::uint32_t used = 0;
  SimFlashBytes bytes;
  std::array<SimFileHandle, kSimFileHandles> handles{};
  std::shared_ptr<const SimFlashFolder> folder;  // where the files are kept; null: nowhere
};

// The flash of a brick as it starts without --flash: "demo.rxe" (a
// stand-in program: its bytes are no real program), "click.rso" and
// "attention.rso" (stand-in sounds); made once and shared.
std::shared_ptr<const std::vector<SimFile>> simDefaultFiles();

// The flash with `files` (the first one newest; none when null) and every
// handle closed. Files that do not fit are left out.
void simFlashReset(SimFlash& flash, const std::vector<SimFile>* files,
                   const std::shared_ptr<const SimFlashFolder>& folder);

// Bytes that a new file may still have.
std::uint32_t simFlashFree(const SimFlash& flash);

// True when `name` matches `pattern` as the loader compares them: without
// regard to case, with "*.*", "NAME.*" and "*.EXT".
bool simFileNameMatches(std::string_view name, std::string_view pattern);

// The first file (newest first) that `pattern` names, or null.
const SimFlashFile* simFlashFind(const SimFlash& flash, std::string_view pattern);

// True for a name that a file may be created with.
bool simFileNameAllowed(std::string_view name);

// Copies `name` into `to`, cut to fit, zeros after it.
void simNameCopy(char (&to)[kSimNameBytes], std::string_view name);

// True when every byte of `name` is printable ASCII (0x20-0x7E).
bool simFileNamePrintable(std::string_view name);
// Handles a system command of the file system: `params` are the
// `paramCount` bytes after the opcode (a short telegram reads as zeros).
// Fills `reply` and returns true; false, touching nothing, for an opcode
// that is not the file system's.
bool simFilesReceive(SimFlash& flash, std::uint8_t opcode, const std::uint8_t* params,
                     std::size_t paramCount, SimReply& reply);

// True when `files` fit in the user flash.
bool simFlashFits(const std::vector<SimFile>& files);
