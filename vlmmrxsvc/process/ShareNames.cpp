#include "process/ShareNames.h"

namespace {

constexpr std::size_t kDriveChars = 2;
constexpr std::size_t kDirectoryChars = 255;
constexpr std::size_t kNameChars = 259;
constexpr std::size_t kExtensionChars = 259;
// Room that a remembered drive's parts take beyond their texts, as the conversion counts it.
constexpr std::size_t kJoinAllowance = 4;

}  // namespace

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
