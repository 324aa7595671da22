// Temporary files of a test under Wine: named apart per process, deleted with their owner.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TempFiles {
public:
    TempFiles() = default;
    TempFiles(const TempFiles&) = delete;
    TempFiles& operator=(const TempFiles&) = delete;
    ~TempFiles()
    {
        for (const auto& path : made_) {
            ::DeleteFileW(path.c_str());
        }
    }

    // A path in the temporary folder that ends in `stem`; whatever is there is deleted later.
    std::wstring Path(const std::wstring& stem)
    {
        wchar_t directory[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, directory);
        std::wstring path =
            std::wstring(directory) + std::to_wstring(::GetCurrentProcessId()) + stem;
        made_.push_back(path);
        return path;
    }

private:
    std::vector<std::wstring> made_;
};
