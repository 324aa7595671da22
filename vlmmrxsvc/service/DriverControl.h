// The control codes that the service sends to the stream driver's control device. The driver is
// not part of the service: it may be missing, and the service goes on without it.
#pragma once

#include "platform/Windows.h"

inline constexpr const wchar_t* kStreamDriverDevice = L"\\\\.\\VlmAltStr";

// Buffer-less codes of a disk file-system device, opened for reading.
constexpr DWORD StreamDriverCode(DWORD function)
{
    constexpr DWORD kDiskFileSystemDevice = 0x8;
    constexpr DWORD kReadAccess = 1;
    constexpr DWORD kMethodBuffered = 0;
    return (kDiskFileSystemDevice << 16) | (kReadAccess << 14) | (function << 2) | kMethodBuffered;
}

// After every successful settings load, at start and on every reload.
inline constexpr DWORD IOCTL_ALTSTR_SETTINGS_LOADED = StreamDriverCode(8);
// Last of the stop, after the worker and the watcher have ended.
inline constexpr DWORD IOCTL_ALTSTR_SERVICE_STOP = StreamDriverCode(9);
// Right after the first settings load, before the stop event and the threads exist.
inline constexpr DWORD IOCTL_ALTSTR_SERVICE_START = StreamDriverCode(10);

static_assert(IOCTL_ALTSTR_SETTINGS_LOADED == 0x00084020);
static_assert(IOCTL_ALTSTR_SERVICE_STOP == 0x00084024);
static_assert(IOCTL_ALTSTR_SERVICE_START == 0x00084028);
