#include "process/Impersonate.h"

#include "ProcessFixture.h"
#include "resources/StringTable.h"

#include <functional>
#include <string>

namespace {

using namespace process_test;

class ImpersonateTest : public ProcessFixture {};

TEST_F(ImpersonateTest, ActsAsTheOwnerOfTheProcessUntilDestroyed)
{
    {
        CImpersonate owner;
        ASSERT_NE(owner.Impersonate(kProcessId), FALSE);
        EXPECT_EQ(fake.security.ThreadUser(), kUser);
    }
    EXPECT_EQ(fake.security.ThreadUser(), os::fake::kFakeServiceUser);
    EXPECT_EQ(fake.security.ImpersonationCount(), 1);
}

TEST_F(ImpersonateTest, FailsSilentlyForAProcessThatIsGoneOrMayNotBeOpened)
{
    fake.processes.AddProcess(0x48, L"C:\\apps\\other.exe");
    fake.processes.RefuseOpen(0x48);
    for (const DWORD id : {0x48u, 0x4Cu}) {
        CImpersonate owner;
        EXPECT_EQ(owner.Impersonate(id), FALSE);
    }
    EXPECT_EQ(fake.security.ImpersonationCount(), 0);
}

TEST_F(ImpersonateTest, FailsAtEachStepAndLeavesTheThreadAsItWas)
{
    const std::function<void(DWORD)> steps[] = {
        [&](DWORD error) { fake.security.FailImpersonateSelf(error); },
        [&](DWORD error) { fake.security.FailProcessTokenOpen(error); },
        [&](DWORD error) { fake.security.FailImpersonateLoggedOnUser(error); },
    };
    for (const auto& failAt : steps) {
        failAt(ERROR_ACCESS_DENIED);
        {
            CImpersonate owner;
            EXPECT_EQ(owner.Impersonate(kProcessId), FALSE);
        }
        EXPECT_FALSE(fake.security.HasThreadToken());
        EXPECT_EQ(fake.OpenResourceCount(), resourcesBefore);
        failAt(ERROR_SUCCESS);
    }
    EXPECT_EQ(fake.security.ImpersonationCount(), 0);
}

TEST_F(ImpersonateTest, FailsWithoutTheEntryPoints)
{
    fake.kernel.RemoveExport(L"Advapi32", "ImpersonateSelf");
    fake.kernel.RemoveExport(L"Advapi32", "ImpersonateLoggedOnUser");
    fake.security.FailImpersonationEntryPoints();  // for the entry points an earlier test found
    CImpersonate owner;
    EXPECT_EQ(owner.Impersonate(kProcessId), FALSE);
    EXPECT_FALSE(fake.security.HasThreadToken());
}

TEST(ImpersonationWarnings, FillTheStringTableTexts)
{
    os::fake::FakePlatform fake;
    EXPECT_EQ(FormatImpersonationWarning(IDS_IMPERSONATE_SELF_FAILED, L"SYSTEM", 5), L"");
    EXPECT_EQ(FormatImpersonationWarning(IDS_OPEN_TOKEN_FAILED, L"SYSTEM", 5),
              L"Unable to open process token for SYSTEM. Last Error = 5");
    EXPECT_EQ(FormatImpersonationWarning(IDS_DECIMAL_FORMAT, L"SYSTEM", 1300), L"1300");
}

class UniversalNameTest : public ProcessFixture {
protected:
    // The conversion as the owner of the process sees the drives.
    bool Convert(const wchar_t* path, DWORD capacity = 520)
    {
        CImpersonate owner;
        EXPECT_NE(owner.Impersonate(kProcessId), FALSE);
        output.assign(capacity, L'#');
        const bool converted = GetUniversalName(path, output.data(), capacity);
        output.resize(converted ? std::wcslen(output.c_str()) : 0);
        return converted;
    }

    std::wstring output;
};

TEST_F(UniversalNameTest, ConvertsAPathOnAConnectedShare)
{
    ASSERT_TRUE(Convert(L"Z:\\lib\\tool.dll"));
    EXPECT_EQ(output, L"\\\\files\\alice\\lib\\tool.dll");
}

TEST_F(UniversalNameTest, JoinsARememberedShareWithTheRestOfThePath)
{
    fake.network.Remember(kUser, L"Y:", L"\\\\archive\\old");
    const struct {
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {
        {L"Y:\\lib\\sub\\tool.dll", L"\\\\archive\\old\\lib\\sub\\tool.dll"},
        {L"Y:tool.dll", L"\\\\archive\\old\\tool.dll"},  // no directory: one backslash added
        {L"Y:lib\\tool", L"\\\\archive\\old\\lib\\tool"},
        {L"Y:\\a.b\\tool.x.dll", L"\\\\archive\\old\\a.b\\tool.x.dll"},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(testing::Message() << example.path);
        ASSERT_TRUE(Convert(example.path));
        EXPECT_EQ(output, example.expected);
    }
}

TEST_F(UniversalNameTest, FailsWhenTheRememberedShareWouldNotFit)
{
    fake.network.Remember(kUser, L"Y:", L"\\\\archive\\old");
    // remote (13) + directory (5) + name (4) + extension (4) + 4 = 30
    EXPECT_TRUE(Convert(L"Y:\\lib\\tool.dll", 30));
    EXPECT_EQ(output, L"\\\\archive\\old\\lib\\tool.dll");
    EXPECT_FALSE(Convert(L"Y:\\lib\\tool.dll", 29));
}

TEST_F(UniversalNameTest, LeavesLocalAndDrivelessPathsAndOtherUsersDrives)
{
    fake.network.Connect(L"bob", L"X:", L"\\\\files\\bob");
    EXPECT_FALSE(Convert(L"C:\\apps\\tool.dll"));
    EXPECT_FALSE(Convert(L"X:\\lib\\tool.dll"));
    EXPECT_FALSE(Convert(L"\\\\files\\alice\\tool.dll"));
    // Without acting as the owner the service sees none of the owner's drives.
    wchar_t buffer[520] = {};
    EXPECT_FALSE(GetUniversalName(L"Z:\\lib\\tool.dll", buffer, 520));
}

TEST_F(UniversalNameTest, RefusesAMissingOutputArea)
{
    EXPECT_FALSE(GetUniversalName(L"Z:\\lib\\tool.dll", nullptr, 520));
    EXPECT_EQ(fake.errors.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
