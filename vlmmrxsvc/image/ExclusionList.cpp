#include "image/ExclusionList.h"

#include "platform/ByteFields.h"
#include "platform/Paths.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {

constexpr std::size_t kLevelBytes = sizeof(std::uint32_t);

std::uint32_t DefaultLevelOf(const ExclusionList& list)
{
    return list.kind != kComponentList ? list.defaultProcessLevel : list.defaultComponentLevel;
}

bool IsListed(const ExclusionList& list, const std::wstring& name)
{
    return std::any_of(list.entries.begin(), list.entries.end(),
                       [&](const ExclusionEntry& entry) { return entry.name == name; });
}

}  // namespace

ExclusionList FreshListFrom(const ExclusionList& current)
{
    ExclusionList fresh;
    fresh.defaultComponentLevel = current.defaultComponentLevel;
    fresh.defaultProcessLevel = current.defaultProcessLevel;
    fresh.kind = current.kind;
    return fresh;
}

bool AddExclusionEntry(ExclusionList& list, std::wstring_view valueName, std::uint32_t type,
                       std::span<const std::uint8_t> data)
{
    std::uint32_t level = DefaultLevelOf(list);
    if (type != kRegistryTextType) {
        if (data.size() != kLevelBytes) {
            return false;
        }
        level = *LoadField<std::uint32_t>(data, 0);
    }
    try {
        std::wstring name = UpperCased(FileNamePart(valueName));
        if (IsListed(list, name)) {
            return false;
        }
        list.entries.push_back({std::move(name), level});
        return true;
    } catch (const std::bad_alloc&) {
        return false;  // the list stands without this entry
    }
}

std::uint32_t GetOptimizationLevel(const ExclusionList& list, std::wstring_view path)
{
    const std::wstring name = UpperCased(FileNamePart(path));
    for (const ExclusionEntry& entry : list.entries) {
        if (entry.name == name) {
            return entry.level;
        }
    }
    return list.defaultProcessLevel;
}

void ExclusionLists::FreshCopies(ExclusionList& components, ExclusionList& processes) const
{
    const std::lock_guard lock(lock_);
    components = FreshListFrom(componentExclusions_);
    processes = FreshListFrom(processExclusions_);
}

void ExclusionLists::Replace(ExclusionList& components, ExclusionList& processes)
{
    const std::lock_guard lock(lock_);
    std::swap(componentExclusions_, components);
    std::swap(processExclusions_, processes);
}

std::uint32_t ExclusionLists::ProcessLevel(std::wstring_view imagePath) const
{
    const std::lock_guard lock(lock_);
    return GetOptimizationLevel(processExclusions_, imagePath);
}

ExclusionList ExclusionLists::Components() const
{
    const std::lock_guard lock(lock_);
    return componentExclusions_;
}
