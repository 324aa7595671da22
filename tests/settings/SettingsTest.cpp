// The registry-data rule and the settings record, and both with the exclusion lists under a
// reload on another thread.
#include "image/ExclusionList.h"
#include "platform/RegistryData.h"
#include "settings/ServiceSettings.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

// A reader of the values named in `values`, by the raw-number rule as the service reads them.
static RawNumberReader ReaderOf(std::map<std::wstring, std::vector<std::uint8_t>> values)
{
    return [values](const wchar_t* name, std::uint32_t& value) {
        return values.contains(name) && MergeRawNumber(values.at(name), value);
    };
}

TEST(ServiceSettings, StoresEachValueInItsUnitOrItsDefault)
{
    ServiceSettings settings;
    // Data longer than 4 bytes cannot be read: WorkingSet takes its default.
    ReadServiceSettings(settings, ReaderOf({{L"VMInactiveTime", {2}}, {L"WatchThreshold", {128}},
                                            {L"WorkingSet", {2, 0, 0, 0, 0}}}));
    EXPECT_EQ((std::vector<std::uint32_t>{settings.MainLoopWait, settings.ComponentLoopWait,
                                          settings.VMThreshold, settings.VMInactiveTime,
                                          settings.WatchThreshold, settings.WorkingSet}),
              (std::vector<std::uint32_t>{10000, 500, 95, 120000, 131072, 1}));
    // Both conversions wrap at 32 bits. Data shorter than 4 bytes replaces only its own low bytes
    // of what the field held: of 120000 (0x1D4C0), 131072 (0x20000) and the default 10000
    // (0x2710).
    ReadServiceSettings(settings, ReaderOf({{L"MainLoopWait", {5}}, {L"VMInactiveTime", {0, 0, 1}},
                                            {L"WatchThreshold", {0, 0, 0x40}}}));
    EXPECT_EQ(settings.VMInactiveTime, static_cast<std::uint32_t>(0x10000ull * 60000));
    EXPECT_EQ(settings.WatchThreshold, 0u);
    EXPECT_EQ(settings.MainLoopWait, 0x2705u);
}

// The worker looks levels and settings up while the watcher reloads them. Generation n lists
// every program at level n, so a level lower than the one seen before is a list half built (the
// default, 0, for a listed program) or an older list after a newer one; a setting not a whole
// number of minutes or kilobytes was seen before its conversion.
TEST(ServiceSettings, LookupsDuringReloadsSeeWholeListsAndConvertedValues)
{
    constexpr std::uint8_t kReloads = 200;
    const auto program = [](unsigned index) { return L"C:\\p" + std::to_wstring(index % 16); };
    ExclusionLists lists;
    ServiceSettings settings;
    std::atomic<bool> reloading{true};
    std::atomic<unsigned> lookups{0};
    std::thread watcher([&] {
        for (std::uint8_t generation = 1; generation <= kReloads; ++generation) {
            const std::vector<std::uint8_t> level{generation, 0, 0, 0};
            ExclusionList components, processes;
            lists.FreshCopies(components, processes);
            for (unsigned index = 0; index < 16; ++index) {
                AddExclusionEntry(processes, program(index), 4, level);  // REG_DWORD
            }
            lists.Replace(components, processes);
            ReadServiceSettings(settings,
                                ReaderOf({{L"VMInactiveTime", level}, {L"WatchThreshold", level}}));
            // The worker looks every program up between two reloads.
            for (const unsigned mark = lookups + 16; lookups < mark;) {
                std::this_thread::yield();
            }
        }
        reloading = false;
    });
    int torn = 0;
    for (std::uint32_t seen = 0; reloading; ++lookups) {
        const std::uint32_t level = lists.ProcessLevel(program(lookups));
        torn += level < seen || settings.VMInactiveTime % 60000 != 0 ||
                settings.WatchThreshold % 1024 != 0;
        seen = level;
    }
    watcher.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(lists.ProcessLevel(program(0)), kReloads);
}
