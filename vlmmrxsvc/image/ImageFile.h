// Reads the preferred image base of a component's file from its PE headers.
//
// One instance per examined module, on the caller's stack: construct, Open (with `map` true),
// IsPE32Plus to choose the reader, ReadImageBase64 or ReadImageBase32, then Close or destroy. The
// object owns the file, mapping and view it holds. It only reads: an image file is never written.
// Every offset taken from the file is bounded by the file's size: a file that ends inside its
// headers, or whose e_lfanew points outside it, gives base 0 and IsPE32Plus false.
#pragma once

#include "image/PeHeaders.h"
#include "platform/FileIdentity.h"
#include "platform/UniqueResource.h"

#include <optional>

class CImageFile {
public:
    CImageFile();  // empty, as by Reset
    // The PE32 ImageBase, zero-extended; 0 when no file is open, it is no PE image or it ends
    // inside the headers. Reads the headers with file reads and keeps copies of them.
    ULONGLONG ReadImageBase32();
    // The PE32+ ImageBase, as ReadImageBase32. Once a PE32+ header has been read since the last
    // Reset, answers from the held copy without reading the file again.
    ULONGLONG ReadImageBase64();
    ~CImageFile();  // as Close

    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // Forgets the held header copies. Releases nothing: after Close the object holds no file.
    void Reset();
    // Unmaps the view, then closes the mapping and then the file, each only if held.
    void Close();
    // Releases any file held, then opens `path` read-only (sharing read, write and delete, at
    // identification level) and, when `map` is true, maps all of it read-only. False, holding
    // nothing, when the path names a pipe or the open gate refuses it (no file-system call is made
    // then), the file cannot be opened, is not a disk file or cannot be mapped. The file is opened
    // by the full `path`, however long.
    [[nodiscard]] bool Open(const wchar_t* path, bool map);
    // The identity of the open file; nothing without a file or when it cannot be queried.
    [[nodiscard]] std::optional<FileIdentity> Identity() const;
    // True when the mapped file begins with "MZ" and the Magic of its optional header marks PE32+;
    // false without a file, without a view (Open with `map` false) or when the header lies
    // outside the file. Reads the view only.
    [[nodiscard]] bool IsPE32Plus() const;

private:
    template <typename Optional>
    ULONGLONG ReadBase(Optional& optional);

    os::UniqueView view;             // the whole file, read-only; empty when not mapped
    ULONGLONG viewSize = 0;          // bytes in `view`: what bounds IsPE32Plus
    os::UniqueHandle mappingHandle;  // the file mapping
    os::UniqueFile fileHandle;
    pe::DosHeader dosHeader{};
    pe::FileHeader fileHeader{};
    pe::OptionalHeader32 optionalHeader32{};
    pe::OptionalHeader64 optionalHeader64{};
};
