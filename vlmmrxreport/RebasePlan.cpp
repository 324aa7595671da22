#include "vlmmrxreport/RebasePlan.h"

#include <algorithm>

namespace {

// The FNV-1a hash of an upper-cased path's units: the same home on every machine and build.
constexpr std::uint64_t kHashOffset = 0xCBF29CE484222325;
constexpr std::uint64_t kHashPrime = 0x100000001B3;
constexpr std::uint64_t kLowestImageBase = 0x10000;

struct Window {
    std::uint64_t floor = 0;
    std::uint64_t ceiling = 0;
};

std::uint64_t HashOf(std::wstring_view key)
{
    std::uint64_t hash = kHashOffset;
    for (const wchar_t unit : key) {
        hash = (hash ^ static_cast<std::uint16_t>(unit)) * kHashPrime;
    }
    return hash;
}

Window WindowOf(const pe::ImageFacts& image, std::optional<std::uint64_t> floor)
{
    if (image.pe32Plus) {
        const std::uint64_t start = floor.value_or(kPlanFloor64);
        return {start, std::min(kPlanCeiling64, EndOf(start, kPlanWindow64))};
    }
    return {floor.value_or(kPlanFloor32), kPlanCeiling32};
}

// Why `component` is not planned; empty when it is to be.
std::string SkipReason(const ComponentFindings& component)
{
    const FileFacts& facts = *component.facts;
    if (!facts.image) {
        return "cannot be read here: " + facts.unreadable;
    }
    if (facts.DynamicBase()) {
        return "aslr: it asks to be moved (dynamic base); rebasing it changes nothing";
    }
    if (facts.systemFile) {
        return "a system file (under the Windows folder): its maker decides its base";
    }
    if (facts.Signed()) {
        return "signed: rebasing it breaks its signature";
    }
    if (facts.image->sizeOfImage == 0) {
        return "its headers give no SizeOfImage";
    }
    return {};
}

// Whether the current base of `image` is clear, in its format's range and aligned.
bool KeepsItsBase(const pe::ImageFacts& image, AddressRanges& reserved, AddressRanges& placed)
{
    const std::uint64_t base = image.imageBase;
    const std::uint64_t end = EndOf(base, image.sizeOfImage);
    const std::uint64_t top = image.pe32Plus ? kPlanCeiling64 : kPlanCeiling32;
    return base % kPlanAlignment == 0 && base >= kLowestImageBase && end <= top &&
           !reserved.EndOfOverlap(base, end) && !placed.EndOfOverlap(base, end);
}

std::optional<std::uint64_t> Place(const ComponentFindings& component, Window window,
                                   AddressRanges& reserved, AddressRanges& placed)
{
    const std::uint64_t size = component.facts->image->sizeOfImage;
    if (window.floor >= window.ceiling || window.ceiling - window.floor < size) {
        return std::nullopt;
    }
    const std::uint64_t homes = (window.ceiling - window.floor - size) / kPlanAlignment + 1;
    const std::uint64_t home = window.floor + HashOf(component.key) % homes * kPlanAlignment;
    if (const auto base =
            LowestFree({&reserved, &placed}, home, size, kPlanAlignment, window.ceiling)) {
        return base;
    }
    return LowestFree({&reserved, &placed}, window.floor, size, kPlanAlignment, window.ceiling);
}

}  // namespace

std::string_view NameOf(PlanAction action)
{
    return action == PlanAction::kRebase ? "rebase" : action == PlanAction::kKeep ? "keep" : "skip";
}

std::vector<PlanEntry> PlanRebase(Findings& findings, std::optional<std::uint64_t> floor)
{
    std::vector<PlanEntry> plan;
    for (const ComponentFindings& component : findings.Components()) {
        if (component.recordsOf != decltype(component.recordsOf){}) {
            plan.push_back({&component, PlanAction::kSkip, 0, SkipReason(component)});
        }
    }
    std::sort(plan.begin(), plan.end(), [](const PlanEntry& left, const PlanEntry& right) {
        return left.component->key < right.component->key;
    });
    AddressRanges& reserved = findings.Reserved();
    AddressRanges placed;
    for (PlanEntry& entry : plan) {
        const auto& image = entry.component->facts->image;
        if (entry.reason.empty() && KeepsItsBase(*image, reserved, placed)) {
            entry.action = PlanAction::kKeep;
            entry.base = image->imageBase;
            placed.Add(entry.base, EndOf(entry.base, image->sizeOfImage));
        }
    }
    for (PlanEntry& entry : plan) {
        if (!entry.reason.empty() || entry.action == PlanAction::kKeep) {
            continue;
        }
        const pe::ImageFacts& image = *entry.component->facts->image;
        const Window window = WindowOf(image, floor);
        if (const auto base = Place(*entry.component, window, reserved, placed)) {
            entry.action = PlanAction::kRebase;
            entry.base = *base;
            placed.Add(*base, *base + image.sizeOfImage);
        } else {
            entry.reason = "no free range for it between the plan's bounds";
        }
    }
    return plan;
}
