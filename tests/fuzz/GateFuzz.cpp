// Arbitrary UTF-16 texts through the open gate. Every text it admits is read a second time, as the
// system resolves a path for a file call: its type from its first characters, its separators,
// "." and "..", the trailing dots and spaces of its last segment, a DOS device name there, and
// then what the kernel name that results reaches. A gate that admits a text that reaches anything
// but a file on a drive or on a share of a server (a pipe, a mailslot, a device, or a place that
// depends on the current directory), or that takes a share for a drive or the reverse, stops the
// run.
#include "platform/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

enum class Reaches { DriveFile, ShareFile, Elsewhere };

bool Slash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool Letter(wchar_t c) { return (c | 0x20) >= L'a' && (c | 0x20) <= L'z'; }

// The segments after the system's collapsing: empty ones and "." go, ".." takes the one before it
// (never one of the first `root`), and the last loses its trailing dots and spaces.
std::vector<std::wstring> Collapsed(std::wstring_view text, std::size_t root)
{
    std::vector<std::wstring> segments;
    std::wstring segment;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() && !Slash(text[at])) {
            segment += text[at];
            continue;
        }
        if (segment == L".." && segments.size() > root) {
            segments.pop_back();
        } else if (!segment.empty() && segment != L"." && segment != L"..") {
            segments.push_back(segment);
        }
        segment.clear();
    }
    if (!segments.empty()) {
        segments.back().erase(segments.back().find_last_not_of(L". ") + 1);
    }
    return segments;
}

// Whether the system takes the last segment of a path on a drive for a device.
bool IsDevice(const std::wstring& segment)
{
    std::wstring name = UpperCased(segment.substr(0, segment.find_first_of(L".:")));
    name.erase(name.find_last_not_of(L' ') + 1);
    const std::wstring_view devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    return std::ranges::find(devices, name) != std::end(devices) ||
           (name.size() == 4 && (name.starts_with(L"COM") || name.starts_with(L"LPT")) &&
            std::wstring_view(L"0123456789\u00B9\u00B2\u00B3").find(name[3]) != std::wstring::npos);
}

Reaches Resolve(std::wstring_view text)
{
    text = text.substr(0, text.find(L'\0'));  // file calls take a terminated string
    const bool verbatim = text.starts_with(L"\\\\?\\");
    const std::wstring_view names = text.substr(verbatim ? 4 : 0);
    if (std::ranges::any_of(names, [](wchar_t c) {
            return c < 0x20 || std::wstring_view(L"*?<>\"|").find(c) != std::wstring_view::npos;
        })) {
        return Reaches::Elsewhere;  // no file has such a name
    }
    if (verbatim) {  // handed to the kernel as it is, after "\??\"
        return names.size() > 3 && Letter(names[0]) && names.substr(1, 2) == L":\\"
                   ? Reaches::DriveFile
                   : Reaches::Elsewhere;
    }
    if (text.size() > 2 && text[1] == L':' && Slash(text[2])) {
        const std::vector<std::wstring> segments = Collapsed(text.substr(3), 0);
        return Letter(text[0]) && !segments.empty() && !IsDevice(segments.back())
                   ? Reaches::DriveFile
                   : Reaches::Elsewhere;
    }
    // Relative, rooted, drive-relative, or a device namespace ("\\.\", "\\?\" with a slash).
    if (text.size() < 3 || !Slash(text[0]) || !Slash(text[1]) ||
        ((text[2] == L'.' || text[2] == L'?') && (text.size() == 3 || Slash(text[3])))) {
        return Reaches::Elsewhere;
    }
    const std::vector<std::wstring> unc = Collapsed(text.substr(2), 2);
    std::wstring share = unc.size() < 2 ? L"PIPE" : UpperCased(unc[1]);
    share.erase(share.find_last_not_of(L". ") + 1);
    return share == L"PIPE" || share == L"MAILSLOT" || share == L"IPC$" ? Reaches::Elsewhere
                                                                       : Reaches::ShareFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    for (std::size_t at = 0; at + 1 < size; at += 2) {
        text += static_cast<wchar_t>(data[at] | data[at + 1] << 8);
    }
    const OpenablePath kind = ClassifyForOpening(text);
    if ((kind == OpenablePath::DrivePath && Resolve(text) != Reaches::DriveFile) ||
        (kind == OpenablePath::SharePath && Resolve(text) != Reaches::ShareFile)) {
        std::abort();
    }
    return 0;
}
