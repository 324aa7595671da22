#include "process/ProcessOpt.h"

#include "ProcessFixture.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

using namespace process_test;

constexpr ULONGLONG kPreferred = 0x180000000;
constexpr ULONGLONG kElsewhere = 0x7FF600000000;

struct Found {
    std::wstring path;
    ULONGLONG loadBase;
    ULONGLONG preferredBase;

    bool operator==(const Found&) const = default;
};

class ModuleDiscoveryTest : public ProcessFixture {
protected:
    // Runs discovery on the process and gives what it found.
    std::vector<Found> Discover()
    {
        CProcessOpt process;
        EXPECT_TRUE(process.Open(kProcessId));
        std::vector<Found> found;
        for (const CModuleOpt* record : process.EnumerateModules()) {
            EXPECT_EQ(record->processId, kProcessId);
            found.push_back({record->GetPath(), record->loadBase, record->preferredBase});
        }
        return found;
    }

    ULONGLONG nextBase = kElsewhere;
    // A relocated module with a path of its own.
    Found AddRelocated(const std::wstring& path)
    {
        nextBase += kModuleSize;
        AddLoaded(path, nextBase, kPreferred);
        return {path, nextBase, kPreferred};
    }
};

TEST_F(ModuleDiscoveryTest, RecordsTheRelocatedModulesInTheOrderOfTheModuleList)
{
    AddLoaded(kImage, 0x140000000, 0x140000000);
    const Found first = AddRelocated(L"C:\\lib\\first.dll");
    AddLoaded(L"C:\\lib\\placed.dll", kPreferred, kPreferred);
    const Found second = AddRelocated(L"C:\\lib\\second.dll");
    // A PE32 file's base is read with the 32-bit reader.
    fake.files.AddFile(L"C:\\lib\\narrow.dll", image_test::MakeImage(false, 0x10000000));
    fake.processes.AddModule(kProcessId, {0x20000000, kModuleSize, L"C:\\lib\\narrow.dll"});

    EXPECT_EQ(Discover(), (std::vector<Found>{first, second,
                                              {L"C:\\lib\\narrow.dll", 0x20000000, 0x10000000}}));
    // Paced: one wait of 100 ms on the stop event before each of the five modules.
    const auto waits = fake.kernel.Waits();
    ASSERT_EQ(waits.size(), 5u);
    for (const auto& wait : waits) {
        EXPECT_EQ(wait.timeoutMs, 100u);
    }
}

TEST_F(ModuleDiscoveryTest, PassesOverModulesThatCannotBeExamined)
{
    const std::wstring longest(259, L'a');
    const std::wstring tooLong(260, L'a');
    const Found kept = AddRelocated(L"C:\\" + longest.substr(3));
    AddRelocated(L"C:\\" + tooLong.substr(3));
    const Found notAPipe = AddRelocated(L"C:\\lib\\pipes\\x.dll");
    AddRelocated(L"\\\\.\\PIPE\\x.dll");
    AddRelocated(L"\\\\.\\pIpE\\lower.dll");
    const Found device = AddRelocated(L"C:\\lib\\device.dll");
    fake.files.AddFile(device.path, image_test::MakeImage(true, kPreferred), FILE_TYPE_CHAR);
    const Found empty = AddRelocated(L"C:\\lib\\empty.dll");  // exists but cannot be mapped
    fake.files.AddFile(empty.path, {});
    const Found notAnImage = AddRelocated(L"C:\\lib\\replaced.dll");  // opens, no PE headers
    fake.files.AddFile(notAnImage.path, std::vector<BYTE>(512, 'x'));
    const Found missing = AddRelocated(L"C:\\lib\\missing.dll");
    fake.files.Remove(missing.path);
    const Found unloaded = AddRelocated(L"C:\\lib\\unloaded.dll");
    fake.processes.FailModuleName(kProcessId, unloaded.loadBase);
    AddImage(L"C:\\lib\\sizeless.dll", kPreferred);
    fake.processes.AddModule(kProcessId, {0x30000000, 0, L"C:\\lib\\sizeless.dll"});

    EXPECT_EQ(Discover(), (std::vector<Found>{kept, notAPipe}));
}

TEST_F(ModuleDiscoveryTest, StopsBeforeTheModuleWhoseWaitSeesTheStop)
{
    for (const wchar_t* name : {L"C:\\a.dll", L"C:\\b.dll", L"C:\\c.dll", L"C:\\d.dll"}) {
        AddRelocated(name);
    }
    int waits = 0;
    fake.kernel.SetWaitHook([&](const os::fake::FakeWait&) {
        if (++waits == 3) {
            fake.kernel.SetEvent(stop.get());
        }
    });
    {
        CProcessOpt process;
        ASSERT_TRUE(process.Open(kProcessId));
        try {
            process.EnumerateModules();
            ADD_FAILURE() << "discovery did not stop";
        } catch (const wchar_t* text) {
            EXPECT_STREQ(text, L"MRXThreadEvent");
        }
        ASSERT_EQ(process.modules.size(), 2u);
        EXPECT_EQ(process.modules[1]->GetPath(), L"C:\\b.dll");
    }
    EXPECT_EQ(waits, 3);
}

TEST_F(ModuleDiscoveryTest, RunsUnpacedWithoutAStopEvent)
{
    stop.reset();
    --resourcesBefore;
    AddRelocated(L"C:\\a.dll");
    AddRelocated(L"C:\\b.dll");
    EXPECT_EQ(Discover().size(), 2u);
    EXPECT_TRUE(fake.kernel.Waits().empty());
}

TEST_F(ModuleDiscoveryTest, FindsNothingAndWaitsForNothingWithoutAModuleList)
{
    AddRelocated(L"C:\\a.dll");
    fake.processes.FailModuleList(kProcessId);
    EXPECT_TRUE(Discover().empty());
    EXPECT_TRUE(fake.kernel.Waits().empty());
}

}  // namespace
