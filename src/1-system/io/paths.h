// Folder and file names of a tree run: joining, full names, the order of
// names. Which folder lies inside which is told by identity, not by names
// (io/file_system.h).
#ifndef KORVANE_IO_PATHS_H_
#define KORVANE_IO_PATHS_H_

#include <string>

#include "platform/win32.h"

#ifdef _WIN32
const char kPathSeparator = '\\';
#else
const char kPathSeparator = '/';
#endif

bool IsPathSeparator(char c);

// folder + separator + name; name alone when folder is empty.
std::string JoinPath(const std::string& folder, const std::string& name);

// The absolute form of name with "." and ".." dropped and no separator at
// the end (but for a root such as "/" or "C:\"). False when the system
// cannot make one; *error is the system's code.
bool FullPath(const std::string& name, std::string* full, DWORD* error);

// fullPath with the symbolic links (on Windows also junctions and short
// names) of its longest existing part resolved and the rest appended as it
// is; fullPath itself where not even its root can be resolved.
std::string WithLinksResolved(const std::string& fullPath);

// The last name of a full path; empty for a root.
std::string LastName(const std::string& fullPath);
// Everything before the last name, without the separator; for "/a" that
// is "/".
std::string ParentPath(const std::string& fullPath);

// Compares names for listing order: without regard to ASCII case first,
// then byte by byte, so that the order is the same on every system.
int CompareNames(const std::string& a, const std::string& b);

#endif  // KORVANE_IO_PATHS_H_
