// What the worker tells the administrator about its repair-pending file, so that a service that
// records nothing says why: a trouble when it begins (not at every cycle that meets it again),
// and the end of a trouble once the file works again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What the worker saw of the file.
enum class RepairFileEvent {
    NotConfigured,  // no usable "RepairPendingFile" setting
    NotOpened,      // the configured file could not be opened or created
    AppendFailed,   // a record could not be written
    Opened,         // the configured file is open
    Appended,       // a record was written
};

class RepairFileHealth {
public:
    // Whether `event` is news for the log, remembering it:
    //   - NotConfigured and NotOpened when the trouble differs from the one reported last (another
    //     kind, another path or another error), AppendFailed unless appends were failing already
    //     (whatever the error: once until an append succeeds again);
    //   - Opened after NotConfigured or NotOpened, and Appended after any trouble: the trouble is
    //     over. An open ends no trouble with appends.
    [[nodiscard]] bool IsNews(RepairFileEvent event, std::wstring_view path, std::uint32_t error);

private:
    bool troubled_ = false;
    RepairFileEvent trouble_ = RepairFileEvent::Opened;  // the trouble last reported
    std::wstring path_;
    std::uint32_t error_ = 0;
};
