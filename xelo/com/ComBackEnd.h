// Which COM the library is built on.
//
// On Windows the library uses the system's own COM (the SDK's headers and
// ole32/oleaut32), which reaches local and remote servers through the
// system's marshalling and DCOM. Everywhere else it uses its portable
// runtime, where servers live in the client's process. A Windows build can
// still choose the portable runtime (XELO_COM_PORTABLE, set by the build
// option XELO_COM=portable) to test it under Windows' C runtime.
#pragma once

#if defined(_WIN32) && !defined(XELO_COM_PORTABLE)
#define XELO_COM_NATIVE 1
#else
#define XELO_COM_NATIVE 0
#endif
