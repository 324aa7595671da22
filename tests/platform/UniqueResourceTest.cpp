#include "platform/UniqueResource.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using os::fake::FakePlatform;

constexpr DWORD kCallersError = 1234;

TEST(UniqueResource, ClosesWhatItOwnsExactlyOnce)
{
    FakePlatform fake;
    {
        os::UniqueHandle first(fake.kernel.CreateEventW(TRUE, FALSE, nullptr));
        os::UniqueHandle second(fake.kernel.CreateEventW(TRUE, FALSE, nullptr));
        EXPECT_EQ(fake.handles.OpenCount(), 2u);

        second = std::move(first);  // closes the event that `second` held
        EXPECT_EQ(fake.handles.OpenCount(), 1u);
        EXPECT_FALSE(first);

        os::UniqueHandle third(std::move(second));
        EXPECT_FALSE(second);
        EXPECT_TRUE(third);
        EXPECT_EQ(fake.handles.OpenCount(), 1u);
    }
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST(UniqueResource, PutClosesTheOldHandleBeforeTheCallFillsTheSlot)
{
    FakePlatform fake;
    os::UniqueHandle token(fake.kernel.CreateEventW(TRUE, FALSE, nullptr));
    ASSERT_TRUE(fake.security.OpenCurrentProcessToken(TOKEN_ADJUST_PRIVILEGES, token.put()));
    EXPECT_EQ(fake.handles.OpenCount(), 1u);
    token.reset();
    EXPECT_EQ(fake.handles.OpenCount(), 0u);
}

TEST(UniqueResource, ReleaseGivesUpOwnershipWithoutClosing)
{
    FakePlatform fake;
    HANDLE raw = nullptr;
    {
        os::UniqueHandle event(fake.kernel.CreateEventW(TRUE, FALSE, nullptr));
        raw = event.release();
    }
    EXPECT_EQ(fake.handles.OpenCount(), 1u);
    EXPECT_TRUE(fake.kernel.CloseHandle(raw));
}

TEST(UniqueResource, ClosingKeepsTheCallersLastError)
{
    FakePlatform fake;
    {
        // A value that is no handle: the close fails and sets an error of its own.
        os::UniqueHandle bogus(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7770)));
        fake.errors.SetLastError(kCallersError);
    }
    EXPECT_EQ(fake.errors.GetLastError(), kCallersError);
}

TEST(UniqueResource, EachKindClosesThroughItsOwnCall)
{
    FakePlatform fake;
    fake.registry.CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\MRX");
    {
        os::UniqueKey key;
        ASSERT_EQ(fake.registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\MRX", 0,
                                              KEY_READ | KEY_WOW64_32KEY, key.put()),
                  ERROR_SUCCESS);
        os::UniqueEventSource source(fake.eventLog.RegisterEventSourceW(nullptr, L"source"));
        os::UniqueServiceHandle service(fake.serviceControl.Open());
        os::UniqueView view(fake.files.MapView({'M', 'Z'}));
        EXPECT_EQ(fake.OpenResourceCount(), 4u);
    }
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST(UniqueResource, FileOwnersAreEmptyAtInvalidHandleValue)
{
    FakePlatform fake;
    const os::UniqueFile file;
    EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(file);
    const os::UniqueHandle handle;
    EXPECT_EQ(handle.get(), nullptr);
}

}  // namespace
