// What the Windows units of the OS interface share: wide paths and errors.
#pragma once

#include <windows.h>

#include <string>

#include "os/os.h"

namespace skov::os::win32 {

// The path as the W functions take it: long ones absolute and with the
// \\?\ prefix, so that no name is cut at MAX_PATH.
std::wstring Native(TextView path);
Text FromWide(const wchar_t* text, size_t n);
inline Text FromWide(const std::wstring& text) { return FromWide(text.data(), text.size()); }

// The fault a Windows error code stands for.
Fault FaultOf(DWORD error);
// Throws Failure for `error` (GetLastError's value), naming what failed.
[[noreturn]] void Fail(DWORD error, const std::string& what, TextView path = {});
[[noreturn]] inline void FailLast(const std::string& what, TextView path = {}) { Fail(::GetLastError(), what, path); }

inline HANDLE HandleOf(const File& file) { return reinterpret_cast<HANDLE>(file.Native()); }
inline intptr_t NativeOf(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

// Whether a handle that opened a path (links followed) holds file data:
// a disk file, no folder, no reparse point but those the system serves as
// a file's content (cloud placeholders, deduplicated or compressed files).
bool HoldsFileData(HANDLE handle);

// The file's identity, size, time and attributes.
FileInfo InfoOf(HANDLE handle);

}  // namespace skov::os::win32
