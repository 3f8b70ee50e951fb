#include "sim/sim_files.h"

#include <algorithm>
#include <cctype>
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

std::uint32_t sectorsUsed(const SimFlash& flash) {
  std::uint64_t used = 0;
  for (const SimFile& file : flash.files) {
    used += sectorsFor(std::max(static_cast<std::uint32_t>(file.bytes.size()), file.capacity));
  }
  for (const SimFileHandle& handle : flash.handles) {
    if (handle.use == Use::kWrite && !handle.appending) used += sectorsFor(handle.announced);
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(used, kSimUserFlashSectors));
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The name in a 20-byte field that starts at `field`, of which `available`
// bytes were sent (the rest reads as zeros). `tooLong` when no zero ends it
// within the field.
std::string nameField(const std::uint8_t* field, std::size_t available, bool& tooLong) {
  std::string name;
  for (std::size_t i = 0; i < nxt::kFileNameField; ++i) {
    const std::uint8_t b = i < available ? field[i] : 0;
    if (b == 0) {
      tooLong = false;
      return name;
    }
    name += static_cast<char>(b);
  }
  tooLong = true;
  return name;
}

// A name that the loader refuses as illegal wherever it is sent: too long
// for its field, or not printable ASCII.
bool nameRefused(const std::string& name, bool tooLong) {
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

std::size_t findFrom(const SimFlash& flash, const std::string& pattern, std::size_t from) {
  for (std::size_t i = from; i < flash.files.size(); ++i) {
    if (simFileNameMatches(flash.files[i].name, pattern)) return i;
  }
  return flash.files.size();
}

void begin(SimReply& reply, SystemOpcode op, LoaderStatus status) {
  reply.length = 0;
  simReplyByte(reply, nxt::byteOf(nxt::TelegramType::kReply));
  simReplyByte(reply, nxt::byteOf(op));
  simReplyByte(reply, nxt::byteOf(status));
}

void nameBytes(SimReply& reply, const std::string& name) {
  for (std::size_t i = 0; i < nxt::kFileNameField; ++i) {
    simReplyByte(reply, i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0);
  }
}

// Files that handles refer to by index shift when one is added or removed.
void fileAdded(SimFlash& flash, SimFile file) {
  flash.files.insert(flash.files.begin(), std::move(file));
  for (SimFileHandle& handle : flash.handles) {
    if (handle.use == Use::kRead || handle.use == Use::kFind) ++handle.fileIndex;
  }
}

void fileRemoved(SimFlash& flash, std::size_t index) {
  flash.files.erase(flash.files.begin() + static_cast<std::ptrdiff_t>(index));
  for (SimFileHandle& handle : flash.handles) {
    if ((handle.use == Use::kRead || handle.use == Use::kFind) && handle.fileIndex > index) {
      --handle.fileIndex;
    }
  }
}

void openRead(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::size_t h = freeHandle(flash);
  bool tooLong = false;
  const std::string pattern = nameField(p, n, tooLong);
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
    if (index == flash.files.size()) {
      status = LoaderStatus::kFileNotFound;
    } else if (flash.files[index].bytes.empty()) {
      // The firmware takes an empty file for a missing one, handle byte 0.
      status = LoaderStatus::kFileNotFound;
      handleByte = 0;
    } else {
      SimFileHandle& handle = flash.handles[h];
      handle = SimFileHandle{};
      handle.use = Use::kRead;
      handle.fileIndex = index;
      size = static_cast<std::uint32_t>(flash.files[index].bytes.size());
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
  const std::string name = nameField(p, n, tooLong);
  const std::uint32_t size = u32At(p, n, nxt::kFileNameField);
  std::size_t writing = 0;
  bool busy = false;
  for (const SimFileHandle& handle : flash.handles) {
    if (handle.use != Use::kWrite) continue;
    ++writing;
    if (lower(handle.pending.name) == lower(name)) busy = true;
  }
  LoaderStatus status = LoaderStatus::kSuccess;
  // A program or system file is never a data file.
  const std::string lowered = lower(name);
  const bool systemFile = lowered.find(".rxe") != std::string::npos ||
                          lowered.find(".sys") != std::string::npos ||
                          lowered.find(".rtm") != std::string::npos;
  if (op == SystemOpcode::kOpenWriteData && systemFile) {
    begin(reply, op, LoaderStatus::kIllegalFileName);
    simReplyByte(reply, 0);
    return;
  }
  if (h == kSimFileHandles) {
    status = LoaderStatus::kNoMoreHandles;
  } else if (tooLong || !simFileNameAllowed(name)) {
    status = LoaderStatus::kIllegalFileName;
  } else if (simFlashFind(flash, name) != nullptr) {
    status = LoaderStatus::kFileExists;
  } else if (busy) {
    status = LoaderStatus::kFileBusy;
  } else if (flash.files.size() + writing >= kSimMaxFiles) {
    status = LoaderStatus::kNoMoreFiles;
  } else if (writing >= kSimWriteHandles) {
    status = LoaderStatus::kNoWriteBuffers;
  } else if (size > simFlashFree(flash)) {
    status = LoaderStatus::kNoSpace;
  } else {
    SimFileHandle& handle = flash.handles[h];
    handle = SimFileHandle{};
    handle.use = Use::kWrite;
    handle.pending.name = name;
    handle.announced = size;
    handle.dataFile = op == SystemOpcode::kOpenWriteData;
    handle.pending.dataFile = handle.dataFile;
    handle.pending.capacity = handle.dataFile ? size : 0;
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
// bytes written to it are appended when it is closed.
void openAppend(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::size_t h = freeHandle(flash);
  bool tooLong = false;
  const std::string pattern = nameField(p, n, tooLong);
  const bool refused = nameRefused(pattern, tooLong);
  const std::size_t index = refused ? flash.files.size() : findFrom(flash, pattern, 0);
  std::size_t writing = 0;
  bool busy = false;
  for (const SimFileHandle& handle : flash.handles) {
    if (handle.use != Use::kWrite) continue;
    ++writing;
    if (index < flash.files.size() &&
        lower(handle.pending.name) == lower(flash.files[index].name)) {
      busy = true;
    }
  }
  LoaderStatus status = LoaderStatus::kSuccess;
  std::uint32_t room = 0;
  if (h == kSimFileHandles) {
    status = LoaderStatus::kNoMoreHandles;
  } else if (refused) {
    status = LoaderStatus::kIllegalFileName;
  } else if (index == flash.files.size()) {
    status = LoaderStatus::kFileNotFound;
  } else if (busy) {
    status = LoaderStatus::kFileBusy;
  } else if (!flash.files[index].dataFile) {
    status = LoaderStatus::kAppendNotPossible;
  } else if (flash.files[index].bytes.size() >= flash.files[index].capacity) {
    status = LoaderStatus::kFileIsFull;
  } else if (writing >= kSimWriteHandles) {
    status = LoaderStatus::kNoWriteBuffers;
  } else {
    const SimFile& file = flash.files[index];
    room = file.capacity - static_cast<std::uint32_t>(file.bytes.size());
    SimFileHandle& handle = flash.handles[h];
    handle = SimFileHandle{};
    handle.use = Use::kWrite;
    handle.pending = file;
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
    const std::vector<std::uint8_t>& bytes = flash.files[handle.fileIndex].bytes;
    const std::size_t left = bytes.size() - std::min<std::size_t>(handle.position, bytes.size());
    count = std::min(room, left);
    data = bytes.data() + std::min<std::size_t>(handle.position, bytes.size());
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
    const std::size_t room = handle.announced - handle.pending.bytes.size();
    count = std::min(sent, room);
    if (sent > room) handle.overflowed = true;
    handle.pending.bytes.insert(handle.pending.bytes.end(), p + 1, p + 1 + count);
    if (handle.overflowed) status = LoaderStatus::kEndOfFileExpected;
  }
  begin(reply, SystemOpcode::kWrite, status);
  simReplyByte(reply, h);
  simReplyU16(reply, static_cast<std::uint16_t>(count));
}

// The appended file takes the place of the one it was opened on (gone
// meanwhile: the bytes are dropped).
LoaderStatus closeAppend(SimFlash& flash, SimFileHandle& handle) {
  const std::size_t index = findFrom(flash, handle.pending.name, 0);
  if (index == flash.files.size()) return LoaderStatus::kSuccess;
  if (flash.folder && !simFlashStoreFile(*flash.folder, handle.pending)) {
    return LoaderStatus::kUndefinedError;
  }
  flash.files[index] = std::move(handle.pending);
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
      const bool complete = handle.pending.bytes.size() == handle.announced && !handle.overflowed;
      if (handle.appending) {
        status = closeAppend(flash, handle);
      } else if (complete || handle.dataFile) {
        if (flash.folder && !simFlashStoreFile(*flash.folder, handle.pending)) {
          status = LoaderStatus::kUndefinedError;
        } else {
          fileAdded(flash, std::move(handle.pending));
        }
      }
    }
    handle = SimFileHandle{};
  }
  begin(reply, SystemOpcode::kClose, status);
  simReplyByte(reply, h);
}

void remove(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  bool tooLong = false;
  const std::string pattern = nameField(p, n, tooLong);
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
    if (index == flash.files.size()) {
      status = LoaderStatus::kFileNotFound;
    } else if (open) {
      status = LoaderStatus::kFileBusy;
    } else if (flash.folder && !simFlashRemoveFile(*flash.folder, flash.files[index].name)) {
      status = LoaderStatus::kUndefinedError;
    } else {
      fileRemoved(flash, index);
    }
  }
  begin(reply, SystemOpcode::kDelete, status);
  // The name field comes back as it was sent, cut at its first zero.
  std::string echoed;
  for (std::size_t i = 0; i < nxt::kFileNameField && i < n && p[i] != 0; ++i) {
    echoed += static_cast<char>(p[i]);
  }
  nameBytes(reply, echoed);
}

void findReply(SimReply& reply, SystemOpcode op, LoaderStatus status, std::uint8_t handle,
               const SimFile* file) {
  begin(reply, op, status);
  simReplyByte(reply, handle);
  nameBytes(reply, file != nullptr ? file->name : std::string());
  simReplyU32(reply, file != nullptr ? static_cast<std::uint32_t>(file->bytes.size()) : 0);
}

void findFirst(SimFlash& flash, const std::uint8_t* p, std::size_t n, SimReply& reply) {
  const std::size_t h = freeHandle(flash);
  bool tooLong = false;
  const std::string pattern = nameField(p, n, tooLong);
  if (h == kSimFileHandles) {
    return findReply(reply, SystemOpcode::kFindFirst, LoaderStatus::kNoMoreHandles, 0, nullptr);
  }
  const std::uint8_t handleByte = static_cast<std::uint8_t>(h);
  if (nameRefused(pattern, tooLong)) {
    return findReply(reply, SystemOpcode::kFindFirst, LoaderStatus::kIllegalFileName, handleByte,
                     nullptr);
  }
  const std::size_t index = findFrom(flash, pattern, 0);
  if (index == flash.files.size()) {
    return findReply(reply, SystemOpcode::kFindFirst, LoaderStatus::kFileNotFound, handleByte,
                     nullptr);
  }
  SimFileHandle& handle = flash.handles[h];
  handle = SimFileHandle{};
  handle.use = Use::kFind;
  handle.pattern = pattern;
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
  const std::size_t index = findFrom(flash, handle.pattern, handle.fileIndex + 1);
  if (index == flash.files.size()) {
    // The handle stays open: the client closes it.
    return findReply(reply, SystemOpcode::kFindNext, LoaderStatus::kFileNotFound, h, nullptr);
  }
  handle.fileIndex = index;
  findReply(reply, SystemOpcode::kFindNext, LoaderStatus::kSuccess, h, &flash.files[index]);
}

}  // namespace

std::vector<SimFile> simDefaultFiles() {
  // A program file starts with the format's name and version; a sound with
  // its format, data length and sample rate (8000 Hz), big-endian.
  SimFile demo{"demo.rxe",
               {'M', 'i', 'n', 'd', 's', 't', 'o', 'r', 'm', 's', 'N', 'X', 'T', 0, 0, 5}};
  demo.bytes.resize(64, 0);
  SimFile click{"click.rso", {0x01, 0x00, 0x00, 0x80, 0x1f, 0x40, 0x00, 0x00}};
  click.bytes.resize(8 + 128, 0x80);
  SimFile attention{"attention.rso", {0x01, 0x00, 0x04, 0x00, 0x1f, 0x40, 0x00, 0x00}};
  attention.bytes.resize(8 + 1024, 0x80);
  return {demo, click, attention};
}

void simFlashReset(SimFlash& flash, const std::vector<SimFile>& files,
                   const std::shared_ptr<const SimFlashFolder>& folder) {
  flash = SimFlash{};
  flash.files = files;
  flash.folder = folder;
}

std::uint32_t simFlashFree(const SimFlash& flash) {
  const std::uint32_t freeSectors = kSimUserFlashSectors - sectorsUsed(flash);
  if (freeSectors == 0) return 0;
  std::uint32_t header = kHeaderBytes + 2 * (freeSectors - 1);
  header = (header + 3) & ~3u;
  return freeSectors * kSimSectorBytes - header;
}

bool simFileNameMatches(const std::string& name, const std::string& pattern) {
  const std::string n = lower(name);
  const std::string p = lower(pattern);
  const std::size_t dot = p.rfind('.');
  if (dot == std::string::npos) return n == p;
  const std::string base = p.substr(0, dot);
  const std::string ext = p.substr(dot + 1);
  const std::size_t nameDot = n.rfind('.');
  const std::string nameBase = nameDot == std::string::npos ? n : n.substr(0, nameDot);
  const std::string nameExt = nameDot == std::string::npos ? std::string() : n.substr(nameDot + 1);
  if (base == "*" && ext == "*") return true;
  if (base == "*") return nameDot != std::string::npos && nameExt == ext;
  if (ext == "*") return nameBase == base;
  return n == p;
}

const SimFile* simFlashFind(const SimFlash& flash, const std::string& pattern) {
  const std::size_t index = findFrom(flash, pattern, 0);
  return index == flash.files.size() ? nullptr : &flash.files[index];
}

bool simFileNameAllowed(const std::string& name) {
  if (name.empty() || name.size() > nxt::kMaxFileNameLength || name[0] == '.') return false;
  if (!simFileNamePrintable(name)) return false;
  return name.find_first_of("/\\*") == std::string::npos;
}

bool simFileNamePrintable(const std::string& name) {
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
