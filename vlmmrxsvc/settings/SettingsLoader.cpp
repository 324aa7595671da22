#include "service/ServiceModule.h"

#include "image/ExclusionListRegistry.h"
#include "platform/ResourceString.h"
#include "resources/StringTable.h"
#include "service/DriverControl.h"
#include "settings/SettingsKey.h"

namespace {

constexpr const wchar_t* kSystemLevelValue = L"DefaultSystemOptimizationLevel";

// Builds both lists aside from the open service key and swaps them in at once.
void ReloadExclusionLists(ExclusionLists& lists, HKEY serviceKey)
{
    ExclusionList components;
    ExclusionList processes;
    lists.FreshCopies(components, processes);
    // A list key that is missing leaves its list empty, which is what the lookups then see.
    static_cast<void>(LoadExclusionList(components, serviceKey,
                                        LoadResourceString(IDS_COMPONENT_EXCLUSION_KEY).c_str(),
                                        kComponentList));
    static_cast<void>(LoadExclusionList(processes, serviceKey,
                                        LoadResourceString(IDS_PROCESS_EXCLUSION_KEY).c_str(),
                                        kProcessList));
    lists.Replace(components, processes);
}

}  // namespace

bool CServiceModule::LoadSettings()
{
    os::UniqueKey key;
    if (OpenSettingsKey(ServiceKeyPath(), kSettingsReadAccess, key) != ERROR_SUCCESS) {
        return false;
    }
    ReadServiceSettings(settings, [&key](const wchar_t* name, std::uint32_t& value) {
        return QueryRawNumber(key.get(), name, value);
    });
    ReloadExclusionLists(exclusionLists, key.get());
    std::uint32_t systemLevel = platform.systemOptimizationLevel;
    if (QueryRawNumber(key.get(), kSystemLevelValue, systemLevel)) {
        platform.systemOptimizationLevel = systemLevel;
    }
    ::Sleep(kSettingsSettleMs);
    // The driver is optional: the service runs the same whether or not it took the code.
    static_cast<void>(SendDriverControl(IOCTL_ALTSTR_SETTINGS_LOADED));
    return true;
}

std::uint32_t CServiceModule::ProcessOptimizationLevel(std::wstring_view imagePath) const
{
    return exclusionLists.ProcessLevel(imagePath);
}
