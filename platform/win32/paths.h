#pragma once
// Windows-style paths on the real file system: backslashes and a drive prefix ("C:\\") are accepted,
// and every component is matched case-insensitively against the real directory entries (an exact
// match is preferred; among several case-insensitive matches the smallest name in byte order wins).
// Components that do not exist are kept as written, so new files can be created.
#include <cstdio>
#include <string>

namespace ferolt::win32
{
std::string ResolvePath(const char* path);

// fopen through the same path rules. A directory is refused (errno EISDIR) where a file is expected;
// the mode may carry the original's extra letters ("t", "S", "R", "T", "D", "N", ",ccs=..."), which are
// ignored.
FILE* OpenCFile(const char* path, const char* mode);

// True when the name matches the pattern with * and ?, ignoring ASCII case; a pattern ending in ".*"
// also matches the name without an extension, so "*.*" matches every name.
bool MatchWildcard(const char* pattern, const char* name);
} // namespace ferolt::win32
