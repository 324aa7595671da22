// CImageFile against the fake file system.
#include "image/ImageFileCases.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace {

using image_test::kBase32;
using image_test::kBase64;
using image_test::MakeImage;

class FakeImageFileCases : public ImageFileCases {
protected:
    std::wstring Stage(const char* name, const std::vector<BYTE>& bytes) override
    {
        const std::wstring path = L"C:\\images\\" + std::wstring(name, name + std::strlen(name));
        fake.files.AddFile(path, bytes);
        return path;
    }

    void TearDown() override { EXPECT_EQ(fake.OpenResourceCount(), 0u); }

    os::fake::FakePlatform fake;
};

VLM_IMAGE_FILE_CASES(FakeImageFileCases)

class ImageFileTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(fake.OpenResourceCount(), 0u); }

    os::fake::FakePlatform fake;
};

TEST_F(ImageFileTest, RefusesPipeNamesInAnyCaseBeforeAnyFileCall)
{
    for (const wchar_t* path : {L"\\\\.\\pipe\\vlm", L"\\\\.\\PIPE\\vlm", L"\\\\?\\PiPe\\vlm",
                                L"C:\\dir\\pipE\\x.dll"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
        fake.files.AddFile(path, MakeImage(true, kBase64));
        CImageFile image;
        EXPECT_FALSE(image.Open(path, true));
        EXPECT_FALSE(image.Open(path, false));
        EXPECT_EQ(fake.files.CreateCount(path), 0);
        EXPECT_EQ(image.ReadImageBase64(), 0u);
    }
    // Only the marker with both backslashes counts.
    fake.files.AddFile(L"C:\\pipe.dll", MakeImage(true, kBase64));
    CImageFile image;
    EXPECT_TRUE(image.Open(L"C:\\pipe.dll", true));
}

TEST_F(ImageFileTest, OpensALongPathInFullAndLooksForPipesInItsFirst260Characters)
{
    const std::wstring prefix = L"C:\\" + std::wstring(kImagePathCharacters, L'd');
    const std::wstring longPath = prefix + L"\\image.dll";
    const std::wstring pipeBeyondTheCut = prefix + L"\\pipe\\image.dll";
    const std::wstring pipeAtTheCut = L"C:" + std::wstring(kImagePathCharacters - 8, L'd') +
                                      L"\\PIPE\\" + L"x.dll";  // ends at character 260
    for (const auto& path : {longPath, pipeBeyondTheCut}) {
        fake.files.AddFile(path, MakeImage(true, kBase64));
        CImageFile image;
        ASSERT_TRUE(image.Open(path.c_str(), true));
        EXPECT_EQ(fake.files.CreateCount(path), 1);
        EXPECT_EQ(image.ReadImageBase64(), kBase64);
    }
    ASSERT_EQ(pipeAtTheCut.find(L"\\PIPE\\") + 6, kImagePathCharacters);
    CImageFile image;
    EXPECT_FALSE(image.Open(pipeAtTheCut.c_str(), true));
    EXPECT_EQ(fake.files.CreateCount(pipeAtTheCut), 0);
}

TEST_F(ImageFileTest, RefusesWhatIsNotADiskFileAndKeepsNothingOpen)
{
    for (const DWORD type : {FILE_TYPE_PIPE, FILE_TYPE_CHAR, FILE_TYPE_UNKNOWN}) {
        SCOPED_TRACE(type);
        fake.files.AddFile(L"C:\\device", MakeImage(true, kBase64), type);
        CImageFile image;
        EXPECT_FALSE(image.Open(L"C:\\device", true));
        EXPECT_EQ(fake.OpenResourceCount(), 0u);
        EXPECT_FALSE(image.IsPE32Plus());
        EXPECT_EQ(image.ReadImageBase64(), 0u);
    }
}

TEST_F(ImageFileTest, AnswersASecondPe32PlusReadFromTheHeldHeaders)
{
    fake.files.AddFile(L"C:\\a.dll", MakeImage(true, kBase64));
    CImageFile image;
    ASSERT_TRUE(image.Open(L"C:\\a.dll", true));
    ASSERT_TRUE(image.IsPE32Plus());
    EXPECT_EQ(image.ReadImageBase64(), kBase64);
    const int reads = fake.files.ReadCount(L"C:\\a.dll");
    EXPECT_GT(reads, 0);
    EXPECT_EQ(image.ReadImageBase64(), kBase64);
    EXPECT_EQ(fake.files.ReadCount(L"C:\\a.dll"), reads);
    // A PE32 header is read again each time: only the PE32+ copy answers for the file.
    fake.files.AddFile(L"C:\\b.dll", MakeImage(false, kBase32));
    ASSERT_TRUE(image.Open(L"C:\\b.dll", true));
    EXPECT_EQ(image.ReadImageBase32(), kBase32);
    const int pe32Reads = fake.files.ReadCount(L"C:\\b.dll");
    EXPECT_EQ(image.ReadImageBase32(), kBase32);
    EXPECT_GT(fake.files.ReadCount(L"C:\\b.dll"), pe32Reads);
}

TEST_F(ImageFileTest, KnowsNothingWithoutAFile)
{
    CImageFile image;
    EXPECT_FALSE(image.IsPE32Plus());
    EXPECT_EQ(image.ReadImageBase32(), 0u);
    EXPECT_EQ(image.ReadImageBase64(), 0u);
    EXPECT_FALSE(image.Open(L"C:\\missing.dll", true));
    EXPECT_FALSE(image.Open(nullptr, true));
    EXPECT_FALSE(image.IsPE32Plus());
}

TEST_F(ImageFileTest, OpeningAnotherFileReleasesTheFirstAndForgetsItsHeaders)
{
    fake.files.AddFile(L"C:\\a.dll", MakeImage(true, kBase64));
    fake.files.AddFile(L"C:\\b.dll", MakeImage(true, kBase64 + 0x10000));
    CImageFile image;
    ASSERT_TRUE(image.Open(L"C:\\a.dll", true));
    EXPECT_EQ(image.ReadImageBase64(), kBase64);
    const std::size_t held = fake.OpenResourceCount();
    EXPECT_EQ(held, 3u);  // file, mapping, view
    ASSERT_TRUE(image.Open(L"C:\\b.dll", true));
    EXPECT_EQ(fake.OpenResourceCount(), held);
    EXPECT_EQ(image.ReadImageBase64(), kBase64 + 0x10000);
    EXPECT_FALSE(image.Open(L"C:\\missing.dll", true));
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
    EXPECT_EQ(image.ReadImageBase64(), 0u);
}

TEST_F(ImageFileTest, ReleasesEverythingOnCloseAndOnDestruction)
{
    fake.files.AddFile(L"C:\\a.dll", MakeImage(true, kBase64));
    {
        CImageFile image;
        ASSERT_TRUE(image.Open(L"C:\\a.dll", true));
        image.Close();
        EXPECT_EQ(fake.OpenResourceCount(), 0u);
        EXPECT_FALSE(image.IsPE32Plus());
        image.Close();  // twice is harmless
        ASSERT_TRUE(image.Open(L"C:\\a.dll", true));
    }
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

}  // namespace
