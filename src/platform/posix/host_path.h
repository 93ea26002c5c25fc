// The one seam between the program's Windows-form paths and the host's paths, as Wine maps
// drives: Z: is the Linux root, C: is $QXWEB_PREFIX/drive_c. Every layer function that takes or
// returns a path goes through here.
#pragma once

#include <string>

namespace qx {

// $QXWEB_PREFIX, else $HOME/.qxwebhelper (read at each call, so tests can point it elsewhere).
std::string PrefixFolder();

// Windows form -> host path. Both separators are accepted and runs of them collapse to one;
// "Z:\a" -> "/a", "C:\a" -> "<prefix>/drive_c/a", "\a" -> "/a" (root of the current drive,
// which is Z:), "a\b" -> "a/b" (relative stays relative). The prefix "\\?\" is ignored. Any
// other drive letter, or an empty path, fails with ERROR_PATH_NOT_FOUND set. Translating a C:
// path makes <prefix>/drive_c exist, as C:\ always does on Windows.
bool ToHostPath(const std::wstring& windowsPath, std::string* hostPath);
// The same for a narrow path in the ANSI code page: a character it could not hold arrived as '?'
// and names another file, as on Windows.
bool ToHostPath(const char* windowsPath, std::string* hostPath);

// True when the path names a volume, "\\.\X:" (no trailing separator, which would be the drive's
// root folder), of a drive that exists; root is then the host folder of that drive's root, whose
// file system stands for the volume ("/" for Z:).
bool VolumeRoot(const std::wstring& windowsPath, std::string* root);

// Host path -> Windows form: an absolute path becomes "Z:\...", a relative one only changes its
// separators.
std::wstring ToWindowsPath(const std::string& hostPath);

// The last component of a host path, ignoring trailing slashes ("" for "/").
std::string LastComponent(const std::string& hostPath);

// The folder that holds the path's last component: "." for a bare name, "/" for "/a" and "/".
std::string ParentFolder(const std::string& hostPath);

// The path without trailing slashes ("/" stays "/").
std::string WithoutTrailingSlashes(const std::string& hostPath);

}  // namespace qx
