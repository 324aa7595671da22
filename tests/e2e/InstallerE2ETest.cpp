// The MSI package under Wine's msiexec: installing leaves the running service as its own switch
// registers it, with the package's settings; uninstalling removes the service and the programs
// and keeps the repair-pending file.
#include "E2eSupport.h"
#include "platform/Registry.h"
#include "settings/SettingsLoader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

namespace {

using namespace e2e;
using std::filesystem::exists;

const std::wstring kInstallFolder = L"C:\\Program Files\\Velmora\\MRX\\";
constexpr const wchar_t* kPrograms[] = {L"vlmmrxsvc.exe", L"vlmmrxreport.exe"};

constexpr std::pair<const wchar_t*, std::uint32_t> kDefaults[] = {
    {L"DefaultProcessOptimizationLevel", 1}, {L"DefaultComponentOptimizationLevel", 1},
    {L"MainLoopWait", 10000}, {L"VMThreshold", 90}, {L"VMInactiveTime", 5}};

// Runs msiexec silently with `verb` on the package, which the build puts above the programs.
DWORD Msiexec(const wchar_t* verb)
{
    const std::wstring package = Beside(L"..\\vlmmrxsvc.msi");
    return RunCommand(std::wstring(L"msiexec ") + verb + L" \"" + package + L"\" /qn");
}

// The path the service record starts, with its quotes.
std::wstring BinaryPath(SC_HANDLE service)
{
    QUERY_SERVICE_CONFIGW config[64] = {};  // room for the texts after the record
    DWORD needed = 0;
    ::QueryServiceConfigW(service, config, sizeof config, &needed);
    return config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
}

bool HasAppId()
{
    return ::RegGetValueW(HKEY_CLASSES_ROOT, L"AppID\\{5B0A6C3E-91D4-4E27-A8F3-2C7D90E1B645}",
                          L"LocalService", RRF_RT_REG_SZ, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}

TEST(InstallerEndToEnd, InstallStartsTheServiceAndUninstallKeepsTheRepairFile)
{
    ASSERT_EQ(Msiexec(L"/i"), 0u);
    auto service = OpenOurService(SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    ASSERT_TRUE(service);
    EXPECT_EQ(WaitForState(service.get(), SERVICE_RUNNING).dwCurrentState, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(BinaryPath(service.get()), L"\"" + kInstallFolder + L"vlmmrxsvc.exe\"");
    EXPECT_TRUE(HasAppId());
    os::UniqueKey settings;
    ASSERT_EQ(OpenRegistryKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(), kSettingsReadAccess, settings),
              ERROR_SUCCESS);
    for (const auto& [name, expected] : kDefaults) {
        std::uint32_t value = 0;
        EXPECT_EQ(QueryRawNumber(settings.get(), name, value) ? value : ~0u, expected) << name;
    }
    const std::wstring repairFile = ConfiguredRepairFile();
    EXPECT_EQ(repairFile, L"C:\\ProgramData\\Velmora\\pending64.dat");
    // The service read its settings and its worker runs: it creates the file in the package's
    // folder.
    EXPECT_TRUE(WaitUntil([&] { return exists(repairFile); }));
    for (const wchar_t* program : kPrograms) {
        EXPECT_TRUE(exists(kInstallFolder + program)) << program;
    }

    ASSERT_EQ(Msiexec(L"/x"), 0u);
    EXPECT_EQ(WaitForState(service.get(), SERVICE_STOPPED).dwCurrentState, DWORD{SERVICE_STOPPED});
    service.reset();  // an open handle would keep the deleted service
    EXPECT_FALSE(OpenOurService(SERVICE_QUERY_STATUS));
    EXPECT_FALSE(HasAppId());
    for (const wchar_t* program : kPrograms) {
        EXPECT_FALSE(exists(kInstallFolder + program)) << program;
    }
    EXPECT_TRUE(exists(repairFile));
    EXPECT_EQ(ConfiguredRepairFile(), L"");  // the package's settings are gone with it
}

}  // namespace
