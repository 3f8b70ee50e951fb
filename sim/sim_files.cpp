#include "sim/sim_files.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include "protocol/little_endian.h"
#include "sim/sim_host_files.h"
#include "sim/sim_reply.h"

namespace {

using nxt::LoaderStatus;
using nxt::SystemOpcode;
using Use = SimFileHandle::Use;

constexpr std::uint32_t kHeaderBytes = 36;
// A READ reply over USB carries at most this many bytes of the file.
constexpr std::size_t kMaxReadBytes = nxt::kMaxTelegramLength - 6;

std::uint32_t sectorsFor(std::uint32_t size) {
  std::uint64_t sectors =
      (static_cast<std::uint64_t>(size) + kHeaderBytes + kSimSectorBytes - 1) / kSimSectorBytes;
  for (;;) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(size) + kHeaderBytes + 2 * (sectors - 1);
    const std::uint64_t needed = (bytes + kSimSectorBytes - 1) / kSimSectorBytes;
    if (needed <= sectors) break;
    sectors = needed;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFFu));
}

// The bytes a file holds in the flash: a data file its announced size.
std::uint32_t region(const SimFlashFile& file) { return std::max(file.size, file.capacity); }

std::uint32_t sectorsUsed(const SimFlash& flash) {
  std::uint64_t used = 0;
  for (std::size_t i = 0; i < flash.fileCount; ++i) used += sectorsFor(region(flash.files[i]));
  for (const SimFileHandle& handle : flash.handles) {
    if (handle.use == Use::kWrite && !handle.appending) used += sectorsFor(handle.announced);
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(used, kSimUserFlashSectors));
}

char lowerChar(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerChar(a[i]) != lowerChar(b[i])) return false;
  }
  return true;
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (sameIgnoringCase(text.substr(i, part.size()), part)) return true;
  }
  return false;
}

std::string_view nameOf(const char (&name)[kSimNameBytes]) { return std::string_view(name); }

// The name in a 20-byte field that starts at `field`, of which `available`
// bytes were sent (the rest reads as zeros), copied into `name`. `tooLong`
// when no zero ends it within the field.
std::string_view nameField(const std::uint8_t* field, std::size_t available,
                           char (&name)[kSimNameBytes], bool& tooLong) {
  std::size_t n = 0;
  while (n < nxt::kFileNameField && n < available && field[n] != 0) ++n;
  tooLong = n == nxt::kFileNameField;
  std::copy(field, field + n, name);
  std::fill(name + n, name + kSimNameBytes, '\0');
  return std::string_view(name, n);
}

// A name that the loader refuses as illegal wherever it is sent: too long
// for its field, or not printable ASCII.
bool nameRefused(std::string_view name, bool tooLong) {
  return tooLong || !simFileNamePrintable(name);
}

std::uint32_t u32At(const std::uint8_t* p, std::size_t available, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint32_t b = at + i < available ? p[at + i] : 0;
    value |= b << (8 * i);
  }
  return value;
}

// The lowest free handle, or kSimFileHandles when none is free.
std::size_t freeHandle(const SimFlash& flash) {
  for (std::size_t h = 0; h < kSimFileHandles; ++h) {
    if (flash.handles[h].use == Use::kFree) return h;
  }
  return kSimFileHandles;
}

std::size_t findFrom(const SimFlash& flash, std::string_view pattern, std::size_t from) {
  for (std::size_t i = from; i < flash.fileCount; ++i) {
    if (simFileNameMatches(nameOf(flash.files[i].name), pattern)) return i;
  }
  return flash.fileCount;
}

void begin(SimReply& reply, SystemOpcode op, LoaderStatus status) {
  reply.length = 0;
  simReplyByte(reply, nxt::byteOf(nxt::TelegramType::kReply));
  simReplyByte(reply, nxt::byteOf(op));
  simReplyByte(reply, nxt::byteOf(status));
}

void nameBytes(SimReply& reply, std::string_view name) {
  for (std::size_t i = 0; i < nxt::kFileNameField; ++i) {
    simReplyByte(reply, i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0);
  }
}

// Space for `size` bytes after the last ones in use; false when the flash
// has no more.
bool reserve(SimFlash& flash, std::uint32_t size, std::uint32_t& offset) {
  if (size > kSimUserFlashBytes - flash.used) return false;
  offset = flash.used;
  flash.used += size;
  return true;
}

// Gives back `size` bytes from `offset`: the bytes after them move down.
void release(SimFlash& flash, std::uint32_t offset, std::uint32_t size) {
  if (size == 0) return;
  std::copy(flash.bytes.at + offset + size, flash.bytes.at + flash.used, flash.bytes.at + offset);
  flash.used -= size;
  for (std::size_t i = 0; i < flash.fileCount; ++i) {
    if (flash.files[i].offset > offset) flash.files[i].offset -= size;
  }
  for (SimFileHandle& handle : flash.handles) {
    if (handle.use == Use::kWrite && !handle.appending && handle.offset > offset) {
      handle.offset -= size;
    }
  }
}

// The file as a flash folder keeps it.
SimFile hostCopy(const SimFlash& flash, const SimFlashFile& file, std::uint32_t size) {
  SimFile copy;
  copy.name = nameOf(file.name);
  copy.bytes.assign(flash.bytes.at + file.offset, flash.bytes.at + file.offset + size);
  copy.dataFile = file.dataFile;
  copy.capacity = file.capacity;
  return copy;
}

// Files that handles refer to by index shift when one is added or removed.
void fileAdded(SimFlash& flash, const SimFlashFile& file) {
  std::copy_backward(flash.files, flash.files + flash.fileCount, flash.files + flash.fileCount + 1);
  flash.files[0] = file;
  ++flash.fileCount;
  for (SimFileHandle& handle : flash.handles) {
    if (handle.use == Use::kRead || handle.use == Use::kFind ||
        (handle.appending && handle.fileIndex < kSimMaxFiles)) {
      ++handle.fileIndex;
    }
  }
}

void fileRemoved(SimFlash& flash, std::size_t index) {
  const SimFlashFile gone = flash.files[index];
  std::copy(flash.files + index + 1, flash.files + flash.fileCount, flash.files + index);
  --flash.fileCount;
  release(flash, gone.offset, region(gone));
  for (SimFileHandle& handle : flash.handles) {
    const bool appending = handle.use == Use::kWrite && handle.appending;
    if (appending && handle.fileIndex == index) {
      handle.fileIndex = kSimMaxFiles;  // what it writes is dropped
    } else if ((handle.use == Use::kRead || handle.use == Use::kFind || appending) &&
               handle.fileIndex > index && handle.fileIndex < kSimMaxFiles) {
      --handle.fileIndex;
    }
  }
}

void openRead(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::size_t h = freeHandle(flash);
  bool tooLong = false;
  char field[kSimNameBytes];
  const std::string_view pattern = nameField(p, n, field, tooLong);
  LoaderStatus status = LoaderStatus::kSuccess;
  std::uint8_t handleByte = static_cast<std::uint8_t>(h);
  std::uint32_t size = 0;
  if (h == kSimFileHandles) {
    status = LoaderStatus::kNoMoreHandles;
    handleByte = 0;
  } else if (nameRefused(pattern, tooLong)) {
    status = LoaderStatus::kIllegalFileName;
  } else {
    const std::size_t index = findFrom(flash, pattern, 0);
    if (index == flash.fileCount) {
      status = LoaderStatus::kFileNotFound;
    } else if (flash.files[index].size == 0) {
      // The firmware takes an empty file for a missing one, handle byte 0.
      status = LoaderStatus::kFileNotFound;
      handleByte = 0;
    } else {
      SimFileHandle& handle = flash.handles[h];
      handle = SimFileHandle{};
      handle.use = Use::kRead;
      handle.fileIndex = index;
      size = flash.files[index].size;
    }
  }
  begin(reply, SystemOpcode::kOpenRead, status);
  simReplyByte(reply, handleByte);
  simReplyU32(reply, size);
}

void openWrite(SimFlash& flash, SystemOpcode op, const std::uint8_t* p, std::size_t n,
               SimReply& reply) {
  const std::size_t h = freeHandle(flash);
  bool tooLong = false;
  char field[kSimNameBytes];
  const std::string_view name = nameField(p, n, field, tooLong);
  const std::uint32_t size = u32At(p, n, nxt::kFileNameField);
  std::size_t writing = 0;
  bool busy = false;
  for (const SimFileHandle& handle : flash.handles) {
    if (handle.use != Use::kWrite) continue;
    ++writing;
    if (sameIgnoringCase(nameOf(handle.name), name)) busy = true;
  }
  LoaderStatus status = LoaderStatus::kSuccess;
  // A program or system file is never a data file.
  const bool systemFile = containsIgnoringCase(name, ".rxe") ||
                          containsIgnoringCase(name, ".sys") || containsIgnoringCase(name, ".rtm");
  if (op == SystemOpcode::kOpenWriteData && systemFile) {
    begin(reply, op, LoaderStatus::kIllegalFileName);
    simReplyByte(reply, 0);
    return;
  }
  std::uint32_t offset = 0;
  if (h == kSimFileHandles) {
    status = LoaderStatus::kNoMoreHandles;
  } else if (tooLong || !simFileNameAllowed(name)) {
    status = LoaderStatus::kIllegalFileName;
  } else if (simFlashFind(flash, name) != nullptr) {
    status = LoaderStatus::kFileExists;
  } else if (busy) {
    status = LoaderStatus::kFileBusy;
  } else if (flash.fileCount + writing >= kSimMaxFiles) {
    status = LoaderStatus::kNoMoreFiles;
  } else if (writing >= kSimWriteHandles) {
    status = LoaderStatus::kNoWriteBuffers;
  } else if (size > simFlashFree(flash) || !reserve(flash, size, offset)) {
    status = LoaderStatus::kNoSpace;
  } else {
    SimFileHandle& handle = flash.handles[h];
    handle = SimFileHandle{};
    handle.use = Use::kWrite;
    simNameCopy(handle.name, name);
    handle.offset = offset;
    handle.announced = size;
    handle.dataFile = op == SystemOpcode::kOpenWriteData;
  }
  begin(reply, op, status);
  simReplyByte(reply, h == kSimFileHandles ? 0 : static_cast<std::uint8_t>(h));
}

// openWrite for one of its three opcodes, as the other commands are called.
template <SystemOpcode kOp>
void openWriteAs(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  openWrite(flash, kOp, p, n, reply);
}

// OPENAPPENDDATA: the handle and the room the data file has left; the
// bytes written go after the file's last byte, and count as its own when
// the handle is closed.
void openAppend(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::size_t h = freeHandle(flash);
  bool tooLong = false;
  char field[kSimNameBytes];
  const std::string_view pattern = nameField(p, n, field, tooLong);
  const bool refused = nameRefused(pattern, tooLong);
  const std::size_t index = refused ? flash.fileCount : findFrom(flash, pattern, 0);
  std::size_t writing = 0;
  bool busy = false;
  for (const SimFileHandle& handle : flash.handles) {
    if (handle.use != Use::kWrite) continue;
    ++writing;
    if (index < flash.fileCount &&
        sameIgnoringCase(nameOf(handle.name), nameOf(flash.files[index].name))) {
      busy = true;
    }
  }
  LoaderStatus status = LoaderStatus::kSuccess;
  std::uint32_t room = 0;
  if (h == kSimFileHandles) {
    status = LoaderStatus::kNoMoreHandles;
  } else if (refused) {
    status = LoaderStatus::kIllegalFileName;
  } else if (index == flash.fileCount) {
    status = LoaderStatus::kFileNotFound;
  } else if (busy) {
    status = LoaderStatus::kFileBusy;
  } else if (!flash.files[index].dataFile) {
    status = LoaderStatus::kAppendNotPossible;
  } else if (flash.files[index].size >= flash.files[index].capacity) {
    status = LoaderStatus::kFileIsFull;
  } else if (writing >= kSimWriteHandles) {
    status = LoaderStatus::kNoWriteBuffers;
  } else {
    const SimFlashFile& file = flash.files[index];
    room = file.capacity - file.size;
    SimFileHandle& handle = flash.handles[h];
    handle = SimFileHandle{};
    handle.use = Use::kWrite;
    handle.fileIndex = index;
    simNameCopy(handle.name, nameOf(file.name));
    handle.position = file.size;
    handle.announced = file.capacity;
    handle.dataFile = true;
    handle.appending = true;
  }
  begin(reply, SystemOpcode::kOpenAppendData, status);
  simReplyByte(reply, h == kSimFileHandles ? 0 : static_cast<std::uint8_t>(h));
  simReplyU32(reply, room);
}

void read(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::uint8_t h = n > 0 ? p[0] : 0;
  const std::uint8_t length[] = {n > 1 ? p[1] : std::uint8_t{0}, n > 2 ? p[2] : std::uint8_t{0}};
  const std::uint16_t asked = nxt::readU16(length);
  const std::size_t room = std::min<std::size_t>(asked, kMaxReadBytes);
  LoaderStatus status = LoaderStatus::kSuccess;
  const std::uint8_t* data = nullptr;
  std::size_t count = 0;
  if (h >= kSimFileHandles || flash.handles[h].use != Use::kRead) {
    status = LoaderStatus::kIllegalHandle;
  } else {
    SimFileHandle& handle = flash.handles[h];
    const SimFlashFile& file = flash.files[handle.fileIndex];
    const std::uint32_t at = std::min(handle.position, file.size);
    count = std::min<std::size_t>(room, file.size - at);
    data = flash.bytes.at + file.offset + at;
    handle.position += static_cast<std::uint32_t>(count);
    if (count < room) status = LoaderStatus::kEndOfFile;
  }
  begin(reply, SystemOpcode::kRead, status);
  simReplyByte(reply, h);
  simReplyU16(reply, asked);  // the count asked for, as the firmware echoes it
  for (std::size_t i = 0; i < room; ++i) simReplyByte(reply, i < count ? data[i] : 0);
}

void write(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::uint8_t h = n > 0 ? p[0] : 0;
  LoaderStatus status = LoaderStatus::kSuccess;
  std::size_t count = 0;
  if (h >= kSimFileHandles || flash.handles[h].use != Use::kWrite) {
    status = LoaderStatus::kIllegalHandle;
  } else {
    SimFileHandle& handle = flash.handles[h];
    const std::size_t sent = n > 0 ? n - 1 : 0;
    // An append starts after the file's bytes (`position` of them).
    const std::uint32_t before = handle.appending ? handle.position : 0;
    const std::size_t room = handle.announced - before - handle.written;
    count = std::min(sent, room);
    if (sent > room) handle.overflowed = true;
    std::uint8_t* to = nullptr;
    if (!handle.appending) {
      to = flash.bytes.at + handle.offset + handle.written;
    } else if (handle.fileIndex < flash.fileCount) {
      to = flash.bytes.at + flash.files[handle.fileIndex].offset + before + handle.written;
    }
    if (to != nullptr) std::copy(p + 1, p + 1 + count, to);
    handle.written += static_cast<std::uint32_t>(count);
    if (handle.overflowed) status = LoaderStatus::kEndOfFileExpected;
  }
  begin(reply, SystemOpcode::kWrite, status);
  simReplyByte(reply, h);
  simReplyU16(reply, static_cast<std::uint16_t>(count));
}

// The appended bytes become the file's (gone meanwhile: they are dropped).
LoaderStatus closeAppend(SimFlash& flash, const SimFileHandle& handle) {
  if (handle.fileIndex >= flash.fileCount) return LoaderStatus::kSuccess;
  SimFlashFile& file = flash.files[handle.fileIndex];
  const std::uint32_t size = handle.position + handle.written;
  if (flash.folder && !simFlashStoreFile(*flash.folder, hostCopy(flash, file, size))) {
    return LoaderStatus::kUndefinedError;
  }
  file.size = size;
  return LoaderStatus::kSuccess;
}

// A written file enters the flash, or gives its space back.
LoaderStatus closeWrite(SimFlash& flash, const SimFileHandle& handle) {
  const bool complete = handle.written == handle.announced && !handle.overflowed;
  if (!complete && !handle.dataFile) {
    release(flash, handle.offset, handle.announced);
    return LoaderStatus::kSuccess;
  }
  if (flash.fileCount == kSimMaxFiles) {  // opening counts the files: never here
    release(flash, handle.offset, handle.announced);
    return LoaderStatus::kNoMoreFiles;
  }
  SimFlashFile file{};
  simNameCopy(file.name, nameOf(handle.name));
  file.offset = handle.offset;
  file.size = handle.written;
  file.dataFile = handle.dataFile;
  file.capacity = handle.dataFile ? handle.announced : 0;
  if (flash.folder && !simFlashStoreFile(*flash.folder, hostCopy(flash, file, file.size))) {
    release(flash, handle.offset, handle.announced);
    return LoaderStatus::kUndefinedError;
  }
  fileAdded(flash, file);
  return LoaderStatus::kSuccess;
}

void close(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::uint8_t h = n > 0 ? p[0] : 0;
  LoaderStatus status = LoaderStatus::kSuccess;
  // A handle beyond the table is answered with success, as by the firmware.
  if (h < kSimFileHandles) {
    SimFileHandle& handle = flash.handles[h];
    if (handle.use == Use::kFree) {
      status = LoaderStatus::kHandleAlreadyClosed;
    } else if (handle.use == Use::kWrite) {
      const SimFileHandle closing = handle;
      handle = SimFileHandle{};  // its space no longer counts as reserved
      status = closing.appending ? closeAppend(flash, closing) : closeWrite(flash, closing);
    }
    handle = SimFileHandle{};
  }
  begin(reply, SystemOpcode::kClose, status);
  simReplyByte(reply, h);
}

void remove(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  bool tooLong = false;
  char field[kSimNameBytes];
  const std::string_view pattern = nameField(p, n, field, tooLong);
  LoaderStatus status = LoaderStatus::kSuccess;
  if (freeHandle(flash) == kSimFileHandles) {
    status = LoaderStatus::kNoMoreHandles;
  } else if (nameRefused(pattern, tooLong)) {
    status = LoaderStatus::kIllegalFileName;
  } else {
    const std::size_t index = findFrom(flash, pattern, 0);
    bool open = false;
    for (const SimFileHandle& handle : flash.handles) {
      if (handle.use == Use::kRead && handle.fileIndex == index) open = true;
    }
    if (index == flash.fileCount) {
      status = LoaderStatus::kFileNotFound;
    } else if (open) {
      status = LoaderStatus::kFileBusy;
    } else if (flash.folder &&
               !simFlashRemoveFile(*flash.folder, std::string(nameOf(flash.files[index].name)))) {
      status = LoaderStatus::kUndefinedError;
    } else {
      fileRemoved(flash, index);
    }
  }
  begin(reply, SystemOpcode::kDelete, status);
  // The name field comes back as it was sent, cut at its first zero.
  nameBytes(reply, pattern);
}

void findReply(SimReply& reply, SystemOpcode op, LoaderStatus status, std::uint8_t handle,
               const SimFlashFile* file) {
  begin(reply, op, status);
  simReplyByte(reply, handle);
  nameBytes(reply, file != nullptr ? nameOf(file->name) : std::string_view());
  simReplyU32(reply, file != nullptr ? file->size : 0);
}

void findFirst(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::size_t h = freeHandle(flash);
  bool tooLong = false;
  char field[kSimNameBytes];
  const std::string_view pattern = nameField(p, n, field, tooLong);
  if (h == kSimFileHandles) {
    return findReply(reply, SystemOpcode::kFindFirst, LoaderStatus::kNoMoreHandles, 0, nullptr);
  }
  const std::uint8_t handleByte = static_cast<std::uint8_t>(h);
  if (nameRefused(pattern, tooLong)) {
    return findReply(reply, SystemOpcode::kFindFirst, LoaderStatus::kIllegalFileName, handleByte,
                     nullptr);
  }
  const std::size_t index = findFrom(flash, pattern, 0);
  if (index == flash.fileCount) {
    return findReply(reply, SystemOpcode::kFindFirst, LoaderStatus::kFileNotFound, handleByte,
                     nullptr);
  }
  SimFileHandle& handle = flash.handles[h];
  handle = SimFileHandle{};
  handle.use = Use::kFind;
  simNameCopy(handle.name, pattern);
  handle.fileIndex = index;
  findReply(reply, SystemOpcode::kFindFirst, LoaderStatus::kSuccess, handleByte,
            &flash.files[index]);
}

void findNext(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::uint8_t h = n > 0 ? p[0] : 0;
  if (h >= kSimFileHandles || flash.handles[h].use != Use::kFind) {
    return findReply(reply, SystemOpcode::kFindNext, LoaderStatus::kIllegalHandle, h, nullptr);
  }
  SimFileHandle& handle = flash.handles[h];
  const std::size_t index = findFrom(flash, nameOf(handle.name), handle.fileIndex + 1);
  if (index == flash.fileCount) {
    // The handle stays open: the client closes it.
    return findReply(reply, SystemOpcode::kFindNext, LoaderStatus::kFileNotFound, h, nullptr);
  }
  handle.fileIndex = index;
  findReply(reply, SystemOpcode::kFindNext, LoaderStatus::kSuccess, h, &flash.files[index]);
}

}  // namespace

std::shared_ptr<const std::vector<SimFile>> simDefaultFiles() {
  static const std::shared_ptr<const std::vector<SimFile>> files = [] {
    // A program file starts with the format's name and version; a sound
    // with its format, data length and sample rate (8000 Hz), big-endian.
    SimFile demo{"demo.rxe",
                 {'M', 'i', 'n', 'd', 's', 't', 'o', 'r', 'm', 's', 'N', 'X', 'T', 0, 0, 5}};
    demo.bytes.resize(64, 0);
    SimFile click{"click.rso", {0x01, 0x00, 0x00, 0x80, 0x1f, 0x40, 0x00, 0x00}};
    click.bytes.resize(8 + 128, 0x80);
    SimFile attention{"attention.rso", {0x01, 0x00, 0x04, 0x00, 0x1f, 0x40, 0x00, 0x00}};
    attention.bytes.resize(8 + 1024, 0x80);
    return std::make_shared<const std::vector<SimFile>>(
        std::vector<SimFile>{demo, click, attention});
  }();
  return files;
}

void simFlashReset(SimFlash& flash, const std::vector<SimFile>* files,
                   const std::shared_ptr<const SimFlashFolder>& folder) {
  flash.fileCount = 0;
  flash.used = 0;
  flash.handles = {};
  flash.folder = folder;
  if (files == nullptr) return;
  for (const SimFile& given : *files) {
    const auto size = static_cast<std::uint32_t>(given.bytes.size());
    SimFlashFile file{};
    file.size = size;
    file.dataFile = given.dataFile;
    file.capacity = given.dataFile ? std::max(given.capacity, size) : 0;
    if (flash.fileCount == kSimMaxFiles || given.name.size() >= kSimNameBytes ||
        !reserve(flash, region(file), file.offset)) {
      continue;
    }
    simNameCopy(file.name, given.name);
    std::copy(given.bytes.begin(), given.bytes.end(), flash.bytes.at + file.offset);
    flash.files[flash.fileCount++] = file;
  }
}

std::uint32_t simFlashFree(const SimFlash& flash) {
  const std::uint32_t freeSectors = kSimUserFlashSectors - sectorsUsed(flash);
  if (freeSectors == 0) return 0;
  std::uint32_t header = kHeaderBytes + 2 * (freeSectors - 1);
  header = (header + 3) & ~3u;
  return freeSectors * kSimSectorBytes - header;
}

bool simFileNameMatches(std::string_view name, std::string_view pattern) {
  const std::size_t dot = pattern.rfind('.');
  if (dot == std::string_view::npos) return sameIgnoringCase(name, pattern);
  const std::string_view base = pattern.substr(0, dot);
  const std::string_view ext = pattern.substr(dot + 1);
  const std::size_t nameDot = name.rfind('.');
  const std::string_view nameBase = name.substr(0, nameDot);
  const std::string_view nameExt =
      nameDot == std::string_view::npos ? std::string_view() : name.substr(nameDot + 1);
  if (base == "*" && ext == "*") return true;
  if (base == "*") return nameDot != std::string_view::npos && sameIgnoringCase(nameExt, ext);
  if (ext == "*") return sameIgnoringCase(nameBase, base);
  return sameIgnoringCase(name, pattern);
}

const SimFlashFile* simFlashFind(const SimFlash& flash, std::string_view pattern) {
  const std::size_t index = findFrom(flash, pattern, 0);
  return index == flash.fileCount ? nullptr : &flash.files[index];
}

bool simFileNameAllowed(std::string_view name) {
  if (name.empty() || name.size() > nxt::kMaxFileNameLength || name[0] == '.') return false;
  if (!simFileNamePrintable(name)) return false;
  return name.find_first_of("/\\*") == std::string_view::npos;
}

void simNameCopy(char (&to)[kSimNameBytes], std::string_view name) {
  const std::size_t n = std::min(name.size(), kSimNameBytes - 1);
  std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n), to);
  std::fill(to + n, to + kSimNameBytes, '\0');
}

bool simFileNamePrintable(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte <= 0x7e;
  });
}

bool simFilesReceive(SimFlash& flash, std::uint8_t opcode, const std::uint8_t* params,
                     std::size_t paramCount, SimReply& reply) {
  using Handler = void (*)(SimFlash&, const std::uint8_t*, std::size_t, SimReply&);
  static constexpr struct {
    SystemOpcode op;
    Handler handle;
  } kCommands[] = {
      {SystemOpcode::kOpenRead, openRead},
      {SystemOpcode::kOpenWrite, openWriteAs<SystemOpcode::kOpenWrite>},
      {SystemOpcode::kOpenWriteLinear, openWriteAs<SystemOpcode::kOpenWriteLinear>},
      {SystemOpcode::kOpenWriteData, openWriteAs<SystemOpcode::kOpenWriteData>},
      {SystemOpcode::kOpenAppendData, openAppend},
      {SystemOpcode::kRead, read},
      {SystemOpcode::kWrite, write},
      {SystemOpcode::kClose, close},
      {SystemOpcode::kDelete, remove},
      {SystemOpcode::kFindFirst, findFirst},
      {SystemOpcode::kFindNext, findNext},
  };
  for (const auto& command : kCommands) {
    if (static_cast<std::uint8_t>(command.op) == opcode) {
      command.handle(flash, params, paramCount, reply);
      return true;
    }
  }
  return false;
}

bool simFlashFits(const std::vector<SimFile>& files) {
  std::uint64_t sectors = 0;
  for (const SimFile& file : files)
    sectors += sectorsFor(static_cast<std::uint32_t>(file.bytes.size()));
  return sectors <= kSimUserFlashSectors && files.size() <= kSimMaxFiles;
}
