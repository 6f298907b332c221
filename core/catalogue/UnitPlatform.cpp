#include "catalogue/UnitPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tachora {

namespace {

std::string ReadSmallFile(const std::string &path, size_t limit = 1 << 20) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string s;
  s.resize(limit);
  in.read(s.data(), static_cast<std::streamsize>(limit));
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

std::string ReadLink(const std::string &path) {
  char buf[PATH_MAX + 1];
  const ssize_t n = readlink(path.c_str(), buf, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

bool SetFileLocked(const std::string &path, bool locked) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = locked ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
  return chmod(path.c_str(), mode) == 0;
}

std::string DesktopFolder() {
  const char *home = std::getenv("HOME");
  std::string homeDir = home ? home : "";
  auto expand = [&](std::string v) {
    if (v.rfind("$HOME", 0) == 0) v = homeDir + v.substr(5);
    while (v.size() > 1 && v.back() == '/') v.pop_back();
    return v;
  };
  if (const char *env = std::getenv("XDG_DESKTOP_DIR"); env && *env) return expand(env);
  if (homeDir.empty()) return {};
  std::string config;
  if (const char *xc = std::getenv("XDG_CONFIG_HOME"); xc && *xc)
    config = xc;
  else
    config = homeDir + "/.config";
  std::istringstream in(ReadSmallFile(config + "/user-dirs.dirs", 65536));
  std::string line;
  while (std::getline(in, line)) {
    std::string_view t = Trim(line);
    if (!t.starts_with("XDG_DESKTOP_DIR=")) continue;
    std::string v(t.substr(16));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (!v.empty()) return expand(v);
  }
  return homeDir + "/Desktop";
}

std::string HomeFolder() {
  std::string home;
  if (const char *env = std::getenv("HOME"); env && *env)
    home = env;
  else if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
    home = pw->pw_dir;
  if (home.empty()) return {};
  char buf[PATH_MAX + 1];
  return realpath(home.c_str(), buf) ? std::string(buf) : home;
}

std::string ProgramFolder() {
  const std::string exe = ReadLink("/proc/self/exe");
  if (exe.empty()) return {};
  return IncludeTrailingSlash(ExtractFileDir(exe));
}

std::vector<std::pair<std::string, std::string>> ParseMounts(const std::string &text) {
  auto unescape = [](const std::string &s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\\' && i + 3 < s.size() + 0 && s[i + 1] >= '0' && s[i + 1] <= '7' &&
          s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
        r += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
        i += 3;
      } else
        r += s[i];
    }
    return r;
  };
  std::vector<std::pair<std::string, std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string dev, mnt;
    if (ls >> dev >> mnt) out.emplace_back(unescape(dev), unescape(mnt));
  }
  return out;
}

std::string MountPointOf(const std::string &path) {
  const std::string p = IncludeTrailingSlash(AbsolutePath(path));
  std::string best = "/";
  for (const auto &[dev, mnt] : ParseMounts(ReadSmallFile("/proc/self/mounts"))) {
    const std::string m = IncludeTrailingSlash(mnt);
    if (p.rfind(m, 0) == 0 && m.size() > best.size()) best = m;
  }
  return best;
}

// A block device counts as removable when sysfs says so for it or for the
// disk it is a partition of, or when its device path runs through a USB bus.
static bool IsRemovableUsbDevice(const std::string &device) {
  if (device.rfind("/dev/", 0) != 0) return false;
  std::string real = device;
  char buf[PATH_MAX + 1];
  if (realpath(device.c_str(), buf)) real = buf;
  const std::string name = ExtractFileName(real);
  if (name.empty()) return false;
  const std::string sys = "/sys/class/block/" + name;
  const std::string target = ReadLink(sys);
  if (target.empty()) return false;
  if (target.find("/usb") != std::string::npos) return true;
  auto removable = [](const std::string &dir) {
    return Trim(ReadSmallFile(dir + "/removable", 16)) == "1";
  };
  if (removable(sys)) return true;
  // A partition's parent folder in sysfs is its disk.
  if (FileExists(sys + "/partition")) return removable(sys + "/..");
  return false;
}

std::vector<std::string> RemovableUsbDrives() {
  std::vector<std::string> out;
  for (const auto &[dev, mnt] : ParseMounts(ReadSmallFile("/proc/self/mounts"))) {
    if (!IsRemovableUsbDevice(dev)) continue;
    if (access(mnt.c_str(), R_OK | X_OK) != 0) continue;
    struct statvfs vfs {};
    if (statvfs(mnt.c_str(), &vfs) != 0 || vfs.f_blocks == 0) continue;
    const std::string m = IncludeTrailingSlash(mnt);
    bool dup = false;
    for (const auto &o : out) dup = dup || o == m;
    if (!dup) out.push_back(m);
  }
  return out;
}

}  // namespace tachora
