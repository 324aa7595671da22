#include "process/ImageBaseCache.h"

#include <functional>
#include <new>

std::size_t ImageBaseCache::IdentityHash::operator()(const FileIdentity& identity) const
{
    const std::hash<std::uint64_t> hash;
    return hash(identity.fileIndex) ^ (hash(identity.lastWrite) << 1) ^ identity.volumeSerial;
}

template <typename Map, typename Key, typename Value>
void ImageBaseCache::Remember(Map& map, const Key& key, const Value& value)
{
    try {
        if (map.size() >= kMaxRememberedFiles && map.find(key) == map.end()) {
            map.clear();
        }
        map.insert_or_assign(key, value);
    } catch (const std::bad_alloc&) {
        // Not remembered.
    }
}

std::optional<FileIdentity> ImageBaseCache::IdentityOf(const std::wstring& path,
                                                       const FileStamp& stamp) const
{
    const auto known = identities_.find(path);
    if (known == identities_.end() || known->second.first != stamp) {
        return std::nullopt;
    }
    return known->second.second;
}

void ImageBaseCache::RememberIdentity(const std::wstring& path, const FileStamp& stamp,
                                      const FileIdentity& identity)
{
    Remember(identities_, path, std::pair(stamp, identity));
}

std::optional<ImageBaseCache::Base> ImageBaseCache::BaseOf(const FileIdentity& identity) const
{
    const auto known = bases_.find(identity);
    if (known == bases_.end()) {
        return std::nullopt;
    }
    return known->second;
}

void ImageBaseCache::RememberBase(const FileIdentity& identity, const Base& base)
{
    Remember(bases_, identity, base);
}
