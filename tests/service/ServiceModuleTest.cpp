#include "service/ServiceModule.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using os::fake::FakePlatform;
using os::fake::RegistryView;

const std::wstring kAppIdPath = std::wstring(L"AppID\\") + kAppId;
constexpr DWORD kWarningEvent = 0x80000008;
constexpr DWORD kErrorEvent = 0xC0000005;

class ServiceModuleTest : public ::testing::Test {
protected:
    FakePlatform fake;
};

TEST_F(ServiceModuleTest, InitModulePreparesNamesStatusAndEventSource)
{
    {
        CServiceModule module;
        module.InitModule(nullptr);
        EXPECT_STREQ(module.serviceName, L"Velmora 64-bit Virtual Memory Optimization");
        EXPECT_STREQ(module.unknownName, L"?");
        EXPECT_EQ(module.status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(module.status.dwCurrentState, SERVICE_STOPPED);
        EXPECT_EQ(module.status.dwControlsAccepted, SERVICE_ACCEPT_STOP);
        EXPECT_EQ(module.status.dwWin32ExitCode, 0u);
        EXPECT_TRUE(module.isService);
        EXPECT_TRUE(module.platform.osVersion5OrLater);
        EXPECT_EQ(&Module(), &module);
        EXPECT_EQ(fake.eventLog.OpenSourceCount(), 1u);
    }
    EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);  // the module closes its source
}

TEST_F(ServiceModuleTest, LogEventWritesErrorsOnlyWithTheStringsGiven)
{
    CServiceModule module;
    module.LogEvent(EVENTLOG_ERROR_TYPE, kErrorEvent, L"first");  // no source yet: nothing
    module.InitModule(nullptr);
    module.LogEvent(EVENTLOG_WARNING_TYPE, kWarningEvent, L"MRXRepairFileEvent", L"5");
    module.LogEvent(EVENTLOG_INFORMATION_TYPE, 0x40000003, L"text");
    module.LogEvent(EVENTLOG_ERROR_TYPE, kErrorEvent, L"first", L"second");

    const auto entries = fake.eventLog.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, L"Velmora 64-bit Virtual Memory Optimization");
    EXPECT_EQ(entries[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(entries[0].category, 0);
    EXPECT_EQ(entries[0].eventId, kErrorEvent);
    EXPECT_EQ(entries[0].strings, (std::vector<std::wstring>{L"first", L"second"}));
}

TEST_F(ServiceModuleTest, LogEventDropsEveryTypeButErrors)
{
    CServiceModule module;
    module.InitModule(nullptr);
    for (const WORD type : {EVENTLOG_SUCCESS, EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE,
                            EVENTLOG_AUDIT_SUCCESS, EVENTLOG_AUDIT_FAILURE}) {
        module.LogEvent(type, kErrorEvent, L"text");
    }
    EXPECT_TRUE(fake.eventLog.Entries().empty());
    module.LogEvent(EVENTLOG_ERROR_TYPE, kErrorEvent);
    ASSERT_EQ(fake.eventLog.Entries().size(), 1u);
    EXPECT_TRUE(fake.eventLog.Entries()[0].strings.empty());
}

TEST_F(ServiceModuleTest, UnlockPostsQuitOnlyForTheLastLockOfAServerThatIsNoService)
{
    CServiceModule module;
    module.threadId = fake.kernel.ThreadIdOf(std::this_thread::get_id());
    module.isService = TRUE;
    module.Lock();
    module.Unlock();
    MSG message{};
    EXPECT_FALSE(fake.kernel.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));

    module.isService = FALSE;
    module.Lock();
    module.Lock();
    module.Unlock();
    EXPECT_FALSE(fake.kernel.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    module.Unlock();
    ASSERT_TRUE(fake.kernel.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_QUIT);
}

// The AppID registration decides whether a process started without a switch is the service.
struct MarkerCase {
    const char* name;
    bool hasValue;
    DWORD type;
    std::vector<BYTE> data;
    bool marked;
};

void PrintTo(const MarkerCase& c, std::ostream* out) { *out << c.name; }

std::vector<BYTE> WideBytes(const std::wstring& text, bool terminated)
{
    const std::wstring stored = terminated ? text + L'\0' : text;
    std::vector<BYTE> bytes(stored.size() * sizeof(wchar_t));
    std::memcpy(bytes.data(), stored.data(), bytes.size());
    return bytes;
}

class ServiceMarkerTest : public ::testing::TestWithParam<MarkerCase> {
protected:
    FakePlatform fake;
};

TEST_P(ServiceMarkerTest, ReadsTheLocalServiceValue)
{
    const MarkerCase& c = GetParam();
    fake.registry.CreateKey(HKEY_CLASSES_ROOT, kAppIdPath, RegistryView::Native64);
    if (c.hasValue) {
        fake.registry.SetValue(HKEY_CLASSES_ROOT, kAppIdPath, kLocalServiceValue, c.type, c.data,
                               RegistryView::Native64);
    }
    BOOL marked = !c.marked;
    EXPECT_EQ(ReadServiceMarker(marked), ERROR_SUCCESS);
    EXPECT_EQ(marked != FALSE, c.marked);
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

const std::vector<BYTE> kName = WideBytes(L"vlmmrxsvc", true);

INSTANTIATE_TEST_SUITE_P(
    Values, ServiceMarkerTest,
    ::testing::Values(
        MarkerCase{"Absent", false, REG_NONE, {}, false},
        MarkerCase{"Text", true, REG_SZ, kName, true},
        MarkerCase{"ExpandableText", true, REG_EXPAND_SZ, kName, true},
        MarkerCase{"EmptyCounts", true, REG_SZ, {}, true},
        MarkerCase{"Number", true, REG_DWORD, {1, 0, 0, 0}, false},
        MarkerCase{"Unterminated", true, REG_SZ, WideBytes(L"vlmmrxsvc", false), false},
        MarkerCase{"OddLength", true, REG_SZ, std::vector<BYTE>(kName.begin(), kName.end() - 1),
                   false},
        MarkerCase{"LongerThanItsBuffer", true, REG_SZ,
                   WideBytes(std::wstring(300, L'x'), true), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceMarker, AMissingKeyGivesItsRegistryError)
{
    FakePlatform fake;
    BOOL marked = TRUE;
    EXPECT_EQ(ReadServiceMarker(marked), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(marked);  // untouched

    fake.registry.CreateKey(HKEY_CLASSES_ROOT, L"AppID", RegistryView::Native64);
    EXPECT_EQ(ReadServiceMarker(marked), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    fake.registry.FailNextOpen(L"AppID", ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadServiceMarker(marked), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST_F(ServiceModuleTest, SettingsLoadNeedsTheServiceKeyInThe32BitView)
{
    CServiceModule module;
    EXPECT_FALSE(module.LoadSettings());
    fake.registry.CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\MRX", RegistryView::Native64);
    EXPECT_FALSE(module.LoadSettings());
    fake.registry.CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\MRX", RegistryView::Wow32);
    EXPECT_TRUE(module.LoadSettings());
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

}  // namespace
