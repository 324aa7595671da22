// Impersonation and network names where Wine cannot produce the case: a network provider that
// converts, and a process or token that may not be opened. Each doubles one call.
#include "process/Impersonate.h"
#include "process/ModuleOpt.h"
#include "process/ProcessOpt.h"
#include "support/ImportPatch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using testing_support::ImportPatch;

// The owner's drives: Q: is connected to \\files\alice, Y: is remembered but disconnected.
DWORD WINAPI UniversalNameDouble(LPCWSTR path, DWORD, LPVOID buffer, LPDWORD bytes)
{
    const std::wstring_view text(path);
    const std::wstring name = L"\\\\files\\alice" + std::wstring(text.substr(2));
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    if (!text.starts_with(L"Q:") || *bytes < sizeof *info + sizeof(wchar_t) * (name.size() + 1)) {
        return text.starts_with(L"Y:") ? ERROR_CONNECTION_UNAVAIL : ERROR_NOT_CONNECTED;
    }
    // As a provider answers: the text follows the structure in the caller's buffer.
    info->lpUniversalName = reinterpret_cast<wchar_t*>(info + 1);
    info->lpUniversalName[name.copy(info->lpUniversalName, name.size())] = L'\0';
    return NO_ERROR;
}

// A remembered connection names its share while it reports it unavailable.
DWORD WINAPI ConnectionDouble(LPCWSTR drive, LPWSTR remote, LPDWORD chars)
{
    const std::wstring_view share = L"\\\\archive\\old";
    if (std::wstring_view(drive) != L"Y:" || *chars <= share.size()) {
        return ERROR_NOT_CONNECTED;
    }
    remote[share.copy(remote, share.size())] = L'\0';
    return ERROR_CONNECTION_UNAVAIL;
}

template <typename Result, typename... Arguments>
Result WINAPI Denied(Arguments...)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    return Result{};
}

template <typename Proc>
const void* AsDouble(Proc proc)
{
    return reinterpret_cast<const void*>(proc);
}

TEST(WineImpersonate, AProcessThatMayNotBeOpenedHasNoHandleNameUsageOrOwner)
{
    const ImportPatch denied("OpenProcess", AsDouble(&Denied<HANDLE, DWORD, BOOL, DWORD>));
    const DiscoveryContext context;
    CImpersonate owner(context.log);
    EXPECT_EQ(owner.Impersonate(::GetCurrentProcessId()), FALSE);
    CProcessOpt process(context);
    EXPECT_FALSE(process.Open(::GetCurrentProcessId()));
    EXPECT_FALSE(process.processHandle);
    std::wstring untouched = L"before";
    EXPECT_FALSE(process.GetName(untouched));
    EXPECT_EQ(untouched, L"before");
    EXPECT_EQ(process.GetPagefileUsage(), 0u);
}

TEST(WineImpersonate, APathTheServiceCannotReachIsNamedByTheShareTheOwnerSees)
{
    const DiscoveryContext context;
    const ImportPatch universal("WNetGetUniversalNameW", AsDouble(&UniversalNameDouble));
    const ImportPatch connection("WNetGetConnectionW", AsDouble(&ConnectionDouble));
    // Without the owner's token the path is stored as given and SetPath fails; the thread had a
    // token of its own meanwhile.
    struct Case {
        const wchar_t* path;
        bool tokenOpens;
        const wchar_t* stored;
    };
    const Case cases[] = {
        {L"Q:\\lib\\tool.dll", true, L"\\\\files\\alice\\lib\\tool.dll"},
        {L"Y:\\lib\\tool.dll", true, L"\\\\archive\\old\\lib\\tool.dll"},
        {L"Q:\\lib\\tool.dll", false, L"Q:\\lib\\tool.dll"},
        // Impersonated for all the same, but no provider converts a device path.
        {L"\\Device\\Mup\\tool.dll", true, L"\\Device\\Mup\\tool.dll"},
        {L"\\Device\\Mup\\tool.dll", false, L"\\Device\\Mup\\tool.dll"},
    };
    for (const auto& [path, tokenOpens, stored] : cases) {
        std::optional<ImportPatch> denied;
        if (!tokenOpens) {
            denied.emplace("OpenProcessToken", AsDouble(&Denied<BOOL, HANDLE, DWORD, PHANDLE>));
        }
        CModuleOpt record(context);
        record.processId = ::GetCurrentProcessId();
        EXPECT_EQ(record.SetPath(path), tokenOpens) << path;
        EXPECT_EQ(record.GetPath(), stored);
        os::UniqueHandle token;  // the thread acts as the service again, without a token
        EXPECT_FALSE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()));
    }
    EXPECT_FALSE(GetUniversalName(L"Q:\\lib\\tool.dll", nullptr, kModuleUniversalNameCapacity));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
