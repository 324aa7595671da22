// The path of a file in the folder of the running executable, where the build puts the victim,
// its libraries and the test programs.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Beside(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    directory.resize(directory.find_last_of(L'\\') + 1);
    return directory + name;
}
