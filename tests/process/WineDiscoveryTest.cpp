// Discovery and process selection against a real process: a victim that loads two libraries built
// with the same preferred base, so that the loader relocates the second, and that can rewrite its
// own module list.
#include "platform/Paths.h"
#include "process/ProcessOpt.h"
#include "victim/VictimProcess.h"
#include "worker/SystemQueries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

constexpr ULONGLONG kLibraryBase = 0x180000000;

using Victim = VictimProcess;

class WineDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(victim.reported); }

    DiscoveryContext context;
    Victim victim;
    CProcessOpt process{context};
};

TEST_F(WineDiscoveryTest, FindsExactlyTheRelocatedLibraryWithTheFirstAsItsOccupant)
{
    ASSERT_TRUE(process.Open(victim.id));
    EXPECT_EQ(process.name, Beside(L"vlm_victim.exe"));
    EXPECT_GT(process.GetPagefileUsage(), 0u);
    const std::vector<CModuleOpt*> found = process.EnumerateModules();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->GetPath(), Beside(L"vlm_victim_second.dll"));
    EXPECT_EQ(found[0]->loadBase, victim.second);
    EXPECT_EQ(found[0]->preferredBase, kLibraryBase);
    EXPECT_EQ(found[0]->processId, victim.id);
    EXPECT_EQ(found[0]->GetOccupantName(process.processHandle.get()),
              Beside(L"vlm_victim_first.dll"));
}

TEST_F(WineDiscoveryTest, ReadsTheModulesThatTheProcessStatusCallsList)
{
    ASSERT_TRUE(process.Open(victim.id));
    const HANDLE handle = process.processHandle.get();
    const std::vector<LoadedModule> read = ReadLoadedModules(handle);
    std::vector<HMODULE> listed(read.size() + 1);  // room for one more than was read
    DWORD bytes = 0;
    ::EnumProcessModules(handle, listed.data(), sizeof(HMODULE) * listed.size(), &bytes);
    ASSERT_EQ(bytes, sizeof(HMODULE) * read.size());
    for (std::size_t index = 0; index < read.size(); ++index) {
        MODULEINFO information{};
        wchar_t name[MAX_PATH + 1] = {};
        ::GetModuleInformation(handle, listed[index], &information, sizeof information);
        ::GetModuleFileNameExW(handle, listed[index], name, MAX_PATH);
        EXPECT_EQ(read[index].base, reinterpret_cast<ULONG_PTR>(listed[index]));
        EXPECT_EQ(read[index].size, information.SizeOfImage);
        EXPECT_EQ(read[index].path, name);
    }
}

TEST_F(WineDiscoveryTest, NamesADataFileMappedAtThePreferredBaseInDeviceForm)
{
    const std::wstring data = Beside(L"vlmmrxsvc.exe");  // any file, mapped as data
    const Victim mapping(L"map \"" + data + L"\"");
    ASSERT_EQ(mapping.mapped, kLibraryBase);
    ASSERT_TRUE(process.Open(mapping.id));
    const std::vector<CModuleOpt*> found = process.EnumerateModules();
    ASSERT_EQ(found.size(), 2u);  // neither library got its base
    for (CModuleOpt* record : found) {
        const std::wstring occupant = record->GetOccupantName(process.processHandle.get());
        EXPECT_EQ(occupant.substr(0, 1), L"\\");
        EXPECT_EQ(FileNamePart(occupant), FileNamePart(data)) << occupant;
    }
}

TEST_F(WineDiscoveryTest, ExaminesOnlyWhatTheKernelMapsAndOpensNoPipeWhateverTheListSays)
{
    // One instance: a client that connected, however briefly, would leave it busy.
    const std::wstring pipe = L"vlm-bait-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring pipePath = L"\\\\.\\pipe\\" + pipe;
    const os::UniqueFile bait(::CreateNamedPipeW(pipePath.c_str(), PIPE_ACCESS_DUPLEX,
                                                 PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr));
    const Victim forger(L"forge " + pipe + L" flood");
    ASSERT_TRUE(forger.reported);
    context.moduleWaitMs = 0;  // the worker's test paces through such a list
    ASSERT_TRUE(process.Open(forger.id));
    const std::vector<CModuleOpt*> found = process.EnumerateModules();
    // The private claim, the pipes, the repeated base and the thousands of entries where nothing
    // is mapped give nothing; the relocated library counts under its short name, a text that
    // names the file the kernel mapped.
    wchar_t shortName[MAX_PATH] = {};
    ::GetShortPathNameW(Beside(L"vlm_victim_second.dll").c_str(), shortName, MAX_PATH);
    EXPECT_NE(shortName, Beside(L"vlm_victim_second.dll"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->GetPath(), shortName);
    EXPECT_EQ(found[0]->loadBase, forger.second);
    EXPECT_TRUE(os::UniqueFile(::CreateFileW(pipePath.c_str(), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr)))
        << "the service connected to the pipe";
}

TEST_F(WineDiscoveryTest, ThrowsTheStopTextBeforeTheFirstModuleOnceStopped)
{
    const os::UniqueHandle stop(::CreateEventW(nullptr, TRUE, TRUE, L"MRXThreadEvent"));
    CProcessOpt stopped(context);
    ASSERT_TRUE(stopped.Open(victim.id));
    try {
        stopped.EnumerateModules();
        ADD_FAILURE() << "discovery did not stop";
    } catch (const wchar_t* text) {
        EXPECT_STREQ(text, L"MRXThreadEvent");
    }
    EXPECT_TRUE(stopped.modules.empty());
}

TEST_F(WineDiscoveryTest, SelectionKeepsTheProcessesWhoseLevelIsNotZero)
{
    for (const std::uint32_t victimLevel : {1u, 0u}) {
        const LevelLookup levelOf = [victimLevel](std::wstring_view path) {
            return path.ends_with(L"vlm_victim.exe") ? victimLevel : 1u;
        };
        ProcessSnapshot snapshot;
        std::vector<std::uint32_t> kept;
        ASSERT_EQ(TakeProcessSnapshot(snapshot, SystemProcessQuery(), levelOf, kept),
                  SnapshotResult::Taken);
        EXPECT_EQ(std::ranges::count(kept, victim.id), victimLevel != 0 ? 1 : 0);
        EXPECT_EQ(std::ranges::count(kept, ::GetCurrentProcessId()), 1);
    }
}

}  // namespace
