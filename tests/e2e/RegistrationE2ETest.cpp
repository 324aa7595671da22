// The registration switches of the real executable against Wine's service control manager,
// registry, registrar and type-library registration.
#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <oleauto.h>

namespace {

using namespace e2e;

constexpr const wchar_t* kAppId = L"{5B0A6C3E-91D4-4E27-A8F3-2C7D90E1B645}";
const std::wstring kAppIdPath = std::wstring(L"AppID\\") + kAppId;
constexpr GUID kTypeLibraryId = {
    0x273EEBCE, 0xBBFB, 0x4E37, {0xA7, 0x25, 0xC0, 0x29, 0xD7, 0x0B, 0x67, 0x1E}};

// A text value under HKEY_CLASSES_ROOT (`name` null for the key's default); "-" when absent.
std::wstring ClassesText(const std::wstring& path, const wchar_t* name)
{
    wchar_t text[MAX_PATH] = {};
    DWORD bytes = sizeof text;
    return ::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text,
                          &bytes) == ERROR_SUCCESS ? text : L"-";
}

// The event source's message file and supported types as "FILE TYPES"; "-" while one is absent.
std::wstring EventSource()
{
    const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\") +
                             L"Application\\" + kServiceName;
    const auto read = [&key](const wchar_t* name, void* data, DWORD bytes) {
        return ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND,
                              nullptr, data, &bytes) == ERROR_SUCCESS;
    };
    wchar_t file[MAX_PATH] = {};
    DWORD types = 0;
    const bool found = read(L"EventMessageFile", file, sizeof file) &&
                       read(L"TypesSupported", &types, sizeof types);
    return found ? std::wstring(file) + L" " + std::to_wstring(types) : L"-";
}

// The number of types in the registered type library; 0 when none is registered.
UINT RegisteredTypeCount()
{
    ITypeLib* library = nullptr;
    if (FAILED(::LoadRegTypeLib(kTypeLibraryId, 1, 0, 0x0409, &library))) {
        return 0;
    }
    const UINT count = library->GetTypeInfoCount();
    library->Release();
    return count;
}

TEST(RegistrationEndToEnd, EachSwitchLeavesWhatItShould)
{
    const RemoveEverythingAtTheEnd cleanup;
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    ASSERT_EQ(RunByHand(L" -Service"), 0u);  // replaces what the first left
    auto service = OpenOurService(SERVICE_QUERY_CONFIG);
    QUERY_SERVICE_CONFIGW config[128] = {};  // room for the texts after the record
    DWORD needed = 0;
    ASSERT_TRUE(::QueryServiceConfigW(service.get(), config, sizeof config, &needed));
    EXPECT_EQ(config->dwServiceType, DWORD{SERVICE_WIN32_OWN_PROCESS});
    EXPECT_EQ(config->dwStartType, DWORD{SERVICE_DEMAND_START});
    EXPECT_EQ(config->lpBinaryPathName, L"\"" + Beside(L"vlmmrxsvc.exe") + L"\"");
    const auto buffer = reinterpret_cast<BYTE*>(config);
    ASSERT_TRUE(::QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer,
                                       sizeof config, &needed));
    EXPECT_STREQ(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer)->lpDescription,
                 L"Dynamically optimizes applications executing on this machine");
    EXPECT_EQ(ClassesText(kAppIdPath, L"LocalService"), L"vlmmrxsvc");
    EXPECT_EQ(ClassesText(L"AppID\\vlmmrxsvc.EXE", L"AppID"), kAppId);
    EXPECT_EQ(RegisteredTypeCount(), 8u);  // four dual interfaces and their classes
    EXPECT_EQ(EventSource(), Beside(L"vlmmrxsvc.exe") + L" 7");
    service.reset();  // an open handle would keep a deleted service

    // What -RegServer leaves is a server that is no service.
    ASSERT_EQ(RunByHand(L" /RegServer"), 0u);
    EXPECT_FALSE(OpenOurService(SERVICE_QUERY_CONFIG));
    EXPECT_EQ(ClassesText(kAppIdPath, L"LocalService"), L"-");
    EXPECT_EQ(ClassesText(kAppIdPath, L"ServiceParameters"), L"-Service");  // as -Service left it
    EXPECT_EQ(RegisteredTypeCount(), 8u);

    // What -UnRegServer leaves of a service registration is nothing.
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    ASSERT_EQ(RunByHand(L" -UnRegServer"), 0u);
    EXPECT_FALSE(OpenOurService(SERVICE_QUERY_CONFIG));
    EXPECT_EQ(ClassesText(kAppIdPath, nullptr), L"-");
    EXPECT_EQ(ClassesText(L"AppID\\vlmmrxsvc.EXE", L"AppID"), L"-");
    EXPECT_EQ(RegisteredTypeCount(), 0u);
    EXPECT_EQ(EventSource(), L"-");
    EXPECT_EQ(RunByHand(L" /unregserver"), 0u);  // nothing left, no service: still 0
    ASSERT_EQ(RunByHand(L" /RegServer"), 0u);  // writes the event source from nothing too
    EXPECT_EQ(EventSource(), Beside(L"vlmmrxsvc.exe") + L" 7");
}

}  // namespace
