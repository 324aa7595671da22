// The report tool as a program under Wine, on a repair-pending file that a writer holds as the
// service does (read and write access, shared for reading only): named, or found from the
// setting; its component's image file sized for the plan; and what it says when there is nothing
// to read.
#include "image/RepairRecord.h"

#include "RunReport.h"
#include "SettingsKey.h"
#include "TempFiles.h"

#include <gmock/gmock.h>

namespace {

using namespace testing;
using namespace testing_support;

TEST(WineReport, ReadsTheFileAWriterHoldsFromTheSettingSizesItsImagesAndNamesWhatIsMissing)
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
    MODULEINFO self{};  // this test program's image, named in the record
    ::GetModuleInformation(::GetCurrentProcess(), ::GetModuleHandleW(nullptr), &self, sizeof self);

    EXPECT_THAT(RunReportTool(L""), Pair(2u, HasSubstr("no \"RepairPendingFile\" setting")));
    SetText(L"RepairPendingFile", temp.Path(L"pending.dat"));
    EXPECT_THAT(RunReportTool(L"--plan --format json"),
                Pair(1u, HasSubstr("\"sizeOfImage\": " + std::to_string(self.SizeOfImage) +
                                   ", \"plannedBase\": \"0x0000000200000000\"}")));
    EXPECT_THAT(RunReportTool(L"\"" + temp.Path(L"none.dat") + L"\""),
                Pair(2u, HasSubstr("none.dat: no such file")));
}

}  // namespace
