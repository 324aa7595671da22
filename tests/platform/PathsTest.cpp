#include "platform/Paths.h"

#include <gtest/gtest.h>

constexpr std::wstring_view kRemote = L"\\\\archive\\old";

TEST(ShareNames, JoinTheRememberedShareWithTheRestOfThePathWhereTheyFit)
{
    // Without its drive, with exactly one backslash between the remote name and the directory.
    const std::pair<const wchar_t*, const wchar_t*> joins[] = {
        {L"Y:\\a.b\\tool.x.dll", L"\\\\archive\\old\\a.b\\tool.x.dll"},
        {L"Y:tool.dll", L"\\\\archive\\old\\tool.dll"},
        {L"Y:lib/tool", L"\\\\archive\\old\\lib/tool"},
    };
    for (const auto& [path, joined] : joins) {
        EXPECT_EQ(JoinRememberedShare(kRemote, SplitPath(path), 520), joined);
    }
    // Nothing when the parts would not fit: remote (13) + directory (5) + name (4) + extension
    // (4) + 4 = 30.
    EXPECT_TRUE(JoinRememberedShare(kRemote, SplitPath(L"Y:\\lib\\tool.dll"), 30));
    EXPECT_EQ(JoinRememberedShare(kRemote, SplitPath(L"Y:\\lib\\tool.dll"), 29), std::nullopt);
    // At most 255 characters of directory, 259 of name and of extension, its dot included.
    const std::wstring directory = L"\\" + std::wstring(253, L'd') + L"\\";
    const std::wstring name(259, L'n');
    EXPECT_TRUE(FitsSplitBuffers(SplitPath(L"Y:" + directory + name + L"." + name.substr(1))));
    EXPECT_FALSE(FitsSplitBuffers(SplitPath(L"Y:d" + directory + L"x")));
    EXPECT_FALSE(FitsSplitBuffers(SplitPath(L"Y:\\x." + name)));
}

TEST(OpenGate, AdmitsOnlyPlainPathsOnADriveOrAShareInEverySpelling)
{
    constexpr auto kDrive = OpenablePath::DrivePath;
    constexpr auto kShare = OpenablePath::SharePath;
    const std::pair<const wchar_t*, OpenablePath> admitted[] = {
        {L"C:\\Apps\\tool.dll", kDrive}, {L"c:/apps/console.dll", kDrive},
        {L"\\\\?\\C:\\Apps\\COM10.dll", kDrive}, {L"\\\\files\\alice\\lib\\tool.dll", kShare},
        {L"//files/pipes/tool.dll", kShare}};
    for (const auto& [path, kind] : admitted) {
        EXPECT_EQ(ClassifyForOpening(path), kind) << path;
    }
    const std::wstring_view refused[] = {
        // Pipes and mailslots however spelt, and every device namespace.
        L"//./pipe/x", L"\\\\.\\PIPE/x", L"\\\\.\\GLOBALROOT\\Device\\NamedPipe\\x",
        L"\\\\?\\pipe\\x", L"//?/C:/x.dll", L"\\\\?\\C:/x.dll", L"\\\\?\\UNC\\files\\alice\\x",
        L"\\??\\C:\\x.dll", L"\\Device\\NamedPipe\\x", L"\\\\files\\PIPE\\x",
        L"\\\\localhost\\pipe. \\x", L"//files/MailSlot/x", L"\\\\files\\ipc$\\x",
        // Paths that depend on a current directory, or that the system rewrites.
        L"\\Apps\\tool.dll", L"tool.dll", L"C:tool.dll", L"1:\\x.dll", L"C:\\", L"", L"C:\\a\\",
        L"C:\\Apps\\..\\..\\pipe\\x", L"\\\\files\\alice\\..\\..\\pipe\\x", L"C:\\a\\.\\x",
        L"C:\\a\\ ..\\x", L"C:\\Apps\\\\x.dll", L"C:\\CONIN$\\x.dll",
        // DOS devices in any folder, with any extension, and streams, wildcards, terminators.
        L"C:\\Apps\\CON", L"C:\\nul.dll", L"C:\\Apps\\com1 .txt", L"C:\\lpt\u00B9.dll",
        L"C:\\x.dll:stream", L"C:\\*.dll", std::wstring_view(L"C:\\x\0\\y", 7),
    };
    for (const std::wstring_view path : refused) {
        EXPECT_EQ(ClassifyForOpening(path), OpenablePath::Refused) << std::wstring(path);
    }
}

TEST(MappedNames, BecomeTheDriveOrShareThatNamesTheirDeviceWithoutRegardToCase)
{
    const DosDrive drives[] = {{L'C', L"\\Device\\HarddiskVolume3"},
                               {L'D', L"\\Device\\HarddiskVolume30"}};
    const std::pair<const wchar_t*, std::optional<std::wstring>> names[] = {
        {L"\\Device\\HarddiskVolume3\\Windows\\x.dll", L"C:\\Windows\\x.dll"},
        {L"\\device\\harddiskvolume30\\x.dll", L"D:\\x.dll"},
        {L"\\Device\\HarddiskVolume4\\x.dll", std::nullopt},  // a volume without a drive
        {L"\\Device\\HarddiskVolume3", std::nullopt},
        {L"\\Device\\Mup\\files\\alice\\x.dll", L"\\\\files\\alice\\x.dll"},
        {L"\\Device\\Mup\\;LanmanRedirector\\;X:0000000000012345\\files\\a\\x", L"\\\\files\\a\\x"},
        {L"\\Device\\LanmanRedirector\\;X:0000000000012345\\files\\a\\x", L"\\\\files\\a\\x"},
        {L"\\??\\Z:\\tmp\\x.dll", L"Z:\\tmp\\x.dll"},  // as Wine names them
        {L"\\??\\UNC\\files\\alice\\x.dll", L"\\\\files\\alice\\x.dll"}};
    for (const auto& [kernel, openable] : names) {
        EXPECT_EQ(OpenableFormOfMappedName(kernel, drives), openable) << kernel;
    }
    EXPECT_TRUE(SamePathText(L"\\\\?\\C:\\Apps\\Tool.DLL", L"c:\\apps\\tool.dll"));
    EXPECT_FALSE(SamePathText(L"C:\\Apps\\tool.dll", L"C:\\Apps\\tool.dl"));
}
