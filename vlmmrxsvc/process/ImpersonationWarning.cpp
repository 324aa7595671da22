#include "process/ImpersonationWarning.h"

std::wstring FormatImpersonationWarning(std::wstring_view pattern, std::wstring_view user,
                                        int error)
{
    std::wstring message;
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        const std::wstring_view rest = pattern.substr(index);
        if (rest.starts_with(L"%s")) {
            message += user;
            ++index;
        } else if (rest.starts_with(L"%d")) {
            message += std::to_wstring(error);
            ++index;
        } else {
            message += pattern[index];
        }
    }
    return message;
}
