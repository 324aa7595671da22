#include "platform/Paths.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

constexpr std::wstring_view kPipeMarker = L"\\PIPE\\";
constexpr std::uint32_t kFirstBeyondAscii = 0x80;
constexpr std::wstring_view kVerbatimPrefix = L"\\\\?\\";
constexpr std::wstring_view kKernelPrefix = L"\\??\\";
constexpr std::wstring_view kKernelSharePrefix = L"\\??\\UNC\\";
constexpr std::wstring_view kSharePrefix = L"\\\\";
// The devices through which the kernel names files on shares.
constexpr std::wstring_view kRedirectors[] = {L"\\Device\\Mup\\", L"\\Device\\LanmanRedirector\\"};
// Shares that every server offers and that hold no files.
constexpr std::wstring_view kNonFileShares[] = {L"PIPE", L"MAILSLOT", L"IPC$"};
// Names that the system takes for devices in any folder, with any extension.
constexpr std::wstring_view kDosDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                             L"CONIN$", L"CONOUT$", L"CLOCK$"};
constexpr std::wstring_view kNumberedDosDevices[] = {L"COM", L"LPT"};
constexpr std::wstring_view kDeviceDigits = L"0123456789\u00B9\u00B2\u00B3";
constexpr std::wstring_view kNameForbidden = L":*?\"<>|/";
constexpr wchar_t kFirstPrintable = 0x20;

// The simple upper-case mappings of the Basic Multilingual Plane, as runs of letters that share
// the distance to their capitals: every `stride`-th character from `first` to `last` maps to
// itself plus `delta`. Derived from the Unicode Character Database, keeping, as the system does,
// only the letters that their capital gives back when lower-cased (so final sigma, the micro sign,
// dotless i and long s stay as they are). A test under Wine checks every character against the
// system's own CharUpperBuffW.
struct UpperCaseRun {
    char16_t first;
    char16_t last;
    int delta;
    int stride;
};

constexpr UpperCaseRun kUpperCaseRuns[] = {
    {0x0061, 0x007A, -32, 1}, {0x00E0, 0x00F6, -32, 1}, {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 121, 1}, {0x0101, 0x012F, -1, 2}, {0x0133, 0x0137, -1, 2},
    {0x013A, 0x0148, -1, 2}, {0x014B, 0x0177, -1, 2}, {0x017A, 0x017E, -1, 2},
    {0x0180, 0x0180, 195, 1}, {0x0183, 0x0185, -1, 2}, {0x0188, 0x0188, -1, 1},
    {0x018C, 0x018C, -1, 1}, {0x0192, 0x0192, -1, 1}, {0x0195, 0x0195, 97, 1},
    {0x0199, 0x0199, -1, 1}, {0x019A, 0x019A, 163, 1}, {0x019E, 0x019E, 130, 1},
    {0x01A1, 0x01A5, -1, 2}, {0x01A8, 0x01A8, -1, 1}, {0x01AD, 0x01AD, -1, 1},
    {0x01B0, 0x01B0, -1, 1}, {0x01B4, 0x01B6, -1, 2}, {0x01B9, 0x01B9, -1, 1},
    {0x01BD, 0x01BD, -1, 1}, {0x01BF, 0x01BF, 56, 1}, {0x01C6, 0x01C6, -2, 1},
    {0x01C9, 0x01C9, -2, 1}, {0x01CC, 0x01CC, -2, 1}, {0x01CE, 0x01DC, -1, 2},
    {0x01DD, 0x01DD, -79, 1}, {0x01DF, 0x01EF, -1, 2}, {0x01F3, 0x01F3, -2, 1},
    {0x01F5, 0x01F5, -1, 1}, {0x01F9, 0x021F, -1, 2}, {0x0223, 0x0233, -1, 2},
    {0x023C, 0x023C, -1, 1}, {0x023F, 0x0240, 10815, 1}, {0x0242, 0x0242, -1, 1},
    {0x0247, 0x024F, -1, 2}, {0x0250, 0x0250, 10783, 1}, {0x0251, 0x0251, 10780, 1},
    {0x0252, 0x0252, 10782, 1}, {0x0253, 0x0253, -210, 1}, {0x0254, 0x0254, -206, 1},
    {0x0256, 0x0257, -205, 1}, {0x0259, 0x0259, -202, 1}, {0x025B, 0x025B, -203, 1},
    {0x025C, 0x025C, 42319, 1}, {0x0260, 0x0260, -205, 1}, {0x0261, 0x0261, 42315, 1},
    {0x0263, 0x0263, -207, 1}, {0x0265, 0x0265, 42280, 1}, {0x0266, 0x0266, 42308, 1},
    {0x0268, 0x0268, -209, 1}, {0x0269, 0x0269, -211, 1}, {0x026A, 0x026A, 42308, 1},
    {0x026B, 0x026B, 10743, 1}, {0x026C, 0x026C, 42305, 1}, {0x026F, 0x026F, -211, 1},
    {0x0271, 0x0271, 10749, 1}, {0x0272, 0x0272, -213, 1}, {0x0275, 0x0275, -214, 1},
    {0x027D, 0x027D, 10727, 1}, {0x0280, 0x0280, -218, 1}, {0x0282, 0x0282, 42307, 1},
    {0x0283, 0x0283, -218, 1}, {0x0287, 0x0287, 42282, 1}, {0x0288, 0x0288, -218, 1},
    {0x0289, 0x0289, -69, 1}, {0x028A, 0x028B, -217, 1}, {0x028C, 0x028C, -71, 1},
    {0x0292, 0x0292, -219, 1}, {0x029D, 0x029D, 42261, 1}, {0x029E, 0x029E, 42258, 1},
    {0x0371, 0x0373, -1, 2}, {0x0377, 0x0377, -1, 1}, {0x037B, 0x037D, 130, 1},
    {0x03AC, 0x03AC, -38, 1}, {0x03AD, 0x03AF, -37, 1}, {0x03B1, 0x03C1, -32, 1},
    {0x03C3, 0x03CB, -32, 1}, {0x03CC, 0x03CC, -64, 1}, {0x03CD, 0x03CE, -63, 1},
    {0x03D7, 0x03D7, -8, 1}, {0x03D9, 0x03EF, -1, 2}, {0x03F2, 0x03F2, 7, 1},
    {0x03F3, 0x03F3, -116, 1}, {0x03F8, 0x03F8, -1, 1}, {0x03FB, 0x03FB, -1, 1},
    {0x0430, 0x044F, -32, 1}, {0x0450, 0x045F, -80, 1}, {0x0461, 0x0481, -1, 2},
    {0x048B, 0x04BF, -1, 2}, {0x04C2, 0x04CE, -1, 2}, {0x04CF, 0x04CF, -15, 1},
    {0x04D1, 0x052F, -1, 2}, {0x0561, 0x0586, -48, 1}, {0x10D0, 0x10FA, 3008, 1},
    {0x10FD, 0x10FF, 3008, 1}, {0x13F8, 0x13FD, -8, 1}, {0x1D79, 0x1D79, 35332, 1},
    {0x1D7D, 0x1D7D, 3814, 1}, {0x1D8E, 0x1D8E, 35384, 1}, {0x1E01, 0x1E95, -1, 2},
    {0x1EA1, 0x1EFF, -1, 2}, {0x1F00, 0x1F07, 8, 1}, {0x1F10, 0x1F15, 8, 1},
    {0x1F20, 0x1F27, 8, 1}, {0x1F30, 0x1F37, 8, 1}, {0x1F40, 0x1F45, 8, 1}, {0x1F51, 0x1F57, 8, 2},
    {0x1F60, 0x1F67, 8, 1}, {0x1F70, 0x1F71, 74, 1}, {0x1F72, 0x1F75, 86, 1},
    {0x1F76, 0x1F77, 100, 1}, {0x1F78, 0x1F79, 128, 1}, {0x1F7A, 0x1F7B, 112, 1},
    {0x1F7C, 0x1F7D, 126, 1}, {0x1F80, 0x1F87, 8, 1}, {0x1F90, 0x1F97, 8, 1},
    {0x1FA0, 0x1FA7, 8, 1}, {0x1FB0, 0x1FB1, 8, 1}, {0x1FB3, 0x1FB3, 9, 1}, {0x1FC3, 0x1FC3, 9, 1},
    {0x1FD0, 0x1FD1, 8, 1}, {0x1FE0, 0x1FE1, 8, 1}, {0x1FE5, 0x1FE5, 7, 1}, {0x1FF3, 0x1FF3, 9, 1},
    {0x214E, 0x214E, -28, 1}, {0x2170, 0x217F, -16, 1}, {0x2184, 0x2184, -1, 1},
    {0x24D0, 0x24E9, -26, 1}, {0x2C30, 0x2C5F, -48, 1}, {0x2C61, 0x2C61, -1, 1},
    {0x2C65, 0x2C65, -10795, 1}, {0x2C66, 0x2C66, -10792, 1}, {0x2C68, 0x2C6C, -1, 2},
    {0x2C73, 0x2C73, -1, 1}, {0x2C76, 0x2C76, -1, 1}, {0x2C81, 0x2CE3, -1, 2},
    {0x2CEC, 0x2CEE, -1, 2}, {0x2CF3, 0x2CF3, -1, 1}, {0x2D00, 0x2D25, -7264, 1},
    {0x2D27, 0x2D27, -7264, 1}, {0x2D2D, 0x2D2D, -7264, 1}, {0xA641, 0xA66D, -1, 2},
    {0xA681, 0xA69B, -1, 2}, {0xA723, 0xA72F, -1, 2}, {0xA733, 0xA76F, -1, 2},
    {0xA77A, 0xA77C, -1, 2}, {0xA77F, 0xA787, -1, 2}, {0xA78C, 0xA78C, -1, 1},
    {0xA791, 0xA793, -1, 2}, {0xA794, 0xA794, 48, 1}, {0xA797, 0xA7A9, -1, 2},
    {0xA7B5, 0xA7C3, -1, 2}, {0xA7C8, 0xA7CA, -1, 2}, {0xA7D1, 0xA7D1, -1, 1},
    {0xA7D7, 0xA7D9, -1, 2}, {0xA7F6, 0xA7F6, -1, 1}, {0xAB53, 0xAB53, -928, 1},
    {0xAB70, 0xABBF, -38864, 1}, {0xFF41, 0xFF5A, -32, 1},
};

static_assert(std::is_sorted(std::begin(kUpperCaseRuns), std::end(kUpperCaseRuns),
                             [](const UpperCaseRun& a, const UpperCaseRun& b) {
                                 return a.last < b.first;
                             }));

constexpr std::size_t kDriveChars = 2;
constexpr std::size_t kDirectoryChars = 255;
constexpr std::size_t kNameChars = 259;
constexpr std::size_t kExtensionChars = 259;
// Room that a remembered drive's parts take beyond their texts, as the conversion counts it.
constexpr std::size_t kJoinAllowance = 4;

wchar_t UpperAscii(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return UpperAscii(c) >= L'A' && UpperAscii(c) <= L'Z'; }

bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](wchar_t a, wchar_t b) { return UpperAscii(a) == UpperAscii(b); });
}

bool EqualsIgnoringAsciiCase(std::wstring_view text, std::wstring_view other)
{
    return text.size() == other.size() && StartsWithIgnoringAsciiCase(text, other);
}

// The name the system looks at when it decides that a segment is a device: up to the first dot,
// without trailing spaces ("CON .txt" is CON).
std::wstring_view DeviceNamePart(std::wstring_view segment)
{
    std::wstring_view name = segment.substr(0, segment.find(L'.'));
    while (!name.empty() && name.back() == L' ') {
        name.remove_suffix(1);
    }
    return name;
}

bool NamesDosDevice(std::wstring_view segment)
{
    const std::wstring_view name = DeviceNamePart(segment);
    const auto equals = [name](std::wstring_view device) {
        return EqualsIgnoringAsciiCase(name, device);
    };
    const auto numbered = [name](std::wstring_view prefix) {
        return name.size() == prefix.size() + 1 && StartsWithIgnoringAsciiCase(name, prefix) &&
               kDeviceDigits.find(name.back()) != std::wstring_view::npos;
    };
    return std::ranges::any_of(kDosDevices, equals) ||
           std::ranges::any_of(kNumberedDosDevices, numbered);
}

// A segment that names a file or folder and nothing else: not empty, not made of dots and spaces
// only (".", ".." and what the system trims to them), no stream, wildcard or slash, no device.
bool IsPlainSegment(std::wstring_view segment)
{
    return segment.find_first_not_of(L". ") != std::wstring_view::npos &&
           segment.find_first_of(kNameForbidden) == std::wstring_view::npos &&
           !NamesDosDevice(segment);
}

// Whether `rest` is one or more plain segments, separated by backslashes and, unless `verbatim`
// (where the system takes a slash for part of a name), slashes.
bool ArePlainSegments(std::wstring_view rest, bool verbatim)
{
    for (;;) {
        const std::size_t end = verbatim ? rest.find(L'\\') : rest.find_first_of(L"\\/");
        if (!IsPlainSegment(rest.substr(0, end))) {
            return false;
        }
        if (end == std::wstring_view::npos) {
            return true;
        }
        rest.remove_prefix(end + 1);
    }
}

// "X:\" and what follows it.
bool IsPlainDrivePath(std::wstring_view path, bool verbatim)
{
    return path.size() > 3 && IsAsciiLetter(path[0]) && path[1] == L':' &&
           (verbatim ? path[2] == L'\\' : IsSeparator(path[2])) &&
           ArePlainSegments(path.substr(3), verbatim);
}

// "server\share\..." after the leading separators: a named server (never "." or "?", which name
// the device namespaces) and a share that holds files.
bool IsPlainSharePath(std::wstring_view unc)
{
    if (!ArePlainSegments(unc, false)) {
        return false;
    }
    const std::size_t shareStart = unc.find_first_of(L"\\/");
    if (shareStart == std::wstring_view::npos) {
        return false;
    }
    std::wstring_view share = unc.substr(shareStart + 1);
    share = share.substr(0, share.find_first_of(L"\\/"));
    // The system trims trailing dots and spaces from a share's name.
    share = share.substr(0, share.find_last_not_of(L". ") + 1);
    return std::ranges::none_of(kNonFileShares, [share](std::wstring_view name) {
        return EqualsIgnoringAsciiCase(share, name);
    });
}

}  // namespace

wchar_t UpperCaseOf(wchar_t c)
{
    const auto code = static_cast<std::uint32_t>(c);
    if (code < kFirstBeyondAscii) {  // most paths are ASCII: no search of the table
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    const auto* run = std::lower_bound(
        std::begin(kUpperCaseRuns), std::end(kUpperCaseRuns), code,
        [](const UpperCaseRun& candidate, std::uint32_t value) { return candidate.last < value; });
    if (run == std::end(kUpperCaseRuns) || code < run->first ||
        (code - run->first) % static_cast<std::uint32_t>(run->stride) != 0) {
        return c;
    }
    return static_cast<wchar_t>(static_cast<int>(code) + run->delta);
}

void UpperCase(std::wstring& text)
{
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        } else if (static_cast<std::uint32_t>(c) >= kFirstBeyondAscii) {
            c = UpperCaseOf(c);
        }
    }
}

std::wstring UpperCased(std::wstring_view text)
{
    std::wstring upper(text);
    UpperCase(upper);
    return upper;
}

std::wstring_view FileNamePart(std::wstring_view path)
{
    // Scanned here rather than by the library's find_last_of, which reads the text where no
    // exception may leave: a fault reading a damaged view is then thrown from this frame and
    // unwinds its callers, the exclusion lists' lock among them (worker/FaultGuard.h).
    const wchar_t* const text = path.data();
    std::size_t start = path.size();
    while (start > 0 && text[start - 1] != L'\\' && text[start - 1] != L'/' &&
           text[start - 1] != L':') {
        --start;
    }
    return path.substr(start);
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

bool FitsSplitBuffers(const PathParts& parts)
{
    return parts.drive.size() <= kDriveChars && parts.directory.size() <= kDirectoryChars &&
           parts.name.size() <= kNameChars && parts.extension.size() <= kExtensionChars;
}

std::optional<std::wstring> JoinRememberedShare(std::wstring_view remoteName,
                                                const PathParts& parts, std::size_t capacity)
{
    if (remoteName.size() + parts.directory.size() + parts.name.size() + parts.extension.size() +
            kJoinAllowance > capacity) {
        return std::nullopt;
    }
    std::wstring joined(remoteName);
    if (parts.directory.empty() || parts.directory.front() != L'\\') {
        joined += L'\\';
    }
    joined.append(parts.directory).append(parts.name).append(parts.extension);
    if (joined.size() >= capacity) {
        return std::nullopt;
    }
    return joined;
}

OpenablePath ClassifyForOpening(std::wstring_view path)
{
    if (std::ranges::any_of(path, [](wchar_t c) { return c < kFirstPrintable; })) {
        return OpenablePath::Refused;
    }
    if (path.starts_with(kVerbatimPrefix)) {
        return IsPlainDrivePath(path.substr(kVerbatimPrefix.size()), true)
                   ? OpenablePath::DrivePath
                   : OpenablePath::Refused;
    }
    if (IsPlainDrivePath(path, false)) {
        return OpenablePath::DrivePath;
    }
    if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
        IsPlainSharePath(path.substr(2))) {
        return OpenablePath::SharePath;
    }
    return OpenablePath::Refused;
}

wchar_t DriveLetterOf(std::wstring_view drivePath)
{
    return drivePath.starts_with(kVerbatimPrefix) ? drivePath[kVerbatimPrefix.size()]
                                                  : drivePath.front();
}

std::optional<std::wstring> OpenableFormOfMappedName(std::wstring_view mapped,
                                                     std::span<const DosDrive> drives)
{
    if (StartsWithIgnoringAsciiCase(mapped, kKernelSharePrefix)) {
        return std::wstring(kSharePrefix).append(mapped.substr(kKernelSharePrefix.size()));
    }
    if (mapped.starts_with(kKernelPrefix)) {
        return std::wstring(mapped.substr(kKernelPrefix.size()));
    }
    for (const std::wstring_view redirector : kRedirectors) {
        if (!StartsWithIgnoringAsciiCase(mapped, redirector)) {
            continue;
        }
        std::wstring_view rest = mapped.substr(redirector.size());
        // The redirector's own components (";LanmanRedirector", ";X:0000000000012345") come
        // before the server's name.
        while (rest.starts_with(L';')) {
            const std::size_t end = rest.find(L'\\');
            if (end == std::wstring_view::npos) {
                return std::nullopt;
            }
            rest.remove_prefix(end + 1);
        }
        return std::wstring(kSharePrefix).append(rest);
    }
    const DosDrive* named = nullptr;
    for (const DosDrive& drive : drives) {
        const std::size_t length = drive.device.size();
        if (length != 0 && mapped.size() > length && mapped[length] == L'\\' &&
            StartsWithIgnoringAsciiCase(mapped, drive.device) &&
            (named == nullptr || length > named->device.size())) {
            named = &drive;
        }
    }
    if (named == nullptr) {
        return std::nullopt;
    }
    return std::wstring{named->letter, L':'}.append(mapped.substr(named->device.size()));
}

bool SamePathText(std::wstring_view first, std::wstring_view second)
{
    const auto plain = [](std::wstring_view path) {
        return path.starts_with(kVerbatimPrefix) ? path.substr(kVerbatimPrefix.size()) : path;
    };
    first = plain(first);
    second = plain(second);
    return first.size() == second.size() &&
           std::equal(first.begin(), first.end(), second.begin(),
                      [](wchar_t a, wchar_t b) { return UpperCaseOf(a) == UpperCaseOf(b); });
}
