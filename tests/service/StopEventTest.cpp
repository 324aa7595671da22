#include "service/StopEvent.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring UniqueName(const wchar_t* stem)
{
    return std::wstring(stem) + std::to_wstring(::GetCurrentProcessId());
}

TEST(CreateNamedEvent, IsManualResetUnsignalledAndStaysSignalled)
{
    const std::wstring name = UniqueName(L"VlmStopEventTest");
    os::UniqueHandle event(CreateNamedEvent(name.c_str()));
    ASSERT_TRUE(event);
    os::UniqueHandle opened(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(opened);
    EXPECT_EQ(::WaitForSingleObject(opened.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    ASSERT_TRUE(::SetEvent(event.get()));
    // Manual reset: every wait, in every holder of a handle, sees the signal and leaves it set.
    EXPECT_EQ(::WaitForSingleObject(opened.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(opened.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
}

TEST(CreateNamedEvent, GrantsEveryoneAllAccessAndNothingElse)
{
    const std::wstring name = UniqueName(L"VlmStopEventDacl");
    os::UniqueHandle event(CreateNamedEvent(name.c_str()));
    ASSERT_TRUE(event);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, 0, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Header.AceFlags, 0);
    EXPECT_EQ(allowed->Mask, static_cast<DWORD>(EVENT_ALL_ACCESS));

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                           &everyone));
    EXPECT_TRUE(::EqualSid(everyone, const_cast<DWORD*>(&allowed->SidStart)));
    ::FreeSid(everyone);
    ::LocalFree(descriptor);
}

TEST(OpenStopEvent, OpensTheServiceEventByNameOrNothing)
{
    EXPECT_FALSE(OpenStopEvent());
    os::UniqueHandle event(CreateNamedEvent(kStopEventName));
    ASSERT_TRUE(event);
    const os::UniqueHandle opened = OpenStopEvent();
    ASSERT_TRUE(opened);
    ::SetEvent(event.get());
    EXPECT_EQ(::WaitForSingleObject(opened.get(), 0), WAIT_OBJECT_0);
}

}  // namespace
