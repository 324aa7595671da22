// The terminated text that makes the AppID's "LocalService" value mark the service (the raw-number
// rule is the settings' tests').
#include "platform/RegistryData.h"

#include <gtest/gtest.h>

#include <vector>

TEST(RegistryData, ATrustedTextIsEmptyOrEndsInItsTerminator)
{
    const std::vector<std::uint8_t> terminated{'v', 0, 'l', 0, 0, 0};
    const std::vector<std::uint8_t> unterminated{'v', 0, 'l', 0};
    const std::vector<std::uint8_t> odd{'v', 0, 0};
    EXPECT_TRUE(IsTerminatedText(kRegistryTextType, terminated));
    EXPECT_TRUE(IsTerminatedText(kRegistryExpandableTextType, terminated));
    EXPECT_TRUE(IsTerminatedText(kRegistryTextType, {}));
    EXPECT_FALSE(IsTerminatedText(kRegistryTextType, unterminated));
    EXPECT_FALSE(IsTerminatedText(kRegistryTextType, odd));
    EXPECT_FALSE(IsTerminatedText(4, terminated));  // REG_DWORD
    EXPECT_FALSE(IsTerminatedText(7, terminated));  // REG_MULTI_SZ
    EXPECT_EQ(TextValueBytes(L"vl"), 6u);
}
