#include "vlmmrxreport/RebasePlan.h"

#include "platform/Paths.h"
#include "vlmmrxreport/AddressRanges.h"

#include <limits>
#include <unordered_map>

namespace {

struct Component {
    const RepairRecord* first = nullptr;
    std::uint32_t sizeOfImage = 0;
};

std::uint64_t EndOf(std::uint64_t start, std::uint64_t bytes)
{
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    return start > largest - bytes ? largest : start + bytes;
}

}  // namespace

std::vector<PlannedBase> PlanRebase(const Report& report, const ImageSizeOf& sizeOf)
{
    std::vector<Component> components;  // in the order of their first record
    std::unordered_map<std::wstring, std::size_t> indexOf;
    indexOf.reserve(report.records.size());
    AddressRanges taken;
    for (const ReportRecord& entry : report.records) {
        if (!IsComponentRecord(entry)) {
            continue;
        }
        const RepairRecord& record = entry.record;
        const auto [known, added] =
            indexOf.emplace(UpperCased(record.componentPath), components.size());
        if (added) {
            components.push_back({&record, sizeOf(record.componentPath)});
        }
        const std::uint32_t size = components[known->second].sizeOfImage;
        const std::uint64_t bytes = size != 0 ? size : kAssumedImageBytes;
        taken.Add(record.loadBase, EndOf(record.loadBase, bytes));
        taken.Add(record.preferredBase, EndOf(record.preferredBase, bytes));
    }
    std::vector<PlannedBase> plan;
    for (const Component& component : components) {
        const bool relocated = component.first->loadBase != component.first->preferredBase;
        if (component.sizeOfImage == 0 || !relocated) {
            continue;
        }
        const auto base =
            taken.LowestFree(kPlanFloor, component.sizeOfImage, kPlanAlignment, kPlanCeiling);
        if (base) {
            taken.Add(*base, *base + component.sizeOfImage);
            plan.push_back({component.first->componentPath, component.first->preferredBase,
                            component.sizeOfImage, *base});
        }
    }
    return plan;
}
