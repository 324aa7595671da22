// Installation where Wine's service manager cannot show it: the failure entries, with one service
// call failing at a time, and the recovery actions, which Wine accepts without storing them. What
// the real service manager does with the service is the end-to-end tests' to show.
#include "service/ServiceModule.h"

#include "EventLogDouble.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <span>

namespace {

using namespace testing_support;

int g_realCallsLeft = 0;
const void* g_real = nullptr;

// A double of a service call: the first g_realCallsLeft calls go to the real function g_real,
// every later one fails with ERROR_ACCESS_DENIED.
template <typename Result, typename... Args>
Result WINAPI FailAfterRealCalls(Args... args)
{
    if (g_realCallsLeft-- > 0) {
        return reinterpret_cast<Result(WINAPI*)(Args...)>(g_real)(args...);
    }
    ::SetLastError(ERROR_ACCESS_DENIED);
    return Result{};
}

template <typename Result, typename... Args>
const void* FailingDouble(Result(WINAPI*)(Args...))
{
    return reinterpret_cast<const void*>(&FailAfterRealCalls<Result, Args...>);
}

class WineInstallation : public ::testing::Test {
protected:
    void SetUp() override { module.InitModule(nullptr); }
    void TearDown() override { static_cast<void>(module.Uninstall()); }
    CServiceModule module;
};

TEST_F(WineInstallation, EachFailingServiceCallIsLoggedAsAnError)
{
    // With the service installed first when `uninstalling`; `realCalls` are the installed test's.
    const auto expectLogged = [this](bool uninstalling, const char* function, const void* failing,
                                     int realCalls, DWORD eventId, const std::wstring& text) {
        ASSERT_TRUE(uninstalling ? module.Install() : module.Uninstall());
        const EventLogDouble log;
        const ImportPatch patch(function, failing);
        g_real = patch.Original<const void*>();
        g_realCallsLeft = realCalls;
        EXPECT_FALSE(uninstalling ? module.Uninstall() : module.Install()) << function;
        EXPECT_EQ(g_loggedEvents,
                  (std::vector<LoggedEvent>{{EVENTLOG_ERROR_TYPE, eventId, {text}}}));
    };
    const std::wstring service = L"Velmora Virtual Memory Optimization service";
    expectLogged(false, "OpenSCManagerW", FailingDouble(&::OpenSCManagerW), 0, 0xC0000005, L"5");
    expectLogged(false, "CreateServiceW", FailingDouble(&::CreateServiceW), 0, 0x8000000B, L"5");
    expectLogged(true, "OpenServiceW", FailingDouble(&::OpenServiceW), 1, 0,
                 L"Uninstall: Couldn't open the " + service + L".");
    expectLogged(true, "DeleteService", FailingDouble(&::DeleteService), 0, 0,
                 L"Uninstall: The " + service + L" could not be deleted. Last error = 5.");
}

LSTATUS WINAPI RefuseKey(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*,
                         HKEY*, DWORD*)
{
    return ERROR_ACCESS_DENIED;
}

TEST_F(WineInstallation, AnEventSourceThatCannotBeWrittenChangesNoResult)
{
    const ImportPatch patch("RegCreateKeyExW", reinterpret_cast<const void*>(&RefuseKey));
    EXPECT_EQ(module.RegisterServer(TRUE, FALSE), S_OK);
    ITypeLib* library = nullptr;  // registered all the same
    constexpr GUID kTypeLibraryId = {
        0x273EEBCE, 0xBBFB, 0x4E37, {0xA7, 0x25, 0xC0, 0x29, 0xD7, 0x0B, 0x67, 0x1E}};
    ASSERT_EQ(::LoadRegTypeLib(kTypeLibraryId, 1, 0, 0x0409, &library), S_OK);
    library->Release();
    EXPECT_EQ(module.UnregisterServer(), S_OK);
}

std::vector<DWORD> g_recovery;  // the reset period, then type and delay of each action

BOOL WINAPI RecordRecovery(SC_HANDLE, DWORD level, void* information)
{
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto* recovery = static_cast<SERVICE_FAILURE_ACTIONSW*>(information);
        g_recovery = {recovery->dwResetPeriod};
        for (const SC_ACTION& action : std::span(recovery->lpsaActions, recovery->cActions)) {
            g_recovery.insert(g_recovery.end(), {DWORD(action.Type), action.Delay});
        }
    }
    return TRUE;
}

TEST_F(WineInstallation, TheServiceIsRestartedTwiceAfterAFailureThenLeftStopped)
{
    for (const bool found : {true, false}) {  // without the entry point nothing is configured
        g_recovery.clear();
        const EntryPointPatch patch("ChangeServiceConfig2W",
                                    found ? reinterpret_cast<const void*>(&RecordRecovery)
                                          : nullptr);
        module.ConfigureService();
        const std::vector<DWORD> expected{86400,  SC_ACTION_RESTART, 120000, SC_ACTION_RESTART,
                                          120000, SC_ACTION_NONE,    0};
        EXPECT_EQ(g_recovery, found ? expected : std::vector<DWORD>{});
    }
}

}  // namespace
