// The catalogue's view of the file system on Linux: file times and sizes
// from statx, the "locked" state as the absence of write permission, the
// mounted removable USB drives, the desktop folder, the program's folder,
// and case-insensitive name look-ups. Recorder cards are FAT, so a copy of a
// card on ext4 may hold FILE0001.MOV beside file0001.dat: every sidecar,
// INFO folder and extension match ignores letter case.
//
// Times are local TDateTime values (days, see app/UnitUtils.h), 0 when the
// file system does not know them (birth time on many file systems). Sizes
// are bytes, -1 when unknown. All functions are thread-safe and never throw;
// failures give the defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/UnitUtils.h"

namespace tachora {

// What a directory entry tells about a file (the search's "directory entry").
struct TFileStat {
  bool Exists = false;
  bool IsDir = false;
  // A regular file. Pipes, sockets and devices are never catalogued or
  // read: opening a pipe for reading waits for a writer that never comes.
  bool IsFile = false;
  bool ReadOnly = false;   // no write bit for anybody
  int64_t Size = -1;       // bytes
  TDateTime Created = 0;   // birth time, 0 when the file system has none
  TDateTime Modified = 0;  // last-write time
  timespec Atime{}, Mtime{};
  unsigned Mode = 0;  // permission bits (07777)
  uint64_t Dev = 0, Ino = 0;
};

// statx of a path, following symbolic links. False (and Exists false) when
// the file cannot be asked.
bool StatFile(const std::string &path, TFileStat &out);
// A regular file (following symbolic links).
bool FileExists(const std::string &path);
bool DirExists(const std::string &path);

// Locking clears all three write bits; unlocking gives the owner's back.
// Other mode bits are kept. False when the mode cannot be changed.
bool SetFileLocked(const std::string &path, bool locked);

// Path helpers on "/" separated paths.
std::string ExtractFileName(const std::string &path);
std::string ExtractFileDir(const std::string &path);  // without the trailing "/"
std::string IncludeTrailingSlash(const std::string &path);
// File name without its extension (from the last "." on; none kept whole).
std::string BaseNameNoExt(const std::string &path);
std::string AbsolutePath(const std::string &path);

// Finds `name` in folder `dir` without regard to letter case. The exact
// name is tried first (one stat), then the folder is listed. Returns the
// full path of the match or an empty string.
std::string FindFileNoCase(const std::string &dir, const std::string &name);
// Like FindFileNoCase but for a sub-folder.
std::string FindDirNoCase(const std::string &dir, const std::string &name);

// A folder listing for many look-ups in the same folders (the preview asks
// for every recording's sidecar): each folder is read once. Not thread-safe;
// one per thread.
class TNoCaseDirCache {
 public:
  std::string Find(const std::string &dir, const std::string &name, bool wantDir = false);
  void Clear();

 private:
  struct TEntry {
    std::string Lower, Name;
    bool IsDir;
  };
  struct TFolder {
    std::string Dir;
    std::vector<TEntry> Entries;
  };
  std::vector<TFolder> Folders;  // few folders on a card; linear search is fine
};

// The user's desktop folder: $XDG_DESKTOP_DIR, else the XDG_DESKTOP_DIR line
// of ~/.config/user-dirs.dirs, else ~/Desktop; empty without a home folder.
std::string DesktopFolder();
// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();
std::string CurrentFolder();
// The mount point that holds `path` (longest mount-point prefix).
std::string MountPointOf(const std::string &path);

// Mounted file systems whose block device is removable or sits on a USB bus,
// that can be read and report a positive size. Mount points with "/".
std::vector<std::string> RemovableUsbDrives();
// Parses /proc/self/mounts text into (device, mount point) pairs, undoing
// the octal escapes of blanks.
std::vector<std::pair<std::string, std::string>> ParseMounts(const std::string &text);

}  // namespace tachora
