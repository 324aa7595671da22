// The file cases of the seam against the real calls.
#include "platform/FilesContract.h"

namespace {

class WindowsFilesContract : public FilesContract {
protected:
    std::wstring MakeTempPath(const wchar_t* stem) override
    {
        wchar_t directory[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, directory);
        std::wstring path = std::wstring(directory) + std::to_wstring(::GetCurrentProcessId()) + stem;
        made_.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const auto& path : made_) {
            ::DeleteFileW(path.c_str());
        }
    }

private:
    std::vector<std::wstring> made_;
};

VLM_FILES_CONTRACT_TESTS(WindowsFilesContract)

}  // namespace
