// What the files of examined modules said about their preferred base, kept for one run of the
// worker: reading a file's headers is the costly part of discovery, and the same files are loaded
// by process after process, cycle after cycle.
#pragma once

#include "platform/FileIdentity.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

// Files remembered at most, by path and by identity each. A machine's processes load a few
// thousand distinct files at most; a map that would grow past this is emptied first, so that a
// run that meets more files reads some again and the memory stays bounded (about a megabyte).
inline constexpr std::size_t kMaxRememberedFiles = 4096;

class ImageBaseCache {
public:
    // What a file's PE headers say: its preferred base, and whether it is PE32+.
    struct Base {
        std::uint64_t preferredBase = 0;
        bool pe32Plus = false;
    };

    // The identity of the file that `path` named when it had `stamp`; nothing when the path is
    // not remembered or its file has another stamp now.
    [[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::wstring& path,
                                                         const FileStamp& stamp) const;
    void RememberIdentity(const std::wstring& path, const FileStamp& stamp,
                          const FileIdentity& identity);
    // What the file of `identity` (in the state its last write gives) said.
    [[nodiscard]] std::optional<Base> BaseOf(const FileIdentity& identity) const;
    void RememberBase(const FileIdentity& identity, const Base& base);

private:
    struct IdentityHash {
        std::size_t operator()(const FileIdentity& identity) const;
    };

    // Remembering is best effort: without memory for an entry, the file is read again next time.
    template <typename Map, typename Key, typename Value>
    static void Remember(Map& map, const Key& key, const Value& value);

    std::unordered_map<std::wstring, std::pair<FileStamp, FileIdentity>> identities_;
    std::unordered_map<FileIdentity, Base, IdentityHash> bases_;
};
