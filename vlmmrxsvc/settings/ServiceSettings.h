// The service's settings record, read from the service key by LoadSettings (SettingsLoader.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// Each field is stored whole and already converted to the unit it is kept in, so that a thread
// reading it during a reload sees either the old or the new value, never a value in minutes or
// kilobytes.
struct ServiceSettings {
    std::atomic<std::uint32_t> MainLoopWait{0};       // milliseconds between the worker's cycles
    std::atomic<std::uint32_t> ComponentLoopWait{0};  // read and kept; nothing consults it
    std::atomic<std::uint32_t> VMThreshold{0};        // committed-memory load in percent
    std::atomic<std::uint32_t> VMInactiveTime{0};     // milliseconds to idle above the threshold
    std::atomic<std::uint32_t> WatchThreshold{0};     // bytes; read and kept, nothing consults it
    std::atomic<std::uint32_t> WorkingSet{0};         // read and kept; nothing consults it
};

// What a value that cannot be read stands for, already in the stored unit.
inline constexpr std::uint32_t kDefaultMainLoopWaitMs = 10000;
inline constexpr std::uint32_t kDefaultComponentLoopWait = 500;
inline constexpr std::uint32_t kDefaultVMThresholdPercent = 95;
inline constexpr std::uint32_t kDefaultVMInactiveTimeMs = 300000;  // 5 minutes
inline constexpr std::uint32_t kDefaultWatchThresholdBytes = 0x10000;  // 64 KB
inline constexpr std::uint32_t kDefaultWorkingSet = 1;

// Reads one value by name into `value` by the raw-number rule; false, `value` untouched, when it
// is absent or cannot be read.
using RawNumberReader = std::function<bool(const wchar_t* valueName, std::uint32_t& value)>;

// Reads the six values, in the record's order, each into a local that starts from the field's
// current value, and stores it converted to its unit (minutes to milliseconds, kilobytes to
// bytes, both wrapping at 32 bits), or its default when it cannot be read.
void ReadServiceSettings(ServiceSettings& settings, const RawNumberReader& read);
