#include "platform/Paths.h"

#include <gtest/gtest.h>

constexpr std::wstring_view kRemote = L"\\\\archive\\old";

TEST(ShareNames, JoinTheRememberedShareWithTheRestOfThePathWhereTheyFit)
{
    // Without its drive, with exactly one backslash between the remote name and the directory.
    const std::pair<const wchar_t*, const wchar_t*> joins[] = {
        {L"Y:\\a.b\\tool.x.dll", L"\\\\archive\\old\\a.b\\tool.x.dll"},
        {L"Y:tool.dll", L"\\\\archive\\old\\tool.dll"},
        {L"Y:lib/tool", L"\\\\archive\\old\\lib/tool"},
    };
    for (const auto& [path, joined] : joins) {
        EXPECT_EQ(JoinRememberedShare(kRemote, SplitPath(path), 520), joined);
    }
    // Nothing when the parts would not fit: remote (13) + directory (5) + name (4) + extension
    // (4) + 4 = 30.
    EXPECT_TRUE(JoinRememberedShare(kRemote, SplitPath(L"Y:\\lib\\tool.dll"), 30));
    EXPECT_EQ(JoinRememberedShare(kRemote, SplitPath(L"Y:\\lib\\tool.dll"), 29), std::nullopt);
    // At most 255 characters of directory, 259 of name and of extension, its dot included.
    const std::wstring directory = L"\\" + std::wstring(253, L'd') + L"\\";
    const std::wstring name(259, L'n');
    EXPECT_TRUE(FitsSplitBuffers(SplitPath(L"Y:" + directory + name + L"." + name.substr(1))));
    EXPECT_FALSE(FitsSplitBuffers(SplitPath(L"Y:d" + directory + L"x")));
    EXPECT_FALSE(FitsSplitBuffers(SplitPath(L"Y:\\x." + name)));
}
