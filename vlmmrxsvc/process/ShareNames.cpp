#include "process/ShareNames.h"

namespace {

constexpr std::size_t kDriveChars = 2;
constexpr std::size_t kDirectoryChars = 255;
constexpr std::size_t kNameChars = 259;
constexpr std::size_t kExtensionChars = 259;
// Room that a remembered drive's parts take beyond their texts, as the conversion counts it.
constexpr std::size_t kJoinAllowance = 4;

}  // namespace

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
