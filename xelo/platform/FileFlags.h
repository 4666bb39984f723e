// Flags every file the libraries open with open(2) carries: the descriptor
// is not inherited by child processes, and on Windows the file is opened
// as bytes (the C runtime would otherwise translate line ends).
#pragma once

#include <fcntl.h>

namespace xelo::platform {

#if defined(_WIN32)
inline constexpr int kPrivateFileFlags = O_BINARY | O_NOINHERIT;
#else
inline constexpr int kPrivateFileFlags = O_CLOEXEC;
#endif

}  // namespace xelo::platform
