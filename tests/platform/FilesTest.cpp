// The file calls of the seam, run against whichever implementation is current: the fakes on the
// host, and the same cases against the real calls in the Wine test program, so that the fake is
// held to what Windows does.
#include "platform/FilesContract.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace {

class FakeFilesContract : public FilesContract {
protected:
    std::wstring MakeTempPath(const wchar_t* stem) override { return std::wstring(L"C:\\tmp\\") + stem; }
    os::fake::FakePlatform fake;
};

VLM_FILES_CONTRACT_TESTS(FakeFilesContract)

TEST(FakeFiles, DevicesRecordTheirControlCodesInOrder)
{
    os::fake::FakePlatform fake;
    fake.files.AddDevice(L"\\\\.\\Probe");
    {
        os::UniqueFile device(fake.files.CreateFileW(L"\\\\.\\probe", GENERIC_READ | GENERIC_WRITE,
                                                     0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(device);
        DWORD returned = 0;
        EXPECT_TRUE(fake.files.DeviceIoControl(device.get(), 0x84028, nullptr, 0, nullptr, 0,
                                               &returned));
        EXPECT_TRUE(fake.files.DeviceIoControl(device.get(), 0x84020, nullptr, 0, nullptr, 0,
                                               &returned));
    }
    EXPECT_EQ(fake.files.ControlCodes(L"\\\\.\\Probe"), (std::vector<DWORD>{0x84028, 0x84020}));
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST(FakeFiles, AFailingWriteLeavesOnlyThePartWrittenBeforeTheFailure)
{
    os::fake::FakePlatform fake;
    fake.files.AddFile(L"C:\\data.bin", {});
    os::UniqueFile file(fake.files.CreateFileW(L"C:\\data.bin", GENERIC_WRITE, 0, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL));
    fake.files.FailWrites(L"C:\\data.bin", ERROR_DISK_FULL, 1, 3);
    const BYTE data[] = {1, 2, 3, 4, 5};
    DWORD done = 0;
    EXPECT_FALSE(fake.files.WriteFile(file.get(), data, sizeof data, &done));
    EXPECT_EQ(fake.errors.GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(done, 3u);
    EXPECT_TRUE(fake.files.WriteFile(file.get(), data, sizeof data, &done));
    EXPECT_EQ(fake.files.Contents(L"C:\\data.bin").size(), 8u);
}

}  // namespace
