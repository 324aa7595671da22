#include "platform/Text.h"

#include "platform/WinTypes.h"

#ifndef _WIN32
#include <algorithm>
#include <cwctype>
#endif

void UpperCase(std::wstring& text)
{
#ifdef _WIN32
    if (!text.empty()) {
        ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    }
#else
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
#endif
}

std::wstring_view FileNamePart(std::wstring_view path)
{
    const auto separator = path.find_last_of(L"\\/:");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}
