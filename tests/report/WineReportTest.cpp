// The report tool as a program under Wine: on a repair-pending file that a writer holds as the
// service does (read and write access, shared for reading only), named or found from the setting;
// its component's image file read for its class; a folder of a fleet's files, written to a file;
// and what it says when there is nothing to read.
#include "image/RepairRecord.h"

#include "RunReport.h"
#include "SettingsKey.h"
#include "TempFiles.h"

#include <gmock/gmock.h>

namespace {

using namespace testing;
using namespace testing_support;

TEST(WineReport, ReadsTheFileAWriterHoldsAndItsImagesAFleetsFolderAndNamesWhatIsMissing)
{
    const RemoveSettingsAtTheEnd cleanup;
    TempFiles temp;
    const os::UniqueFile writer(::CreateFileW(temp.Path(L"pending64.dat").c_str(),
                                              GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                              nullptr, CREATE_ALWAYS, 0, nullptr));
    RepairRecordBytes record{};
    ASSERT_TRUE(EncodeRepairRecord(1, 0x10000, 0x140000000, Beside(L"vlm_wine_tests.exe"),
                                   L"C:\\app.exe", L"?", record));
    DWORD written = 0;
    ::WriteFile(writer.get(), record.data(), record.size(), &written, nullptr);
    ::WriteFile(writer.get(), "torn", 4, &written, nullptr);
    MODULEINFO self{};  // this test program's image, named in the record; the linker's default
    ::GetModuleInformation(::GetCurrentProcess(), ::GetModuleHandleW(nullptr), &self, sizeof self);

    EXPECT_THAT(RunReportTool(L""), Pair(3u, HasSubstr("no \"RepairPendingFile\" setting")));
    SetText(L"RepairPendingFile", temp.Path(L"pending.dat"));
    EXPECT_THAT(RunReportTool(L"/plan /format:json"),
                Pair(1u, AllOf(HasSubstr("\"class\": \"aslr\", \"dynamicBase\": true, \"pe32\": "
                                         "false, \"signed\": false, \"systemFile\": false, "
                                         "\"sizeOfImage\": " +
                                         std::to_string(self.SizeOfImage)),
                               HasSubstr("\"reason\": \"aslr: it asks to be moved"),
                               HasSubstr("4 bytes after the last whole record"))));
    EXPECT_THAT(RunReportTool(L"\"" + temp.Path(L"none.dat") + L"\""),
                Pair(3u, HasSubstr("none.dat: no such file")));

    const std::wstring fleet = temp.Path(L"fleet");
    ASSERT_TRUE(::CreateDirectoryW(fleet.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(temp.Path(L"pending64.dat").c_str(),
                            temp.Path(L"fleet\\WEB01.dat").c_str(), FALSE));
    const std::wstring csv = temp.Path(L"fleet.csv");
    EXPECT_EQ(RunReportTool(L"--format csv -o \"" + csv + L"\" \"" + fleet + L"\"").first, 1u);
    char bytes[512] = {};
    const os::UniqueFile out(::CreateFileW(csv.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ::ReadFile(out.get(), bytes, sizeof bytes - 1, &written, nullptr);
    EXPECT_THAT(std::string(bytes), AllOf(StartsWith("\xEF\xBB\xBF" "offset,"),
                                          HasSubstr(",C:\\app.exe,?,WEB01,aslr,")));
    ::DeleteFileW(temp.Path(L"fleet\\WEB01.dat").c_str());
    ::RemoveDirectoryW(fleet.c_str());
}

}  // namespace
