#include "process/ModuleOpt.h"

#include "process/Impersonate.h"
#include "process/ProcessOpt.h"

#include <optional>

bool CModuleOpt::SetPath(const wchar_t* text, OpenAs access)
{
    path = text == nullptr ? L"" : text;
    if (access == OpenAs::ServiceFirst && IsReachable(path.c_str())) {
        return true;
    }
    // A device path is impersonated for all the same, and only that failure is reported.
    std::optional<std::wstring> universal;
    if (!ConvertAsOwner(processId, path, kModuleUniversalNameCapacity, context_.log, universal)) {
        return false;
    }
    if (universal) {
        path = *universal;
    }
    return true;
}

bool CModuleOpt::SetPath(const wchar_t* text)
{
    const std::wstring_view given = text == nullptr ? L"" : text;
    return SetPath(text, process_ != nullptr ? process_->Drives().AccessFor(given)
                                             : DriveView().AccessFor(given));
}

std::wstring CModuleOpt::GetOccupantName(HANDLE process)
{
    if (!occupantName.empty()) {
        return occupantName;
    }
    const std::wstring& unknown = context_.unknownName;
    occupantName = process_ != nullptr ? process_->OccupantAt(process, preferredBase) : L"";
    if (occupantName.empty()) {
        occupantName = unknown;
        return occupantName;
    }
    // A mapped file's device-form name, or a share's, is never converted, and the service does
    // not reach for it under its own identity.
    if (IsDevicePath(occupantName) ||
        (process_->Drives().AccessFor(occupantName) == OpenAs::ServiceFirst &&
         IsReachable(occupantName.c_str()))) {
        return occupantName;
    }
    std::optional<std::wstring> universal;
    if (!ConvertAsOwner(processId, occupantName, kModuleUniversalNameCapacity, context_.log,
                        universal)) {
        return unknown;
    }
    if (universal) {
        occupantName = !universal->empty() ? *universal : unknown;
    }
    return occupantName;
}
