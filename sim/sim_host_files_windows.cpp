// The simulated brick's host files on Windows.
//
// The flash folder is opened once, at start (following whatever link leads
// to it), held open without letting others delete or move it, and its
// final path then is the one under which every entry is reached. An entry
// is opened as itself, never through a reparse point (a symbolic link, a
// junction, a mount point), and read only when it is a plain file with one
// name whose final path is that folder and its name: Wine shows a Linux
// symbolic link to a file as that file, which the final path gives away.
// Nothing is ever deleted or renamed by name, which Wine would do through
// a link: an upload is written into a fresh ".nxt-NAME" and that open file
// is renamed onto NAME, which replaces whatever entry NAME was; a removal
// renames an empty fresh file onto NAME and deletes it through its handle.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <utility>
#include <vector>

#include "protocol/program_name.h"
#include "sim/sim_host_files.h"

namespace {

const wchar_t kTemporaryPrefix[] = L".nxt-";
// Where a folder's final path starts: "\\?\" before a drive or "UNC\".
const wchar_t kWin32Prefix[] = L"\\\\?\\";
constexpr std::size_t kWin32PrefixLength = 4;

std::wstring wide(const std::string& text, UINT codePage) {
  const int n =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// The system's words for `error`, without the full stop and line end.
std::string reason(DWORD error) {
  char text[256] = {};
  DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  while (n > 0 &&
         (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' ')) {
    --n;
  }
  return n > 0 ? std::string(text, n) : "error " + std::to_string(error);
}

HANDLE folderHandle(const SimFlashFolder& folder) {
  return reinterpret_cast<HANDLE>(folder.handle);
}

// The folder's final path, as given to the file functions ("\\?\C:\...").
std::wstring win32Path(const SimFlashFolder& folder) { return wide(folder.resolved, CP_UTF8); }

// The same path as the system's own name for it ("\??\C:\..."), the form a
// rename through a handle takes.
std::wstring ntPath(const SimFlashFolder& folder) {
  return L"\\??\\" + win32Path(folder).substr(kWin32PrefixLength);
}

// True when two paths name the same entry (Windows compares names without
// regard to case).
bool samePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring finalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD n = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                              VOLUME_NAME_DOS);
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(n);  // n counts the terminating zero then
  }
  return {};
}

// A name that a brick may give but a Windows folder cannot hold as a file
// of that name: a character Windows reserves (':' would name a stream of
// another file), a trailing dot or space, or a device's name.
bool windowsNameAllowed(const std::string& name) {
  if (name.find_first_of("<>:\"|?") != std::string::npos) return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (stem == device) return false;
  }
  return !(stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9');
}

// A path for messages: each part printable, the separators kept.
std::string shownPath(const std::string& path) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t separator = path.find('\\', start);
    out += simPrintableName(path.substr(start, separator - start));
    if (separator == std::string::npos) return out;
    out += '\\';
    start = separator + 1;
  }
}

bool nameAllowed(const std::string& name, const std::string& shown, std::string& error) {
  if (simFileNameAllowed(name)) return true;
  error = shown + ": '" + simPrintableName(name) +
          "' is no name for a brick file (1-19 printable characters, no '/', '\\', '*')";
  return false;
}

// Reads the open file `handle` of `size` bytes into `file`.
bool readOpenFile(HANDLE handle, unsigned long long size, const std::string& shown, SimFile& file,
                  std::string& error) {
  const std::uint32_t most = simFlashFree(SimFlash{});
  if (size > most) {
    error = shown + " has " + std::to_string(size) + " bytes; the brick's flash holds " +
            std::to_string(most) + " bytes at most";
    return false;
  }
  file.bytes.resize(static_cast<std::size_t>(size));
  std::size_t got = 0;
  for (;;) {
    if (got == file.bytes.size()) file.bytes.resize(got + 1);  // it may have grown
    DWORD n = 0;
    if (!ReadFile(handle, file.bytes.data() + got, static_cast<DWORD>(file.bytes.size() - got), &n,
                  nullptr)) {
      error = "cannot read " + shown + ": " + reason(GetLastError());
      return false;
    }
    if (n == 0) break;
    got += n;
    if (got > most) {
      error = shown + " grew beyond the " + std::to_string(most) + " bytes the brick's flash holds";
      return false;
    }
  }
  file.bytes.resize(got);
  return true;
}

// Reads the entry `name` (found as `found`) when it is a plain file of the
// folder with one name; `skipped` when it is anything else.
bool loadEntry(const SimFlashFolder& folder, const std::wstring& name,
               const WIN32_FIND_DATAW& found, SimFile& file, long long& modified, bool& skipped,
               std::string& error) {
  const std::string shown = folder.path + "\\" + simPrintableName(utf8(name));
  const std::wstring path = win32Path(folder) + L"\\" + name;
  const char* why = nullptr;  // why the entry is skipped
  HANDLE handle = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info{};
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    why = "a link (a reparse point)";
  } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = "not a regular file";
  } else {
    handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = "cannot read " + shown + ": " + reason(GetLastError());
      return false;
    }
    // Under Wine a Linux named pipe opens as a pipe, without waiting.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
      why = "not a regular file";
    } else if (!GetFileInformationByHandle(handle, &info)) {
      error = "cannot read " + shown + ": " + reason(GetLastError());
      CloseHandle(handle);
      return false;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      why = "a link (a reparse point)";
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
               info.nNumberOfLinks == 0) {
      why = "not a regular file";
    } else if (!samePath(finalPath(handle), path)) {
      why = "a link to another file";
    } else if (info.nNumberOfLinks != 1) {
      why = "a file with more than one name (a hard link)";
    }
  }
  skipped = why != nullptr;
  if (skipped) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    std::cerr << runningProgramName() << ": ignoring " << shown << " in the flash folder: " << why
              << std::endl;
    return true;
  }
  file.name = utf8(name);
  const unsigned long long size =
      (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const bool ok =
      nameAllowed(file.name, shown, error) && readOpenFile(handle, size, shown, file, error);
  CloseHandle(handle);
  modified = static_cast<long long>(
      (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  return ok;
}

// Makes a new empty file `name` in the folder, open to write and to be
// renamed or deleted through the handle; INVALID_HANDLE_VALUE when it
// cannot be made (or the name is taken).
HANDLE createNew(const SimFlashFolder& folder, const std::wstring& name) {
  return CreateFileW((win32Path(folder) + L"\\" + name).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Renames the open file onto `name` in the folder, replacing the entry
// there (a link is replaced, not followed).
bool renameOnto(const SimFlashFolder& folder, HANDLE handle, const std::wstring& name) {
  const std::wstring target = ntPath(folder) + L"\\" + name;
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  target.copy(info->FileName, target.size());
  return SetFileInformationByHandle(handle, FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size())) != 0;
}

// Deletes the open file, wherever it is now, once its handle is closed.
bool deleteOnClose(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// A fresh empty ".nxt-NAME", open. A stale one, or whatever else holds that
// name, is replaced by a file made beside it under a name of this process.
HANDLE createTemporary(const SimFlashFolder& folder, const std::wstring& name) {
  const std::wstring temporary = kTemporaryPrefix + name;
  HANDLE handle = createNew(folder, temporary);
  if (handle != INVALID_HANDLE_VALUE ||
      (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) {
    return handle;
  }
  handle =
      createNew(folder, kTemporaryPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + name);
  if (handle != INVALID_HANDLE_VALUE && !renameOnto(folder, handle, temporary)) {
    deleteOnClose(handle);
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  return handle;
}

bool writeAll(HANDLE handle, const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - sent, 1 << 20));
    if (!WriteFile(handle, bytes.data() + sent, chunk, &n, nullptr) || n == 0) return false;
    sent += n;
  }
  return true;
}

// Puts a fresh file with `bytes` in place of the entry `name`, then keeps
// it or (`keep` false) deletes it.
bool replaceEntry(const SimFlashFolder& folder, const std::string& name,
                  const std::vector<std::uint8_t>& bytes, bool keep) {
  if (!simFileNameAllowed(name) || !windowsNameAllowed(name)) return false;
  const std::wstring wideName = wide(name, CP_UTF8);
  HANDLE handle = createTemporary(folder, wideName);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = writeAll(handle, bytes) && renameOnto(folder, handle, wideName);
  if (!ok || !keep) ok = deleteOnClose(handle) && ok;
  ok = CloseHandle(handle) != 0 && ok;
  return ok;
}

}  // namespace

SimFlashFolder::~SimFlashFolder() {
  if (handle != 0) CloseHandle(folderHandle(*this));
}

bool simFileFromHost(const std::string& path, SimFile& file, std::string& error) {
  const std::size_t separator = path.find_last_of("/\\");
  file.name = separator == std::string::npos ? path : path.substr(separator + 1);
  const std::string shown = shownPath(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + shown + ": No such file or not readable";
    return false;
  }
  const std::uint32_t most = simFlashFree(SimFlash{});
  file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + shown;
    return false;
  }
  if (file.bytes.size() > most) {
    error = shown + " has " + std::to_string(file.bytes.size()) +
            " bytes; the brick's flash holds " + std::to_string(most) + " bytes at most";
    return false;
  }
  return nameAllowed(file.name, shown, error);
}

bool simFlashLoadFolder(const std::string& dir, std::shared_ptr<const SimFlashFolder>& folder,
                        std::vector<SimFile>& files, std::string& error) {
  const std::string shown = shownPath(dir);
  // The program's arguments come in the system's code page.
  const std::wstring given = wide(dir, CP_ACP);
  if (!CreateDirectoryW(given.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    error = "cannot create the folder " + shown + ": " + reason(GetLastError());
    return false;
  }
  // Held without FILE_SHARE_DELETE: the folder stays where it was found.
  HANDLE handle = CreateFileW(given.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = "cannot open the folder " + shown + ": " + reason(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool isFolder = GetFileInformationByHandle(handle, &info) &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::wstring resolved = isFolder ? finalPath(handle) : std::wstring();
  auto opened = std::make_shared<const SimFlashFolder>(reinterpret_cast<std::intptr_t>(handle),
                                                       shown, utf8(resolved));
  if (!isFolder) {
    error = "cannot open the folder " + shown + ": it is not a folder";
    return false;
  }
  if (resolved.compare(0, kWin32PrefixLength, kWin32Prefix) != 0) {
    error = "cannot open the folder " + shown + ": where it is cannot be known";
    return false;
  }
  WIN32_FIND_DATAW found{};
  HANDLE listing = FindFirstFileExW((resolved + L"\\*").c_str(), FindExInfoBasic, &found,
                                    FindExSearchNameMatch, nullptr, 0);
  if (listing == INVALID_HANDLE_VALUE) {
    error = "cannot read the folder " + shown + ": " + reason(GetLastError());
    return false;
  }
  std::vector<std::pair<long long, SimFile>> loaded;
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L".." || name.rfind(kTemporaryPrefix, 0) == 0) continue;
    SimFile file;
    long long modified = 0;
    bool skipped = false;
    if (!loadEntry(*opened, name, found, file, modified, skipped, error)) {
      ok = false;
      break;
    }
    if (!skipped) loaded.emplace_back(modified, std::move(file));
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
  if (!ok) return false;
  // Newest first; equal times by name, so that the order is the same each run.
  std::sort(loaded.begin(), loaded.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second.name < b.second.name;
  });
  files.clear();
  for (auto& entry : loaded) files.push_back(std::move(entry.second));
  folder = std::move(opened);
  return true;
}

bool simFlashStoreFile(const SimFlashFolder& folder, const SimFile& file) {
  return replaceEntry(folder, file.name, file.bytes, true);
}

bool simFlashRemoveFile(const SimFlashFolder& folder, const std::string& name) {
  return replaceEntry(folder, name, {}, false);
}
