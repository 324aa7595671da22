#include "service/ServiceModule.h"

#include "platform/RegistryNumber.h"
#include "resources/StringTable.h"
#include "service/DriverControl.h"

#include <utility>

namespace {

constexpr int kKeyCapacity = 128;
// The settings live in the 32-bit view, also for this 64-bit service.
constexpr REGSAM kSettingsAccess = KEY_QUERY_VALUE | KEY_WOW64_32KEY;
constexpr const wchar_t* kSystemLevelValue = L"DefaultSystemOptimizationLevel";

constexpr DWORD kMsPerMinute = 60000;
constexpr unsigned kKilobyteShift = 10;

// Conversions from the registry's unit to the stored one; both wrap at 32 bits.
DWORD AsStored(DWORD value) { return value; }
DWORD MinutesToMs(DWORD minutes) { return static_cast<DWORD>(minutes * kMsPerMinute); }
DWORD KilobytesToBytes(DWORD kilobytes) { return static_cast<DWORD>(kilobytes << kKilobyteShift); }

struct Setting {
    const wchar_t* valueName;
    std::atomic<DWORD> ServiceSettings::*field;
    DWORD defaultValue;  // already in the stored unit: not converted
    DWORD (*convert)(DWORD);
};

constexpr Setting kSettings[] = {
    {L"MainLoopWait", &ServiceSettings::MainLoopWait, kDefaultMainLoopWaitMs, AsStored},
    {L"ComponentLoopWait", &ServiceSettings::ComponentLoopWait, kDefaultComponentLoopWait,
     AsStored},
    {L"VMThreshold", &ServiceSettings::VMThreshold, kDefaultVMThresholdPercent, AsStored},
    {L"VMInactiveTime", &ServiceSettings::VMInactiveTime, kDefaultVMInactiveTimeMs, MinutesToMs},
    {L"WatchThreshold", &ServiceSettings::WatchThreshold, kDefaultWatchThresholdBytes,
     KilobytesToBytes},
    {L"WorkingSet", &ServiceSettings::WorkingSet, kDefaultWorkingSet, AsStored},
};

// Each value is read and converted in a local and stored in one step, so a reader never sees it
// half-way. A value shorter than 4 bytes replaces only the leading bytes of the field's value.
void ReadSettings(HKEY key, ServiceSettings& settings)
{
    for (const Setting& setting : kSettings) {
        std::atomic<DWORD>& field = settings.*setting.field;
        DWORD value = field.load();
        field.store(QueryRawNumber(key, setting.valueName, value) ? setting.convert(value)
                                                                  : setting.defaultValue);
    }
}

// A list to load afresh: no entries, but the default levels of `current`, which a load keeps
// when it cannot read them.
ExclusionList FreshListFrom(const ExclusionList& current)
{
    ExclusionList fresh;
    fresh.defaultComponentLevel = current.defaultComponentLevel;
    fresh.defaultProcessLevel = current.defaultProcessLevel;
    return fresh;
}

// Builds both lists aside, then swaps them in under the lock, so that a lookup sees the old lists
// or the new ones, never one half built. The old lists are freed after the lock is released.
void ReloadExclusionLists(CServiceModule& module)
{
    ExclusionList components;
    ExclusionList processes;
    {
        const std::lock_guard lock(module.exclusionsLock);
        components = FreshListFrom(module.componentExclusions);
        processes = FreshListFrom(module.processExclusions);
    }
    wchar_t keyPath[kKeyCapacity] = {};
    // A list key that is missing leaves its list empty, which is what the lookups then see.
    os::Resources().LoadStringW(IDS_COMPONENT_EXCLUSION_KEY, keyPath, kKeyCapacity);
    static_cast<void>(LoadExclusionList(components, keyPath, kComponentList));
    os::Resources().LoadStringW(IDS_PROCESS_EXCLUSION_KEY, keyPath, kKeyCapacity);
    static_cast<void>(LoadExclusionList(processes, keyPath, kProcessList));

    const std::lock_guard lock(module.exclusionsLock);
    std::swap(module.componentExclusions, components);
    std::swap(module.processExclusions, processes);
}

}  // namespace

bool CServiceModule::LoadSettings()
{
    wchar_t keyPath[kKeyCapacity] = {};
    os::Resources().LoadStringW(IDS_SERVICE_KEY, keyPath, kKeyCapacity);
    os::UniqueKey key;
    if (os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, kSettingsAccess,
                                     key.put()) != ERROR_SUCCESS) {
        return false;
    }
    ReadSettings(key.get(), settings);
    ReloadExclusionLists(*this);
    DWORD systemLevel = platform.systemOptimizationLevel;
    if (QueryRawNumber(key.get(), kSystemLevelValue, systemLevel)) {
        platform.systemOptimizationLevel = systemLevel;
    }
    os::Kernel().Sleep(kSettingsSettleMs);
    // The driver is optional: the service runs the same whether or not it took the code.
    static_cast<void>(SendDriverControl(IOCTL_ALTSTR_SETTINGS_LOADED));
    return true;
}

DWORD CServiceModule::ProcessOptimizationLevel(const wchar_t* imagePath) const
{
    const std::lock_guard lock(exclusionsLock);
    return GetOptimizationLevel(processExclusions, imagePath);
}
