#include "service/ServiceModule.h"

#include "platform/fake/FakePlatform.h"
#include "service/DriverControl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using os::fake::FakePlatform;
using os::fake::RegistryView;

const std::wstring kServiceKey = L"SOFTWARE\\Velmora\\MRX";
const std::wstring kProcessKey = kServiceKey + L"\\ProcessExclusionList";
const std::wstring kComponentKey = kServiceKey + L"\\ComponentExclusionList";
const std::wstring kDevice = L"\\\\.\\VlmAltStr";

// "80" as Windows stores it: UTF-16 with its terminator, 6 bytes.
const std::vector<BYTE> kTextEighty = {'8', 0, '0', 0, 0, 0};

class SettingsLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { fake.files.AddDevice(kDevice); }

    void SetNumber(const std::wstring& name, DWORD value)
    {
        fake.registry.SetDword(HKEY_LOCAL_MACHINE, kServiceKey, name, value);
    }

    std::vector<DWORD> Codes() const { return fake.files.ControlCodes(kDevice); }

    FakePlatform fake;
    CServiceModule module;
};

TEST_F(SettingsLoaderTest, AKeyWithoutValuesGivesEveryDefaultAndTellsTheDriver)
{
    fake.registry.CreateKey(HKEY_LOCAL_MACHINE, kServiceKey);
    module.platform.systemOptimizationLevel = 42;

    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.settings.MainLoopWait, 10000u);
    EXPECT_EQ(module.settings.ComponentLoopWait, 500u);
    EXPECT_EQ(module.settings.VMThreshold, 95u);
    EXPECT_EQ(module.settings.VMInactiveTime, 300000u);
    EXPECT_EQ(module.settings.WatchThreshold, 0x10000u);
    EXPECT_EQ(module.settings.WorkingSet, 1u);
    EXPECT_EQ(module.platform.systemOptimizationLevel, 42u);
    EXPECT_EQ(fake.kernel.Sleeps(), std::vector<DWORD>{1000});
    EXPECT_EQ(Codes(), std::vector<DWORD>{0x00084020});
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST_F(SettingsLoaderTest, ValuesAreTakenRawAndConvertedToTheirStoredUnit)
{
    const struct {
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> data;
        std::atomic<DWORD> ServiceSettings::*field;
        DWORD expected;
    } cases[] = {
        {L"VMInactiveTime", REG_DWORD, {2, 0, 0, 0}, &ServiceSettings::VMInactiveTime, 120000},
        {L"WatchThreshold", REG_DWORD, {128, 0, 0, 0}, &ServiceSettings::WatchThreshold, 131072},
        // Both conversions wrap at 32 bits.
        {L"VMInactiveTime", REG_DWORD, {0, 0, 1, 0}, &ServiceSettings::VMInactiveTime,
         static_cast<DWORD>(0x10000ull * 60000)},
        {L"WatchThreshold", REG_DWORD, {0, 0, 0x40, 0}, &ServiceSettings::WatchThreshold, 0},
        {L"MainLoopWait", REG_DWORD, {0xC4, 0x09, 0, 0}, &ServiceSettings::MainLoopWait, 2500},
        {L"VMThreshold", REG_SZ, kTextEighty, &ServiceSettings::VMThreshold, 95},
        {L"VMThreshold", REG_BINARY, {80, 0, 0, 0}, &ServiceSettings::VMThreshold, 80},
        {L"WorkingSet", REG_QWORD, {7, 0, 0, 0, 0, 0, 0, 0}, &ServiceSettings::WorkingSet, 1},
        // Shorter data replaces only its own leading bytes of the default 10000 (0x2710).
        {L"MainLoopWait", REG_BINARY, {0x05}, &ServiceSettings::MainLoopWait, 0x2705},
        {L"ComponentLoopWait", REG_DWORD, {0, 0, 0, 0}, &ServiceSettings::ComponentLoopWait, 0},
    };
    for (const auto& c : cases) {
        fake.registry.DeleteKey(HKEY_LOCAL_MACHINE, kServiceKey);
        fake.registry.CreateKey(HKEY_LOCAL_MACHINE, kServiceKey);
        ASSERT_TRUE(module.LoadSettings());  // every field at its default
        fake.registry.SetValue(HKEY_LOCAL_MACHINE, kServiceKey, c.name, c.type, c.data);
        ASSERT_TRUE(module.LoadSettings());
        EXPECT_EQ(module.settings.*c.field, c.expected) << c.name;
    }
}

TEST_F(SettingsLoaderTest, AValueThatCannotBeReadGetsItsDefaultAndLeavesTheOthers)
{
    SetNumber(L"MainLoopWait", 1234);
    SetNumber(L"VMThreshold", 50);
    fake.registry.FailQueries(L"MainLoopWait", ERROR_ACCESS_DENIED);
    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.settings.MainLoopWait, 10000u);
    EXPECT_EQ(module.settings.VMThreshold, 50u);
}

TEST_F(SettingsLoaderTest, TheSystemLevelIsTakenWhenReadableAndKeptOtherwise)
{
    SetNumber(L"DefaultSystemOptimizationLevel", 3);
    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.platform.systemOptimizationLevel, 3u);
    fake.registry.SetString(HKEY_LOCAL_MACHINE, kServiceKey, L"DefaultSystemOptimizationLevel",
                            L"a text too long for a number");
    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.platform.systemOptimizationLevel, 3u);
}

TEST_F(SettingsLoaderTest, BothListsAreRebuiltOnEveryLoad)
{
    SetNumber(L"DefaultProcessOptimizationLevel", 1);
    SetNumber(L"DefaultComponentOptimizationLevel", 6);
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kProcessKey, L"C:\\bin\\skip.exe", 0);
    fake.registry.SetString(HKEY_LOCAL_MACHINE, kComponentKey, L"lib.dll", L"");
    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\SKIP.EXE"), 0u);
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\other.exe"), 1u);
    EXPECT_EQ(module.processExclusions.kind, kProcessList);
    EXPECT_EQ(module.componentExclusions.kind, kComponentList);
    ASSERT_EQ(module.componentExclusions.entries.size(), 1u);
    EXPECT_EQ(module.componentExclusions.entries[0].level, 6u);

    fake.registry.DeleteValue(HKEY_LOCAL_MACHINE, kProcessKey, L"C:\\bin\\skip.exe");
    fake.registry.DeleteKey(HKEY_LOCAL_MACHINE, kComponentKey);
    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\SKIP.EXE"), 1u);
    EXPECT_TRUE(module.componentExclusions.entries.empty());
}

TEST_F(SettingsLoaderTest, AMissingKeyLeavesEverythingAsItWasAndTellsNobody)
{
    SetNumber(L"MainLoopWait", 1234);
    SetNumber(L"DefaultSystemOptimizationLevel", 2);
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kProcessKey, L"keep.exe", 9);
    ASSERT_TRUE(module.LoadSettings());

    fake.registry.DeleteKey(HKEY_LOCAL_MACHINE, kServiceKey);
    // The same key in the 64-bit view is not the service's key.
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kServiceKey, L"MainLoopWait", 1,
                           RegistryView::Native64);
    EXPECT_FALSE(module.LoadSettings());
    EXPECT_EQ(module.settings.MainLoopWait, 1234u);
    EXPECT_EQ(module.platform.systemOptimizationLevel, 2u);
    EXPECT_EQ(module.ProcessOptimizationLevel(L"keep.exe"), 9u);
    EXPECT_EQ(fake.kernel.Sleeps().size(), 1u);
    EXPECT_EQ(Codes().size(), 1u);
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST_F(SettingsLoaderTest, TheDriverIsOpenedForEachCodeAndMayBeMissingOrBusy)
{
    EXPECT_TRUE(module.SendDriverControl(IOCTL_ALTSTR_SERVICE_START));
    EXPECT_TRUE(module.SendDriverControl(IOCTL_ALTSTR_SERVICE_STOP));
    EXPECT_EQ(Codes(), (std::vector<DWORD>{0x00084028, 0x00084024}));
    EXPECT_EQ(fake.files.CreateCount(kDevice), 2);

    fake.files.FailCreate(kDevice, ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(module.SendDriverControl(IOCTL_ALTSTR_SETTINGS_LOADED));
    fake.files.FailCreate(kDevice, ERROR_SUCCESS);
    fake.files.Remove(kDevice);
    EXPECT_FALSE(module.SendDriverControl(IOCTL_ALTSTR_SETTINGS_LOADED));

    // Without the driver a load still succeeds.
    fake.registry.CreateKey(HKEY_LOCAL_MACHINE, kServiceKey);
    EXPECT_TRUE(module.LoadSettings());
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

// The worker looks levels and settings up while the watcher reloads. Every lookup must see a whole
// list, old or new (a list half rebuilt would answer the default, 0, for a listed program), and
// every setting in its stored unit.
TEST_F(SettingsLoaderTest, LookupsDuringReloadsSeeWholeListsAndConvertedValues)
{
    constexpr int kPrograms = 32;
    constexpr int kReloads = 400;
    constexpr DWORD kSecondLevels = 1000;
    const auto program = [](int index) { return L"p" + std::to_wstring(index) + L".exe"; };
    const auto writeVersion = [&](int version) {
        SetNumber(L"VMInactiveTime", 2 + version);  // minutes
        SetNumber(L"WatchThreshold", 1 + version);  // kilobytes
        for (int index = 0; index < kPrograms; ++index) {
            fake.registry.SetDword(HKEY_LOCAL_MACHINE, kProcessKey, program(index),
                                   index + 1 + version * kSecondLevels);
        }
    };
    writeVersion(0);
    ASSERT_TRUE(module.LoadSettings());

    std::atomic<bool> reloading{true};
    std::thread watcher([&] {
        for (int reload = 0; reload < kReloads; ++reload) {
            writeVersion(reload % 2);
            static_cast<void>(module.LoadSettings());
        }
        reloading = false;
    });

    int lookups = 0;
    int torn = 0;
    while (reloading) {
        for (int index = 0; index < kPrograms; ++index) {
            const DWORD level =
                module.ProcessOptimizationLevel((L"C:\\Apps\\" + program(index)).c_str());
            torn += level != DWORD(index + 1) && level != DWORD(index + 1 + kSecondLevels);
            ++lookups;
        }
        const DWORD idle = module.settings.VMInactiveTime;
        const DWORD watch = module.settings.WatchThreshold;
        torn += idle != 120000 && idle != 180000;
        torn += watch != 1024 && watch != 2048;
    }
    watcher.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(lookups, 0);
}

}  // namespace
