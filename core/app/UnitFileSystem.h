// What every subsystem asks the file system, answered once: a file's times,
// size and mode (one statx reader), path pieces on "/" separated paths,
// case-insensitive name look-ups, and the rule that finds the telemetry file
// belonging to a video.
//
// Recorder cards are FAT, so a copy of a card on ext4 may hold FILE0001.MOV
// beside file0001.dat: every sidecar, INFO folder and extension match ignores
// letter case (ASCII only, as FAT does for short names).
//
// Times are local TDateTime days (see UnitUtils.h), 0 when the file system
// does not know them (birth time on many file systems). Sizes are bytes, -1
// when unknown. The free functions are thread-safe and never throw; failures
// give the defaults. A TNoCaseDirCache belongs to one thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/UnitUtils.h"

namespace tachora {

// What a directory entry tells about a file.
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
// The same for a name inside an open folder (a folder walk spares the
// kernel the look-up of every folder of the path for every file).
bool StatFileAt(int dirFd, const std::string &name, TFileStat &out);
// A regular file (following symbolic links).
bool FileExists(const std::string &path);
bool DirExists(const std::string &path);

// Path helpers on "/" separated paths.
std::string ExtractFileName(const std::string &path);
std::string ExtractFileDir(const std::string &path);  // without the trailing "/"
std::string IncludeTrailingSlash(const std::string &path);
// File name without its extension (from the last "." on; none kept whole).
std::string BaseNameNoExt(const std::string &path);
// The current folder with a trailing "/"; empty when it cannot be read.
std::string CurrentFolder();
// Absolute and lexically normal ("a/../b" is "b"), so that one file never
// enters a list under two spellings; symbolic links are kept as named.
std::string AbsolutePath(const std::string &path);

// Whether two names lead to one file: the same path, or names that differ
// only in letter case and resolve to the same file (a FAT, exFAT or NTFS
// card, or a folder that ignores case). On an ordinary Linux file system
// clip.mov and CLIP.MOV are two files. Asks the file system only when the
// names differ in letter case alone.
bool SameFileName(const std::string &a, const std::string &b);

// Whether files written under `path` should reach the disk before they take
// their final name (fdatasync): a memory card or USB stick (a FAT, exFAT or
// NTFS file system, or a removable block device) that the user pulls as
// soon as the program says a file is written.
bool IsRemovableStorage(const std::string &path);

// Finds `name` in folder `dir` without regard to letter case. The exact
// name is tried first (one stat), then the folder is listed. Returns the
// full path of the match or an empty string.
std::string FindFileNoCase(const std::string &dir, const std::string &name);
// Like FindFileNoCase but for a sub-folder.
std::string FindDirNoCase(const std::string &dir, const std::string &name);

// Folder listings for many look-ups in the same folders (a card's preview
// asks for every recording's sidecars): each folder is read once and its
// names are hashed, so a look-up costs the same in a folder of 10 files and
// of 10,000. The listing is a snapshot: files made after a folder was first
// asked about are not seen until Clear().
class TNoCaseDirCache {
 public:
  std::string Find(const std::string &dir, const std::string &name, bool wantDir = false);
  void Clear() { Folders.clear(); }

 private:
  // The names that differ only in letter case (FAT keeps one; a copy on
  // ext4 may hold several), files and folders apart, in listing order.
  struct TEntry {
    std::vector<std::string> Files, Dirs;
  };
  // Lower-case name -> the first entry of that name (as readdir gave it).
  using TFolder = std::unordered_map<std::string, TEntry>;
  std::unordered_map<std::string, TFolder> Folders;  // by folder path with "/"
};

// Extensions of the telemetry files a recorder writes beside its videos, in
// the order they are looked for (a .txt of the video's name comes after
// them, and only when it holds NMEA sentences).
extern const char *const kTelemetryExtensions[7];

// The telemetry file that belongs to a video, found by name: first beside
// it (the video's name with .dat, .log, .gpx, .plt, .nmea, .gps or .3gf, in
// this order, then .txt when its first kilobytes hold NMEA sentences; a
// .gps/.3gf pair also under the name without the channel letter that ends
// the video's, 20231015_143022_NF.MP4 -> 20231015_143022_N.gps), then in
// the card's INFO folder beside the video's folder
// (DCIM/100MEDIA/FILE0001.MOV -> DCIM/INFO/FILE0001.DAT). Empty when
// neither exists. With a cache the folders are listed once.
std::string FindTelemetryFor(const std::string &videoPath, TNoCaseDirCache *cache = nullptr);

// Whether a text holds a GNSS receiver's NMEA sentence ("$GPRMC,...",
// "$GNGGA,...", also after a "[ms]" stamp) on one of its lines: what
// makes a .txt beside a video its GPS log.
bool TextHoldsNmea(std::string_view head);

}  // namespace tachora
