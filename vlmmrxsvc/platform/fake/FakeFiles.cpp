#include "platform/fake/FakeFiles.h"

#include <algorithm>
#include <cwctype>

namespace os::fake {
namespace {

constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kReadRights = GENERIC_READ | kGenericAll | 0x0001;           // FILE_READ_DATA
constexpr DWORD kWriteRights = GENERIC_WRITE | kGenericAll | 0x0002 | 0x0004;  // WRITE/APPEND_DATA
constexpr DWORD kAlreadyExists = 183;  // ERROR_ALREADY_EXISTS: CREATE_ALWAYS or OPEN_ALWAYS found it

std::wstring Key(const std::wstring& path)
{
    std::wstring key = path;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return key;
}

bool Reads(DWORD access) { return (access & kReadRights) != 0; }
bool Writes(DWORD access) { return (access & kWriteRights) != 0; }

}  // namespace

struct FakeFiles::Node {
    std::vector<BYTE> contents;
    DWORD type = FILE_TYPE_DISK;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    bool device = false;
    std::vector<DWORD> codes;
    std::vector<std::weak_ptr<OpenFile>> opens;
    DWORD writeError = ERROR_SUCCESS;
    DWORD failingWrites = 0;
    DWORD partialBytes = 0;
    int reads = 0;
};

struct FakeFiles::OpenFile final : FakeObject {
    std::shared_ptr<Node> node;
    DWORD access = 0;
    DWORD share = 0;
    std::uint64_t position = 0;
};

struct FakeFiles::Mapping final : FakeObject {
    std::shared_ptr<Node> node;
};

FakeFiles::FakeFiles(FakeHandleTable& handles, IErrors& errors) : handles_(handles), errors_(errors)
{
}

FakeFiles::~FakeFiles() = default;

DWORD FakeFiles::Fail(DWORD error)
{
    errors_.SetLastError(error);
    return error;
}

std::shared_ptr<FakeFiles::Node> FakeFiles::Find(const std::wstring& path) const
{
    const auto found = nodes_.find(Key(path));
    return found == nodes_.end() ? nullptr : found->second;
}

std::shared_ptr<FakeFiles::OpenFile> FakeFiles::FileOf(HANDLE handle) const
{
    return handles_.Lookup<OpenFile>(handle);
}

HANDLE FakeFiles::CreateFileW(const wchar_t* path, DWORD access, DWORD shareMode,
                              DWORD disposition, DWORD)
{
    const std::wstring name = path == nullptr ? std::wstring() : std::wstring(path);
    auto open = std::make_shared<OpenFile>();
    DWORD resultError = ERROR_SUCCESS;
    {
        const std::lock_guard lock(mutex_);
        ++createCounts_[Key(name)];
        const auto failure = createFailures_.find(Key(name));
        if (failure != createFailures_.end()) {
            Fail(failure->second);
            return INVALID_HANDLE_VALUE;
        }
        std::shared_ptr<Node> node = Find(name);
        const bool existed = node != nullptr;
        if (existed && (node->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            Fail(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        switch (disposition) {
        case CREATE_NEW:
            if (existed) {
                Fail(ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
            break;
        case OPEN_EXISTING:
        case TRUNCATE_EXISTING:
            if (!existed) {
                Fail(ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            break;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            resultError = existed ? kAlreadyExists : ERROR_SUCCESS;
            break;
        default:
            Fail(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        if (existed) {
            std::erase_if(node->opens, [](const auto& weak) { return weak.expired(); });
            for (const auto& weak : node->opens) {
                const auto other = weak.lock();
                const bool conflict = (Reads(access) && (other->share & FILE_SHARE_READ) == 0) ||
                                      (Writes(access) && (other->share & FILE_SHARE_WRITE) == 0) ||
                                      (Reads(other->access) && (shareMode & FILE_SHARE_READ) == 0) ||
                                      (Writes(other->access) && (shareMode & FILE_SHARE_WRITE) == 0);
                if (conflict) {
                    Fail(ERROR_SHARING_VIOLATION);
                    return INVALID_HANDLE_VALUE;
                }
            }
        } else {
            node = std::make_shared<Node>();
            nodes_[Key(name)] = node;
        }
        if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
            node->contents.clear();
        }
        open->node = node;
        open->access = access;
        open->share = shareMode;
        node->opens.push_back(open);
    }
    errors_.SetLastError(resultError);
    return handles_.Insert(std::move(open));
}

DWORD FakeFiles::GetFileType(HANDLE file)
{
    const auto open = FileOf(file);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    errors_.SetLastError(ERROR_SUCCESS);
    return open->node->type;
}

BOOL FakeFiles::GetFileSizeEx(HANDLE file, LONGLONG* size)
{
    const auto open = FileOf(file);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    *size = static_cast<LONGLONG>(open->node->contents.size());
    return TRUE;
}

DWORD FakeFiles::GetFileAttributesW(const wchar_t* path)
{
    const std::lock_guard lock(mutex_);
    const auto node = path == nullptr ? nullptr : Find(path);
    if (node == nullptr || node->device) {
        Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return node->attributes;
}

BOOL FakeFiles::ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* done)
{
    const auto open = FileOf(file);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!Reads(open->access)) {
        Fail(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    ++open->node->reads;
    const auto& contents = open->node->contents;
    const std::uint64_t available =
        open->position < contents.size() ? contents.size() - open->position : 0;
    const auto count = static_cast<DWORD>(std::min<std::uint64_t>(available, bytes));
    std::copy_n(contents.begin() + static_cast<std::ptrdiff_t>(open->position), count,
                static_cast<BYTE*>(buffer));
    open->position += count;
    if (done != nullptr) {
        *done = count;
    }
    return TRUE;  // a read at the end of the file succeeds with no bytes
}

BOOL FakeFiles::WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* done)
{
    const auto open = FileOf(file);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!Writes(open->access)) {
        Fail(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    Node& node = *open->node;
    DWORD count = bytes;
    const bool failing = node.failingWrites > 0;
    if (failing) {
        --node.failingWrites;
        count = std::min(bytes, node.partialBytes);
    }
    auto& contents = node.contents;
    if (contents.size() < open->position + count) {
        contents.resize(open->position + count);
    }
    const auto* data = static_cast<const BYTE*>(buffer);
    std::copy_n(data, count, contents.begin() + static_cast<std::ptrdiff_t>(open->position));
    open->position += count;
    if (done != nullptr) {
        *done = count;
    }
    if (failing) {
        Fail(node.writeError);
        return FALSE;
    }
    return TRUE;
}

BOOL FakeFiles::SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position,
                                 DWORD moveMethod)
{
    const auto open = FileOf(file);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    LONGLONG base = 0;
    if (moveMethod == FILE_CURRENT) {
        base = static_cast<LONGLONG>(open->position);
    } else if (moveMethod == FILE_END) {
        base = static_cast<LONGLONG>(open->node->contents.size());
    } else if (moveMethod != FILE_BEGIN) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (base + distance < 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    open->position = static_cast<std::uint64_t>(base + distance);
    if (position != nullptr) {
        *position = base + distance;
    }
    return TRUE;
}

BOOL FakeFiles::FlushFileBuffers(HANDLE file)
{
    if (FileOf(file) == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL FakeFiles::SetEndOfFile(HANDLE file)
{
    const auto open = FileOf(file);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!Writes(open->access)) {
        Fail(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    open->node->contents.resize(open->position);
    return TRUE;
}

BOOL FakeFiles::DeviceIoControl(HANDLE device, DWORD code, void*, DWORD, void*, DWORD,
                                DWORD* returned)
{
    const auto open = FileOf(device);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    if (!open->node->device) {
        Fail(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    open->node->codes.push_back(code);
    if (returned != nullptr) {
        *returned = 0;
    }
    return TRUE;
}

HANDLE FakeFiles::CreateFileMappingW(HANDLE file, DWORD, DWORD, DWORD)
{
    const auto open = FileOf(file);
    if (open == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    {
        const std::lock_guard lock(mutex_);
        if (open->node->contents.empty()) {
            Fail(ERROR_FILE_INVALID);  // an empty file cannot be mapped
            return nullptr;
        }
    }
    auto mapping = std::make_shared<Mapping>();
    mapping->node = open->node;
    return handles_.Insert(std::move(mapping));
}

const void* FakeFiles::MapViewOfFile(HANDLE mapping, DWORD, DWORD offsetHigh, DWORD offsetLow,
                                     SIZE_T bytes)
{
    const auto mapped = handles_.Lookup<Mapping>(mapping);
    if (mapped == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const std::lock_guard lock(mutex_);
    const std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
    const auto& contents = mapped->node->contents;
    if (offset >= contents.size() || (bytes != 0 && offset + bytes > contents.size())) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const std::uint64_t end = bytes == 0 ? contents.size() : offset + bytes;
    // A copy taken at mapping time: the tests map files that nothing writes meanwhile.
    std::vector<BYTE> view(contents.begin() + static_cast<std::ptrdiff_t>(offset),
                           contents.begin() + static_cast<std::ptrdiff_t>(end));
    const void* address = view.data();
    views_.emplace(address, std::move(view));
    return address;
}

BOOL FakeFiles::UnmapViewOfFile(const void* view)
{
    const std::lock_guard lock(mutex_);
    if (views_.erase(view) != 1) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

void FakeFiles::AddFile(const std::wstring& path, std::vector<BYTE> contents, DWORD type,
                        DWORD attributes)
{
    const std::lock_guard lock(mutex_);
    auto node = std::make_shared<Node>();
    node->contents = std::move(contents);
    node->type = type;
    node->attributes = attributes;
    nodes_[Key(path)] = std::move(node);
}

void FakeFiles::AddDevice(const std::wstring& path)
{
    const std::lock_guard lock(mutex_);
    auto node = std::make_shared<Node>();
    node->type = FILE_TYPE_UNKNOWN;
    node->device = true;
    nodes_[Key(path)] = std::move(node);
}

void FakeFiles::Remove(const std::wstring& path)
{
    const std::lock_guard lock(mutex_);
    nodes_.erase(Key(path));
}

bool FakeFiles::Exists(const std::wstring& path) const
{
    const std::lock_guard lock(mutex_);
    return Find(path) != nullptr;
}

std::vector<BYTE> FakeFiles::Contents(const std::wstring& path) const
{
    const std::lock_guard lock(mutex_);
    const auto node = Find(path);
    return node == nullptr ? std::vector<BYTE>() : node->contents;
}

std::vector<DWORD> FakeFiles::ControlCodes(const std::wstring& path) const
{
    const std::lock_guard lock(mutex_);
    const auto node = Find(path);
    return node == nullptr ? std::vector<DWORD>() : node->codes;
}

void FakeFiles::FailCreate(const std::wstring& path, DWORD error)
{
    const std::lock_guard lock(mutex_);
    if (error == ERROR_SUCCESS) {
        createFailures_.erase(Key(path));
    } else {
        createFailures_[Key(path)] = error;
    }
}

void FakeFiles::FailWrites(const std::wstring& path, DWORD error, DWORD count, DWORD partialBytes)
{
    const std::lock_guard lock(mutex_);
    if (const auto node = Find(path)) {
        node->writeError = error;
        node->failingWrites = count;
        node->partialBytes = partialBytes;
    }
}

int FakeFiles::CreateCount(const std::wstring& path) const
{
    const std::lock_guard lock(mutex_);
    const auto found = createCounts_.find(Key(path));
    return found == createCounts_.end() ? 0 : found->second;
}

int FakeFiles::ReadCount(const std::wstring& path) const
{
    const std::lock_guard lock(mutex_);
    const auto node = Find(path);
    return node == nullptr ? 0 : node->reads;
}

const void* FakeFiles::MapView(std::vector<BYTE> contents)
{
    const std::lock_guard lock(mutex_);
    if (contents.empty()) {
        contents.push_back(0);  // a view always has an address of its own
    }
    const void* address = contents.data();
    views_.emplace(address, std::move(contents));
    return address;
}

std::size_t FakeFiles::MappedViewCount() const
{
    const std::lock_guard lock(mutex_);
    return views_.size();
}

}  // namespace os::fake
