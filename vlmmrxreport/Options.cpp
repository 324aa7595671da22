#include "vlmmrxreport/Options.h"

#include "platform/Paths.h"
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/Utf8.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace {

constexpr std::pair<std::string_view, ReportFormat> kFormats[] = {
    {"table", ReportFormat::kTable}, {"csv", ReportFormat::kCsv},
    {"json", ReportFormat::kJson},   {"jsonl", ReportFormat::kJsonLines},
    {"html", ReportFormat::kHtml},   {"cmd", ReportFormat::kCmd}};

enum class Switch { kFormat, kPlan, kBase, kOutput, kComponent, kProcess, kHelp, kVersion };

struct SwitchName {
    std::string_view name;
    Switch which;
    bool takesValue;
};

constexpr SwitchName kSwitches[] = {
    {"format", Switch::kFormat, true},       {"plan", Switch::kPlan, false},
    {"base", Switch::kBase, true},           {"o", Switch::kOutput, true},
    {"output", Switch::kOutput, true},       {"component", Switch::kComponent, true},
    {"process", Switch::kProcess, true},     {"help", Switch::kHelp, false},
    {"h", Switch::kHelp, false},             {"?", Switch::kHelp, false},
    {"version", Switch::kVersion, false}};

constexpr int kHexBase = 16;

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

// A switch as written: its name and, after "=" or ":", its value.
struct Written {
    const SwitchName* known = nullptr;
    std::string name;
    std::optional<std::string> value;
};

// `argument` as a switch; nothing when it is none (no prefix, or "/" and no switch's name).
std::optional<Written> AsSwitch(std::string_view argument)
{
    std::size_t prefix = argument.starts_with("--") ? 2 : argument.starts_with('-') ||
                                                                  argument.starts_with('/')
                                                              ? 1
                                                              : 0;
    if (prefix == 0 || argument.size() == prefix) {
        return std::nullopt;
    }
    Written written;
    const std::string_view rest = argument.substr(prefix);
    const std::size_t split = rest.find_first_of("=:");
    written.name = Lower(rest.substr(0, split));
    if (split != std::string_view::npos) {
        written.value = std::string(rest.substr(split + 1));
    }
    for (const SwitchName& candidate : kSwitches) {
        if (candidate.name == written.name) {
            written.known = &candidate;
        }
    }
    if (!written.known && argument.starts_with('/')) {
        return std::nullopt;
    }
    return written;
}

bool ParseFormat(const std::string& name, ReportFormat& format)
{
    for (const auto& [known, value] : kFormats) {
        if (Lower(name) == known) {
            format = value;
            return true;
        }
    }
    return false;
}

std::optional<std::uint64_t> ParseAddress(std::string_view text)
{
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    text.remove_prefix(hex ? 2 : 0);
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, hex ? kHexBase : 10);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Takes the value of `written` into `options`; what is wrong with it, or nothing.
std::string Take(const Written& written, const std::string& value, ReportOptions& options)
{
    switch (written.known->which) {
    case Switch::kFormat:
        return ParseFormat(value, options.format)
                   ? ""
                   : "--format takes table, csv, json, jsonl, html or cmd";
    case Switch::kBase:
        options.base = ParseAddress(value);
        return options.base && *options.base % kPlanAlignment == 0
                   ? ""
                   : "--base takes a 64 KiB-aligned address, such as 0x200000000";
    case Switch::kOutput:
        options.output = value;
        return value.empty() ? "-o takes a file name" : "";
    case Switch::kComponent:
        options.componentPattern = Utf16(value);
        return "";
    case Switch::kProcess:
        options.processPattern = Utf16(value);
        return "";
    case Switch::kPlan:
        options.plan = true;
        return "";
    case Switch::kHelp:
        options.help = true;
        return "";
    case Switch::kVersion:
        options.version = true;
        return "";
    }
    return "";
}

std::string Checked(const ReportOptions& options)
{
    if (options.base && !options.plan) {
        return "--base places the plan's new bases: add --plan";
    }
    if (options.plan && options.format == ReportFormat::kJsonLines) {
        return "jsonl holds records only: write the plan with --format json, csv or cmd";
    }
    return "";
}

bool MatchesFrom(std::wstring_view pattern, std::wstring_view text)
{
    // Backtracks only to the last "*": linear in practice, and never recursive.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::wstring_view::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() &&
                   (pattern[p] == L'?' || UpperCaseOf(pattern[p]) == UpperCaseOf(text[t]))) {
            ++p;
            ++t;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

bool Matches(std::wstring_view pattern, std::wstring_view path)
{
    if (pattern.empty()) {
        return true;
    }
    const bool whole = pattern.find_first_of(L"\\/") != std::wstring_view::npos;
    return MatchesFrom(pattern, whole ? path : FileNamePart(path));
}

}  // namespace

bool Selects(const ReportOptions& options, const RepairRecord& record)
{
    return Matches(options.componentPattern, record.componentPath) &&
           Matches(options.processPattern, record.processPath);
}

ReportOptions ParseArguments(const std::vector<std::string>& arguments)
{
    ReportOptions options;
    for (std::size_t index = 0; index < arguments.size() && options.error.empty(); ++index) {
        const auto written = AsSwitch(arguments[index]);
        if (!written) {
            options.inputs.push_back(arguments[index]);
        } else if (!written->known) {
            options.error = "unknown switch: " + arguments[index];
        } else if (!written->known->takesValue) {
            options.error = written->value ? arguments[index] + " takes no value" : "";
            static_cast<void>(Take(*written, "", options));
        } else if (written->value) {
            options.error = Take(*written, *written->value, options);
        } else if (index + 1 < arguments.size()) {
            options.error = Take(*written, arguments[++index], options);
        } else {
            options.error = arguments[index] + " takes a value";
        }
    }
    if (options.format == ReportFormat::kCmd) {
        options.plan = true;  // the command file is the plan
    }
    if (options.error.empty()) {
        options.error = Checked(options);
    }
    return options;
}
