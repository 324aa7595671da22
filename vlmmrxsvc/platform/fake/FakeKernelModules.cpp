// The fake kernel's modules and exports, and the memory status its GlobalMemoryStatusEx reports.
#include "platform/fake/FakeKernel.h"

#include <algorithm>
#include <cwctype>

namespace os::fake {
namespace {

constexpr DWORD kModuleNotFound = 126;     // ERROR_MOD_NOT_FOUND
constexpr DWORD kProcedureNotFound = 127;  // ERROR_PROC_NOT_FOUND
constexpr DWORDLONG kDefaultPageFile = 4ull << 30;
constexpr std::uintptr_t kKernel32Handle = 0x7FFA00000000;

std::wstring Upper(const std::wstring& name)
{
    std::wstring upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return upper;
}

// The export that LoadLibraryW("kernel32.dll") + GetProcAddress hand out. A plain function, so
// it finds its answers in the fake kernel that is current when it is called.
BOOL WINAPI FakeGlobalMemoryStatusEx(MEMORYSTATUSEX* status)
{
    auto* kernel = dynamic_cast<FakeKernel*>(&os::Kernel());
    return kernel == nullptr ? FALSE : kernel->AnswerMemoryStatus(status);
}

}  // namespace

std::map<std::wstring, FakeKernel::FakeModule> FakeKernel::DefaultModules()
{
    FakeModule kernel32{reinterpret_cast<HMODULE>(kKernel32Handle), {}};
    kernel32.exports["GlobalMemoryStatusEx"] =
        reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeGlobalMemoryStatusEx));
    return {{L"KERNEL32.DLL", kernel32}};
}

HMODULE FakeKernel::LoadLibraryW(const wchar_t* name)
{
    const std::wstring key = Upper(name == nullptr ? std::wstring() : std::wstring(name));
    const std::lock_guard lock(mutex_);
    ++loadCounts_[key];
    const auto found = modules_.find(key);
    if (found == modules_.end()) {
        errors_.SetLastError(kModuleNotFound);
        return nullptr;
    }
    return found->second.handle;
}

HMODULE FakeKernel::GetModuleHandleW(const wchar_t* name)
{
    const std::wstring key = Upper(name == nullptr ? std::wstring() : std::wstring(name));
    const std::lock_guard lock(mutex_);
    const auto found = modules_.find(key);
    if (found == modules_.end()) {
        errors_.SetLastError(kModuleNotFound);
        return nullptr;
    }
    return found->second.handle;
}

FARPROC FakeKernel::GetProcAddress(HMODULE module, const char* name)
{
    const std::lock_guard lock(mutex_);
    for (const auto& [key, loaded] : modules_) {
        if (loaded.handle != module || name == nullptr) {
            continue;
        }
        const auto found = loaded.exports.find(name);
        if (found != loaded.exports.end()) {
            return found->second;
        }
    }
    errors_.SetLastError(kProcedureNotFound);
    return nullptr;
}

void FakeKernel::RemoveModule(const std::wstring& name)
{
    const std::lock_guard lock(mutex_);
    modules_.erase(Upper(name));
}

void FakeKernel::RemoveExport(const std::wstring& module, const std::string& name)
{
    const std::lock_guard lock(mutex_);
    const auto found = modules_.find(Upper(module));
    if (found != modules_.end()) {
        found->second.exports.erase(name);
    }
}

void FakeKernel::AddExport(const std::wstring& module, const std::string& name, FARPROC address)
{
    constexpr std::uintptr_t kModuleStride = 0x100000;
    const std::lock_guard lock(mutex_);
    auto [found, added] = modules_.try_emplace(Upper(module));
    if (added) {
        found->second.handle =
            reinterpret_cast<HMODULE>(kKernel32Handle + modules_.size() * kModuleStride);
    }
    found->second.exports[name] = address;
}

int FakeKernel::LoadLibraryCount(const std::wstring& name) const
{
    const std::lock_guard lock(mutex_);
    const auto found = loadCounts_.find(Upper(name));
    return found == loadCounts_.end() ? 0 : found->second;
}

void FakeKernel::ScriptMemoryStatus(std::vector<FakeMemoryStatus> statuses)
{
    const std::lock_guard lock(mutex_);
    memoryStatus_.assign(statuses.begin(), statuses.end());
}

int FakeKernel::MemoryStatusCalls() const
{
    const std::lock_guard lock(mutex_);
    return memoryStatusCalls_;
}

BOOL FakeKernel::AnswerMemoryStatus(MEMORYSTATUSEX* status)
{
    FakeMemoryStatus answer{kDefaultPageFile, kDefaultPageFile / 2};
    {
        const std::lock_guard lock(mutex_);
        ++memoryStatusCalls_;
        if (!memoryStatus_.empty()) {
            answer = memoryStatus_.front();
            if (memoryStatus_.size() > 1) {
                memoryStatus_.pop_front();
            }
        }
    }
    if (status == nullptr || status->dwLength != sizeof(MEMORYSTATUSEX)) {
        errors_.SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (answer.result == FALSE) {
        errors_.SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    status->ullTotalPageFile = answer.totalPageFile;
    status->ullAvailPageFile = answer.availPageFile;
    status->ullTotalPhys = answer.totalPageFile;
    status->ullAvailPhys = answer.availPageFile;
    return TRUE;
}

}  // namespace os::fake
