// The COM server part of the service module: a lock count and the identity of the type library
// that registration installs. The executable implements no COM class, so nothing normally takes a
// lock; the count exists so that a server that is not a service can end when the last lock goes.
#pragma once

#include "platform/Windows.h"

#include <atomic>

class CComServerModule {
public:
    CComServerModule() = default;
    virtual ~CComServerModule() = default;
    CComServerModule(const CComServerModule&) = delete;
    CComServerModule& operator=(const CComServerModule&) = delete;

    virtual LONG Lock() { return ++lockCount_; }
    // Returns the count after the release.
    virtual LONG Unlock() { return --lockCount_; }
    LONG LockCount() const { return lockCount_; }

    void SetTypeLibraryId(const GUID& id) { typeLibraryId_ = id; }
    const GUID& TypeLibraryId() const { return typeLibraryId_; }

private:
    std::atomic<LONG> lockCount_{0};
    GUID typeLibraryId_{};
};
