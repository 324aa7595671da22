// The event log as the service writes it. Wine's event log accepts entries and keeps none, so a
// test that reads what was logged patches ReportEventW with this recorder for its lifetime.
#pragma once

#include "ImportPatch.h"

#include <string>
#include <tuple>
#include <vector>

namespace testing_support {

// The type, the event identifier and the strings of one entry.
using LoggedEvent = std::tuple<WORD, DWORD, std::vector<std::wstring>>;

// What was reported while the last EventLogDouble lived, oldest first. Read it after the threads
// that report have ended.
inline std::vector<LoggedEvent> g_loggedEvents;

struct EventLogDouble {
    static BOOL WINAPI Record(HANDLE, WORD type, WORD, DWORD eventId, PSID, WORD count, DWORD,
                              LPCWSTR* strings, LPVOID)
    {
        g_loggedEvents.emplace_back(type, eventId,
                                    std::vector<std::wstring>(strings, strings + count));
        return TRUE;
    }
    EventLogDouble() { g_loggedEvents.clear(); }
    ImportPatch patch{"ReportEventW", reinterpret_cast<const void*>(&Record)};
};

}  // namespace testing_support
