// The tool's run: the command line, then every file read once, its records streamed through the
// findings into the chosen form, then what is known at the end (the summary, the plan).
#include "vlmmrxreport/Options.h"
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/ReportFormats.h"
#include "vlmmrxreport/System.h"
#include "vlmmrxreport/Utf8.h"

#include <algorithm>
#include <new>

namespace {

constexpr char kProgram[] = "vlmmrxreport: ";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class Run {
public:
    Run(const ReportOptions& options, const Writer& messages)
        : options_(options), messages_(messages),
          findings_(ImageFactsOfFile, WindowsFolder(), GatheringFor(options.format, options.plan))
    {
    }

    void Tell(const std::string& message) { messages_(kProgram + message + "\n"); }

    void Raise(int code) { exitCode_ = std::max(exitCode_, code); }
    [[nodiscard]] int ExitCode() const { return exitCode_; }

    // The files that the inputs stand for: a folder for the files in it.
    std::vector<std::string> Files()
    {
        std::vector<std::string> files;
        for (const std::string& input : options_.inputs) {
            std::vector<std::string> inFolder;
            std::string error;
            if (ListFolder(input, inFolder, error)) {
                files.insert(files.end(), inFolder.begin(), inFolder.end());
            } else if (!error.empty()) {
                Tell(error);
                Raise(kExitUnreadable);
            } else {
                files.push_back(input);
            }
        }
        return files;
    }

    void Read(const std::string& file, bool several, ReportWriter& writer)
    {
        findings_.BeginSource(SourceName(file), file);
        std::string error;
        const pe::ReadAt read = OpenForReading(file, error);
        if (!read) {
            findings_.SourceUnreadable();
            Tell(error);
            Raise(kExitUnreadable);
            return;
        }
        const SourceFindings& source = findings_.Sources().back();
        writer.BeginSource(source, several);
        std::uint64_t whole = 0;
        const std::uint64_t tail = ScanRepairFile(read, [&](const ScannedRecord& entry) {
            ++whole;
            const bool shown = Selects(options_, entry.record);
            const Findings::Verdict verdict = findings_.Add(entry, shown);
            if (entry.state != RecordState::kValid) {
                Tell(StateMessage(file, entry));
                Raise(entry.state == RecordState::kFilled ? kExitClean : kExitDamaged);
            }
            if (shown) {
                writer.Record(source, entry, verdict);
            }
        });
        findings_.SourceEnds(tail);
        if (tail > 0) {
            Tell(TornTailMessage(file, tail, whole * kRepairRecordBytes));
            Raise(kExitDamaged);
        }
    }

    void End(ReportWriter& writer)
    {
        if (options_.plan) {
            const std::vector<PlanEntry> plan = PlanRebase(findings_, options_.base);
            writer.End(findings_, &plan);
        } else {
            writer.End(findings_, nullptr);
        }
    }

private:
    const ReportOptions& options_;
    const Writer& messages_;
    Findings findings_;
    int exitCode_ = kExitClean;
};

}  // namespace

int RunReport(const std::vector<std::string>& arguments, const Writer& output,
              const Writer& messages)
{
    ReportOptions options = ParseArguments(arguments);
    if (!options.error.empty()) {
        messages(kProgram + options.error + "\n" + kUsage);
        return kExitUsage;
    }
    if (options.help || options.version) {
        output(options.help ? kUsage : kVersion);
        return kExitClean;
    }
    Run run(options, messages);
    if (options.inputs.empty()) {
        std::string error;
        bool usage = false;
        const std::string path = ServiceRepairFile(error, usage);
        if (path.empty()) {
            run.Tell(error);
            return usage ? kExitUsage : kExitUnreadable;
        }
        options.inputs.push_back(path);
    }
    Writer writer = output;
    if (!options.output.empty()) {
        std::string error;
        writer = CreateOutputFile(options.output, error);
        if (!writer) {
            run.Tell(error);
            return kExitUnreadable;
        }
        if (WantsByteOrderMark(options.format)) {
            writer(kByteOrderMark);
        }
    }
    try {
        TextOut out(writer);
        const auto formatter = MakeWriter(options.format, options.plan, out);
        const std::vector<std::string> files = run.Files();
        for (const std::string& file : files) {
            run.Read(file, files.size() > 1, *formatter);
        }
        run.End(*formatter);
        if (!out.Finish()) {
            run.Tell((options.output.empty() ? std::string("the output") : options.output) +
                     ": cannot be written");
            run.Raise(kExitUnreadable);
        }
    } catch (const std::bad_alloc&) {
        run.Tell("not enough memory for the records' aggregates");
        run.Raise(kExitUnreadable);
    }
    return run.ExitCode();
}
