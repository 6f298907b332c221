// The catalogue's view of the desktop on Linux: the "locked" state as the
// absence of write permission, the mounted removable USB drives, the
// desktop folder, the program's folder. File times, sizes and
// case-insensitive look-ups are the shared ones of app/UnitFileSystem.h.
//
// Times are local TDateTime values (days, see app/UnitUtils.h), 0 when the
// file system does not know them (birth time on many file systems). Sizes
// are bytes, -1 when unknown. All functions are thread-safe and never throw;
// failures give the defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/UnitFileSystem.h"
#include "app/UnitUtils.h"

namespace tachora {

// Locking clears all three write bits; unlocking gives the owner's back.
// Other mode bits are kept. False when the mode cannot be changed.
bool SetFileLocked(const std::string &path, bool locked);

// The user's desktop folder: $XDG_DESKTOP_DIR, else the XDG_DESKTOP_DIR line
// of ~/.config/user-dirs.dirs, else ~/Desktop; empty without a home folder.
std::string DesktopFolder();
// The user's home folder as the file system names it (symbolic links
// resolved, as getcwd gives the current folder): $HOME, else the password
// database; empty when neither is known.
std::string HomeFolder();
// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();
// The mount point that holds `path` (longest mount-point prefix).
std::string MountPointOf(const std::string &path);

// Mounted file systems whose block device is removable or sits on a USB bus,
// that can be read and report a positive size. Mount points with "/".
std::vector<std::string> RemovableUsbDrives();
// Parses /proc/self/mounts text into (device, mount point) pairs, undoing
// the octal escapes of blanks.
std::vector<std::pair<std::string, std::string>> ParseMounts(const std::string &text);

}  // namespace tachora
