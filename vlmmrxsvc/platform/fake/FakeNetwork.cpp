#include "platform/fake/FakeNetwork.h"

#include <cstring>
#include <cwctype>

namespace os::fake {
namespace {

constexpr DWORD kInvalidLevel = 124;  // ERROR_INVALID_LEVEL

bool HasDrive(const wchar_t* path)
{
    return path != nullptr && path[0] != L'\0' && path[1] == L':';
}

wchar_t Letter(const wchar_t* path) { return static_cast<wchar_t>(std::towupper(path[0])); }

}  // namespace

DWORD FakeNetwork::Find(const wchar_t* path, Drive& drive) const
{
    if (!HasDrive(path)) {
        return ERROR_BAD_DEVICE;
    }
    const std::lock_guard lock(mutex_);
    const auto found = drives_.find({security_.ThreadUser(), Letter(path)});
    if (found == drives_.end()) {
        return ERROR_NOT_CONNECTED;
    }
    drive = found->second;
    return NO_ERROR;
}

DWORD FakeNetwork::WNetGetUniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer,
                                         DWORD* bytes)
{
    if (infoLevel != UNIVERSAL_NAME_INFO_LEVEL) {
        return kInvalidLevel;
    }
    Drive drive;
    if (const DWORD error = Find(localPath, drive); error != NO_ERROR) {
        return error;
    }
    if (!drive.connected) {
        return ERROR_CONNECTION_UNAVAIL;
    }
    const std::wstring universal = drive.remote + (localPath + 2);
    const auto textBytes = static_cast<DWORD>((universal.size() + 1) * sizeof(wchar_t));
    const auto needed = static_cast<DWORD>(sizeof(UNIVERSAL_NAME_INFOW)) + textBytes;
    if (buffer == nullptr || *bytes < needed) {
        *bytes = needed;
        return ERROR_MORE_DATA;
    }
    // The structure first, its text right behind it, as the provider lays them out.
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(info + 1);
    std::memcpy(text, universal.c_str(), textBytes);
    info->lpUniversalName = text;
    return NO_ERROR;
}

DWORD FakeNetwork::WNetGetConnectionW(const wchar_t* localName, wchar_t* remoteName, DWORD* chars)
{
    Drive drive;
    if (const DWORD error = Find(localName, drive); error != NO_ERROR) {
        return error;
    }
    const auto needed = static_cast<DWORD>(drive.remote.size() + 1);
    if (remoteName == nullptr || *chars < needed) {
        *chars = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(remoteName, drive.remote.c_str(), needed * sizeof(wchar_t));
    // A remembered drive still names its share, with the answer that it is not connected.
    return drive.connected ? NO_ERROR : ERROR_CONNECTION_UNAVAIL;
}

void FakeNetwork::Connect(const std::wstring& user, const std::wstring& drive,
                          const std::wstring& remote)
{
    const std::lock_guard lock(mutex_);
    drives_[{user, Letter(drive.c_str())}] = Drive{remote, true};
}

void FakeNetwork::Remember(const std::wstring& user, const std::wstring& drive,
                           const std::wstring& remote)
{
    const std::lock_guard lock(mutex_);
    drives_[{user, Letter(drive.c_str())}] = Drive{remote, false};
}

}  // namespace os::fake
