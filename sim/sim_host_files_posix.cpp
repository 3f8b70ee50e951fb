#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>

#include "protocol/program_name.h"
#include "protocol/write_all_posix.h"
#include "sim/sim_host_files.h"

namespace {

// An upload is written here first, then renamed onto its name.
const char kTemporaryPrefix[] = ".nxt-";

std::string reason() { return std::strerror(errno); }

int fdOf(const SimFlashFolder& folder) { return static_cast<int>(folder.handle); }

// Reads all of the open file `fd`, whose status is `info`, into `file`.
// False with `error` when it is not a regular file, too big, or unreadable.
bool readOpenFile(int fd, const struct stat& info, const std::string& shown, SimFile& file,
                  std::string& error) {
  if (S_ISDIR(info.st_mode)) {
    error = shown + " is a folder, not a file";
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = shown + " is not a regular file";
    return false;
  }
  const std::uint32_t most = simFlashFree(SimFlash{});
  if (static_cast<unsigned long long>(info.st_size) > most) {
    error = shown + " has " + std::to_string(info.st_size) + " bytes; the brick's flash holds " +
            std::to_string(most) + " bytes at most";
    return false;
  }
  file.bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t got = 0;
  for (;;) {
    if (got == file.bytes.size()) file.bytes.resize(got + 1);  // it may have grown
    const ssize_t n = ::read(fd, file.bytes.data() + got, file.bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read " + shown + ": " + reason();
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (got > most) {
      error = shown + " grew beyond the " + std::to_string(most) + " bytes the brick's flash holds";
      return false;
    }
  }
  file.bytes.resize(got);
  return true;
}

bool nameAllowed(const std::string& name, const std::string& shown, std::string& error) {
  if (simFileNameAllowed(name)) return true;
  error = shown + ": '" + simPrintableName(name) +
          "' is no name for a brick file (1-19 printable characters, no '/', '\\', '*')";
  return false;
}

// Reads the entry `name` of the folder when it is a regular file with one
// link; `skipped` when it is anything else. The open is the check: it does
// not follow a link, and what it opened is looked at, not the name.
bool loadEntry(const SimFlashFolder& folder, const std::string& name, SimFile& file,
               long long& modified, bool& skipped, std::string& error) {
  const std::string shown = folder.path + "/" + simPrintableName(name);
  const char* why = nullptr;  // why the entry is skipped
  struct stat info {};
  int fd = -1;
  // Devices and pipes are not opened at all.
  if (::fstatat(fdOf(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISREG(info.st_mode)) {
    why = S_ISLNK(info.st_mode) ? "a symbolic link" : "not a regular file";
  } else {
    fd = ::openat(fdOf(folder), name.c_str(),
                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno != ELOOP) {
      error = "cannot read " + shown + ": " + reason();
      return false;
    }
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      why = fd < 0 ? "a symbolic link" : "not a regular file";
    } else if (info.st_nlink != 1) {
      why = "a file with more than one name (a hard link)";
    }
  }
  skipped = why != nullptr;
  if (skipped) {
    if (fd >= 0) ::close(fd);
    std::cerr << runningProgramName() << ": ignoring " << shown << " in the flash folder: " << why
              << std::endl;
    return true;
  }
  file.name = name;
  const bool ok = nameAllowed(name, shown, error) && readOpenFile(fd, info, shown, file, error);
  ::close(fd);
  modified = static_cast<long long>(info.st_mtime);
  return ok;
}

}  // namespace

SimFlashFolder::~SimFlashFolder() {
  if (handle >= 0) ::close(static_cast<int>(handle));
}

bool simFileFromHost(const std::string& path, SimFile& file, std::string& error) {
  const std::size_t slash = path.find_last_of('/');
  file.name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string shown = simPrintableName(path);
  // Not blocking: a named pipe with no writer is no reason to hang.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot read " + shown + ": " + reason();
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) error = "cannot read " + shown + ": " + reason();
  ok = ok && readOpenFile(fd, info, shown, file, error) && nameAllowed(file.name, shown, error);
  ::close(fd);
  return ok;
}

bool simFlashLoadFolder(const std::string& dir, std::shared_ptr<const SimFlashFolder>& folder,
                        std::vector<SimFile>& files, std::string& error) {
  const std::string shown = simPrintableName(dir);
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    error = "cannot create the folder " + shown + ": " + reason();
    return false;
  }
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open the folder " + shown + ": " + reason();
    return false;
  }
  auto opened = std::make_shared<const SimFlashFolder>(fd, shown);
  // The listing reads through a descriptor of its own, on the same folder.
  const int listed = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = listed < 0 ? nullptr : ::fdopendir(listed);
  if (listing == nullptr) {
    error = "cannot read the folder " + shown + ": " + reason();
    if (listed >= 0) ::close(listed);
    return false;
  }
  std::vector<std::pair<long long, SimFile>> found;
  bool ok = true;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name.rfind(kTemporaryPrefix, 0) == 0) continue;
    SimFile file;
    long long modified = 0;
    bool skipped = false;
    if (!loadEntry(*opened, name, file, modified, skipped, error)) {
      ok = false;
      break;
    }
    if (!skipped) found.emplace_back(modified, std::move(file));
  }
  ::closedir(listing);
  if (!ok) return false;
  // Newest first; equal times by name, so that the order is the same each run.
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second.name < b.second.name;
  });
  files.clear();
  for (auto& entry : found) files.push_back(std::move(entry.second));
  folder = std::move(opened);
  return true;
}

bool simFlashStoreFile(const SimFlashFolder& folder, const SimFile& file) {
  if (!simFileNameAllowed(file.name)) return false;
  const std::string temporary = kTemporaryPrefix + file.name;
  if (::unlinkat(fdOf(folder), temporary.c_str(), 0) != 0 && errno != ENOENT) return false;
  const int fd = ::openat(fdOf(folder), temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = nxt::writeAll(fd, file.bytes);
  ok = ::close(fd) == 0 && ok;
  // rename() replaces the entry NAME itself, whatever it was: a link
  // there is replaced, not written through.
  ok = ok && ::renameat(fdOf(folder), temporary.c_str(), fdOf(folder), file.name.c_str()) == 0;
  if (!ok) ::unlinkat(fdOf(folder), temporary.c_str(), 0);
  return ok;
}

bool simFlashRemoveFile(const SimFlashFolder& folder, const std::string& name) {
  if (!simFileNameAllowed(name)) return false;
  return ::unlinkat(fdOf(folder), name.c_str(), 0) == 0 || errno == ENOENT;
}
