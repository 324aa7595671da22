// CImageFile's file plumbing on real files: which files it opens and maps, which it refuses, and
// that it lets go of them. The decoding of the headers is tested natively over crafted images.
#include "image/ImageFile.h"
#include "image/ImageFileCases.h"
#include "process/victim/Beside.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

// A crafted PE32+ image in a temporary file, or an empty file.
std::wstring StagePe32Plus(TempFiles& temp, const wchar_t* stem, bool empty = false)
{
    const std::wstring path = temp.Path(stem);
    const image_test::Image image = image_test::MakeImage(true, image_test::kBase64);
    std::ofstream(std::filesystem::path(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), empty ? 0 : image.size());
    return path;
}

// Whether nothing holds `path`: it opens without sharing (no handle is left) and can be cut to
// nothing (no mapping or view is left, which Wine's sharing check does not see). Empties it.
bool NothingHolds(const std::wstring& path)
{
    const os::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ::SetEndOfFile(file.get()) != FALSE;
}

TEST(WineImageFile, OpensMapsAndReadsOnlyDiskFilesThatAreNoPipes)
{
    TempFiles temp;
    const std::wstring plus = StagePe32Plus(temp, L"-vlm-plus.bin");
    const std::wstring empty = StagePe32Plus(temp, L"-vlm-empty.bin", true);
    // A pipe of one instance: a client that connected, however briefly, would leave it busy.
    const std::wstring pipe = L"\\\\.\\pipe\\vlm-image-test";
    const os::UniqueFile server(::CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                                                   PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr));
    // The loader keeps the file's ImageBase in the mapped header, relocated or not.
    const auto* loaded = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
    const auto* loadedHeaders = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        loaded + reinterpret_cast<const IMAGE_DOS_HEADER*>(loaded)->e_lfanew);
    struct Case {
        std::wstring path;
        bool map;
        bool opened;
        bool pe32Plus;  // only a view tells the width
        ULONGLONG base;
    };
    const Case cases[] = {
        {plus, true, true, true, image_test::kBase64},
        {plus, false, true, false, image_test::kBase64},
        {empty, true, false, false, 0},  // an empty file cannot be mapped
        {empty, false, true, false, 0},
        {Beside(L"vlmmrxsvc.exe"), true, true, true, 0x140000000},  // the linker's base
        {Beside(L"vlm_wine_tests.exe"), true, true, true, loadedHeaders->OptionalHeader.ImageBase},
        {pipe, true, false, false, 0},
    };
    for (const auto& [path, map, opened, pe32Plus, base] : cases) {
        CImageFile image;
        EXPECT_EQ(image.Open(path.c_str(), map), opened) << path;
        EXPECT_EQ(image.IsPE32Plus(), pe32Plus) << path;
        EXPECT_EQ(image.ReadImageBase64(), base) << path;
    }
    EXPECT_TRUE(os::UniqueFile(
        ::CreateFileW(pipe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
}

TEST(WineImageFile, ReleasesTheFileOnCloseAndOnDestruction)
{
    TempFiles temp;
    for (const bool close : {true, false}) {
        const std::wstring path = StagePe32Plus(temp, close ? L"-vlm-closed" : L"-vlm-gone");
        std::optional<CImageFile> image(std::in_place);
        ASSERT_TRUE(image->Open(path.c_str(), true));
        EXPECT_FALSE(NothingHolds(path));
        close ? image->Close() : image.reset();
        EXPECT_TRUE(NothingHolds(path)) << (close ? "after Close" : "after destruction");
    }
}

}  // namespace
