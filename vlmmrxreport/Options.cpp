#include "vlmmrxreport/Options.h"

#include <utility>

namespace {

constexpr std::pair<const char*, ReportFormat> kFormats[] = {
    {"table", ReportFormat::kTable}, {"csv", ReportFormat::kCsv}, {"json", ReportFormat::kJson}};

bool ParseFormat(const std::string& name, ReportFormat& format)
{
    for (const auto& [known, value] : kFormats) {
        if (name == known) {
            format = value;
            return true;
        }
    }
    return false;
}

}  // namespace

ReportOptions ParseArguments(const std::vector<std::string>& arguments)
{
    ReportOptions options;
    for (std::size_t index = 0; index < arguments.size() && options.error.empty(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--format") {
            if (++index == arguments.size() || !ParseFormat(arguments[index], options.format)) {
                options.error = "--format takes table, csv or json";
            }
        } else if (argument == "--plan") {
            options.plan = true;
        } else if (argument == "--help" || argument == "-h" || argument == "/?") {
            options.help = true;
        } else if (argument.starts_with("-") || !options.file.empty()) {
            options.error = "unexpected argument: " + argument;
        } else {
            options.file = argument;
        }
    }
    if (options.error.empty() && options.plan && options.format == ReportFormat::kCsv) {
        options.error = "--plan has no csv form: use --format table or json";
    }
    return options;
}
