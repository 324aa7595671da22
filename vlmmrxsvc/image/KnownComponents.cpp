#include "image/KnownComponents.h"

#include "platform/Paths.h"

#include <new>

bool KnownComponents::IsKnownComponent(std::wstring_view componentPath) const
{
    const auto found = slots_.find(UpperCased(componentPath));
    return found != slots_.end() && found->second.componentEntries != 0;
}

bool KnownComponents::HasKey(std::wstring_view key) const
{
    const auto found = slots_.find(std::wstring(key));
    return found != slots_.end() && found->second.keyedEntries != 0;
}

bool KnownComponents::AddComponent(std::wstring_view processPath, std::wstring_view componentPath,
                                   std::uint64_t loadBase)
{
    try {
        return Add(processPath, UpperCased(componentPath), loadBase);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool KnownComponents::AddProcess(std::wstring_view processPath)
{
    try {
        return Add(processPath, UpperCased(processPath), kProcessRecordMark);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool KnownComponents::Load(const RepairRecord& record, const PathExists& exists)
{
    const std::wstring component = UpperCased(record.componentPath);
    const std::wstring process = UpperCased(record.processPath);
    if (NamesPipe(component) || NamesPipe(process)) {
        return false;
    }
    const bool isProcess = record.IsProcessRecord();
    if (!exists(isProcess ? record.processPath : record.componentPath)) {
        return false;
    }
    const std::wstring& key = isProcess ? process : component;
    const auto keyed = slots_.find(key);
    if (keyed != slots_.end() && keyed->second.keyedEntries != 0) {
        if (isProcess || keyed->second.keyedLoadBase == record.loadBase) {
            return false;  // the first process record stays; a component known at this address
        }
        RemoveKeyed(key);  // the later address replaces the earlier one
    }
    try {
        static_cast<void>(Add(key, component, record.loadBase));
    } catch (const std::bad_alloc&) {
        // Passed the rules, but not remembered.
    }
    return true;
}

bool KnownComponents::Add(std::wstring_view key, const std::wstring& upperComponentPath,
                          std::uint64_t loadBase)
{
    // The component's slot first: a key that is the same text then finds it.
    const auto component = slots_.try_emplace(upperComponentPath).first;
    const auto keyed = slots_.try_emplace(std::wstring(key)).first;
    ++component->second.componentEntries;
    if (keyed->second.keyedEntries++ == 0) {
        keyed->second.keyedLoadBase = loadBase;
        keyed->second.keyedComponent = &component->first;
    }
    ++entries_;
    return true;
}

void KnownComponents::RemoveKeyed(const std::wstring& key)
{
    const auto keyed = slots_.find(key);
    const std::wstring component = *keyed->second.keyedComponent;
    --keyed->second.keyedEntries;
    keyed->second.keyedComponent = nullptr;
    --slots_.find(component)->second.componentEntries;
    --entries_;
    EraseIfUnused(component);
    EraseIfUnused(key);
}

void KnownComponents::EraseIfUnused(const std::wstring& text)
{
    const auto found = slots_.find(text);
    if (found != slots_.end() && found->second.keyedEntries == 0 &&
        found->second.componentEntries == 0) {
        slots_.erase(found);
    }
}
