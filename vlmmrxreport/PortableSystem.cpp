// The report tool built natively, for a file copied off a machine: standard-library files and
// streams, and no registry. The Windows paths in the records name no file here, so a plan has
// nothing to place unless the image files were copied along under the same names.
#include "vlmmrxreport/System.h"

#include "vlmmrxreport/Utf8.h"

#include "image/PeHeaders.h"
#include "settings/RepairFileSetting.h"

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

void Write(std::FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

std::string ServiceRepairFile(std::string& error)
{
    error = "no FILE given; this build reads no registry, so no \"" +
            Utf8(kRepairPendingFileValue) + "\" setting can name the service's file";
    return {};
}

pe::ReadAt OpenForReading(const std::string& path, std::string& error)
{
    std::error_code code;
    const auto stream = OpenRegularFile(path, code);
    if (!stream) {
        error = path + (code == std::errc::no_such_file_or_directory ? ": no such file"
                        : code ? ": cannot be read (" + code.message() + ")"
                               : ": not a file that can be read");
        return {};
    }
    return [stream](std::uint64_t offset, std::span<std::uint8_t> into) {
        return ReadStreamAt(*stream, offset, into);
    };
}

std::uint32_t ImageSizeOfFile(const std::wstring& path)
{
    const std::string name = Utf8(path);
    std::error_code code;
    const auto stream = OpenRegularFile(name, code);
    if (!stream) {
        return 0;
    }
    const std::uint64_t size = std::filesystem::file_size(name, code);
    if (code) {
        return 0;
    }
    return pe::ReadSizeOfImage(size, [&stream](std::uint64_t offset, std::span<std::uint8_t> into) {
        return ReadStreamAt(*stream, offset, into);
    });
}

void WriteOutput(std::string_view text) { Write(stdout, text); }

void WriteMessage(std::string_view text) { Write(stderr, text); }

int main(int argc, char** argv)
{
    return RunReport(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}
