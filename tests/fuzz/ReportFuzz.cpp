// Arbitrary bytes as a repair-pending file through the report tool's whole read path: the records,
// every format and the plan, with image sizes made up from the paths (some unreadable, the others
// a few mebibytes). Any read outside the input or undefined behaviour stops the run.
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/ReportFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Report report = ReadReport({data, size});
    const std::vector<PlannedBase> plan = PlanRebase(
        report, [](const std::wstring& path) { return path.size() % 4 * 0x123456; });
    static_cast<void>(FormatTable(report, &plan) + FormatCsv(report) + FormatJson(report, &plan));
    return 0;
}
