#include "platform/Paths.h"

#include <algorithm>

#ifdef _WIN32
#include "platform/Windows.h"
#else
#include <cwctype>
#endif

namespace {

constexpr std::wstring_view kPipeMarker = L"\\PIPE\\";

wchar_t UpperAscii(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

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

std::wstring UpperCased(std::wstring_view text)
{
    std::wstring upper(text);
    UpperCase(upper);
    return upper;
}

std::wstring_view FileNamePart(std::wstring_view path)
{
    const auto separator = path.find_last_of(L"\\/:");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

PathParts SplitPath(std::wstring_view path)
{
    PathParts parts;
    if (path.size() >= 2 && path[1] == L':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    const std::size_t lastSeparator = path.find_last_of(L"\\/");
    if (lastSeparator != std::wstring_view::npos) {
        parts.directory = path.substr(0, lastSeparator + 1);
        path.remove_prefix(lastSeparator + 1);
    }
    const std::size_t dot = path.find_last_of(L'.');
    parts.name = path.substr(0, dot);
    if (dot != std::wstring_view::npos) {
        parts.extension = path.substr(dot);
    }
    return parts;
}

bool NamesPipe(std::wstring_view path)
{
    const std::wstring_view examined = path.substr(0, kImagePathCharacters);
    // The marker is ASCII, so upper-casing ASCII alone finds it in any letter case.
    std::wstring upper(examined);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpperAscii);
    return upper.find(kPipeMarker) != std::wstring::npos;
}
