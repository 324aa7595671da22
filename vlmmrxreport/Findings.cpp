#include "vlmmrxreport/Findings.h"

#include "platform/Paths.h"
#include "vlmmrxreport/Utf8.h"

#include <algorithm>

namespace {

constexpr std::string_view kClassNames[kRecordClasses] = {
    "aslr", "collision", "moved", "unknown", "process", "filled", "damaged"};
// How much of each contested base the page draws.
constexpr std::size_t kContestedComponents = 4;
constexpr std::size_t kContestedOccupants = 4;
constexpr std::size_t kContestedLoads = 12;
constexpr std::wstring_view kLongPathPrefix = L"\\\\?\\";
constexpr std::wstring_view kDevicePrefix = L"\\??\\";

std::size_t IndexOf(RecordClass recordClass) { return static_cast<std::size_t>(recordClass); }

bool SameIgnoringCase(std::wstring_view left, std::wstring_view right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](wchar_t a, wchar_t b) { return UpperCaseOf(a) == UpperCaseOf(b); });
}

template <typename Items, typename Item>
void KeepFew(Items& items, const Item& item, std::size_t most)
{
    if (items.size() < most && std::find(items.begin(), items.end(), item) == items.end()) {
        items.push_back(item);
    }
}

}  // namespace

std::string_view NameOf(RecordClass recordClass) { return kClassNames[IndexOf(recordClass)]; }

bool LiesUnder(std::wstring_view path, std::wstring_view folder)
{
    for (const std::wstring_view prefix : {kLongPathPrefix, kDevicePrefix}) {
        if (path.starts_with(prefix)) {
            path.remove_prefix(prefix.size());
        }
    }
    return !folder.empty() && path.size() > folder.size() &&
           UpperCased(path.substr(0, folder.size())) == folder;
}

RecordClass ComponentFindings::Class() const
{
    if (!facts->image) {
        return RecordClass::kUnknown;
    }
    if (facts->DynamicBase()) {
        return RecordClass::kAslr;
    }
    return recordsOf[IndexOf(RecordClass::kCollision)] > 0 ? RecordClass::kCollision
                                                           : RecordClass::kMoved;
}

std::uint64_t ComponentFindings::EstimatedBytes() const
{
    const RecordClass recordClass = Class();
    const bool costs = recordClass == RecordClass::kCollision || recordClass == RecordClass::kMoved;
    return costs ? facts->SizeOfImage() * processes : 0;
}

Findings::Findings(ImageFactsOf factsOf, std::wstring windowsFolder, Gathering gathering)
    : factsOf_(std::move(factsOf)), windowsFolder_(UpperCased(windowsFolder)),
      gathering_(gathering)
{
    if (!windowsFolder_.empty() && windowsFolder_.back() != L'\\') {
        windowsFolder_.push_back(L'\\');
    }
}

void Findings::BeginSource(std::string name, std::string file)
{
    SourceFindings& source = sources_.emplace_back();
    source.wideName = Utf16(name);
    source.name = std::move(name);
    source.file = std::move(file);
    processImageLoads_.clear();
}

void Findings::SourceUnreadable() { sources_.back().readable = false; }

void Findings::SourceEnds(std::uint64_t tornTailBytes)
{
    sources_.back().tornTailBytes = tornTailBytes;
}

const FileFacts& Findings::FactsOf(std::wstring_view path)
{
    key_.assign(path);
    UpperCase(key_);
    auto known = files_.find(key_);
    if (known == files_.end()) {
        FileFacts facts = factsOf_(std::wstring(path));
        facts.systemFile = LiesUnder(path, windowsFolder_);
        known = files_.emplace(key_, std::move(facts)).first;
    }
    return known->second;
}

ComponentFindings& Findings::ComponentOf(const RepairRecord& record)
{
    key_.assign(record.componentPath);
    UpperCase(key_);
    if (const auto known = componentOf_.find(key_); known != componentOf_.end()) {
        return *known->second;
    }
    ComponentFindings& component = components_.emplace_back();
    component.path = record.componentPath;
    component.key = key_;
    component.wantedBase = record.preferredBase;
    component.facts = &FactsOf(record.componentPath);
    componentOf_.emplace(component.key, &component);
    return component;
}

std::uint32_t Findings::ProcessIdOf(std::wstring_view path)
{
    // The service records a process's components one after another: the last path, as written,
    // is found without upper-casing and hashing (compared from its end, where paths differ).
    if (path.size() == lastProcess_.size() &&
        std::equal(path.rbegin(), path.rend(), lastProcess_.rbegin())) {
        return lastProcessId_;
    }
    key_.assign(path);
    UpperCase(key_);
    lastProcess_.assign(path);
    lastProcessId_ =
        processIds_.try_emplace(key_, static_cast<std::uint32_t>(processIds_.size()))
            .first->second;
    return lastProcessId_;
}

RecordClass Findings::ClassOf(const RepairRecord& record, const FileFacts& facts)
{
    if (!facts.image) {
        return RecordClass::kUnknown;
    }
    if (facts.DynamicBase()) {
        return RecordClass::kAslr;
    }
    if (!SameIgnoringCase(record.occupantPath, record.processPath)) {
        return RecordClass::kCollision;  // another image, or something the service could not name
    }
    // Where nothing was allocated at the wanted base, the service names the process's own image
    // too: it really lay there only when the base falls in its range, which starts where it was
    // recorded as loaded in this source, or else at the base in its file. Without its file, the
    // service's word stands.
    const FileFacts& image = FactsOf(record.processPath);
    if (!image.image) {
        return RecordClass::kCollision;
    }
    const auto loaded = processImageLoads_.find(ProcessIdOf(record.processPath));
    const std::uint64_t start =
        loaded != processImageLoads_.end() ? loaded->second : image.image->imageBase;
    const bool inside = record.preferredBase >= start &&
                        record.preferredBase - start < image.image->sizeOfImage;
    return inside ? RecordClass::kCollision : RecordClass::kMoved;
}

void Findings::Count(ComponentFindings& component, RecordClass recordClass,
                     std::wstring_view processPath)
{
    ++component.recordsOf[IndexOf(recordClass)];
    const auto source = static_cast<std::uint32_t>(sources_.size() - 1);
    if (component.lastSource != source) {
        component.lastSource = source;
        component.sourceProcessCount = 0;
    }
    // A file records a component once, or a few times: the paths are compared as they are.
    auto& seen = component.sourceProcesses;
    const auto known = seen.begin() + static_cast<std::ptrdiff_t>(component.sourceProcessCount);
    if (std::any_of(seen.begin(), known, [processPath](const std::wstring& path) {
            return SameIgnoringCase(path, processPath);
        })) {
        return;
    }
    if (component.sourceProcessCount == seen.size()) {
        seen.emplace_back();
    }
    seen[component.sourceProcessCount++].assign(processPath);
    ++component.processes;
}

void Findings::Reserve(const RepairRecord& record, const ComponentFindings& component)
{
    const std::uint32_t known = component.facts->SizeOfImage();
    const std::uint64_t size = known != 0 ? known : kAssumedImageBytes;
    reserved_.Add(record.loadBase, EndOf(record.loadBase, size));
    reserved_.Add(record.preferredBase, EndOf(record.preferredBase, size));
}

void Findings::Gather(const ScannedRecord& entry, const ComponentFindings& component,
                      RecordClass recordClass)
{
    const RepairRecord& record = entry.record;
    const auto source = static_cast<std::uint32_t>(sources_.size() - 1);
    if (gathering_.collisions) {
        collisions_[record.preferredBase].emplace_back(source, entry.offset);
    }
    if (gathering_.contested && recordClass == RecordClass::kCollision) {
        const std::uint32_t known = component.facts->SizeOfImage();
        const std::uint64_t size = known != 0 ? known : kAssumedImageBytes;
        ContestedBase& contest = contested_[record.preferredBase];
        ++contest.collisions;
        contest.wantedBytes = std::max(contest.wantedBytes, size);
        KeepFew(contest.components, &component, kContestedComponents);
        KeepFew(contest.occupants, record.occupantPath, kContestedOccupants);
        if (contest.loads.size() < kContestedLoads) {
            contest.loads.push_back({source, record.processPath, record.loadBase, size});
        }
    }
}

Findings::Verdict Findings::Add(const ScannedRecord& entry, bool shown)
{
    Verdict verdict;
    if (entry.state != RecordState::kValid) {
        verdict.recordClass =
            entry.state == RecordState::kFilled ? RecordClass::kFilled : RecordClass::kDamaged;
    } else if (entry.record.IsProcessRecord()) {
        verdict.recordClass = RecordClass::kProcess;
    } else {
        const RepairRecord& record = entry.record;
        if (SameIgnoringCase(record.componentPath, record.processPath)) {
            processImageLoads_[ProcessIdOf(record.processPath)] = record.loadBase;
        }
        ComponentFindings& component = ComponentOf(record);
        verdict.facts = component.facts;
        verdict.recordClass = ClassOf(record, *component.facts);
        if (gathering_.ranges) {
            Reserve(record, component);  // also for a record not shown: the plan avoids it too
        }
        if (shown) {
            Count(component, verdict.recordClass, record.processPath);
            Gather(entry, component, verdict.recordClass);
        }
    }
    if (shown) {
        ++sources_.back().records;
        ++sources_.back().recordsOf[IndexOf(verdict.recordClass)];
        ++recordsOf_[IndexOf(verdict.recordClass)];
    }
    return verdict;
}

std::vector<const ComponentFindings*> Findings::Ranked() const
{
    std::vector<const ComponentFindings*> ranked;
    ranked.reserve(components_.size());
    for (const ComponentFindings& component : components_) {
        if (component.recordsOf != decltype(component.recordsOf){}) {
            ranked.push_back(&component);
        }
    }
    std::vector<std::pair<std::uint64_t, const ComponentFindings*>> costs;
    costs.reserve(ranked.size());
    for (const ComponentFindings* component : ranked) {
        costs.emplace_back(component->EstimatedBytes(), component);
    }
    std::sort(costs.begin(), costs.end(), [](const auto& left, const auto& right) {
        return left.first != right.first ? left.first > right.first
                                         : left.second->key < right.second->key;
    });
    std::transform(costs.begin(), costs.end(), ranked.begin(),
                   [](const auto& cost) { return cost.second; });
    return ranked;
}

std::vector<const Findings::Collisions::value_type*> Findings::CollisionsByBase() const
{
    std::vector<const Collisions::value_type*> bases;
    bases.reserve(collisions_.size());
    for (const auto& base : collisions_) {
        bases.push_back(&base);
    }
    std::sort(bases.begin(), bases.end(),
              [](const auto* left, const auto* right) { return left->first < right->first; });
    return bases;
}

std::uint64_t Findings::EstimatedBytes() const
{
    std::uint64_t total = 0;
    for (const ComponentFindings& component : components_) {
        total += component.EstimatedBytes();
    }
    return total;
}

std::uint64_t Findings::TornTailBytes() const
{
    std::uint64_t total = 0;
    for (const SourceFindings& source : sources_) {
        total += source.tornTailBytes;
    }
    return total;
}
