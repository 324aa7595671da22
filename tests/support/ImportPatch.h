// Doubles of one Windows function for one test, for the cases Wine cannot produce (the event
// log, access denied, a failing notification, network names). A patch rewrites the test
// program's own import table, so that every call the service's code makes to that function goes
// to the double until the patch is destroyed; nothing in the product knows about it. Entry points
// that the service looks up at run time are doubled by patching GetProcAddress for that name.
// Install a patch before starting threads that call the function and remove it after they ended.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

class ImportPatch {
public:
    // Replaces the import `function` (by name, from whichever library) of the test program with
    // `replacement`; the test fails when the program does not import it.
    ImportPatch(const char* function, const void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // The function the import pointed to before: the double may forward to it.
    template <typename Proc>
    [[nodiscard]] Proc Original() const
    {
        return reinterpret_cast<Proc>(original_);
    }

private:
    void** slot_ = nullptr;
    const void* original_ = nullptr;
};

// GetProcAddress answers `replacement` for the export `name` of any module, and forwards every
// other lookup; for entry points the service finds at run time. One at a time: they do not nest.
class EntryPointPatch {
public:
    EntryPointPatch(const char* name, const void* replacement);
    ~EntryPointPatch();
    EntryPointPatch(const EntryPointPatch&) = delete;
    EntryPointPatch& operator=(const EntryPointPatch&) = delete;

private:
    ImportPatch patch_;
};

}  // namespace testing_support
