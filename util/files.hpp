// Files and folders by path, and the folders the program keeps its data in. Paths are UTF-8;
// operations that change something return 0 or a Windows error number.
#pragma once

#include "util/handle.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace tnw::util {

// The Windows error number for a failed operation on `path`: a missing name is 2 (file not
// found) when its folder exists and 3 (path not found) when the folder is missing too.
std::uint32_t fileError(const std::string& path, int errnoValue);

// Copies the contents, permissions and times. Without `overwrite` an existing target fails
// (80); with it the target is replaced atomically, so readers see the old file or the whole
// new one. A failed copy leaves no partial target. Clones the blocks where the file system
// can, otherwise copies inside the kernel.
std::uint32_t copyFile(const std::string& from, const std::string& to, bool overwrite);
// Copies an open file, its descriptor still at the start, into a new file `to` (an existing name
// fails, 80); the target gets the times of the source and the permissions of any new file.
std::uint32_t copyOpenFile(const Handle& source, const std::string& to);
// A second name `to` for the file `from` (a hard link: the same file, no bytes copied); an
// existing `to` fails (80), and so do names on two file systems.
std::uint32_t linkFile(const std::string& from, const std::string& to);
// Gives the name `path` a file of its own: a copy of the file it names (contents and times,
// the permissions of a new file) takes the name in one rename, while other names of the old
// file keep it unchanged. A link at `path` is not followed; a failure leaves the name as it was.
std::uint32_t unshareFile(const std::string& path);
// Leaves the owner alone able to read the file, and nobody to write it; a link is not followed.
std::uint32_t makeReadOnly(const std::string& path);
// Replaces `to` atomically when it exists; both must be on one file system.
std::uint32_t renameFile(const std::string& from, const std::string& to);
std::uint32_t removeFile(const std::string& path);
// Gives the file the run bit for everyone who may read it; 0 or a Windows error number.
std::uint32_t makeExecutable(const std::string& path);

bool exists(const std::string& path);
bool isFolder(const std::string& path);
// Bytes in the file; 0 when it cannot be read.
std::uint64_t fileSize(const std::string& path);

// Creates every missing folder along the path; 0 when it is a folder afterwards.
std::uint32_t createFolders(const std::string& path);
// Deletes the folder with everything in it, depth first. Symbolic links inside are removed as
// links and never followed, and other mounted file systems are not entered; a `path` that is
// itself a link loses only the link. 0 when the folder is gone.
std::uint32_t removeFolder(const std::string& path);
// Names of the entries of a folder, without "." and "..", sorted; empty on failure.
std::vector<std::string> listFiles(const std::string& folder);

// $TMPDIR, or /tmp.
std::string tempFolder();

namespace special_folder {
inline constexpr int kCommonApplicationData = 0; // /var/lib
inline constexpr int kApplicationData = 1;       // $XDG_CONFIG_HOME or ~/.config
inline constexpr int kLocalApplicationData = 2;  // $XDG_DATA_HOME or ~/.local/share
inline constexpr int kDocuments = 3;             // $XDG_DOCUMENTS_DIR or ~/Documents
inline constexpr int kDesktop = 4;               // $XDG_DESKTOP_DIR or ~/Desktop
inline constexpr int kWindows = 5;               // none here: empty
inline constexpr int kSystem = 6;                // /usr/bin
inline constexpr int kCommonProgramFiles = 7;    // /opt
} // namespace special_folder

// One of the folders above; empty for an unknown index or when the home folder is unknown.
std::string specialFolder(int index);

// `name` inside `folder`: an absolute name is returned as it is, an empty folder gives the
// name, and exactly one "/" separates them.
std::string joinPath(const std::string& folder, const std::string& name);

// The running program's own file, and the folder holding it.
std::string programPath();
std::string programFolder();
// The folder part of a path: "." for a bare name, "/" for names in the root.
std::string folderOf(const std::string& path);

} // namespace tnw::util
