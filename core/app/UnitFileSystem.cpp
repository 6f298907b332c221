#include "app/UnitFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

namespace tachora {

const char *const kTelemetryExtensions[7] = {".dat",  ".log", ".gpx", ".plt",
                                             ".nmea", ".gps", ".3gf"};

namespace {

TDateTime FromStatx(const struct statx_timestamp &ts) {
  return DateTimeFromTimespec({static_cast<time_t>(ts.tv_sec), static_cast<long>(ts.tv_nsec)});
}

bool IsKind(const std::string &path, bool wantDir) {
  return wantDir ? DirExists(path) : FileExists(path);
}

std::string FindNoCase(const std::string &dir, const std::string &name, bool wantDir) {
  if (name.empty()) return {};
  const std::string d = IncludeTrailingSlash(dir.empty() ? std::string(".") : dir);
  const std::string exact = d + name;
  if (IsKind(exact, wantDir)) return exact;
  DIR *dp = opendir(d.c_str());
  if (!dp) return {};
  std::string found;
  while (dirent *e = readdir(dp)) {
    if (!EqualsNoCase(e->d_name, name)) continue;
    const std::string p = d + e->d_name;
    if (IsKind(p, wantDir)) {
      found = p;
      break;
    }
  }
  closedir(dp);
  return found;
}

}  // namespace

bool StatFile(const std::string &path, TFileStat &out) {
  return StatFileAt(AT_FDCWD, path, out);
}

bool StatFileAt(int dirFd, const std::string &path, TFileStat &out) {
  out = TFileStat{};
  struct statx sx {};
  if (path.empty() || statx(dirFd, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return false;
  out.Exists = true;
  out.IsDir = S_ISDIR(sx.stx_mode);
  out.IsFile = S_ISREG(sx.stx_mode);
  out.Mode = sx.stx_mode & 07777;
  out.ReadOnly = (sx.stx_mode & 0222) == 0;
  out.Size = static_cast<int64_t>(sx.stx_size);
  out.Atime = {static_cast<time_t>(sx.stx_atime.tv_sec), static_cast<long>(sx.stx_atime.tv_nsec)};
  out.Mtime = {static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec)};
  out.Modified = DateTimeFromTimespec(out.Mtime);
  if ((sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec != 0)
    out.Created = FromStatx(sx.stx_btime);
  out.Dev = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  out.Ino = sx.stx_ino;
  return true;
}

bool FileExists(const std::string &path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirExists(const std::string &path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExtractFileName(const std::string &path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileDir(const std::string &path) {
  const size_t p = path.find_last_of('/');
  if (p == std::string::npos) return {};
  if (p == 0) return "/";
  return path.substr(0, p);
}

std::string IncludeTrailingSlash(const std::string &path) {
  if (path.empty() || path.back() == '/') return path;
  return path + "/";
}

std::string BaseNameNoExt(const std::string &path) {
  std::string name = ExtractFileName(path);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string CurrentFolder() {
  char buf[PATH_MAX + 1];
  if (!getcwd(buf, sizeof buf)) return {};
  return IncludeTrailingSlash(buf);
}

std::string AbsolutePath(const std::string &path) {
  if (path.empty()) return path;
  std::filesystem::path p(path[0] == '/' ? path : CurrentFolder() + path);
  std::string out = p.lexically_normal().string();
  if (out.size() > 1 && out.back() == '/' && !(path.size() > 1 && path.back() == '/'))
    out.pop_back();
  return out;
}

bool SameFileName(const std::string &a, const std::string &b) {
  if (a == b) return true;
  if (!EqualsNoCase(a, b)) return false;
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

namespace {

std::string ReadSysFile(const std::string &path) {
  std::string out;
  if (FILE *f = std::fopen(path.c_str(), "re")) {
    char buf[64];
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    out.assign(buf, n);
    std::fclose(f);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// The block device of a file system is removable, or is a partition of
// one, or sits on a USB bus (card readers often say "not removable").
bool RemovableDevice(dev_t dev) {
  if (major(dev) == 0) return false;  // no block device (tmpfs, FUSE without one)
  char sys[96];
  std::snprintf(sys, sizeof sys, "/sys/dev/block/%u:%u", major(dev), minor(dev));
  const std::string base = sys;
  if (ReadSysFile(base + "/removable") == "1") return true;
  if (FileExists(base + "/partition") && ReadSysFile(base + "/../removable") == "1") return true;
  char real[PATH_MAX];
  if (!realpath(base.c_str(), real)) return false;
  return std::string(real).find("/usb") != std::string::npos;
}

}  // namespace

bool IsRemovableStorage(const std::string &path) {
  // The folder of a file that does not exist yet.
  std::string p = path.empty() ? std::string(".") : path;
  struct statfs fs {};
  while (statfs(p.c_str(), &fs) != 0) {
    const std::string up = ExtractFileDir(p);
    if (up.empty() || up == p) return false;
    p = up;
  }
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x4d44:      // FAT (msdos, vfat)
    case 0x2011BAB0:  // exFAT
    case 0x5346544e:  // NTFS
    case 0x7366746e:  // NTFS (ntfs3)
      return true;
    default:
      break;
  }
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && RemovableDevice(st.st_dev);
}

std::string FindFileNoCase(const std::string &dir, const std::string &name) {
  return FindNoCase(dir, name, false);
}

std::string FindDirNoCase(const std::string &dir, const std::string &name) {
  return FindNoCase(dir, name, true);
}

std::string TNoCaseDirCache::Find(const std::string &dir, const std::string &name, bool wantDir) {
  if (name.empty()) return {};
  const std::string d = IncludeTrailingSlash(dir.empty() ? std::string(".") : dir);
  auto [it, isNew] = Folders.try_emplace(d);
  TFolder &folder = it->second;
  if (isNew) {
    if (DIR *dp = opendir(d.c_str())) {
      while (dirent *e = readdir(dp)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        bool isDir = e->d_type == DT_DIR, isFile = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
          isDir = DirExists(d + n);
          isFile = FileExists(d + n);
        }
        if (!isDir && !isFile) continue;  // pipes and devices are never read
        // A folder may hold FILE0001.DAT and file0001.dat: the exact
        // spelling is taken when asked for, else the first one listed.
        TEntry &entry = folder[ToLowerAscii(n)];
        (isDir ? entry.Dirs : entry.Files).push_back(n);
      }
      closedir(dp);
    }
  }
  const auto found = folder.find(ToLowerAscii(name));
  if (found == folder.end()) return {};
  const auto &names = wantDir ? found->second.Dirs : found->second.Files;
  if (names.empty()) return {};
  for (const auto &n : names)
    if (n == name) return d + n;
  return d + names.front();
}

bool TextHoldsNmea(std::string_view head) {
  auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  size_t pos = 0;
  while (pos < head.size()) {
    size_t end = head.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line[0] == ' ' || line[0] == '\t')) line.remove_prefix(1);
    if (!line.empty() && line[0] == '[') {  // a camera's "[12345]" milliseconds
      const size_t close = line.find(']');
      if (close == std::string_view::npos || close < 2 ||
          line.substr(1, close - 1).find_first_not_of("0123456789") != std::string_view::npos)
        continue;
      line.remove_prefix(close + 1);
    }
    // "$", a satellite talker, a three-letter sentence type, ",".
    if (line.size() < 7 || line[0] != '$' || line[6] != ',') continue;
    const std::string_view talker = line.substr(1, 2);
    if (!upper(line[3]) || !upper(line[4]) || !upper(line[5])) continue;
    for (const char *t : {"GP", "GN", "GL", "GA", "GB", "BD", "GQ", "GI", "QZ"})
      if (talker == t) return true;
  }
  return false;
}

std::string FindTelemetryFor(const std::string &videoPath, TNoCaseDirCache *cache) {
  // One look-up tries the exact name first and lists the folder only when
  // that fails; many look-ups list each folder once.
  auto find = [cache](const std::string &dir, const std::string &name, bool wantDir) {
    return cache ? cache->Find(dir, name, wantDir) : FindNoCase(dir, name, wantDir);
  };
  const std::string dir = ExtractFileDir(videoPath);
  const std::string stem = BaseNameNoExt(videoPath);
  if (stem.empty()) return {};
  for (const char *ext : kTelemetryExtensions) {
    std::string p = find(dir.empty() ? "." : dir, stem + ext, false);
    if (!p.empty()) return p;
  }
  // Many cameras and loggers name their NMEA log .txt: such a file counts
  // only when it holds sentences (a note beside a video is no track).
  if (std::string p = find(dir.empty() ? "." : dir, stem + ".txt", false); !p.empty()) {
    char head[1024];
    ssize_t got = -1;
    if (const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd >= 0) {
      do {
        got = ::read(fd, head, sizeof head);
      } while (got < 0 && errno == EINTR);
      ::close(fd);
    }
    if (got > 0 && TextHoldsNmea(std::string_view(head, static_cast<size_t>(got)))) return p;
  }
  // A recorder that writes .gps/.3gf logs names them once for its front and
  // rear videos (..._NF.MP4 and ..._NR.MP4 share ..._N.gps).
  const size_t n = stem.size();
  if (n >= 3 && stem[n - 3] == '_' && (stem[n - 1] == 'F' || stem[n - 1] == 'R'))
    for (const char *ext : {".gps", ".3gf"}) {
      std::string p = find(dir.empty() ? "." : dir, stem.substr(0, n - 1) + ext, false);
      if (!p.empty()) return p;
    }
  // The card's INFO folder beside the recordings' folder.
  const std::string parent = ExtractFileDir(AbsolutePath(dir.empty() ? "." : dir));
  if (parent.empty()) return {};
  const std::string info = find(parent, "INFO", true);
  return info.empty() ? std::string() : find(info, stem + ".DAT", false);
}

}  // namespace tachora
