// The file cases of the seam against the real calls.
#include "platform/FilesContract.h"
#include "platform/WineTempFiles.h"

namespace {

class WindowsFilesContract : public FilesContract {
protected:
    std::wstring MakeTempPath(const wchar_t* stem) override { return temp_.Path(stem); }

private:
    WineTempFiles temp_;
};

VLM_FILES_CONTRACT_TESTS(WindowsFilesContract)

}  // namespace
