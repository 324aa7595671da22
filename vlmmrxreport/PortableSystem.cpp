// The report tool built natively, for files copied off machines: standard-library files and
// streams, and no registry. The Windows paths in the records name no file here, so components
// are unknown unless their image files were copied along under the same names.
#include "vlmmrxreport/System.h"

#include "platform/Paths.h"
#include "settings/RepairFileSetting.h"
#include "vlmmrxreport/Utf8.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

std::size_t ReadStreamAt(std::ifstream& stream, std::uint64_t offset, std::span<std::uint8_t> into)
{
    stream.clear();
    stream.seekg(static_cast<std::streamoff>(offset));
    stream.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
    return static_cast<std::size_t>(stream.gcount());
}

// Opens a regular file for reading; a FIFO or device named in a record must not block the tool.
std::shared_ptr<std::ifstream> OpenRegularFile(const std::string& path, std::error_code& error)
{
    if (!std::filesystem::is_regular_file(path, error)) {
        return nullptr;
    }
    auto stream = std::make_shared<std::ifstream>(path, std::ios::binary);
    return stream->is_open() ? stream : nullptr;
}

std::string WhyNot(const std::error_code& code)
{
    return code == std::errc::no_such_file_or_directory ? "no such file"
           : code                                      ? "cannot be read (" + code.message() + ")"
                                                       : "not a file that can be read";
}

Writer StreamWriter(std::FILE* stream)
{
    return [stream](std::string_view text) {
        const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
        return std::fflush(stream) == 0 && written;
    };
}

}  // namespace

std::string ServiceRepairFile(std::string& error, bool& usage)
{
    error = "no FILE given; this build reads no registry, so no \"" +
            Utf8(kRepairPendingFileValue) + "\" setting can name the service's file";
    usage = true;
    return {};
}

pe::ReadAt OpenForReading(const std::string& path, std::string& error)
{
    std::error_code code;
    const auto stream = OpenRegularFile(path, code);
    if (!stream) {
        error = path + ": " + WhyNot(code);
        return {};
    }
    return [stream](std::uint64_t offset, std::span<std::uint8_t> into) {
        return ReadStreamAt(*stream, offset, into);
    };
}

bool ListFolder(const std::string& path, std::vector<std::string>& files, std::string& error)
{
    std::error_code code;
    if (!std::filesystem::is_directory(path, code)) {
        return false;
    }
    for (std::filesystem::directory_iterator entry(path, code), end; !code && entry != end;
         entry.increment(code)) {
        if (entry->is_regular_file(code)) {
            files.push_back(entry->path().string());
        }
    }
    if (code) {
        error = path + ": the folder cannot be read (" + code.message() + ")";
        return false;
    }
    std::sort(files.begin(), files.end());
    return true;
}

FileFacts ImageFactsOfFile(const std::wstring& path)
{
    FileFacts facts;
    const std::string name = Utf8(path);
    std::error_code code;
    const auto stream = NamesPipe(path) ? nullptr : OpenRegularFile(name, code);
    const std::uint64_t size = stream ? std::filesystem::file_size(name, code) : 0;
    if (!stream || code) {
        facts.unreadable = NamesPipe(path) ? "names a pipe" : WhyNot(code);
        return facts;
    }
    facts.image = pe::ReadImageFacts(size, [&stream](std::uint64_t offset, auto into) {
        return ReadStreamAt(*stream, offset, into);
    });
    if (!facts.image) {
        facts.unreadable = "no PE headers";
    }
    return facts;
}

std::wstring WindowsFolder() { return L"C:\\Windows"; }

Writer StandardOutput() { return StreamWriter(stdout); }

Writer StandardError() { return StreamWriter(stderr); }

Writer CreateOutputFile(const std::string& path, std::string& error)
{
    auto stream = std::make_shared<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!stream->is_open()) {
        error = path + ": cannot be created";
        return {};
    }
    return [stream](std::string_view text) {
        stream->write(text.data(), static_cast<std::streamsize>(text.size()));
        stream->flush();
        return stream->good();
    };
}
