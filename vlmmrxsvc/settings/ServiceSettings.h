// The service's settings record, read from the service key by CServiceModule::LoadSettings.
#pragma once

#include "platform/WinTypes.h"

#include <atomic>

// Each field is stored whole and already converted to the unit it is kept in, so that a thread
// reading it during a reload sees either the old or the new value, never a value in minutes or
// kilobytes.
struct ServiceSettings {
    std::atomic<DWORD> MainLoopWait{0};       // milliseconds between the worker's cycles
    std::atomic<DWORD> ComponentLoopWait{0};  // read and kept; nothing consults it
    std::atomic<DWORD> VMThreshold{0};        // committed-memory load in percent
    std::atomic<DWORD> VMInactiveTime{0};     // milliseconds to idle above the threshold
    std::atomic<DWORD> WatchThreshold{0};     // bytes; read and kept, nothing consults it
    std::atomic<DWORD> WorkingSet{0};         // read and kept; nothing consults it
};

// What a value that cannot be read stands for, already in the stored unit.
inline constexpr DWORD kDefaultMainLoopWaitMs = 10000;
inline constexpr DWORD kDefaultComponentLoopWait = 500;
inline constexpr DWORD kDefaultVMThresholdPercent = 95;
inline constexpr DWORD kDefaultVMInactiveTimeMs = 300000;  // 5 minutes
inline constexpr DWORD kDefaultWatchThresholdBytes = 0x10000;  // 64 KB
inline constexpr DWORD kDefaultWorkingSet = 1;

// The pause between rebuilding the exclusion lists and telling the driver about it.
inline constexpr DWORD kSettingsSettleMs = 1000;
