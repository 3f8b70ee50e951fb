// The simulated brick's flash on the host: the files put on it at start
// (--file PATH) and the folder that keeps it between runs (--flash DIR).
//
// The folder is opened once, at start (the path may itself be a symbolic
// link), and held open; every file in it is then reached relative to that
// descriptor (on Windows: under the path the folder was found at) and never
// through a link: an entry that is a symbolic link,
// anything but a regular file, or a file with more than one name is not
// read (it is ignored at start, with one line on standard error naming it),
// not written through, and not renamed onto. An upload is written into a
// temporary ".nxt-NAME", made anew (a stale one, or a link planted under
// that name, is removed first), then renamed onto NAME.
//
// Names in the messages are written with bytes outside 0x20-0x7E as \xHH.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_files.h"

// The open flash folder, held open from the start: on POSIX systems its
// descriptor, on Windows its HANDLE (which also keeps the folder from being
// moved or removed while the brick runs) and the path it was found at then,
// every link on the way resolved, under which each entry is reached. `path`
// is what was given, for messages.
struct SimFlashFolder {
  SimFlashFolder(std::intptr_t held, std::string given, std::string found = {})
      : handle(held), path(std::move(given)), resolved(std::move(found)) {}
  ~SimFlashFolder();
  SimFlashFolder(const SimFlashFolder&) = delete;
  SimFlashFolder& operator=(const SimFlashFolder&) = delete;
  std::intptr_t handle;
  std::string path;
  std::string resolved;
};

// `text` with every byte outside 0x20-0x7E (and '\' itself) written as \xHH.
std::string simPrintableName(const std::string& text);

// Reads the host file at `path` as a brick file named after its last path
// component. False with a one-line `error` naming the file and the reason:
// it cannot be read, it is a folder or no regular file, it is larger than
// the whole user flash, or its name is not one a brick file may have.
bool simFileFromHost(const std::string& path, SimFile& file, std::string& error);

// Opens the folder `dir` (created when missing) into `folder`, and reads
// every file of it into `files`, newest first. Entries that are no regular
// file with one link are skipped with one line each on standard error.
// False with a one-line `error` when the folder cannot be made or opened,
// or for a file that cannot be read or whose name a brick file may not have.
bool simFlashLoadFolder(const std::string& dir, std::shared_ptr<const SimFlashFolder>& folder,
                        std::vector<SimFile>& files, std::string& error);

// Writes `file` into the folder, replacing a file of the same name.
bool simFlashStoreFile(const SimFlashFolder& folder, const SimFile& file);

// Removes the file `name` from the folder; true when it is gone (or was
// never there).
bool simFlashRemoveFile(const SimFlashFolder& folder, const std::string& name);
