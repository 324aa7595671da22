// What the records of one or more repair-pending files mean, read as an administrator reads them:
// each component record classified from the component's file (read here) and from the record,
// and per component what its relocation costs. Filled record by record, so that a fleet's files
// are read once, in a stream, and only the aggregates are kept.
#pragma once

#include "image/PeHeaders.h"
#include "vlmmrxreport/AddressRanges.h"
#include "vlmmrxreport/Report.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What a record shows. The first four are the classes of a valid component record:
//   aslr       the image asks to be moved (dynamic base): its relocated pages are shared between
//              processes, and rebasing it changes nothing;
//   collision  a fixed-base image whose wanted base another image (the occupant) held;
//   moved      a fixed-base image loaded elsewhere although no other image held its base;
//   unknown    its file cannot be read here.
enum class RecordClass { kAslr, kCollision, kMoved, kUnknown, kProcess, kFilled, kDamaged };
inline constexpr std::size_t kRecordClasses = 7;
inline constexpr std::size_t kComponentClasses = 4;  // the first four

[[nodiscard]] std::string_view NameOf(RecordClass recordClass);

// What the tool learned of one image file here.
struct FileFacts {
    std::optional<pe::ImageFacts> image;  // nothing when its headers cannot be read
    std::string unreadable;               // why, when `image` is empty
    bool systemFile = false;              // it lies under the Windows folder

    [[nodiscard]] bool DynamicBase() const
    {
        return image && (image->dllCharacteristics & pe::kDynamicBase) != 0;
    }
    [[nodiscard]] bool Signed() const { return image && image->hasCertificate; }
    [[nodiscard]] std::uint32_t SizeOfImage() const { return image ? image->sizeOfImage : 0; }
};

// The system's answer for one file: its image facts, or why it cannot be read.
using ImageFactsOf = std::function<FileFacts(const std::wstring& path)>;

// The size taken for the ranges of an image whose file cannot be read: 16 MiB, more than all but
// the largest system DLLs, so that an unknown image is rather overestimated.
inline constexpr std::uint64_t kAssumedImageBytes = 0x1000000;

// Everything known of one component path (compared without regard to case).
struct ComponentFindings {
    std::wstring path;  // as first recorded
    std::wstring key;   // upper-cased
    const FileFacts* facts = nullptr;
    std::uint64_t wantedBase = 0;  // in its first record
    std::array<std::uint64_t, kComponentClasses> recordsOf{};  // records by class
    std::uint64_t processes = 0;  // distinct pairs of source and process path that recorded it

    // aslr or unknown from its file; otherwise collision when any record shows one, else moved.
    [[nodiscard]] RecordClass Class() const;
    // An upper bound of the private bytes its relocation costs: SizeOfImage times the processes,
    // for a collision or a moved image (an aslr image's pages are shared; unknown: no size).
    [[nodiscard]] std::uint64_t EstimatedBytes() const;

    std::uint32_t lastSource = ~std::uint32_t{0};  // the source whose processes are held below
    // The process paths seen in it, as written; the first `sourceProcessCount` count (the rest
    // keep their buffers for the next source).
    std::vector<std::wstring> sourceProcesses;
    std::size_t sourceProcessCount = 0;
};

// One load of a component at a contested base, for the page's drawing.
struct ContestedLoad {
    std::uint32_t source = 0;
    std::wstring processPath;
    std::uint64_t loadBase = 0;
    std::uint64_t size = 0;
};

// A wanted base at which collisions were recorded: who wanted it, who held it, where the wanting
// images went. Bounded: the first few of each are kept, and how many there were in all.
struct ContestedBase {
    std::vector<const ComponentFindings*> components;
    std::vector<std::wstring> occupants;
    std::vector<ContestedLoad> loads;
    std::uint64_t collisions = 0;
    std::uint64_t wantedBytes = 0;  // the largest size among its components
};

struct SourceFindings {
    std::string name;
    std::wstring wideName;  // the name as the records' texts are held
    std::string file;
    bool readable = true;
    std::uint64_t records = 0;
    std::uint64_t tornTailBytes = 0;
    std::array<std::uint64_t, kRecordClasses> recordsOf{};
};

// What to gather besides the counts and the components (each costs memory per record).
struct Gathering {
    bool ranges = false;      // every recorded load and wanted range, for the plan
    bool collisions = false;  // the offsets of the records per wanted base, for JSON
    bool contested = false;   // the contested bases, for the page
};

class Findings {
public:
    Findings(ImageFactsOf factsOf, std::wstring windowsFolder, Gathering gathering);

    // Starts the records of another file.
    void BeginSource(std::string name, std::string file);
    void SourceUnreadable();
    void SourceEnds(std::uint64_t tornTailBytes);

    // Classifies `entry` and, when `shown`, counts it; its ranges are reserved either way. The
    // facts returned belong to the component of a valid component record (null otherwise).
    struct Verdict {
        RecordClass recordClass = RecordClass::kDamaged;
        const FileFacts* facts = nullptr;
    };
    Verdict Add(const ScannedRecord& entry, bool shown);

    [[nodiscard]] const std::deque<SourceFindings>& Sources() const { return sources_; }
    [[nodiscard]] const std::array<std::uint64_t, kRecordClasses>& RecordsOf() const
    {
        return recordsOf_;
    }
    // Components in the order of their first record.
    [[nodiscard]] const std::deque<ComponentFindings>& Components() const { return components_; }
    // Components ranked by estimated cost, the largest first, then by path.
    [[nodiscard]] std::vector<const ComponentFindings*> Ranked() const;
    [[nodiscard]] std::uint64_t EstimatedBytes() const;
    [[nodiscard]] std::uint64_t TornTailBytes() const;
    [[nodiscard]] AddressRanges& Reserved() { return reserved_; }
    // Per wanted base of two or more valid component records: source index and offset of each.
    using Collisions = std::unordered_map<std::uint64_t,
                                          std::vector<std::pair<std::uint32_t, std::uint64_t>>>;
    // The bases in ascending order.
    [[nodiscard]] std::vector<const Collisions::value_type*> CollisionsByBase() const;
    [[nodiscard]] const std::map<std::uint64_t, ContestedBase>& Contested() const
    {
        return contested_;
    }

private:
    const FileFacts& FactsOf(std::wstring_view path);
    ComponentFindings& ComponentOf(const RepairRecord& record);
    std::uint32_t ProcessIdOf(std::wstring_view path);
    RecordClass ClassOf(const RepairRecord& record, const FileFacts& facts);
    void Count(ComponentFindings& component, RecordClass recordClass,
               std::wstring_view processPath);
    void Reserve(const RepairRecord& record, const ComponentFindings& component);
    void Gather(const ScannedRecord& entry, const ComponentFindings& component,
                RecordClass recordClass);

    ImageFactsOf factsOf_;
    std::wstring windowsFolder_;  // upper-cased, with a trailing separator
    Gathering gathering_;
    std::wstring key_;  // scratch for upper-casing
    std::unordered_map<std::wstring, FileFacts> files_;
    std::deque<ComponentFindings> components_;
    std::unordered_map<std::wstring, ComponentFindings*> componentOf_;
    std::unordered_map<std::wstring, std::uint32_t> processIds_;
    std::wstring lastProcess_;  // the path last asked of ProcessIdOf, as written, and its id
    std::uint32_t lastProcessId_ = 0;
    // Where this source's process images were recorded as loaded (their own component records).
    std::unordered_map<std::uint32_t, std::uint64_t> processImageLoads_;
    std::deque<SourceFindings> sources_;
    std::array<std::uint64_t, kRecordClasses> recordsOf_{};
    AddressRanges reserved_;
    Collisions collisions_;
    std::map<std::uint64_t, ContestedBase> contested_;
};

// Whether `path` lies in `folder` or below it (both upper-cased, the folder ending in a
// separator); a "\\?\" or "\??\" prefix of `path` is passed over.
[[nodiscard]] bool LiesUnder(std::wstring_view path, std::wstring_view folder);
