// The handle owners against the real calls.
#include "platform/UniqueResource.h"

#include <gtest/gtest.h>

TEST(WineOwners, CloseTheRealHandleOnceAndKeepTheCallersLastError)
{
    const HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0;
    {
        os::UniqueHandle first(raw);
        const os::UniqueHandle second(std::move(first));
        first.reset();  // moved from: owns nothing any more
        EXPECT_TRUE(::GetHandleInformation(raw, &flags));
        ::SetLastError(ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));
    // A file that cannot be opened is INVALID_HANDLE_VALUE, not null.
    EXPECT_FALSE(os::UniqueFile(::CreateFileW(L"C:\\none", 0, 0, nullptr, OPEN_EXISTING, 0, 0)));
}
