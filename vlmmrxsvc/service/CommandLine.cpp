#include "service/ServiceModule.h"

#include "platform/ResourceString.h"
#include "resources/StringTable.h"

#include <string>

namespace {

// The switch characters and words, from the string table.
struct SwitchWords {
    std::wstring characters = LoadResourceString(IDS_SWITCH_CHARACTERS);
    std::wstring unregServer = LoadResourceString(IDS_SWITCH_UNREGSERVER);
    std::wstring regServer = LoadResourceString(IDS_SWITCH_REGSERVER);
    std::wstring service = LoadResourceString(IDS_SWITCH_SERVICE);
};

}  // namespace

CommandLineSwitch CServiceModule::ParseCommandLine(const wchar_t* commandLine) const
{
    const SwitchWords words;
    for (const wchar_t* cursor = commandLine; *cursor != L'\0'; cursor = ::CharNextW(cursor)) {
        if (words.characters.find(*cursor) == std::wstring::npos) {
            continue;
        }
        // The whole rest of the line is the token, so a switch counts only at the very end; a
        // dash inside the program path starts a token too and simply matches nothing.
        const wchar_t* token = ::CharNextW(cursor);
        if (::lstrcmpiW(token, words.unregServer.c_str()) == 0) {
            return CommandLineSwitch::UnregServer;
        }
        if (::lstrcmpiW(token, words.regServer.c_str()) == 0) {
            return CommandLineSwitch::RegServer;
        }
        if (::lstrcmpiW(token, words.service.c_str()) == 0) {
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
        const SERVICE_TABLE_ENTRYW table[] = {{serviceName.data(), ServiceMain},
                                               {nullptr, nullptr}};
        // Fails when the process was not started by the service control manager.
        if (!::StartServiceCtrlDispatcherW(table)) {
            isService = FALSE;
        }
    }
    return status.dwWin32ExitCode;
}
