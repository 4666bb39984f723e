// Windows' own COM: the SDK's declarations, taken as they are.
//
// Every name the library uses with an SDK meaning (types, interfaces, result
// codes, functions) comes from here on Windows, so that a server, a proxy or
// a caller written against the SDK sees exactly what it expects. Include the
// xelo/com header of the subject (Variant.h, Guid.h, ...), not this one.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max stay callable
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

// clang-format off: the order matters (winsock2 before windows.h)
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <objidl.h>
#include <ocidl.h>
#include <olectl.h>
#include <comcat.h>
#include <cguid.h>
// clang-format on

// windows.h maps these generic names onto their A/W functions with macros,
// which would rename the library's own members and functions of the same
// name. The library calls the W functions by their full names.
#undef GetMessage
#undef PostMessage
#undef SendMessage
#undef DispatchMessage
#undef GetObject
#undef LoadString
#undef CreateWindow
#undef RegisterClass
#undef GetClassName
#undef FindWindow
#undef MessageBox
#undef CreateFile
#undef DeleteFile
#undef MoveFile
#undef CopyFile
#undef GetUserName
#undef GetComputerName
#undef FormatMessage
#undef RegisterClipboardFormat
#undef GetClipboardFormatName
#undef ReplaceFile
#undef interface
