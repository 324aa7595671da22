// An in-memory network provider for tests: each user's drive letters, connected to a share or
// remembered while disconnected. The calls answer for the user the calling thread acts as.
#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeServices.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace os::fake {

class FakeNetwork final : public INetwork {
public:
    explicit FakeNetwork(const FakeSecurity& security) : security_(security) {}

    DWORD WNetGetUniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer,
                                DWORD* bytes) override;
    DWORD WNetGetConnectionW(const wchar_t* localName, wchar_t* remoteName,
                             DWORD* chars) override;

    // Test controls. `drive` is a letter and a colon ("Z:"), `remote` a share ("\\\\host\\share").
    void Connect(const std::wstring& user, const std::wstring& drive, const std::wstring& remote);
    void Remember(const std::wstring& user, const std::wstring& drive,
                  const std::wstring& remote);

private:
    struct Drive {
        std::wstring remote;
        bool connected = false;
    };
    // The calling thread's user's drive named at the start of `path`, into `drive`; the
    // provider's answer when there is none.
    DWORD Find(const wchar_t* path, Drive& drive) const;

    const FakeSecurity& security_;
    mutable std::mutex mutex_;
    std::map<std::pair<std::wstring, wchar_t>, Drive> drives_;  // by user and upper-case letter
};

}  // namespace os::fake
