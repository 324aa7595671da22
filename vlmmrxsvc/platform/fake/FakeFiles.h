// An in-memory file system for tests: files with contents, type and attributes, devices that
// record the control codes they receive, share modes, mappings and views, injected failures.
#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeKernel.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace os::fake {

class FakeFiles final : public IFiles {
public:
    FakeFiles(FakeHandleTable& handles, IErrors& errors);
    ~FakeFiles() override;

    HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flagsAndAttributes) override;
    DWORD GetFileType(HANDLE file) override;
    BOOL GetFileSizeEx(HANDLE file, LONGLONG* size) override;
    DWORD GetFileAttributesW(const wchar_t* path) override;
    BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* done) override;
    BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* done) override;
    BOOL SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position,
                          DWORD moveMethod) override;
    BOOL FlushFileBuffers(HANDLE file) override;
    BOOL SetEndOfFile(HANDLE file) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD inputBytes, void* output,
                         DWORD outputBytes, DWORD* returned) override;
    HANDLE CreateFileMappingW(HANDLE file, DWORD protect, DWORD maximumSizeHigh,
                              DWORD maximumSizeLow) override;
    const void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                              SIZE_T bytes) override;
    BOOL UnmapViewOfFile(const void* view) override;

    // Test controls. Paths compare without regard to case, as on Windows.
    void AddFile(const std::wstring& path, std::vector<BYTE> contents,
                 DWORD type = FILE_TYPE_DISK, DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    // A device (such as "\\\\.\\Name"): opens as FILE_TYPE_UNKNOWN, records every control code.
    void AddDevice(const std::wstring& path);
    void Remove(const std::wstring& path);
    bool Exists(const std::wstring& path) const;
    std::vector<BYTE> Contents(const std::wstring& path) const;
    std::vector<DWORD> ControlCodes(const std::wstring& path) const;
    // Every CreateFileW of `path` fails with `error` until cleared with ERROR_SUCCESS.
    void FailCreate(const std::wstring& path, DWORD error);
    // The next `count` writes to `path` fail with `error` after writing `partialBytes` of their
    // data (a full disk half-way through a write).
    void FailWrites(const std::wstring& path, DWORD error, DWORD count = 1,
                    DWORD partialBytes = 0);
    // How often CreateFileW was called for `path`.
    int CreateCount(const std::wstring& path) const;
    // How often ReadFile was called on an open handle of `path`.
    int ReadCount(const std::wstring& path) const;
    // A view not backed by a file, for owner tests.
    const void* MapView(std::vector<BYTE> contents);
    std::size_t MappedViewCount() const;

private:
    struct Node;
    struct OpenFile;
    struct Mapping;

    std::shared_ptr<Node> Find(const std::wstring& path) const;
    std::shared_ptr<OpenFile> FileOf(HANDLE handle) const;
    DWORD Fail(DWORD error);  // sets the last error, returns it

    FakeHandleTable& handles_;
    IErrors& errors_;
    mutable std::mutex mutex_;
    std::map<std::wstring, std::shared_ptr<Node>> nodes_;  // by upper-case path
    std::map<std::wstring, DWORD> createFailures_;
    std::map<std::wstring, int> createCounts_;
    std::map<const void*, std::vector<BYTE>> views_;
};

}  // namespace os::fake
