#include "settings/RepairFileSetting.h"

#include "image/RepairRecord.h"

#include <vector>

std::wstring RepairFileFromSetting(ByteSpan data)
{
    std::vector<std::uint8_t> units(data.begin(), data.end());
    if (units.size() % kUtf16UnitBytes != 0) {
        units.push_back(0);
    }
    return RepairFilePath(LoadUtf16(units));
}
