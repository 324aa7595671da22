// The MSI package under Wine's msiexec, as an administrator deploys it: installed with properties,
// upgraded by the next version and not downgraded, repaired, removed after its executable was
// deleted, refused with a bad property. What Wine cannot show (the data folder's permissions,
// sc's "config", the managed installation's secure properties) is read from the package's tables.
#include "E2eSupport.h"
#include "SettingsKey.h"
#include "settings/SettingsLoader.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace e2e;
using std::filesystem::exists;
using testing_support::kSettingsKey;
using testing_support::SetNumber;

const std::wstring kInstallFolder = L"C:\\Program Files\\Velmora\\MRX\\";
const std::wstring kRepairFile = L"C:\\ProgramData\\Velmora\\pending64.dat";
constexpr const wchar_t* kUpgradeCode = L"{55329763-6017-4F60-8F71-98508BF05654}";
constexpr const wchar_t* kFirst = L"vlmmrxsvc.msi";
constexpr const wchar_t* kNext = L"vlmmrxsvc-next.msi";

// Runs msiexec silently with `verb` on `package` (the build puts both above the programs).
DWORD Msiexec(const wchar_t* verb, const wchar_t* package, const std::wstring& properties = L"")
{
    const std::wstring path = Beside((std::wstring(L"..\\") + package).c_str());
    return RunCommand(std::wstring(L"msiexec ") + verb + L" \"" + path + L"\" /qn " + properties);
}

// The versions of the installed products of the package's upgrade code.
std::vector<std::wstring> InstalledVersions()
{
    std::vector<std::wstring> versions;
    wchar_t product[39] = {};
    for (DWORD i = 0; ::MsiEnumRelatedProductsW(kUpgradeCode, 0, i, product) == ERROR_SUCCESS;
         ++i) {
        wchar_t version[32] = {};
        DWORD length = std::size(version);
        ::MsiGetProductInfoW(product, INSTALLPROPERTY_VERSIONSTRING, version, &length);
        versions.emplace_back(version);
    }
    return versions;
}

// A setting as the service reads it; ~0 when it cannot be read.
std::uint32_t Setting(const wchar_t* name)
{
    os::UniqueKey key;
    std::uint32_t value = ~0u;
    static_cast<void>(
        OpenRegistryKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(), kSettingsReadAccess, key));
    return QueryRawNumber(key.get(), name, value) ? value : ~0u;
}

DWORD StartType()
{
    QUERY_SERVICE_CONFIGW config[64] = {};  // room for the texts after the record
    DWORD needed = 0;
    const auto service = OpenOurService(SERVICE_QUERY_CONFIG);
    return ::QueryServiceConfigW(service.get(), config, sizeof config, &needed)
               ? config->dwStartType : ~0u;
}

// What an administrator changes after the installation: the start type and one setting.
void Tune()
{
    const auto service = OpenOurService(SERVICE_CHANGE_CONFIG);
    ASSERT_TRUE(::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START,
                                       SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr));
    SetNumber(kSettingsKey, L"VMThreshold", 80);
}

bool Runs()
{
    const auto service = OpenOurService(SERVICE_QUERY_STATUS);
    return WaitForState(service.get(), SERVICE_RUNNING).dwCurrentState == SERVICE_RUNNING;
}

// Wine's StopServices does not wait for the service to stop, as Windows' does: a reinstallation
// right after it would find the service still stopping and fail to start it.
void StopFirst()
{
    const auto service = OpenOurService(SERVICE_STOP | SERVICE_QUERY_STATUS);
    EXPECT_EQ(Stop(service.get()).dwCurrentState, DWORD{SERVICE_STOPPED});
}

class InstallerEndToEnd : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(Msiexec(L"/x", kNext), 0u);
        EXPECT_EQ(Msiexec(L"/x", kFirst), 0u);  // 0 also when it is not installed
        EXPECT_TRUE(InstalledVersions().empty());
        // Wine's StopServices does not wait: the deleted service goes once its process ended,
        // before the next case installs it again.
        EXPECT_TRUE(WaitUntil([] { return !OpenOurService(SERVICE_QUERY_STATUS); }));
    }
};

TEST_F(InstallerEndToEnd, InstallsWithPropertiesAndUninstallsWithoutTheExecutable)
{
    ASSERT_EQ(Msiexec(L"/i", kFirst, L"VMTHRESHOLD=85 PROCESSLEVEL=1"), 0u);
    EXPECT_TRUE(Runs());
    EXPECT_EQ(Setting(L"VMThreshold"), 85u);
    EXPECT_EQ(Setting(L"DefaultProcessOptimizationLevel"), 1u);
    EXPECT_EQ(Setting(L"MainLoopWait"), 10000u);  // the service's own defaults otherwise
    EXPECT_EQ(Setting(L"VMInactiveTime"), 5u);
    EXPECT_EQ(StartType(), DWORD{SERVICE_DEMAND_START});
    EXPECT_TRUE(WaitUntil([] { return exists(kRepairFile); }));  // the service at work
    EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{VLM_VERSION_TEXT});

    // A deleted (or quarantined) executable does not keep the product from going.
    StopFirst();
    ASSERT_TRUE(std::filesystem::remove(kInstallFolder + L"vlmmrxsvc.exe"));
    ASSERT_EQ(Msiexec(L"/x", kFirst), 0u);
    EXPECT_FALSE(OpenOurService(SERVICE_QUERY_STATUS));
    EXPECT_EQ(Setting(L"VMThreshold"), ~0u);
    EXPECT_FALSE(exists(kInstallFolder + L"vlmmrxreport.exe"));
    EXPECT_TRUE(exists(kRepairFile));  // the records stay
}

TEST_F(InstallerEndToEnd, TheNextVersionReplacesThisOneAndIsNotDowngraded)
{
    ASSERT_EQ(Msiexec(L"/i", kFirst), 0u);
    ASSERT_EQ(Msiexec(L"/i", kNext), 0u);
    EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{VLM_NEXT_VERSION_TEXT});
    EXPECT_TRUE(Runs());
    EXPECT_TRUE(WaitUntil([] { return exists(kRepairFile); }));

    EXPECT_NE(Msiexec(L"/i", kFirst), 0u);
    EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{VLM_NEXT_VERSION_TEXT});
    EXPECT_TRUE(Runs());
}

// The older product's removal as Windows runs it during an upgrade, with UPGRADINGPRODUCTCODE set
// (Wine's upgrade runs it without, as a plain uninstallation), then the next version.
TEST_F(InstallerEndToEnd, AnUpgradeKeepsWhatAnAdministratorChanged)
{
    ASSERT_EQ(Msiexec(L"/i", kFirst), 0u);
    // Running, so that the removal's stop is not sent while it starts (Wine would lose it).
    ASSERT_TRUE(Runs());
    Tune();
    const wchar_t* upgrading = L"UPGRADINGPRODUCTCODE={6B2B3C1D-0000-4000-8000-000000000001}";
    ASSERT_EQ(Msiexec(L"/x", kFirst, upgrading), 0u);
    ASSERT_TRUE(InstalledVersions().empty());
    EXPECT_EQ(StartType(), DWORD{SERVICE_AUTO_START});
    // The removal sent the stop without waiting for it: a second stop while the first is carried
    // out would make Wine's service manager end the service by force.
    const auto service = OpenOurService(SERVICE_QUERY_STATUS);
    EXPECT_EQ(WaitForState(service.get(), SERVICE_STOPPED).dwCurrentState, DWORD{SERVICE_STOPPED});
    ASSERT_EQ(Msiexec(L"/i", kNext), 0u);
    EXPECT_EQ(StartType(), DWORD{SERVICE_AUTO_START});
    EXPECT_EQ(Setting(L"VMThreshold"), 80u);
    EXPECT_TRUE(Runs());
}

TEST_F(InstallerEndToEnd, ARepairKeepsTheTuningAndRestoresWhatIsMissing)
{
    ASSERT_EQ(Msiexec(L"/i", kFirst), 0u);
    ASSERT_TRUE(Runs());
    Tune();
    SetNumber(kSettingsKey, L"MainLoopWait", 20000);
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Velmora\\MRX",
                         L"VMInactiveTime");
    StopFirst();
    ASSERT_TRUE(std::filesystem::remove(kInstallFolder + L"vlmmrxreport.exe"));
    ASSERT_EQ(Msiexec(L"/i", kFirst, L"REINSTALL=ALL REINSTALLMODE=omus VMTHRESHOLD=70"), 0u);
    EXPECT_EQ(StartType(), DWORD{SERVICE_AUTO_START});
    EXPECT_EQ(Setting(L"VMThreshold"), 80u);  // a value that exists is not written
    EXPECT_EQ(Setting(L"MainLoopWait"), 20000u);
    EXPECT_EQ(Setting(L"VMInactiveTime"), 5u);
    EXPECT_TRUE(exists(kInstallFolder + L"vlmmrxreport.exe"));
    EXPECT_TRUE(Runs());
}

TEST_F(InstallerEndToEnd, ABadPropertyRefusesTheInstallation)
{
    for (const wchar_t* property : {L"VMTHRESHOLD=0", L"MAINLOOPWAIT=fast", L"PROCESSLEVEL=4",
                                    L"STARTTYPE=boot", L"REPAIRPENDINGFILE=pending.dat"}) {
        EXPECT_NE(Msiexec(L"/i", kFirst, property), 0u) << property;
        EXPECT_TRUE(InstalledVersions().empty()) << property;
        EXPECT_FALSE(OpenOurService(SERVICE_QUERY_STATUS)) << property;
    }
}

// The first column of the first row that `query` selects from the package's tables.
std::wstring PackageText(const wchar_t* query)
{
    MSIHANDLE database = 0, view = 0, record = 0;
    wchar_t text[512] = {};
    DWORD length = std::size(text);
    const std::wstring path = Beside((std::wstring(L"..\\") + kFirst).c_str());
    if (::MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
        ::MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS &&
        ::MsiViewExecute(view, 0) == ERROR_SUCCESS && ::MsiViewFetch(view, &record) == 0) {
        ::MsiRecordGetStringW(record, 1, text, &length);
    }
    for (const MSIHANDLE handle : {record, view, database}) {
        ::MsiCloseHandle(handle);
    }
    return text;
}

TEST(InstallerPackage, WhatWineCannotShowIsInTheTables)
{
    EXPECT_EQ(PackageText(L"SELECT `Target` FROM `CustomAction` "
                          L"WHERE `Action` = 'ProtectDataFolder'"),
              L"\"[DATAFOLDER].\" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F "
              L"*S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX");
    EXPECT_EQ(PackageText(L"SELECT `Target` FROM `CustomAction` "
                          L"WHERE `Action` = 'StartWithWindows'"),
              std::wstring(L"config \"") + kServiceName + L"\" start= auto");
    EXPECT_EQ(PackageText(L"SELECT `Value` FROM `Property` "
                          L"WHERE `Property` = 'SecureCustomProperties'"),
              L"WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;PROCESSLEVEL;SYSTEMLEVEL;VMTHRESHOLD;"
              L"MAINLOOPWAIT;VMINACTIVETIME;REPAIRPENDINGFILE;STARTTYPE;ARPHELPLINK");
}

}  // namespace
