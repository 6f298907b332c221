// Writing a file so that it is either complete or absent: the one rule that
// the cutter, the track writers and the copy engine share.
//
// TAtomicFile writes into a file without a name (O_TMPFILE) and links it
// under its final name only on Commit(); a file system without unnamed
// files (FAT cards and sticks) gets a hidden temporary name beside the
// target instead, renamed on Commit(). Until Commit() succeeds nothing with
// the final name changes: an existing file stays as it was, and a crash or
// a failed write leaves at most a hidden ".<name>.XXXXXX.part" file behind
// (only on file systems without unnamed files). Such leftovers of our own
// (the name pattern above, untouched for kStaleTempSeconds) are removed
// the next time a named temporary file is made in that folder.
//
// A new file gets the permissions the user's umask allows; a file that is
// replaced keeps its permission bits (SetMode overrides both). One object
// belongs to one thread; different objects may be used on any threads.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace tachora {

class TAtomicFile {
 public:
  explicit TAtomicFile(std::string path);
  ~TAtomicFile();  // discards what was not committed
  TAtomicFile(const TAtomicFile &) = delete;
  TAtomicFile &operator=(const TAtomicFile &) = delete;

  // Uses a named temporary file even where unnamed files work (tests of the
  // FAT path). Call before Open.
  void PreferNamedTemp() { preferNamed_ = true; }
  // Creates the unnamed or temporary file. False with `error` set (the
  // system's message) when the folder cannot take a new file.
  bool Open(std::string *error = nullptr);
  // The descriptor to write to (O_WRONLY, close-on-exec); -1 before Open.
  int Fd() const { return fd_; }
  // The temporary path when the file has one (empty for an unnamed file).
  const std::string &TempPath() const { return temp_; }
  const std::string &Path() const { return path_; }

  // Writes all of `data` at the current offset, retrying short writes and
  // EINTR. False with `error` on a write error (disk full).
  bool Write(std::string_view data, std::string *error = nullptr);
  // Permission bits the committed file gets instead of the default.
  void SetMode(mode_t mode) {
    mode_ = mode;
    modeSet_ = true;
  }

  // Removable: Data when the file lies on a memory card or USB stick
  // (IsRemovableStorage), which the user pulls once told the file is
  // written; None elsewhere, where the page cache reaches the disk anyway.
  enum class TSync { None, Data, Removable };
  // Gives the file its final name, replacing what had it. With TSync::Data
  // the data reaches the disk first (fdatasync), so even a power cut never
  // shows a complete-looking file with missing data. False with `error`
  // set; the target is then unchanged and the temporary file removed.
  bool Commit(TSync sync = TSync::None, std::string *error = nullptr);
  // Removes the temporary file; the target stays as it was.
  void Discard();

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
  bool unnamed_ = false;
  mode_t mode_ = 0;
  bool modeSet_ = false;
  bool preferNamed_ = false;
};

// Writes `data` as the whole file `path` through a TAtomicFile, flushed to
// the disk first on removable storage (or always with TSync::Data).
bool WriteFileAtomic(const std::string &path, std::string_view data, std::string *error = nullptr,
                     TAtomicFile::TSync sync = TAtomicFile::TSync::Removable);

// Hidden temporaries left by writes that were cut short: removed when not
// modified for this long (a write in progress changes its file all along).
constexpr int kStaleTempSeconds = 3600;
// Removes from `folder` our own stale temporary files (".<name>.XXXXXX.part",
// regular, owned by this user, older than `maxAgeSeconds`); returns how
// many were removed. Nothing else in the folder is touched.
int RemoveStaleTemporaries(const std::string &folder, int maxAgeSeconds = kStaleTempSeconds);

// For tests: the number of fdatasync calls Commit has made in this process,
// and a switch that makes TSync::Removable flush everywhere (no card in a
// test machine).
uint64_t DataSyncCount();
void TreatAllStorageAsRemovable(bool on);

// The permission bits a new file at `path` gets: those of the file it
// replaces, else 0666 less the user's umask.
mode_t NewFileMode(const std::string &path);

}  // namespace tachora
