#include "platform/Waits.h"

#include <new>
#include <vector>

namespace {

constexpr const wchar_t* kEveryone = L"Everyone";

// The SID of Everyone on the local machine, or an empty vector with the lookup's last error.
std::vector<BYTE> LookupEveryone()
{
    DWORD sidSize = 0;
    DWORD domainChars = 0;
    SID_NAME_USE use{};
    // The first call only measures.
    ::LookupAccountNameW(nullptr, kEveryone, nullptr, &sidSize, nullptr, &domainChars, &use);
    if (sidSize == 0) {
        return {};
    }
    std::vector<BYTE> sid(sidSize);
    std::vector<wchar_t> domain(domainChars + 1);
    if (!::LookupAccountNameW(nullptr, kEveryone, sid.data(), &sidSize, domain.data(),
                              &domainChars, &use)) {
        return {};
    }
    return sid;
}

// The same group by its well-known SID. Its name is translated on localized systems ("Jeder",
// "Tout le monde"), where the lookup by name fails and the service would otherwise run without a
// stop event: no bounded stop and no registry watcher.
std::vector<BYTE> WellKnownEveryone()
{
    DWORD sidSize = SECURITY_MAX_SID_SIZE;
    std::vector<BYTE> sid(sidSize);
    if (!::CreateWellKnownSid(WinWorldSid, nullptr, sid.data(), &sidSize)) {
        return {};
    }
    sid.resize(sidSize);
    return sid;
}

}  // namespace

os::UniqueHandle CreateNamedEvent(const wchar_t* name)
{
    std::vector<BYTE> everyone = LookupEveryone();
    if (everyone.empty()) {
        everyone = WellKnownEveryone();
    }
    if (everyone.empty()) {
        return {};
    }
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                          ::GetLengthSid(const_cast<BYTE*>(everyone.data()));
    std::vector<BYTE> aclBuffer(aclSize);
    auto* acl = reinterpret_cast<ACL*>(aclBuffer.data());
    SECURITY_DESCRIPTOR descriptor{};
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, EVENT_ALL_ACCESS,
                               const_cast<BYTE*>(everyone.data())) ||
        !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) {
        return {};
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
    return os::UniqueHandle(::CreateEventW(&attributes, TRUE, FALSE, name));
}

DWORD WaitWithMessagePump(DWORD count, const HANDLE* handles, DWORD timeoutMs)
{
    std::vector<HANDLE> copy;
    try {
        copy.assign(handles, handles + count);
    } catch (const std::bad_alloc&) {
        return kWaitNoMemory;
    }

    for (;;) {
        const DWORD result =
            ::MsgWaitForMultipleObjects(count, copy.data(), FALSE, timeoutMs, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + count) {
            return result;
        }
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
            if (message.message == WM_QUIT) {
                break;
            }
        }
    }
}

bool StopSignalledWithin(HANDLE stopEvent, DWORD timeoutMs)
{
    const HANDLE handles[] = {stopEvent};
    return WaitWithMessagePump(1, handles, timeoutMs) == WAIT_OBJECT_0;
}

os::UniqueHandle OpenStopEvent()
{
    return os::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, kStopEventName));
}
