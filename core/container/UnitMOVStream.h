// Byte streams under the MOV reader and writer: a file (POSIX descriptor)
// or a block of memory (for fuzzing and tests), with a current position,
// big-endian number helpers, a small read cache for the many short reads
// of the atom walk and a write buffer for the many short writes of the
// movie atom.
//
// Positions and sizes are signed 64-bit byte offsets. Short reads and I/O
// errors throw TMOVError; the reader catches it, so hostile files only end
// the walk. A stream belongs to one object and one thread at a time.
//
// CopyFrom queues a byte range of another stream to be appended to this
// one; contiguous ranges are merged and moved in large blocks by the
// kernel between two files (nothing passes through user space) and through
// a buffer otherwise. Onto a file system that may share blocks or copy on
// its server (XFS, Btrfs, NFS...), the kernel copies with copy_file_range.
// Onto ext4, and from another file system, the stream splices through a
// pipe of 1 MiB of its own, each trip ending on a MiB of the new file:
// copy_file_range could only splice there too, through a pipe of 64 KiB,
// and the page cache then takes the new file in pieces 16 times smaller
// (a cut of 300 MB costs about a quarter more so).
//
// CopyAligned first leaves a gap so that the range lands at the offset
// within a block (BlockSize) that it has in its source. A range laid out
// so is copied as its partial first block, its whole blocks and its
// partial last block: on a file system that shares blocks between files
// (XFS with reflink, Btrfs) the kernel then shares the whole blocks with
// the source instead of copying them, and elsewhere the page cache copies
// whole pages instead of pieces of two.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tachora {

class TMOVError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The output file could not be written (disk full, file too large, I/O
// error). Unlike damaged input, which only loses what it held, this leaves
// the new file without the bytes its tables describe.
class TMOVWriteError : public TMOVError {
 public:
  using TMOVError::TMOVError;
};

// A recording could not deliver bytes its tables name: it was truncated or
// changed while it was copied. What was written holds zeros in their place.
class TMOVSourceError : public TMOVError {
 public:
  using TMOVError::TMOVError;
};

class TMOVStream {
 public:
  // Opens an existing file for reading (nullptr when it cannot be opened).
  static std::unique_ptr<TMOVStream> OpenRead(const std::string &path,
                                              std::string *error = nullptr);
  // Creates or truncates a file for writing (nullptr on failure).
  static std::unique_ptr<TMOVStream> CreateWrite(const std::string &path,
                                                 std::string *error = nullptr);
  // Writes to a descriptor the caller owns and closes (an unnamed file
  // that is linked under its name once complete); it must be empty.
  static std::unique_ptr<TMOVStream> WrapWrite(int fd);
  // A read-only view of memory that the caller keeps alive.
  static std::unique_ptr<TMOVStream> FromMemory(const uint8_t *data, size_t size);
  ~TMOVStream();
  TMOVStream(const TMOVStream &) = delete;
  TMOVStream &operator=(const TMOVStream &) = delete;

  int64_t Size() const;
  int64_t Position() const { return fPos + fPendingLen; }
  void Seek(int64_t pos);
  void Skip(int64_t n) { Seek(Position() + n); }

  // Reads exactly n bytes at the position or throws.
  void Read(void *buf, size_t n);
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  uint64_t ReadU64();
  // Reads at an absolute position without moving the position; returns the
  // count read (short at the end of the data).
  size_t ReadAt(int64_t pos, void *buf, size_t n) const;

  void Write(const void *buf, size_t n);
  void WriteU32(uint32_t v);
  void WriteU64(uint64_t v);
  // Overwrites bytes at an absolute position inside what was written.
  void WriteAt(int64_t pos, const void *buf, size_t n);
  // Appends n bytes of src from srcPos (see the header comment).
  void CopyFrom(const TMOVStream &src, int64_t srcPos, int64_t n);
  // Bytes (0 .. BlockSize() - 1) from the position to the next one at
  // srcPos's offset within a block.
  int64_t AlignmentGap(int64_t srcPos) const;
  // Appends like CopyFrom after leaving AlignmentGap(srcPos) bytes
  // unwritten (they read as zeros; none when the range continues the one
  // queued before it); returns the position of the range's first byte.
  int64_t CopyAligned(const TMOVStream &src, int64_t srcPos, int64_t n);
  // The block size that copies are aligned to: 4 KiB (a page), or the
  // block of a file system that shares blocks between files (XFS, Btrfs) when
  // larger, up to 64 KiB (what a gap may cost).
  int64_t BlockSize() const;
  // Writes out everything buffered or queued.
  void Flush();
  // Cuts or extends the file to `size` bytes.
  void SetSize(int64_t size);
  bool IsFile() const { return fFd >= 0; }
  // Ranges handed to the kernel to copy (benchmarks).
  int64_t CopyCalls() const { return fCopyCalls; }
  // Bytes of copied ranges that the source could not deliver (written as
  // zeros so that the layout stays as planned).
  int64_t MissingBytes() const { return fMissingBytes; }

 private:
  TMOVStream() = default;
  void FlushWrite();
  void RawWrite(int64_t pos, const void *buf, size_t n);
  void FlushCopy();
  // The kernel's copy of n bytes, advancing both offsets; false when the
  // kernel cannot copy (the rest goes through the buffer).
  bool KernelCopy(const TMOVStream &src, int64_t &from, int64_t &to, int64_t n);
  bool RangeCopy(const TMOVStream &src, int64_t &from, int64_t &to, int64_t n);
  bool SpliceCopy(const TMOVStream &src, int64_t &from, int64_t &to, int64_t n);
  void ClosePipe();
  void FillCache(int64_t pos);

  int fFd = -1;
  bool fOwnsFd = true;
  bool fWritable = false;
  const uint8_t *fMem = nullptr;
  int64_t fMemSize = 0;
  mutable int64_t fFileSize = 0;
  int64_t fPos = 0;  // position, not counting a queued copy
  // Read cache: bytes [fCachePos, fCachePos + fCache.size()).
  std::vector<uint8_t> fCache;
  int64_t fCachePos = 0;
  // Write buffer: bytes for [fWritePos, fWritePos + fWriteBuf.size()).
  std::vector<uint8_t> fWriteBuf;
  int64_t fWritePos = 0;
  // Queued copy from another stream, appended at fPos.
  const TMOVStream *fPendingSrc = nullptr;
  int64_t fPendingSrcPos = 0;
  int64_t fPendingLen = 0;
  std::vector<uint8_t> fCopyBuf;
  int64_t fMissingBytes = 0;
  int64_t fCopyCalls = 0;
  mutable int64_t fBlockSize = 0;  // 0: not asked yet
  int fSplice = -1;                // splice rather than copy_file_range; -1: not asked yet
  int fPipe[2] = {-1, -1};         // for splicing, made at the first copy
  int64_t fPipeSize = 0;           // its capacity in bytes
};

}  // namespace tachora
