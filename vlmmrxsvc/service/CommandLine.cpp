#include "service/ServiceModule.h"

#include "resources/StringTable.h"

#include <cwchar>

namespace {

constexpr int kWordCapacity = 32;

struct SwitchWords {
    wchar_t characters[kWordCapacity] = {};
    wchar_t unregServer[kWordCapacity] = {};
    wchar_t regServer[kWordCapacity] = {};
    wchar_t service[kWordCapacity] = {};
};

SwitchWords LoadSwitchWords()
{
    SwitchWords words;
    const HINSTANCE executable = ::GetModuleHandleW(nullptr);
    ::LoadStringW(executable, IDS_SWITCH_CHARACTERS, words.characters, kWordCapacity);
    ::LoadStringW(executable, IDS_SWITCH_UNREGSERVER, words.unregServer, kWordCapacity);
    ::LoadStringW(executable, IDS_SWITCH_REGSERVER, words.regServer, kWordCapacity);
    ::LoadStringW(executable, IDS_SWITCH_SERVICE, words.service, kWordCapacity);
    return words;
}

}  // namespace

CommandLineSwitch CServiceModule::ParseCommandLine(const wchar_t* commandLine) const
{
    const SwitchWords words = LoadSwitchWords();
    for (const wchar_t* cursor = commandLine; *cursor != L'\0'; cursor = ::CharNextW(cursor)) {
        if (std::wcschr(words.characters, *cursor) == nullptr) {
            continue;
        }
        // The whole rest of the line is the token, so a switch counts only at the very end; a
        // dash inside the program path starts a token too and simply matches nothing.
        const wchar_t* token = ::CharNextW(cursor);
        if (::lstrcmpiW(token, words.unregServer) == 0) {
            return CommandLineSwitch::UnregServer;
        }
        if (::lstrcmpiW(token, words.regServer) == 0) {
            return CommandLineSwitch::RegServer;
        }
        if (::lstrcmpiW(token, words.service) == 0) {
            return CommandLineSwitch::Service;
        }
    }
    return CommandLineSwitch::None;
}

DWORD CServiceModule::Start()
{
    BOOL marked = FALSE;
    const LSTATUS opened = ReadServiceMarker(marked);
    if (opened != ERROR_SUCCESS) {
        return static_cast<DWORD>(opened);
    }
    isService = marked;
    if (isService != FALSE) {
        const SERVICE_TABLE_ENTRYW table[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
        // Fails when the process was not started by the service control manager.
        if (!::StartServiceCtrlDispatcherW(table)) {
            isService = FALSE;
        }
    }
    return status.dwWin32ExitCode;
}
