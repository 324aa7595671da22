// Discovery, impersonation and the snapshot against real processes: a victim that loads two
// libraries built with the same preferred base, so that the loader relocates the second.
#include "process/Impersonate.h"
#include "process/LoadedModules.h"
#include "process/ProcessOpt.h"
#include "service/ServiceModule.h"
#include "service/StopEvent.h"
#include "victim/Beside.h"
#include "worker/ProcessSnapshot.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr ULONGLONG kLibraryBase = 0x180000000;
constexpr DWORD kReportWaitMs = 30000;
constexpr DWORD kPollMs = 10;
constexpr DWORD kEndWaitMs = 10000;

bool SameText(const std::wstring& left, const std::wstring& right)
{
    return ::_wcsicmp(left.c_str(), right.c_str()) == 0;
}

// The calling thread acts under the process's token: it has none of its own.
bool ThreadHasNoToken()
{
    HANDLE token = nullptr;
    if (::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        ::CloseHandle(token);
        return false;
    }
    return ::GetLastError() == ERROR_NO_TOKEN;
}

// The victim process, started with `arguments`, until the object is destroyed.
class Victim {
public:
    explicit Victim(const std::wstring& arguments)
    {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE childOutput = nullptr;
        HANDLE childInput = nullptr;
        if (!::CreatePipe(&output_, &childOutput, &inheritable, 0) ||
            !::CreatePipe(&childInput, &input_, &inheritable, 0)) {
            return;
        }
        // Only the child's ends are inherited.
        ::SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = L"\"" + Beside(L"vlm_victim.exe") + L"\" " + arguments;
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &started)) {
            process_ = started.hProcess;
            ::CloseHandle(started.hThread);
        }
        ::CloseHandle(childOutput);
        ::CloseHandle(childInput);
        if (process_ != nullptr) {
            ReadReport();
        }
    }

    ~Victim()
    {
        if (input_ != nullptr) {
            ::CloseHandle(input_);  // the end of its input ends it
        }
        if (process_ != nullptr) {
            if (::WaitForSingleObject(process_, kEndWaitMs) != WAIT_OBJECT_0) {
                ::TerminateProcess(process_, 1);
            }
            ::CloseHandle(process_);
        }
        if (output_ != nullptr) {
            ::CloseHandle(output_);
        }
    }

    Victim(const Victim&) = delete;
    Victim& operator=(const Victim&) = delete;

    bool reported = false;
    DWORD id = 0;
    ULONGLONG first = 0;
    ULONGLONG second = 0;
    ULONGLONG mapped = 0;

private:
    // One line on its output, waited for at most kReportWaitMs.
    void ReadReport()
    {
        std::string line;
        for (DWORD waited = 0; waited < kReportWaitMs && line.find('\n') == std::string::npos;) {
            DWORD available = 0;
            if (!::PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) {
                return;  // it ended without a report
            }
            if (available == 0) {
                ::Sleep(kPollMs);
                waited += kPollMs;
                continue;
            }
            char chunk[256] = {};
            DWORD read = 0;
            if (!::ReadFile(output_, chunk, std::min<DWORD>(available, sizeof chunk), &read,
                            nullptr)) {
                return;
            }
            line.append(chunk, read);
        }
        unsigned long pid = 0;
        reported = std::sscanf(line.c_str(), "pid=%lu first=%llx second=%llx mapped=%llx", &pid,
                               &first, &second, &mapped) == 4;
        id = pid;
    }

    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
};

class WineDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override { module.InitModule(::GetModuleHandleW(nullptr)); }
    void TearDown() override { EXPECT_TRUE(ThreadHasNoToken()); }

    CServiceModule module;
};

TEST_F(WineDiscoveryTest, FindsExactlyTheRelocatedLibraryWithTheFirstAsItsOccupant)
{
    Victim victim(L"");
    ASSERT_TRUE(victim.reported);
    ASSERT_EQ(victim.first, kLibraryBase);
    ASSERT_NE(victim.second, kLibraryBase);

    CProcessOpt process;
    ASSERT_TRUE(process.Open(victim.id));
    EXPECT_TRUE(SameText(process.name, Beside(L"vlm_victim.exe"))) << process.name;
    const std::vector<CModuleOpt*> found = process.EnumerateModules();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(SameText(found[0]->GetPath(), Beside(L"vlm_victim_second.dll")))
        << found[0]->GetPath();
    EXPECT_EQ(found[0]->loadBase, victim.second);
    EXPECT_EQ(found[0]->preferredBase, kLibraryBase);
    EXPECT_EQ(found[0]->processId, victim.id);
    const std::wstring occupant = found[0]->GetOccupantName(process.processHandle.get());
    EXPECT_TRUE(SameText(occupant, Beside(L"vlm_victim_first.dll"))) << occupant;
    EXPECT_GT(process.GetPagefileUsage(), 0u);
}

// The modules as the process-status calls list them, one call per answer.
std::vector<LoadedModule> ListThroughProcessStatus(HANDLE process)
{
    DWORD needed = 0;
    std::vector<HMODULE> handles(1024);
    EXPECT_TRUE(::EnumProcessModules(process, handles.data(),
                                     static_cast<DWORD>(handles.size() * sizeof(HMODULE)),
                                     &needed));
    handles.resize(needed / sizeof(HMODULE));
    std::vector<LoadedModule> modules;
    for (const HMODULE handle : handles) {
        MODULEINFO information{};
        EXPECT_TRUE(::GetModuleInformation(process, handle, &information, sizeof information));
        wchar_t name[MAX_PATH + 1] = {};
        EXPECT_NE(::GetModuleFileNameExW(process, handle, name, MAX_PATH), 0u);
        modules.push_back({reinterpret_cast<ULONG_PTR>(information.lpBaseOfDll),
                           information.SizeOfImage, name});
    }
    return modules;
}

TEST_F(WineDiscoveryTest, ReadsTheModulesTheProcessStatusCallsList)
{
    Victim victim(L"");
    ASSERT_TRUE(victim.reported);
    for (const DWORD id : {victim.id, ::GetCurrentProcessId()}) {
        const os::UniqueHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, id));
        ASSERT_TRUE(process);
        const std::vector<LoadedModule> expected = ListThroughProcessStatus(process.get());
        const std::vector<LoadedModule> read = ReadLoadedModules(process.get());
        ASSERT_EQ(read.size(), expected.size());
        ASSERT_GT(read.size(), 3u);
        for (std::size_t index = 0; index < read.size(); ++index) {
            EXPECT_EQ(read[index].base, expected[index].base);
            EXPECT_EQ(read[index].size, expected[index].size);
            EXPECT_EQ(read[index].path, expected[index].path);
        }
    }
}

TEST_F(WineDiscoveryTest, NamesADataFileMappedAtThePreferredBaseInDeviceForm)
{
    wchar_t directory[MAX_PATH] = {};
    wchar_t data[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, directory), 0u);
    ASSERT_NE(::GetTempFileNameW(directory, L"vlm", 0, data), 0u);
    {
        const HANDLE file = ::CreateFileW(data, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const std::vector<char> bytes(0x10000, 'd');
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    {
        Victim victim(L"map \"" + std::wstring(data) + L"\"");
        ASSERT_TRUE(victim.reported);
        ASSERT_EQ(victim.mapped, kLibraryBase);

        CProcessOpt process;
        ASSERT_TRUE(process.Open(victim.id));
        const std::vector<CModuleOpt*> found = process.EnumerateModules();
        ASSERT_EQ(found.size(), 2u);  // neither library got its base
        const std::wstring name = std::wstring(data).substr(std::wstring(data).rfind(L'\\'));
        for (CModuleOpt* record : found) {
            const std::wstring occupant = record->GetOccupantName(process.processHandle.get());
            ASSERT_FALSE(occupant.empty());
            EXPECT_EQ(occupant.front(), L'\\') << occupant;
            EXPECT_TRUE(SameText(occupant.substr(occupant.size() - std::min(occupant.size(),
                                                                            name.size())),
                                 name))
                << occupant;
        }
    }
    ::DeleteFileW(data);
}

TEST_F(WineDiscoveryTest, ThrowsTheStopTextBeforeTheFirstModuleOnceStopped)
{
    Victim victim(L"");
    ASSERT_TRUE(victim.reported);
    const os::UniqueHandle stop(::CreateEventW(nullptr, TRUE, TRUE, kStopEventName));
    ASSERT_TRUE(stop);
    CProcessOpt process;
    ASSERT_TRUE(process.Open(victim.id));
    try {
        process.EnumerateModules();
        ADD_FAILURE() << "discovery did not stop";
    } catch (const wchar_t* text) {
        EXPECT_STREQ(text, L"MRXThreadEvent");
    }
    EXPECT_TRUE(process.modules.empty());
}

TEST_F(WineDiscoveryTest, EveryImpersonationEndsWithTheThreadWithoutAToken)
{
    Victim victim(L"");
    ASSERT_TRUE(victim.reported);
    {
        CImpersonate owner;
        ASSERT_NE(owner.Impersonate(victim.id), FALSE);
        EXPECT_FALSE(ThreadHasNoToken());
    }
    EXPECT_TRUE(ThreadHasNoToken());
    {
        CImpersonate nobody;
        EXPECT_EQ(nobody.Impersonate(0xFFFFFFF0), FALSE);
    }
    EXPECT_TRUE(ThreadHasNoToken());

    // Paths the service cannot reach are tried as the owner; Wine's provider converts nothing.
    CProcessOpt process;
    ASSERT_TRUE(process.Open(victim.id));
    std::wstring path = L"Q:\\nowhere\\tool.exe";
    process.ResolveUniversalName(path);
    EXPECT_EQ(path, L"Q:\\nowhere\\tool.exe");
    EXPECT_TRUE(ThreadHasNoToken());
    CModuleOpt record;
    record.processId = victim.id;
    EXPECT_TRUE(record.SetPath(L"Q:\\nowhere\\tool.dll"));
    EXPECT_EQ(record.GetPath(), L"Q:\\nowhere\\tool.dll");
}

TEST_F(WineDiscoveryTest, SnapshotKeepsTheProcessesWhoseLevelIsNotZero)
{
    Victim victim(L"");
    ASSERT_TRUE(victim.reported);
    ProcessSnapshot snapshot(FindNtQuerySystemInformation());
    std::vector<DWORD> kept;
    ASSERT_EQ(snapshot.Take([](const wchar_t*) { return 1u; }, kept), SnapshotResult::Taken);
    EXPECT_NE(std::find(kept.begin(), kept.end(), victim.id), kept.end());
    EXPECT_NE(std::find(kept.begin(), kept.end(), ::GetCurrentProcessId()), kept.end());

    const auto victimLeftAlone = [](const wchar_t* path) {
        return std::wstring(path).ends_with(L"vlm_victim.exe") ? 0u : 1u;
    };
    ASSERT_EQ(snapshot.Take(victimLeftAlone, kept), SnapshotResult::Taken);
    EXPECT_EQ(std::find(kept.begin(), kept.end(), victim.id), kept.end());
    EXPECT_NE(std::find(kept.begin(), kept.end(), ::GetCurrentProcessId()), kept.end());
}

}  // namespace
