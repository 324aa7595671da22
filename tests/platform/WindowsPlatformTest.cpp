// The Windows implementation of the seam against the real calls: owners close real handles, and
// the registry wrapper sees exactly the view it is asked for.
#include "platform/UniqueResource.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kTestKey = L"SOFTWARE\\VlmmrxsvcPlatformTest" + std::to_wstring(::GetCurrentProcessId());
constexpr DWORD kCallersError = 4321;
constexpr DWORD kValue = 42;

TEST(WindowsOwners, CloseTheRealHandleAndKeepTheLastError)
{
    HANDLE raw = nullptr;
    {
        os::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(event);
        raw = event.get();
        ::SetLastError(kCallersError);
    }
    EXPECT_EQ(::GetLastError(), kCallersError);
    EXPECT_EQ(::WaitForSingleObject(raw, 0), WAIT_FAILED);  // closed
}

TEST(WindowsOwners, FileOwnerClosesAFileHandle)
{
    wchar_t directory[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, directory), 0u);
    ASSERT_NE(::GetTempFileNameW(directory, L"vlm", 0, path), 0u);
    {
        os::UniqueFile file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        // Opened without sharing: a second open fails while the owner lives.
        os::UniqueFile second(::CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_FALSE(second);
    }
    os::UniqueFile again(::CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(again);
    again.reset();
    ::DeleteFileW(path);
}

class WindowsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HKEY created = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &created, nullptr),
                  ERROR_SUCCESS);
        os::UniqueKey key(created);
        ASSERT_EQ(::RegSetValueExW(key.get(), L"Value", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&kValue), sizeof kValue),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_WOW64_32KEY, 0);
    }
};

TEST_F(WindowsRegistryTest, ReadsTheThirtyTwoBitViewOnlyWhenAskedTo)
{
    os::UniqueKey native;
    EXPECT_EQ(os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0,
                                           KEY_QUERY_VALUE, native.put()),
              ERROR_FILE_NOT_FOUND);

    os::UniqueKey key;
    ASSERT_EQ(os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0,
                                           KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()),
              ERROR_SUCCESS);
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof value;
    ASSERT_EQ(os::Registry().RegQueryValueExW(key.get(), L"Value", &type,
                                              reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, kValue);

    wchar_t name[16] = {};
    DWORD nameChars = 16;
    ASSERT_EQ(os::Registry().RegEnumValueW(key.get(), 0, name, &nameChars, &type), ERROR_SUCCESS);
    EXPECT_STREQ(name, L"Value");
    nameChars = 16;
    EXPECT_EQ(os::Registry().RegEnumValueW(key.get(), 1, name, &nameChars, &type),
              ERROR_NO_MORE_ITEMS);
}

TEST(WindowsResources, LoadsTheStringTableOfTheRunningExecutable)
{
    wchar_t text[64] = {};
    EXPECT_GT(os::Resources().LoadStringW(140, text, 64), 0);
    EXPECT_STREQ(text, L"Velmora 64-bit Virtual Memory Optimization");
}

}  // namespace
