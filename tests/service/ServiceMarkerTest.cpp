// The rule by which the AppID's "LocalService" value makes a plain start enter service mode.
#include "service/ServiceMarker.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ServiceMarker, IsTextThatIsEmptyOrEndsInItsTerminator)
{
    const std::vector<std::uint8_t> terminated{'v', 0, 'l', 0, 0, 0};
    const std::vector<std::uint8_t> unterminated{'v', 0, 'l', 0};
    const std::vector<std::uint8_t> odd{'v', 0, 0};
    EXPECT_TRUE(IsValidServiceMarker(kMarkerTextType, terminated));
    EXPECT_TRUE(IsValidServiceMarker(kMarkerExpandableTextType, terminated));
    EXPECT_TRUE(IsValidServiceMarker(kMarkerTextType, {}));
    EXPECT_FALSE(IsValidServiceMarker(kMarkerTextType, unterminated));
    EXPECT_FALSE(IsValidServiceMarker(kMarkerTextType, odd));
    EXPECT_FALSE(IsValidServiceMarker(4, terminated));  // REG_DWORD
    EXPECT_FALSE(IsValidServiceMarker(7, terminated));  // REG_MULTI_SZ
}
