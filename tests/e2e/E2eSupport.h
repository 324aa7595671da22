// What the end-to-end tests share: the executable beside them, a way to run it by hand, and the
// removal of everything that registration may leave, so that each test starts from a clean
// prefix whatever the one before it did.
#pragma once

#include "platform/UniqueResource.h"

#include <chrono>
#include <optional>
#include <string>

namespace e2e {

using Clock = std::chrono::steady_clock;

inline constexpr const wchar_t* kServiceName = L"Velmora 64-bit Virtual Memory Optimization";
inline constexpr const wchar_t* kAppIdGuid = L"{5B0A6C3E-91D4-4E27-A8F3-2C7D90E1B645}";
inline constexpr const wchar_t* kAppIdPath = L"AppID\\{5B0A6C3E-91D4-4E27-A8F3-2C7D90E1B645}";
inline constexpr const wchar_t* kExecutableAppIdPath = L"AppID\\vlmmrxsvc.EXE";
inline constexpr const wchar_t* kSettingsPath = L"SOFTWARE\\Velmora\\MRX";
// {273EEBCE-BBFB-4E37-A725-C029D70B671E}
inline constexpr GUID kTypeLibraryId = {
    0x273EEBCE, 0xBBFB, 0x4E37, {0xA7, 0x25, 0xC0, 0x29, 0xD7, 0x0B, 0x67, 0x1E}};
inline constexpr WORD kTypeLibraryMajor = 1;
inline constexpr WORD kTypeLibraryMinor = 0;
inline constexpr LCID kTypeLibraryLocale = 0x0409;

std::wstring ServiceExecutable();

// Runs the executable with `arguments` appended to its quoted path and returns its exit code
// (a failure of the test when it cannot be started or does not end in time).
DWORD RunByHand(const std::wstring& arguments);

// Polls until the service reports `state`; the status last seen either way.
SERVICE_STATUS_PROCESS WaitForState(SC_HANDLE service, DWORD state, Clock::duration timeout);

// The text of a REG_SZ value under HKEY_CLASSES_ROOT, or nothing when it is absent.
std::optional<std::wstring> ClassesText(const wchar_t* path, const wchar_t* name);
bool ClassesKeyExists(const wchar_t* path);

// Writes the AppID's "LocalService" value, as registration does, so that the executable started
// by the service control manager enters service mode.
void MarkAsService();

// Stops and deletes the service, removes the AppID keys, the type library and the settings key.
void RemoveEverything();

}  // namespace e2e
