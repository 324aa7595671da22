#include "vlmmrxreport/Options.h"
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/Report.h"
#include "vlmmrxreport/ReportFormats.h"
#include "vlmmrxreport/System.h"

#include <new>

namespace {

constexpr char kProgram[] = "vlmmrxreport: ";

void Tell(const std::string& message) { WriteMessage(kProgram + message + "\n"); }

int Fail(const std::string& message)
{
    Tell(message);
    return kExitNothingToRead;
}

std::string Formatted(const ReportOptions& options, const Report& report)
{
    std::vector<PlannedBase> plan;
    if (options.plan) {
        plan = PlanRebase(report, ImageSizeOfFile);
    }
    const std::vector<PlannedBase>* shown = options.plan ? &plan : nullptr;
    switch (options.format) {
    case ReportFormat::kCsv:
        return FormatCsv(report);
    case ReportFormat::kJson:
        return FormatJson(report, shown);
    case ReportFormat::kTable:
        break;
    }
    return FormatTable(report, shown);
}

}  // namespace

int RunReport(const std::vector<std::string>& arguments)
{
    const ReportOptions options = ParseArguments(arguments);
    if (!options.error.empty()) {
        WriteMessage(kProgram + options.error + "\n" + kUsage);
        return kExitNothingToRead;
    }
    if (options.help) {
        WriteOutput(kUsage);
        return kExitClean;
    }
    std::string error;
    const std::string path = options.file.empty() ? ServiceRepairFile(error) : options.file;
    if (path.empty()) {
        return Fail(error);
    }
    const pe::ReadAt read = OpenForReading(path, error);
    if (!read) {
        return Fail(error);
    }
    try {
        const Report report = ReadReport(read);
        WriteOutput(Formatted(options, report));
        for (const std::string& message : DamageMessages(path, report)) {
            Tell(message);
        }
        return ExitCodeFor(report);
    } catch (const std::bad_alloc&) {
        return Fail(path + ": too large to show in the memory available");
    }
}
