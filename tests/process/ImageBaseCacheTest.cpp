#include "process/ImageBaseCache.h"

#include <gtest/gtest.h>

TEST(ImageBaseCache, AnswersOnlyForAnUnchangedFileAndStaysBounded)
{
    ImageBaseCache cache;
    const FileIdentity identity{7, 42, 2};
    cache.RememberIdentity(L"C:\\a.dll", {1, 2, 3}, identity);
    cache.RememberBase(identity, {0x180000000, true});
    EXPECT_EQ(cache.IdentityOf(L"C:\\a.dll", {1, 2, 3}), identity);
    EXPECT_EQ(cache.IdentityOf(L"C:\\a.dll", {1, 5, 3}), std::nullopt);  // written since
    EXPECT_EQ(cache.BaseOf(identity)->preferredBase, 0x180000000u);
    EXPECT_EQ(cache.BaseOf({7, 42, 5}), std::nullopt);  // the same file in another state
    for (std::uint64_t index = 0; index < kMaxRememberedFiles; ++index) {
        cache.RememberBase({7, 1000 + index, 0}, {});
    }
    EXPECT_EQ(cache.BaseOf(identity), std::nullopt);  // emptied when full
}
