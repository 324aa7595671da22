// Move-only owners, one per kind of operating-system handle.
//
// Each owner closes its handle in its destructor with the call that belongs to that kind of
// handle. Closing keeps the thread's last error: a cleanup on the way out of a failed call must
// not overwrite the error the caller is about to read.
#pragma once

#include "platform/Windows.h"

#include <utility>

namespace os {

template <typename Traits>
class UniqueResource {
public:
    using pointer = typename Traits::pointer;

    UniqueResource() noexcept = default;
    explicit UniqueResource(pointer value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    [[nodiscard]] pointer get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    // Closes the owned handle, if any, and takes `value` instead.
    void reset(pointer value = Traits::invalid()) noexcept
    {
        const pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            const DWORD lastError = ::GetLastError();
            Traits::close(old);
            ::SetLastError(lastError);
        }
    }

    // For out-parameters: closes what is held and returns the slot for the call to fill.
    [[nodiscard]] pointer* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

struct KernelHandleTraits {  // events, threads, processes, tokens, mappings: NULL when invalid
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::CloseHandle(value); }
};

struct FileHandleTraits {  // CreateFileW: INVALID_HANDLE_VALUE when invalid
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { ::CloseHandle(value); }
};

struct RegistryKeyTraits {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::RegCloseKey(value); }
};

struct EventSourceTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DeregisterEventSource(value); }
};

struct ServiceHandleTraits {  // service control manager and service handles
    using pointer = SC_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::CloseServiceHandle(value); }
};

struct ServiceLockTraits {  // LockServiceDatabase: NULL when invalid
    using pointer = SC_LOCK;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::UnlockServiceDatabase(value); }
};

struct MappedViewTraits {  // MapViewOfFile: the view's base address, NULL when invalid
    using pointer = const void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::UnmapViewOfFile(value); }
};

struct FindHandleTraits {  // FindFirstFileExW: INVALID_HANDLE_VALUE when invalid
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { ::FindClose(value); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueKey = UniqueResource<RegistryKeyTraits>;
using UniqueEventSource = UniqueResource<EventSourceTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
using UniqueView = UniqueResource<MappedViewTraits>;
using UniqueServiceLock = UniqueResource<ServiceLockTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;

}  // namespace os
