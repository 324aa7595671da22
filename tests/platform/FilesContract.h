// Cases that hold for every implementation of the seam's file calls. A fixture derived from
// FilesContract names a writable temporary path; VLM_FILES_CONTRACT_TESTS instantiates the cases.
#pragma once

#include "platform/UniqueResource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class FilesContract : public ::testing::Test {
protected:
    virtual std::wstring MakeTempPath(const wchar_t* stem) = 0;

    os::UniqueFile Create(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
    {
        return os::UniqueFile(
            os::Files().CreateFileW(path.c_str(), access, share, disposition, FILE_ATTRIBUTE_NORMAL));
    }
};

#define VLM_FILES_CONTRACT_TESTS(Fixture)                                                          \
    TEST_F(Fixture, WritesReadsSeeksAndMeasures)                                                  \
    {                                                                                             \
        const std::wstring path = MakeTempPath(L"contract-rw.bin");                               \
        os::UniqueFile file = Create(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,         \
                                     CREATE_ALWAYS);                                              \
        ASSERT_TRUE(file);                                                                        \
        const BYTE data[] = {'M', 'Z', 0, 1, 2, 3};                                               \
        DWORD done = 0;                                                                           \
        ASSERT_TRUE(os::Files().WriteFile(file.get(), data, sizeof data, &done));                 \
        EXPECT_EQ(done, sizeof data);                                                             \
        LONGLONG size = 0;                                                                        \
        ASSERT_TRUE(os::Files().GetFileSizeEx(file.get(), &size));                                \
        EXPECT_EQ(size, static_cast<LONGLONG>(sizeof data));                                      \
        EXPECT_EQ(os::Files().GetFileType(file.get()), static_cast<DWORD>(FILE_TYPE_DISK));       \
        LONGLONG position = -1;                                                                   \
        ASSERT_TRUE(os::Files().SetFilePointerEx(file.get(), 2, &position, FILE_BEGIN));          \
        EXPECT_EQ(position, 2);                                                                   \
        BYTE read[8] = {};                                                                        \
        ASSERT_TRUE(os::Files().ReadFile(file.get(), read, sizeof read, &done));                  \
        EXPECT_EQ(done, 4u);                                                                      \
        EXPECT_EQ(read[1], 1);                                                                    \
        ASSERT_TRUE(os::Files().ReadFile(file.get(), read, sizeof read, &done));                  \
        EXPECT_EQ(done, 0u); /* the end of the file is no error */                               \
        ASSERT_TRUE(os::Files().SetFilePointerEx(file.get(), 0, &position, FILE_END));            \
        EXPECT_EQ(position, static_cast<LONGLONG>(sizeof data));                                  \
        ASSERT_TRUE(os::Files().SetFilePointerEx(file.get(), 3, nullptr, FILE_BEGIN));            \
        ASSERT_TRUE(os::Files().SetEndOfFile(file.get()));                                        \
        ASSERT_TRUE(os::Files().GetFileSizeEx(file.get(), &size));                                \
        EXPECT_EQ(size, 3);                                                                       \
    }                                                                                             \
                                                                                                  \
    TEST_F(Fixture, HonoursShareModesAndDispositions)                                             \
    {                                                                                             \
        const std::wstring path = MakeTempPath(L"contract-share.bin");                            \
        EXPECT_FALSE(Create(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));                 \
        EXPECT_EQ(os::Errors().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));         \
        EXPECT_EQ(os::Files().GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);         \
        os::UniqueFile writer = Create(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,       \
                                       OPEN_ALWAYS);                                              \
        ASSERT_TRUE(writer);                                                                      \
        EXPECT_NE(os::Files().GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);         \
        /* Read sharing only: another reader may open it, another writer may not. */              \
        EXPECT_TRUE(Create(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)); \
        EXPECT_FALSE(Create(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)); \
        EXPECT_EQ(os::Errors().GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));      \
        EXPECT_FALSE(Create(path, GENERIC_READ, FILE_SHARE_READ, CREATE_NEW));                    \
        writer.reset();                                                                           \
        EXPECT_TRUE(Create(path, GENERIC_WRITE, 0, OPEN_EXISTING));                               \
    }                                                                                             \
                                                                                                  \
    TEST_F(Fixture, MapsAFileButNotAnEmptyOne)                                                    \
    {                                                                                             \
        const std::wstring path = MakeTempPath(L"contract-map.bin");                              \
        os::UniqueFile file = Create(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,         \
                                     CREATE_ALWAYS);                                              \
        ASSERT_TRUE(file);                                                                        \
        EXPECT_FALSE(os::UniqueHandle(                                                            \
            os::Files().CreateFileMappingW(file.get(), PAGE_READONLY, 0, 0)));                    \
        const BYTE data[] = {'P', 'E', 0, 0};                                                     \
        DWORD done = 0;                                                                           \
        ASSERT_TRUE(os::Files().WriteFile(file.get(), data, sizeof data, &done));                 \
        os::UniqueHandle mapping(os::Files().CreateFileMappingW(file.get(), PAGE_READONLY, 0, 0)); \
        ASSERT_TRUE(mapping);                                                                     \
        os::UniqueView view(os::Files().MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));    \
        ASSERT_TRUE(view);                                                                        \
        EXPECT_EQ(static_cast<const BYTE*>(view.get())[1], 'E');                                  \
    }
