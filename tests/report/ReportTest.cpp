// What the report tool makes of records, over crafted records and the facts of image files as
// the system would give them: the records' states, each record's class, the costs, and the plan
// (safe, stable, one for a fleet).
#include "vlmmrxreport/RebasePlan.h"

#include <gmock/gmock.h>

#include <map>

namespace {

using File = std::vector<std::uint8_t>;
using Images = std::map<std::wstring, pe::ImageFacts>;

constexpr wchar_t kApp[] = L"C:\\App\\app.exe";

struct Record {
    std::uint64_t load;
    std::uint64_t wanted;
    std::wstring component;
    std::wstring occupant = L"C:\\App\\other.dll";
    std::wstring process = kApp;
};

File FileOf(const std::vector<Record>& records)
{
    File file;
    for (const Record& record : records) {
        RepairRecordBytes bytes{};
        EXPECT_TRUE(EncodeRepairRecord(0x1000, record.load, record.wanted, record.component,
                                       record.process, record.occupant, bytes));
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    return file;
}

pe::ImageFacts Image(std::uint64_t base, std::uint32_t size, std::uint16_t characteristics = 0,
                     bool pe32Plus = true)
{
    return {pe32Plus, base, size, characteristics, false};
}

// Findings over `images`, the system's answers for the files that exist.
Findings FindingsOf(const Images& images, Gathering gathering = {true, false, false})
{
    return Findings(
        [&images](const std::wstring& path) {
            FileFacts facts;
            if (const auto found = images.find(path); found != images.end()) {
                facts.image = found->second;
            } else {
                facts.unreadable = "no such file";
            }
            return facts;
        },
        L"C:\\Windows", gathering);
}

// Reads `file` as the source `name`; the class of each record.
std::vector<RecordClass> Read(Findings& findings, const File& file, std::string name = "web01")
{
    std::vector<RecordClass> classes;
    findings.BeginSource(name, name + ".dat");
    const auto tail = ScanRepairFile(
        [&file](std::uint64_t at, std::span<std::uint8_t> into) {
            const auto rest = std::span(file).subspan(std::min<std::size_t>(at, file.size()));
            const std::size_t count = std::min(into.size(), rest.size());
            std::copy_n(rest.begin(), count, into.begin());
            return count;
        },
        [&](const ScannedRecord& entry) {
            classes.push_back(findings.Add(entry, true).recordClass);
        });
    findings.SourceEnds(tail);
    return classes;
}

TEST(ReportRecords, TellWholeRecordsFromOnesTheServiceFilledAfterATornWriteAndFromDamage)
{
    const File whole = FileOf({{0x10000, 0x180000000, L"C:\\a.dll"}});
    File filled = whole;  // cut inside the process path, the rest filled with 0xFF
    std::fill(filled.begin() + kProcessPathOffset + 6, filled.end(), 0xFF);
    File notFill = filled;  // the same cut, completed with something else
    notFill.back() = 0xFE;
    File early = whole;  // the component's text unterminated, although the cut comes later
    std::fill_n(early.begin() + kComponentPathOffset, kRepairTextBytes, 0x41);
    std::fill(early.begin() + kOccupantPathOffset, early.end(), 0xFF);
    const struct {
        const char* name;
        File bytes;
        RecordState state;
    } cases[] = {{"Whole", whole, RecordState::kValid},
                 {"FilledAfterTheCut", filled, RecordState::kFilled},
                 {"CompletedWithOtherBytes", notFill, RecordState::kDamaged},
                 {"UnterminatedBeforeTheFill", early, RecordState::kDamaged},
                 {"AllFill", File(kRepairRecordBytes, 0xFF), RecordState::kDamaged}};
    for (const auto& row : cases) {
        const RepairRecordSpan bytes(row.bytes.data(), kRepairRecordBytes);
        RepairRecord record;
        EXPECT_EQ(StateOf(bytes, DecodeRepairRecord(bytes, record)), row.state) << row.name;
    }
    File many;  // read in pieces that grow: every record once, in order, and the bytes after
    for (int index = 0; index < 100; ++index) {
        const File one = FileOf({{0x10000, 0x180000000, L"C:\\a.dll"}});
        many.insert(many.end(), one.begin(), one.end());
    }
    many.resize(many.size() + 7);
    std::vector<std::uint64_t> offsets;
    const auto readMany = [&many](std::uint64_t at, std::span<std::uint8_t> into) {
        const auto rest = std::span(many).subspan(std::min<std::size_t>(at, many.size()));
        const std::size_t count = std::min(into.size(), rest.size());
        std::copy_n(rest.begin(), count, into.begin());
        return count;
    };
    EXPECT_EQ(ScanRepairFile(readMany, [&offsets](const ScannedRecord& entry) {
                  offsets.push_back(entry.offset);
              }),
              7u);
    ASSERT_EQ(offsets.size(), 100u);
    EXPECT_EQ(offsets.back(), 99u * kRepairRecordBytes);
    EXPECT_EQ(SourceName("\\\\share\\vlm\\WEB01.dat"), "WEB01");
    EXPECT_EQ(SourceName("/fleet/pending64.dat"), "pending");
    EXPECT_EQ(SourceName("C:\\Data\\64"), "64");
}

TEST(ReportClasses, ComeFromTheFileAndFromWhatHeldTheWantedBase)
{
    const Images images = {
        {L"C:\\App\\fixed.dll", Image(0x180000000, 0x20000)},
        {L"C:\\App\\aslr.dll", Image(0x180000000, 0x20000, pe::kDynamicBase)},
        {L"C:\\App\\old.dll", Image(0x10000000, 0x8000, 0, false)},
        {kApp, Image(0x140000000, 0x10000)},
    };
    Findings findings = FindingsOf(images);
    const auto classes = Read(
        findings,
        FileOf({
            {0x7FF600000000, 0x180000000, L"C:\\App\\aslr.dll"},
            {0x7FF600000000, 0x180000000, L"C:\\App\\fixed.dll"},
            {0x20000000, 0x10000000, L"C:\\App\\old.dll", L"?"},  // unnamed: still held
            {0x20000000, 0x10000000, L"C:\\App\\gone.dll"},
            // Named after the process: free at 0x10000000, but at 0x140008000 the image was.
            {0x20000000, 0x10000000, L"C:\\App\\fixed.dll", L"c:\\app\\APP.EXE"},
            {0x20000000, 0x140008000, L"C:\\App\\fixed.dll", kApp},
            // The process image recorded as relocated to 0x50000000: it lies there, not at its
            // base.
            {0x50000000, 0x140000000, kApp, L"?"},
            {0x20000000, 0x140008000, L"C:\\App\\fixed.dll", kApp},
            {0x20000000, 0x50008000, L"C:\\App\\fixed.dll", kApp},
            {kProcessRecordMark, kProcessRecordMark, kApp},
        }));
    using enum RecordClass;
    EXPECT_EQ(classes, (std::vector{kAslr, kCollision, kCollision, kUnknown, kMoved, kCollision,
                                    kCollision, kMoved, kCollision, kProcess}));
}

TEST(ReportCosts, AreSizeTimesTheDistinctProcessesOfEverySourceForImagesThatCost)
{
    const Images images = {{L"C:\\App\\fixed.dll", Image(0x180000000, 0x20000)},
                           {L"C:\\App\\aslr.dll", Image(0x180000000, 0x30000, pe::kDynamicBase)}};
    Findings findings = FindingsOf(images);
    const Record fixed{0x7FF600000000, 0x180000000, L"C:\\App\\fixed.dll"};
    Record inTool = fixed;
    inTool.process = L"C:\\App\\TOOL.exe";
    Record again = inTool;
    again.process = L"c:\\app\\tool.EXE";
    static_cast<void>(Read(findings, FileOf({fixed, inTool, again, {1, 2, L"C:\\App\\aslr.dll"}})));
    static_cast<void>(Read(findings, FileOf({fixed}), "web02"));
    const auto ranked = findings.Ranked();
    ASSERT_EQ(ranked.size(), 2u);
    EXPECT_EQ(ranked[0]->processes, 3u);  // two in web01, one in web02
    EXPECT_EQ(ranked[0]->EstimatedBytes(), 3u * 0x20000);
    EXPECT_EQ(ranked[1]->EstimatedBytes(), 0u);  // aslr: shared pages
    EXPECT_EQ(findings.EstimatedBytes(), 3u * 0x20000);
}

struct Planned {
    PlanAction action;
    std::uint64_t base;
    std::string reason;
    bool operator==(const Planned&) const = default;
};

// The plan for `images` over the records of each source; the entries by path.
std::map<std::wstring, Planned> PlanOf(const Images& images,
                                       const std::vector<std::vector<Record>>& sources,
                                       std::optional<std::uint64_t> floor = std::nullopt)
{
    Findings findings = FindingsOf(images);
    for (std::size_t index = 0; index < sources.size(); ++index) {
        static_cast<void>(Read(findings, FileOf(sources[index]), "m" + std::to_string(index)));
    }
    std::map<std::wstring, Planned> plan;
    for (const PlanEntry& entry : PlanRebase(findings, floor)) {
        plan.emplace(entry.component->path, Planned{entry.action, entry.base, entry.reason});
    }
    return plan;
}

bool Overlap(std::uint64_t a, std::uint64_t aSize, std::uint64_t b, std::uint64_t bSize)
{
    return a < b + bSize && b < a + aSize;
}

TEST(RebasePlan, PlansOnlyWhatMayBeRebasedInItsFormatsRangeClearOfEveryRecordedRange)
{
    pe::ImageFacts signedImage = Image(0x180000000, 0x10000);
    signedImage.hasCertificate = true;
    const Images images = {
        {L"C:\\App\\a.dll", Image(0x180000000, 0x20000)},
        {L"C:\\App\\old.dll", Image(0x10000000, 0x8000, 0, false)},
        {L"C:\\App\\aslr.dll", Image(0x180000000, 0x10000, pe::kDynamicBase)},
        {L"C:\\WINDOWS\\System32\\sys.dll", Image(0x180000000, 0x10000)},
        {L"C:\\App\\signed.dll", signedImage},
    };
    std::vector<Record> records;
    for (const auto& [path, image] : images) {
        records.push_back({0x7FF600000000 + records.size() * 0x100000, image.imageBase, path});
    }
    records.push_back({0x20000000, 0x10000000, L"C:\\App\\gone.dll"});
    const auto plan = PlanOf(images, {records});
    const std::map<std::wstring, std::string> skipped = {
        {L"C:\\App\\aslr.dll", "aslr"}, {L"C:\\WINDOWS\\System32\\sys.dll", "system file"},
        {L"C:\\App\\signed.dll", "signed"}, {L"C:\\App\\gone.dll", "cannot be read here"}};
    for (const auto& [path, entry] : plan) {
        if (skipped.contains(path)) {
            EXPECT_EQ(entry.action, PlanAction::kSkip);
            EXPECT_THAT(entry.reason, testing::HasSubstr(skipped.at(path)));
            continue;
        }
        const pe::ImageFacts& image = images.at(path);
        EXPECT_EQ(entry.action, PlanAction::kRebase);
        EXPECT_EQ(entry.base % kPlanAlignment, 0u);
        EXPECT_TRUE(image.pe32Plus ? entry.base >= kPlanFloor64
                                   : entry.base + image.sizeOfImage <= kPlanCeiling32);
        for (const Record& record : records) {
            EXPECT_FALSE(Overlap(entry.base, image.sizeOfImage, record.load, kAssumedImageBytes));
            EXPECT_FALSE(Overlap(entry.base, image.sizeOfImage, record.wanted, kAssumedImageBytes));
        }
    }
    // PE32 images have no room above 2 GiB; PE32+ ones start at the base given.
    const auto high = PlanOf(images, {records}, 0x300000000);
    EXPECT_EQ(high.at(L"C:\\App\\old.dll").action, PlanAction::kSkip);
    EXPECT_GE(high.at(L"C:\\App\\a.dll").base, 0x300000000u);
}

TEST(RebasePlan, IsTheSameForRecordsInAnotherOrderMovesNoOtherImageAndOnceAppliedKeepsAll)
{
    Images images;
    std::vector<Record> records;
    for (const wchar_t* path : {L"C:\\App\\a.dll", L"C:\\App\\b.dll", L"C:\\App\\c.dll"}) {
        images[path] = Image(0x180000000, 0x20000);
        records.push_back({0x7FF600000000 + records.size() * 0x100000, 0x180000000, path});
    }
    const auto plan = PlanOf(images, {records});
    EXPECT_EQ(PlanOf(images, {{records[2], records[0], records[1]}}), plan);
    Images grown = images;
    grown[L"C:\\App\\b.dll"].sizeOfImage = 0x400000;
    const auto afterGrowth = PlanOf(grown, {records});
    EXPECT_EQ(afterGrowth.at(L"C:\\App\\a.dll"), plan.at(L"C:\\App\\a.dll"));
    EXPECT_EQ(afterGrowth.at(L"C:\\App\\c.dll"), plan.at(L"C:\\App\\c.dll"));
    Images applied = images;
    for (auto& [path, image] : applied) {
        image.imageBase = plan.at(path).base;
    }
    for (const auto& [path, entry] : PlanOf(applied, {records})) {
        EXPECT_EQ(entry, (Planned{PlanAction::kKeep, plan.at(path).base, ""}));
    }
}

TEST(RebasePlan, GivesOneBaseToAComponentThatSourcesRecordedDifferentlyClearOfBoth)
{
    const Images images = {{L"C:\\App\\a.dll", Image(0x180000000, 0x20000)}};
    const auto plan = PlanOf(images, {{{0x7FF600000000, 0x180000000, L"C:\\App\\a.dll"}},
                                      {{0x7FF700000000, 0x190000000, L"c:\\app\\A.DLL"}}});
    ASSERT_EQ(plan.size(), 1u);
    const std::uint64_t base = plan.begin()->second.base;
    for (const std::uint64_t recorded :
         {0x7FF600000000, 0x180000000, 0x7FF700000000, 0x190000000}) {
        EXPECT_FALSE(Overlap(base, 0x20000, recorded, 0x20000));
    }
}

}  // namespace
