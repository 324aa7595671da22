// The executable started by hand, without a switch: the AppID registration decides whether it is
// the service, and only the service control manager can start the service.
#include "E2eSupport.h"

#include <gtest/gtest.h>

TEST(ServiceEndToEnd, StartedByHandItEndsWithoutRunningTheService)
{
    using namespace e2e;
    const RemoveEverythingAtTheEnd cleanup;
    EXPECT_EQ(RunByHand(L""), DWORD{ERROR_FILE_NOT_FOUND});  // no AppID key
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    EXPECT_EQ(RunByHand(L""), 0u);  // marked as the service, but the dispatcher refuses it
}
