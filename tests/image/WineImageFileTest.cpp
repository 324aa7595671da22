// CImageFile against real files, through the real file calls.
#include "image/ImageFileCases.h"
#include "platform/WineTempFiles.h"

#include <string>
#include <vector>

namespace {

std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring ProgramDirectory()
{
    const std::wstring program = ProgramPath();
    return program.substr(0, program.find_last_of(L'\\') + 1);
}

std::vector<BYTE> ReadWholeFile(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    BYTE chunk[4096];
    DWORD done = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &done, nullptr) && done > 0) {
        bytes.insert(bytes.end(), chunk, chunk + done);
    }
    ::CloseHandle(file);
    return bytes;
}

// The platform's own header structures, as a second opinion that shares nothing with the reader.
ULONGLONG ImageBaseByPlatformHeaders(const BYTE* image)
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + dos->e_lfanew);
    return nt->OptionalHeader.ImageBase;
}

class RealImageFileCases : public ImageFileCases {
protected:
    std::wstring Stage(const char* name, const std::vector<BYTE>& bytes) override
    {
        const std::wstring path =
            temp_.Path(L"-vlm-image-" + std::wstring(name, name + std::strlen(name)) + L".bin");
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        EXPECT_TRUE(::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                                nullptr));
        ::CloseHandle(file);
        return path;
    }

private:
    WineTempFiles temp_;
};

VLM_IMAGE_FILE_CASES(RealImageFileCases)

TEST(WineImageFile, ReadsTheServiceExecutableAsPe32Plus)
{
    const std::wstring path = ProgramDirectory() + L"vlmmrxsvc.exe";
    const std::vector<BYTE> bytes = ReadWholeFile(path);
    ASSERT_GT(bytes.size(), 4096u);
    CImageFile image;
    ASSERT_TRUE(image.Open(path.c_str(), true));
    EXPECT_TRUE(image.IsPE32Plus());
    const ULONGLONG base = image.ReadImageBase64();
    EXPECT_NE(base, 0u);
    EXPECT_EQ(base, ImageBaseByPlatformHeaders(bytes.data()));
    // The linker's base for a 64-bit executable; the build does not choose another.
    EXPECT_EQ(base, 0x140000000u);
    EXPECT_EQ(image.ReadImageBase64(), base);
}

TEST(WineImageFile, ReadsTheBaseThatTheLoaderSeesInTheRunningProgram)
{
    // The loader keeps the file's ImageBase in the mapped header, relocated or not.
    const auto* loaded = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
    CImageFile image;
    ASSERT_TRUE(image.Open(ProgramPath().c_str(), true));
    ASSERT_TRUE(image.IsPE32Plus());
    EXPECT_EQ(image.ReadImageBase64(), ImageBaseByPlatformHeaders(loaded));
}

TEST(WineImageFile, RefusesACharacterDevice)
{
    const HANDLE device = ::CreateFileW(L"NUL", GENERIC_READ, 7, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_NE(::GetFileType(device), static_cast<DWORD>(FILE_TYPE_DISK));
    ::CloseHandle(device);

    CImageFile image;
    EXPECT_FALSE(image.Open(L"NUL", false));
    EXPECT_FALSE(image.IsPE32Plus());
    EXPECT_EQ(image.ReadImageBase64(), 0u);
}

TEST(WineImageFile, RefusesAPipeByNameWithoutOpeningIt)
{
    // A pipe that exists: opening it as a client would connect to it, so a refusal by name shows.
    const wchar_t* name = L"\\\\.\\pipe\\vlm-image-test";
    const HANDLE pipe = ::CreateNamedPipeW(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0,
                                           nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    CImageFile image;
    EXPECT_FALSE(image.Open(name, true));
    // No client came: the pipe still accepts one.
    const HANDLE client = ::CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(client, INVALID_HANDLE_VALUE);
    ::CloseHandle(client);
    ::CloseHandle(pipe);
}

}  // namespace
