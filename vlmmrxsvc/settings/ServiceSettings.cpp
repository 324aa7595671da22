#include "settings/ServiceSettings.h"

namespace {

constexpr std::uint32_t kMsPerMinute = 60000;
constexpr unsigned kKilobyteShift = 10;

// Conversions from the registry's unit to the stored one; both wrap at 32 bits.
std::uint32_t AsStored(std::uint32_t value) { return value; }
std::uint32_t MinutesToMs(std::uint32_t minutes)
{
    return static_cast<std::uint32_t>(minutes * kMsPerMinute);
}
std::uint32_t KilobytesToBytes(std::uint32_t kilobytes)
{
    return static_cast<std::uint32_t>(kilobytes << kKilobyteShift);
}

struct Setting {
    const wchar_t* valueName;
    std::atomic<std::uint32_t> ServiceSettings::*field;
    std::uint32_t defaultValue;  // already in the stored unit: not converted
    std::uint32_t (*convert)(std::uint32_t);
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

}  // namespace

void ReadServiceSettings(ServiceSettings& settings, const RawNumberReader& read)
{
    for (const Setting& setting : kSettings) {
        std::atomic<std::uint32_t>& field = settings.*setting.field;
        std::uint32_t value = field.load();
        field.store(read(setting.valueName, value) ? setting.convert(value)
                                                   : setting.defaultValue);
    }
}
