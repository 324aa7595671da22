// Installation against the fake service control manager, registry and event log: the service
// record, the AppID values, the recovery actions, and the error entries of every failure.
#include "service/ServiceModule.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using os::fake::FakePlatform;
using os::fake::FakeService;
using os::fake::LoggedEvent;
using os::fake::RegistryView;
using os::fake::ServiceCall;

const std::wstring kServiceName = L"Velmora 64-bit Virtual Memory Optimization";
const std::wstring kAppIdPath = std::wstring(L"AppID\\") + kAppId;
const std::wstring kExecutable = L"C:\\Program Files\\Velmora\\vlmmrxsvc.exe";

class InstallationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.kernel.SetModuleFileName(kExecutable);
        module.InitModule(nullptr);
    }

    void TearDown() override
    {
        EXPECT_FALSE(fake.serviceControl.IsDatabaseLocked());
        module.eventSource.reset();
        EXPECT_EQ(fake.OpenResourceCount(), 0u);
    }

    void AddInstalledService(DWORD state = SERVICE_STOPPED)
    {
        FakeService service;
        service.name = kServiceName;
        service.binaryPath = L"\"C:\\old\\vlmmrxsvc.exe\"";
        service.state = state;
        fake.serviceControl.AddService(service);
    }

    // HKEY_CLASSES_ROOT\AppID\{...} as the registry script leaves it.
    void AddAppIdKey()
    {
        fake.registry.SetString(HKEY_CLASSES_ROOT, kAppIdPath, L"", L"vlmmrxsvc", REG_SZ,
                                RegistryView::Native64);
    }

    std::optional<std::wstring> AppIdText(const std::wstring& name) const
    {
        const auto value =
            fake.registry.Value(HKEY_CLASSES_ROOT, kAppIdPath, name, RegistryView::Native64);
        if (!value || value->type != REG_SZ) {
            return std::nullopt;
        }
        std::wstring text(value->data.size() / sizeof(wchar_t), L'\0');
        std::copy(value->data.begin(), value->data.end(), reinterpret_cast<BYTE*>(text.data()));
        return text;  // with its terminator
    }

    std::vector<LoggedEvent> Events() const { return fake.eventLog.Entries(); }

    FakePlatform fake;
    CServiceModule module;
};

void ExpectOneError(const std::vector<LoggedEvent>& events, DWORD eventId, const std::wstring& text)
{
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, kServiceName);
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].category, 0);
    EXPECT_EQ(events[0].eventId, eventId);
    EXPECT_EQ(events[0].strings, std::vector<std::wstring>{text});
}

TEST_F(InstallationTest, InstallCreatesTheServiceRecord)
{
    ASSERT_TRUE(module.Install());
    const auto service = fake.serviceControl.Service(kServiceName);
    ASSERT_TRUE(service);
    EXPECT_EQ(service->name, kServiceName);
    EXPECT_EQ(service->displayName, kServiceName);
    EXPECT_EQ(service->serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(service->startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(service->errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(service->binaryPath, L"\"" + kExecutable + L"\"");
    EXPECT_FALSE(service->loadOrderGroup);
    EXPECT_EQ(service->dependencies, std::vector<std::wstring>{L"RPCSS"});
    EXPECT_FALSE(service->account);  // LocalSystem
    EXPECT_FALSE(service->description);  // set by registration, not by Install
    EXPECT_TRUE(Events().empty());
}

TEST_F(InstallationTest, InstallQuotesAPathCutToItsBuffer)
{
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'x') + L".exe";
    fake.kernel.SetModuleFileName(longPath);
    ASSERT_TRUE(module.Install());
    EXPECT_EQ(fake.serviceControl.Service(kServiceName)->binaryPath,
              L"\"" + longPath.substr(0, 259) + L"\"");
}

TEST_F(InstallationTest, InstallLeavesAnInstalledServiceAlone)
{
    AddInstalledService();
    EXPECT_TRUE(module.Install());
    EXPECT_EQ(fake.serviceControl.Service(kServiceName)->binaryPath, L"\"C:\\old\\vlmmrxsvc.exe\"");
    const auto calls = fake.serviceControl.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), L"CreateServiceW"), 0);
}

TEST_F(InstallationTest, InstallReportsAManagerThatCannotBeOpened)
{
    fake.serviceControl.FailAlways(ServiceCall::OpenSCManager, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(module.Install());
    ExpectOneError(Events(), 0xC0000005, L"5");
}

TEST_F(InstallationTest, InstallReportsAServiceThatCannotBeCreated)
{
    // As when a service of that name is still being deleted.
    fake.serviceControl.FailNext(ServiceCall::CreateService, ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(module.Install());
    ExpectOneError(Events(), 0x8000000B, L"1072");
}

TEST_F(InstallationTest, UninstallDeletesAStoppedServiceAtOnce)
{
    AddInstalledService();
    EXPECT_TRUE(module.Uninstall());
    EXPECT_FALSE(fake.serviceControl.Service(kServiceName));
    EXPECT_TRUE(Events().empty());
}

TEST_F(InstallationTest, UninstallStopsARunningServiceWithoutWaiting)
{
    AddInstalledService(SERVICE_RUNNING);
    EXPECT_TRUE(module.Uninstall());
    const auto service = fake.serviceControl.Service(kServiceName);
    ASSERT_TRUE(service);  // marked, gone once it has stopped
    EXPECT_TRUE(service->markedForDeletion);
    EXPECT_EQ(service->controls, std::vector<DWORD>{SERVICE_CONTROL_STOP});
    fake.serviceControl.SetState(kServiceName, SERVICE_STOPPED);
    EXPECT_FALSE(fake.serviceControl.Service(kServiceName));
}

TEST_F(InstallationTest, UninstallWithoutAServiceOrAManagerHasNothingToDo)
{
    EXPECT_TRUE(module.Uninstall());
    fake.serviceControl.FailAlways(ServiceCall::OpenSCManager, ERROR_ACCESS_DENIED);
    AddInstalledService();
    EXPECT_TRUE(module.Uninstall());  // the installed test cannot tell: nothing is done
    EXPECT_TRUE(fake.serviceControl.Service(kServiceName));
    EXPECT_TRUE(Events().empty());
}

struct UninstallFailure {
    const char* name;
    ServiceCall call;
    unsigned skip;  // calls of that kind that go through first (the installed test's)
    std::wstring message;
};

void PrintTo(const UninstallFailure& c, std::ostream* out) { *out << c.name; }

class UninstallFailureTest : public InstallationTest,
                             public ::testing::WithParamInterface<UninstallFailure> {};

TEST_P(UninstallFailureTest, IsReportedWithEventIdZero)
{
    AddInstalledService();
    fake.serviceControl.FailNext(GetParam().call, ERROR_ACCESS_DENIED, GetParam().skip);
    EXPECT_FALSE(module.Uninstall());
    ExpectOneError(Events(), 0, GetParam().message);
    EXPECT_TRUE(fake.serviceControl.Service(kServiceName));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UninstallFailureTest,
    ::testing::Values(
        UninstallFailure{"Manager", ServiceCall::OpenSCManager, 1,
                         L"Uninstall: Couldn't open the service manager."},
        UninstallFailure{"Service", ServiceCall::OpenService, 1,
                         L"Uninstall: Couldn't open the Velmora Virtual Memory Optimization "
                         L"service."},
        UninstallFailure{"Delete", ServiceCall::DeleteService, 0,
                         L"Uninstall: The Velmora Virtual Memory Optimization service could not "
                         L"be deleted. Last error = 5."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallationTest, FailuresWriteNothingWithoutAnEventSource)
{
    module.eventSource.reset();
    fake.serviceControl.FailAlways(ServiceCall::OpenSCManager, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(module.Install());
    EXPECT_TRUE(Events().empty());
}

TEST_F(InstallationTest, ServiceRegistrationWritesTheAppIdValuesAndConfiguresTheService)
{
    AddAppIdKey();
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), ERROR_SUCCESS);
    EXPECT_EQ(AppIdText(kLocalServiceValue), std::wstring(L"vlmmrxsvc", 10));
    EXPECT_EQ(AppIdText(kServiceParametersValue), std::wstring(L"-Service", 9));
    EXPECT_EQ(AppIdText(L""), std::wstring(L"vlmmrxsvc", 10));

    const auto service = fake.serviceControl.Service(kServiceName);
    ASSERT_TRUE(service);
    EXPECT_EQ(service->description,
              std::wstring(L"Dynamically optimizes applications executing on this machine"));
    ASSERT_TRUE(service->failureActions);
    const auto& recovery = *service->failureActions;
    EXPECT_EQ(recovery.resetPeriod, 86400u);
    EXPECT_FALSE(recovery.rebootMessage);
    EXPECT_FALSE(recovery.command);
    ASSERT_EQ(recovery.actions.size(), 3u);
    const SC_ACTION expected[] = {
        {SC_ACTION_RESTART, 120000}, {SC_ACTION_RESTART, 120000}, {SC_ACTION_NONE, 0}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(recovery.actions[i].Type, expected[i].Type) << i;
        EXPECT_EQ(recovery.actions[i].Delay, expected[i].Delay) << i;
    }

    // Both changes are made while the database is locked.
    const auto calls = fake.serviceControl.Calls();
    const auto at = [&](const wchar_t* name) {
        return std::find(calls.begin(), calls.end(), name) - calls.begin();
    };
    EXPECT_LT(at(L"LockServiceDatabase"), at(L"ChangeServiceConfig2W/1"));
    EXPECT_LT(at(L"ChangeServiceConfig2W/1"), at(L"ChangeServiceConfig2W/2"));
    EXPECT_LT(at(L"ChangeServiceConfig2W/2"), at(L"UnlockServiceDatabase"));
    EXPECT_LT(at(L"UnlockServiceDatabase"), static_cast<std::ptrdiff_t>(calls.size()));
}

TEST_F(InstallationTest, PlainRegistrationClearsOnlyTheServiceMarker)
{
    AddAppIdKey();
    ASSERT_EQ(module.RegisterAppIdValues(TRUE), ERROR_SUCCESS);
    EXPECT_EQ(module.RegisterAppIdValues(FALSE), ERROR_SUCCESS);
    EXPECT_FALSE(AppIdText(kLocalServiceValue));
    EXPECT_EQ(AppIdText(kServiceParametersValue), std::wstring(L"-Service", 9));
}

TEST_F(InstallationTest, AnAppIdThatCannotBeOpenedStopsRegistrationBeforeTheService)
{
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    fake.registry.CreateKey(HKEY_CLASSES_ROOT, L"AppID", RegistryView::Native64);
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    AddAppIdKey();
    fake.registry.FailNextOpen(L"AppID", ERROR_ACCESS_DENIED);
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(AppIdText(kLocalServiceValue));
    EXPECT_FALSE(fake.serviceControl.Service(kServiceName));
}

TEST_F(InstallationTest, RegistrationGoesOnWhenTheServiceCannotBeInstalled)
{
    AddAppIdKey();
    fake.serviceControl.FailAlways(ServiceCall::OpenSCManager, ERROR_ACCESS_DENIED);
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), ERROR_SUCCESS);
    EXPECT_EQ(AppIdText(kLocalServiceValue), std::wstring(L"vlmmrxsvc", 10));
    ExpectOneError(Events(), 0xC0000005, L"5");
}

TEST_F(InstallationTest, ReinstallingWhileTheOldServiceRunsLeavesItOnlyMarkedForDeletion)
{
    // What registration does with a running service: the deleted one can still be opened, so
    // the installed test finds it and nothing is created; once it has stopped it is gone.
    AddAppIdKey();
    AddInstalledService(SERVICE_RUNNING);
    EXPECT_TRUE(module.Uninstall());
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), ERROR_SUCCESS);
    EXPECT_TRUE(Events().empty());
    EXPECT_FALSE(fake.serviceControl.Service(kServiceName)->description);  // refused: marked
    fake.serviceControl.SetState(kServiceName, SERVICE_STOPPED);
    EXPECT_FALSE(fake.serviceControl.Service(kServiceName));
}

TEST_F(InstallationTest, ALockedDatabaseDoesNotStopTheConfiguration)
{
    AddAppIdKey();
    fake.serviceControl.FailNext(ServiceCall::LockServiceDatabase, ERROR_SERVICE_DATABASE_LOCKED);
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), ERROR_SUCCESS);
    const auto service = fake.serviceControl.Service(kServiceName);
    ASSERT_TRUE(service);
    EXPECT_TRUE(service->description);
    EXPECT_TRUE(service->failureActions);
}

TEST_F(InstallationTest, TheServiceIsNotConfiguredOnOldSystemsOrWithoutTheCall)
{
    AddAppIdKey();
    module.platform.osVersion5OrLater = FALSE;
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), ERROR_SUCCESS);
    ASSERT_TRUE(module.Uninstall());

    module.platform.osVersion5OrLater = TRUE;
    fake.serviceControl.RemoveChangeServiceConfig2W();
    EXPECT_EQ(module.RegisterAppIdValues(TRUE), ERROR_SUCCESS);

    const auto service = fake.serviceControl.Service(kServiceName);
    ASSERT_TRUE(service);
    EXPECT_FALSE(service->description);
    EXPECT_FALSE(service->failureActions);
    const auto calls = fake.serviceControl.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), L"LockServiceDatabase"), 0);
}

}  // namespace
