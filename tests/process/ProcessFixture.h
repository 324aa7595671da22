// A fake machine for the process and module records: the service module (for "?" and the
// warnings), the stop event, one process of a user with drive Z: mapped to a share, and helpers
// that put image files on disk and modules into the process.
#pragma once

#include "image/ImageFileCases.h"
#include "platform/fake/FakePlatform.h"
#include "service/ServiceModule.h"
#include "service/StopEvent.h"

#include <gtest/gtest.h>

#include <string>

namespace process_test {

inline constexpr DWORD kProcessId = 0x44;
inline constexpr const wchar_t* kUser = L"alice";
inline constexpr const wchar_t* kImage = L"C:\\apps\\app.exe";
inline constexpr const wchar_t* kShare = L"\\\\files\\alice";
inline constexpr DWORD kModuleSize = 0x20000;

class ProcessFixture : public ::testing::Test {
protected:
    ProcessFixture()
    {
        module.InitModule(nullptr);
        fake.processes.AddProcess(kProcessId, kImage, kUser);
        fake.network.Connect(kUser, L"Z:", kShare);
        resourcesBefore = fake.OpenResourceCount();
    }

    // Every operation has ended its impersonation and closed what it opened.
    void TearDown() override
    {
        EXPECT_FALSE(fake.security.HasThreadToken());
        EXPECT_EQ(fake.OpenResourceCount(), resourcesBefore);
    }

    // A PE32+ file on disk whose preferred base is `base`.
    void AddImage(const std::wstring& path, ULONGLONG base)
    {
        fake.files.AddFile(path, image_test::MakeImage(true, base));
    }

    // A module of the process, loaded at `loadBase` from a PE32+ file preferring `preferredBase`.
    void AddLoaded(const std::wstring& path, ULONGLONG loadBase, ULONGLONG preferredBase)
    {
        AddImage(path, preferredBase);
        fake.processes.AddModule(kProcessId, {loadBase, kModuleSize, path});
    }

    os::fake::FakePlatform fake;
    CServiceModule module;
    os::UniqueHandle stop{fake.kernel.CreateEventW(TRUE, FALSE, kStopEventName)};
    std::size_t resourcesBefore = 0;
};

}  // namespace process_test
