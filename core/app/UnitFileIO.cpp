#include "app/UnitFileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/UnitFileSystem.h"

namespace tachora {

namespace {

std::string SysError(int err) {
  return std::strerror(err);
}

void SetError(std::string *error, const std::string &text) {
  if (error) *error = text;
}

std::string DirOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The umask without changing it (umask() would, for a moment, for every
// thread): /proc knows it since Linux 4.7.
mode_t CurrentUmask() {
  if (FILE *f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  return 022;
}

std::atomic<uint64_t> gDataSyncs{0};
std::atomic<bool> gAllRemovable{false};

// ".<name>.XXXXXX.part" as mkostemps makes it: six letters or digits.
bool IsOurTempName(const std::string &name) {
  constexpr size_t kTail = 12;  // ".XXXXXX.part"
  if (name.size() < 2 + kTail || name[0] != '.') return false;
  const size_t x = name.size() - kTail;
  if (name[x] != '.') return false;
  if (name.compare(name.size() - 5, 5, ".part") != 0) return false;
  for (size_t i = x + 1; i < x + 7; ++i)
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

}  // namespace

uint64_t DataSyncCount() {
  return gDataSyncs.load();
}

void TreatAllStorageAsRemovable(bool on) {
  gAllRemovable = on;
}

int RemoveStaleTemporaries(const std::string &folder, int maxAgeSeconds) {
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR *dp = ::fdopendir(dirFd);
  if (!dp) {
    ::close(dirFd);
    return 0;
  }
  const time_t now = std::time(nullptr);
  int removed = 0;
  while (dirent *e = ::readdir(dp)) {
    const std::string name = e->d_name;
    if (!IsOurTempName(name)) continue;
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || now - st.st_mtime < maxAgeSeconds)
      continue;
    if (::unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
  }
  ::closedir(dp);
  return removed;
}

mode_t NewFileMode(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  return 0666 & ~CurrentUmask();
}

TAtomicFile::TAtomicFile(std::string path) : path_(std::move(path)) {}

TAtomicFile::~TAtomicFile() {
  Discard();
}

bool TAtomicFile::Open(std::string *error) {
  Discard();
  const std::string dir = DirOf(path_);
  fd_ = preferNamed_ ? -1 : ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  unnamed_ = fd_ >= 0;
  if (!unnamed_) {
    // Cards (FAT, exFAT) get named temporaries: those a pulled card or a
    // crash left behind go now.
    RemoveStaleTemporaries(dir);
    temp_ = dir + "/." + NameOf(path_) + ".XXXXXX.part";
    fd_ = ::mkostemps(temp_.data(), 5, O_CLOEXEC);
    if (fd_ < 0) {
      const int err = errno;
      temp_.clear();
      SetError(error, path_ + ": " + SysError(err));
      return false;
    }
  }
  return true;
}

bool TAtomicFile::Write(std::string_view data, std::string *error) {
  if (fd_ < 0) {
    SetError(error, path_ + ": " + SysError(EBADF));
    return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t w = ::write(fd_, data.data() + done, data.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      SetError(error, path_ + ": " + SysError(w < 0 ? errno : EIO));
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

bool TAtomicFile::Commit(TSync sync, std::string *error) {
  if (fd_ < 0) {
    SetError(error, path_ + ": " + SysError(EBADF));
    return false;
  }
  auto fail = [&](int err) {
    SetError(error, path_ + ": " + SysError(err));
    Discard();
    return false;
  };
  ::fchmod(fd_, modeSet_ ? mode_ : NewFileMode(path_));
  if (sync == TSync::Removable)
    sync = gAllRemovable.load() || IsRemovableStorage(DirOf(path_)) ? TSync::Data : TSync::None;
  if (sync == TSync::Data) {
    ++gDataSyncs;
    if (::fdatasync(fd_) != 0) return fail(errno);
  }
  if (unnamed_) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    // A new target is named at once; an existing one is replaced in one
    // step through a temporary name.
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno != EEXIST) return fail(errno);
      temp_ = DirOf(path_) + "/." + NameOf(path_) + ".XXXXXX.part";
      // mkstemps only picks a free name; linkat needs it absent.
      const int probe = ::mkostemps(temp_.data(), 5, O_CLOEXEC);
      if (probe < 0) {
        const int err = errno;
        temp_.clear();
        return fail(err);
      }
      ::close(probe);
      ::unlink(temp_.c_str());
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return fail(errno);
      if (::rename(temp_.c_str(), path_.c_str()) != 0) return fail(errno);
      temp_.clear();
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    // The data is already linked: a late close error (NFS) still means the
    // write may not have arrived.
    if (rc != 0) {
      SetError(error, path_ + ": " + SysError(errno));
      return false;
    }
    return true;
  }
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) return fail(errno);
  if (::rename(temp_.c_str(), path_.c_str()) != 0) return fail(errno);
  temp_.clear();
  return true;
}

void TAtomicFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool WriteFileAtomic(const std::string &path, std::string_view data, std::string *error,
                     TAtomicFile::TSync sync) {
  TAtomicFile file(path);
  return file.Open(error) && file.Write(data, error) && file.Commit(sync, error);
}

}  // namespace tachora
