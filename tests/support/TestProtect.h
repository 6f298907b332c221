// A folder whose files cannot be deleted, as on a write-protected card:
// no write permission for an ordinary user; root, whom permissions do not
// stop, gets the folder's immutable flag instead.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace tachora::test {

// True when the folder's files can no longer be deleted (or again can be,
// with `on` false); false where neither way works (a test then skips).
inline bool ProtectFolder(const std::string &dir, bool on) {
  if (::geteuid() != 0) return ::chmod(dir.c_str(), on ? 0555 : 0755) == 0;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

// Protects a folder for the life of the object.
class TProtectedFolder {
 public:
  explicit TProtectedFolder(std::string dir) : dir_(std::move(dir)) {
    ok_ = ProtectFolder(dir_, true);
  }
  ~TProtectedFolder() {
    if (ok_) ProtectFolder(dir_, false);
  }
  TProtectedFolder(const TProtectedFolder &) = delete;
  TProtectedFolder &operator=(const TProtectedFolder &) = delete;
  bool Ok() const { return ok_; }

 private:
  std::string dir_;
  bool ok_ = false;
};

}  // namespace tachora::test
