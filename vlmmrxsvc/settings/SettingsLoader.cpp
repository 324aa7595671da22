#include "service/ServiceModule.h"

#include "resources/StringTable.h"

namespace {

constexpr int kKeyCapacity = 128;
// The settings live in the 32-bit view, also for this 64-bit service.
constexpr REGSAM kSettingsAccess = KEY_QUERY_VALUE | KEY_WOW64_32KEY;

}  // namespace

// For now only the presence of the service key is checked; the values are not read yet.
bool CServiceModule::LoadSettings()
{
    wchar_t keyPath[kKeyCapacity] = {};
    os::Resources().LoadStringW(IDS_SERVICE_KEY, keyPath, kKeyCapacity);
    os::UniqueKey key;
    return os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, kSettingsAccess,
                                        key.put()) == ERROR_SUCCESS;
}
