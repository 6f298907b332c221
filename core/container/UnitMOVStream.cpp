#include "container/UnitMOVStream.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tachora {

namespace {
constexpr size_t kCacheSize = 64 * 1024;
constexpr size_t kWriteBufSize = 1024 * 1024;
constexpr int64_t kMaxQueuedCopy = 64 * 1024 * 1024;
constexpr size_t kCopyBufSize = 4 * 1024 * 1024;
constexpr int64_t kMinBlock = 4096;
constexpr int64_t kMaxBlock = 64 * 1024;
// The largest pipe an unprivileged process may ask for by default
// (/proc/sys/fs/pipe-max-size); a pipe left smaller still works.
constexpr int kPipeSize = 1024 * 1024;

// ext4, where copy_file_range can do no more than splice (no shared
// blocks, no copy on a server) and a larger pipe was measured to be faster;
// on tmpfs it made no difference that stood out of the noise.
bool SplicesBest(long type) {
  return type == EXT4_SUPER_MAGIC;
}

std::string ErrnoText(const std::string &what) {
  return what + ": " + std::strerror(errno);
}
}  // namespace

std::unique_ptr<TMOVStream> TMOVStream::OpenRead(const std::string &path, std::string *error) {
  // Non-blocking so that a named pipe or device under a recording's name
  // cannot stall the open; only regular files are read.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (error) *error = ErrnoText(path);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = path + ": not a regular file";
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::unique_ptr<TMOVStream> s(new TMOVStream);
  s->fFd = fd;
  s->fFileSize = st.st_size;
  return s;
}

std::unique_ptr<TMOVStream> TMOVStream::CreateWrite(const std::string &path, std::string *error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error) *error = ErrnoText(path);
    return nullptr;
  }
  std::unique_ptr<TMOVStream> s(new TMOVStream);
  s->fFd = fd;
  s->fWritable = true;
  return s;
}

std::unique_ptr<TMOVStream> TMOVStream::WrapWrite(int fd) {
  std::unique_ptr<TMOVStream> s(new TMOVStream);
  s->fFd = fd;
  s->fOwnsFd = false;
  s->fWritable = true;
  return s;
}

std::unique_ptr<TMOVStream> TMOVStream::FromMemory(const uint8_t *data, size_t size) {
  std::unique_ptr<TMOVStream> s(new TMOVStream);
  s->fMem = data;
  s->fMemSize = static_cast<int64_t>(size);
  return s;
}

TMOVStream::~TMOVStream() {
  if (fFd >= 0) {
    try {
      if (fWritable) Flush();
    } catch (...) {
    }
    if (fOwnsFd) ::close(fFd);
  }
  ClosePipe();
}

void TMOVStream::ClosePipe() {
  for (int &end : fPipe) {
    if (end >= 0) ::close(end);
    end = -1;
  }
}

int64_t TMOVStream::Size() const {
  if (fFd < 0) return fMemSize;
  if (!fWritable) return fFileSize;
  return std::max(
      {fFileSize, fPos + fPendingLen, fWritePos + static_cast<int64_t>(fWriteBuf.size())});
}

void TMOVStream::Seek(int64_t pos) {
  if (pos < 0) throw TMOVError("seek before the start of the file");
  if (fWritable) Flush();
  fPos = pos;
}

size_t TMOVStream::ReadAt(int64_t pos, void *buf, size_t n) const {
  // An empty atom reads into an empty buffer, whose data() may be null.
  if (pos < 0 || n == 0) return 0;
  if (fFd < 0) {
    if (pos >= fMemSize) return 0;
    size_t k = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), fMemSize - pos));
    std::memcpy(buf, fMem + pos, k);
    return k;
  }
  size_t done = 0;
  auto *out = static_cast<uint8_t *>(buf);
  while (done < n) {
    ssize_t r = ::pread(fFd, out + done, n - done, pos + static_cast<int64_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw TMOVError(ErrnoText("read"));
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

void TMOVStream::FillCache(int64_t pos) {
  fCache.resize(kCacheSize);
  size_t got = ReadAt(pos, fCache.data(), kCacheSize);
  fCache.resize(got);
  fCachePos = pos;
}

void TMOVStream::Read(void *buf, size_t n) {
  if (n == 0) return;
  auto *out = static_cast<uint8_t *>(buf);
  if (fFd < 0 || n >= kCacheSize / 2) {
    if (ReadAt(fPos, out, n) != n) throw TMOVError("unexpected end of file");
    fPos += static_cast<int64_t>(n);
    return;
  }
  int64_t end = fCachePos + static_cast<int64_t>(fCache.size());
  if (fPos < fCachePos || fPos + static_cast<int64_t>(n) > end) {
    FillCache(fPos);
    end = fCachePos + static_cast<int64_t>(fCache.size());
    if (fPos + static_cast<int64_t>(n) > end) throw TMOVError("unexpected end of file");
  }
  std::memcpy(out, fCache.data() + (fPos - fCachePos), n);
  fPos += static_cast<int64_t>(n);
}

uint8_t TMOVStream::ReadU8() {
  uint8_t b;
  Read(&b, 1);
  return b;
}

uint16_t TMOVStream::ReadU16() {
  uint8_t b[2];
  Read(b, 2);
  return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

uint32_t TMOVStream::ReadU32() {
  uint8_t b[4];
  Read(b, 4);
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

uint64_t TMOVStream::ReadU64() {
  uint64_t hi = ReadU32();
  return hi << 32 | ReadU32();
}

void TMOVStream::Write(const void *buf, size_t n) {
  if (!fWritable) throw TMOVError("stream is read-only");
  if (fPendingLen) FlushCopy();
  if (fWriteBuf.empty()) fWritePos = fPos;
  if (fWritePos + static_cast<int64_t>(fWriteBuf.size()) != fPos) {
    FlushWrite();
    fWritePos = fPos;
  }
  const auto *p = static_cast<const uint8_t *>(buf);
  fWriteBuf.insert(fWriteBuf.end(), p, p + n);
  fPos += static_cast<int64_t>(n);
  if (fWriteBuf.size() >= kWriteBufSize) FlushWrite();
}

void TMOVStream::WriteU32(uint32_t v) {
  uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  Write(b, 4);
}

void TMOVStream::WriteU64(uint64_t v) {
  WriteU32(static_cast<uint32_t>(v >> 32));
  WriteU32(static_cast<uint32_t>(v));
}

void TMOVStream::WriteAt(int64_t pos, const void *buf, size_t n) {
  Flush();
  RawWrite(pos, buf, n);
}

void TMOVStream::RawWrite(int64_t pos, const void *buf, size_t n) {
  const auto *p = static_cast<const uint8_t *>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(fFd, p + done, n - done, pos + static_cast<int64_t>(done));
    if (w < 0) {
      if (errno == EINTR) continue;
      throw TMOVWriteError(ErrnoText("write"));
    }
    done += static_cast<size_t>(w);
  }
  fFileSize = std::max(fFileSize, pos + static_cast<int64_t>(n));
}

void TMOVStream::FlushWrite() {
  if (fWriteBuf.empty()) return;
  std::vector<uint8_t> buf;
  buf.swap(fWriteBuf);
  RawWrite(fWritePos, buf.data(), buf.size());
  buf.clear();
  fWriteBuf.swap(buf);  // keep the capacity
}

void TMOVStream::CopyFrom(const TMOVStream &src, int64_t srcPos, int64_t n) {
  if (!fWritable) throw TMOVError("stream is read-only");
  if (n <= 0) return;
  if (fPendingLen && fPendingSrc == &src && fPendingSrcPos + fPendingLen == srcPos) {
    if (fPendingLen + n <= kMaxQueuedCopy) {
      fPendingLen += n;
      return;
    }
    // Full: the queued copy ends where a block ends, so that the next one
    // starts on a boundary (no partial blocks between the two).
    const int64_t b = BlockSize();
    const int64_t take = (fPendingSrcPos + kMaxQueuedCopy) / b * b - srcPos;
    if (take > 0 && take < n) {
      fPendingLen += take;
      srcPos += take;
      n -= take;
    }
  }
  if (fPendingLen) FlushCopy();
  FlushWrite();
  fPendingSrc = &src;
  fPendingSrcPos = srcPos;
  fPendingLen = n;
}

int64_t TMOVStream::BlockSize() const {
  if (fBlockSize > 0) return fBlockSize;
  fBlockSize = kMinBlock;
  struct statfs fs {};
  if (fFd >= 0 && ::fstatfs(fFd, &fs) == 0 &&
      (fs.f_type == XFS_SUPER_MAGIC || fs.f_type == BTRFS_SUPER_MAGIC)) {
    // Elsewhere (a FAT card's clusters of 32 KiB) a larger unit only costs
    // room: nothing shares blocks there, and the page cache copies pages.
    const int64_t b = static_cast<int64_t>(fs.f_bsize);
    if (b > kMinBlock && b <= kMaxBlock && (b & (b - 1)) == 0) fBlockSize = b;
  }
  return fBlockSize;
}

int64_t TMOVStream::AlignmentGap(int64_t srcPos) const {
  const int64_t b = BlockSize();
  return ((srcPos - Position()) % b + b) % b;
}

int64_t TMOVStream::CopyAligned(const TMOVStream &src, int64_t srcPos, int64_t n) {
  if (!fWritable) throw TMOVError("stream is read-only");
  const bool continues =
      fPendingLen && fPendingSrc == &src && fPendingSrcPos + fPendingLen == srcPos;
  if (!continues && n > 0) {
    const int64_t gap = AlignmentGap(srcPos);
    if (gap > 0) {
      // A gap of nothing, not of the bytes between the ranges in the
      // source: those belong to tracks that were left out (the sound of a
      // picture-only fragment) and must not travel with it.
      Flush();
      fPos += gap;
    }
  }
  const int64_t at = Position();
  CopyFrom(src, srcPos, n);
  return at;
}

bool TMOVStream::KernelCopy(const TMOVStream &src, int64_t &from, int64_t &to, int64_t n) {
  if (n <= 0) return true;
  ++fCopyCalls;
  if (fSplice < 0) {
    struct statfs fs {};
    fSplice = ::fstatfs(fFd, &fs) == 0 && SplicesBest(static_cast<long>(fs.f_type)) ? 1 : 0;
  }
  const int64_t start = from;
  if (fSplice == 0 && RangeCopy(src, from, to, n)) return true;
  // Also where copy_file_range refused: a source on another file system
  // (a card) is spliced as well.
  return SpliceCopy(src, from, to, n - (from - start));
}

bool TMOVStream::RangeCopy(const TMOVStream &src, int64_t &from, int64_t &to, int64_t n) {
  while (n > 0) {
    loff_t in = from, out = to;
    const ssize_t r = ::copy_file_range(src.fFd, &in, fFd, &out, static_cast<size_t>(n), 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;  // not supported here, or the source ended
    from += r;
    to += r;
    n -= r;
  }
  return true;
}

bool TMOVStream::SpliceCopy(const TMOVStream &src, int64_t &from, int64_t &to, int64_t n) {
  if (fPipe[0] < 0) {
    if (::pipe2(fPipe, O_CLOEXEC) != 0) {
      fPipe[0] = fPipe[1] = -1;
      return false;
    }
    fPipeSize = ::fcntl(fPipe[1], F_SETPIPE_SZ, kPipeSize);
    if (fPipeSize <= 0) fPipeSize = ::fcntl(fPipe[1], F_GETPIPE_SZ);
    if (fPipeSize <= 0) fPipeSize = 64 * 1024;
  }
  while (n > 0) {
    // Each trip ends on a multiple of the pipe's size in the new file, so
    // that the page cache can take it as one piece.
    const int64_t want = std::min<int64_t>(n, fPipeSize - to % fPipeSize);
    loff_t in = from;
    const ssize_t r = ::splice(src.fFd, &in, fPipe[1], nullptr, static_cast<size_t>(want), 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;  // not supported here, or the source ended
    for (ssize_t left = r; left > 0;) {
      loff_t out = to;
      const ssize_t w = ::splice(fPipe[0], nullptr, fFd, &out, static_cast<size_t>(left), 0);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        // What is still in the pipe is read again by the caller's buffer.
        ClosePipe();
        return false;
      }
      from += w;
      to += w;
      n -= w;
      left -= w;
    }
  }
  return true;
}

void TMOVStream::FlushCopy() {
  if (!fPendingLen) return;
  const TMOVStream &src = *fPendingSrc;
  int64_t from = fPendingSrcPos, left = fPendingLen;
  fPendingLen = 0;  // Position() below must not count it twice
  int64_t to = fPos;
  if (src.fFd >= 0) {
    // When both ends lie at one offset within a block, the whole blocks go
    // in a call of their own: the kernel shares (reflinks) a range only
    // when it starts and ends on block boundaries in both files.
    const int64_t b = BlockSize();
    int64_t pieces[3] = {left, 0, 0};
    if ((from - to) % b == 0) {
      pieces[0] = std::min(left, (b - from % b) % b);
      pieces[1] = (left - pieces[0]) / b * b;
      pieces[2] = left - pieces[0] - pieces[1];
    }
    for (const int64_t piece : pieces) {
      const int64_t start = from;
      const bool ok = KernelCopy(src, from, to, piece);
      left -= from - start;
      if (!ok) break;
    }
  }
  if (left > 0) {
    if (fCopyBuf.size() < kCopyBufSize) fCopyBuf.resize(kCopyBufSize);
    while (left > 0) {
      size_t want = static_cast<size_t>(std::min<int64_t>(left, kCopyBufSize));
      size_t got = 0;
      try {
        got = src.ReadAt(from, fCopyBuf.data(), want);
      } catch (const TMOVError &) {
      }
      if (got < want) {
        // The source changed or failed under us: keep the layout that the
        // tables describe, with zeros, and let the caller report it.
        std::memset(fCopyBuf.data() + got, 0, want - got);
        fMissingBytes += static_cast<int64_t>(want - got);
      }
      RawWrite(to, fCopyBuf.data(), want);
      from += static_cast<int64_t>(want);
      to += static_cast<int64_t>(want);
      left -= static_cast<int64_t>(want);
    }
  }
  fFileSize = std::max(fFileSize, to);
  fPos = to;
}

void TMOVStream::Flush() {
  if (!fWritable) return;
  FlushCopy();
  FlushWrite();
}

void TMOVStream::SetSize(int64_t size) {
  Flush();
  if (::ftruncate(fFd, size) != 0) throw TMOVWriteError(ErrnoText("truncate"));
  fFileSize = size;
}

}  // namespace tachora
