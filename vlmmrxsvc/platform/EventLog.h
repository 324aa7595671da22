// Where the rooms below the service write their event-log entries. The service hands them its own
// writer, which lets errors through to the Application log and drops every other type; a default
// EventLog writes nothing, for code that runs without a service.
#pragma once

#include "platform/Windows.h"

#include <functional>
#include <initializer_list>
#include <span>
#include <utility>

class EventLog {
public:
    // Writes one entry: its type (EVENTLOG_*_TYPE), its event id, and its insert strings in order.
    using Writer = std::function<void(WORD type, DWORD eventId,
                                      std::span<const wchar_t* const> strings)>;

    EventLog() = default;
    explicit EventLog(Writer writer) : writer_(std::move(writer)) {}

    void Write(WORD type, DWORD eventId, std::initializer_list<const wchar_t*> strings) const
    {
        if (writer_) {
            writer_(type, eventId,
                    std::span<const wchar_t* const>(strings.begin(), strings.size()));
        }
    }

private:
    Writer writer_;
};
