// The central directory held in memory while an archive is open: one TDirItem per entry, in
// directory order, in a TZADirArray that grows in widening steps.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Streams.h"
#include "zip/ZACentralHeader.h"
#include "zip/ZACompactString.h"
#include "zip/ZAExcept.h"
#include "zip/ZATypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zip {

struct TZAExtraField {
    std::uint16_t ID = 0;
    TZACompactString Data; // most records (times, owners) fit inside it

    std::uint16_t Size() const { return static_cast<std::uint16_t>(Data.size()); }
};

// A value an entry owns apart, made when first set and copied with the entry: what few
// entries have costs nothing in the others.
template <class T> class TDirItemPart {
public:
    TDirItemPart() = default;
    TDirItemPart(const TDirItemPart& other) { *this = other; }
    TDirItemPart(TDirItemPart&&) noexcept = default;
    TDirItemPart& operator=(const TDirItemPart& other) {
        if (this != &other)
            value_ = other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
        return *this;
    }
    TDirItemPart& operator=(TDirItemPart&&) noexcept = default;

    // The value, or an empty one when it was never set.
    const T& Get() const {
        static const T empty{};
        return value_ ? *value_ : empty;
    }
    T& Edit() {
        if (!value_)
            value_ = std::make_unique<T>();
        return *value_;
    }
    bool Has() const { return value_ != nullptr; }

private:
    std::unique_ptr<T> value_;
};

// What few entries read from an archive have beyond their header and name.
struct TDirItemDetail {
    // The name's bytes as read, where writing the name would not give them back (UTF-8 from a
    // Unix host, a Unicode path record, a NUL), and the name read from them: while StoredName
    // is still that name, the writer writes these bytes.
    TZACompactString NameField;
    TZACompactString NameFieldText;
    TZACompactString Comment;
    std::vector<TZAExtraField> ExtraFields; // central header's records, in file order
    // The first volume where the header's field holds its marker: past 65,534 volumes.
    std::uint32_t Zip64DiskNumberStart = 0;
};

// What the update pass needs to write new data for an entry.
struct TDirItemSource {
    std::string Password;
    std::shared_ptr<vcl::TStream> SourceStream; // read instead of SourceFileName when set
    bool OwnsStream = false;
    std::int64_t SourceStart = 0; // 64-bit, as every stream position
    std::string SourceFileName;
};

// One entry. A listing of many entries holds these side by side, so what every entry needs
// stands here and the rest in parts made on demand.
struct TDirItem {
    TZACompactString StoredName; // "/" separates folders
    TZACentralHeader CentralHeader;

    // The entry's real sizes and local-header offset, so that no reader has to look at the
    // markers. Where the header field holds its marker this is the value of the Zip64 record
    // (read from it, and written into it); elsewhere it is the header's own field, which
    // ResolveZip64 takes after the header was read or changed.
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint64_t LocalHeaderOffset = 0;
    void ResolveZip64();
    // The same for the first volume, whose Zip64 value so few entries need that it stands
    // with their details.
    std::uint32_t DiskNumberStart() const {
        return CentralHeader.DiskNumberStart != Zip64Marker16 ? CentralHeader.DiskNumberStart
                                                              : Detail().Zip64DiskNumberStart;
    }
    void SetZip64DiskNumberStart(std::uint32_t volume);

    // Where the entry stood in the directory when its update batch began (its saved copy's
    // index), -1 for one the batch adds. The pass finds an entry's old record by it: names
    // need not be unique, and a rename or an update may change the name.
    std::int32_t Origin = -1;

    // The stored name is longer than the engine holds: kept whole, but never extracted.
    bool NameTooLong : 1 = false;
    // The entry has a Zip64 record, or its writer gave it one.
    bool Zip64 : 1 = false;
    // The update pass writes new data for the entry, from its source.
    bool NewData : 1 = false;
    bool Selected : 1 = false;
    std::uint8_t CompressionMode = 0; // 0 to 9
    TZAProcessOperation Operation = poAdd;

    const TDirItemDetail& Detail() const { return detail_.Get(); }
    TDirItemDetail& EditDetail() { return detail_.Edit(); }
    const TDirItemSource& Source() const { return source_.Get(); }
    TDirItemSource& EditSource() { return source_.Edit(); }

    // The name's bytes are kept as read (see TDirItemDetail), or no longer.
    void KeepNameField(std::string_view field);
    void DropNameField();
    void SetComment(std::string_view comment);
    void SetExtraFields(std::vector<TZAExtraField> fields);

    // The entry owns the stream: it goes with the entry.
    void TakeSourceStream(std::unique_ptr<vcl::TStream> stream);
    // The caller keeps the stream and must keep it alive while the entry refers to it.
    void LendSourceStream(vcl::TStream& stream);
    void ReleaseSourceStream();

private:
    TDirItemPart<TDirItemDetail> detail_;
    TDirItemPart<TDirItemSource> source_;
};

class TZADirArray : public vcl::TObject {
public:
    // No central header is shorter, so a directory of n bytes holds at most n / 46 entries.
    static constexpr std::int64_t MinEntryBytes = TZACentralHeader::Size;
    static std::int64_t MaxEntriesIn(std::int64_t directoryBytes);

    std::int32_t Count() const { return count_; }
    std::int32_t Capacity() const { return capacity_; }

    // Grows the slots when needed: the growth step doubles (up to 10000) before each growth,
    // and the capacity becomes capacity + step, or newCount when that is larger. A count of
    // 0 releases every slot. A negative count raises zeDirectoryIndex and changes nothing.
    void SetCount(std::int32_t newCount);
    // As SetCount, for a count read from an archive: a count that the directoryBytes could
    // not hold raises zeDirectoryIndex before anything is allocated.
    void SetCount(std::int32_t newCount, std::int64_t directoryBytes);

    // Index errors: zeGetItemIndex, zeDirectoryIndex (SetItem), zeItemPtrIndex, zeDeleteIndex;
    // the array is unchanged when they are raised.
    TDirItem GetItem(std::int32_t index) const;
    void SetItem(std::int32_t index, const TDirItem& item);
    TDirItem& ItemPtr(std::int32_t index);
    const TDirItem& ItemPtr(std::int32_t index) const;
    void Delete(std::int32_t index);

    // Empties every entry; the capacity and the growth step stay.
    void Clear();
    void Assign(const TZADirArray& source);
    void ClearSelection();

private:
    void CheckIndex(std::int32_t index, TZAError code) const;

    std::vector<TDirItem> items_; // capacity_ slots; entries are the first count_
    std::int32_t growthStep_ = 500;
    std::int32_t maxGrowthStep_ = 10000;
    std::int32_t capacity_ = 0;
    std::int32_t count_ = 0;
};

} // namespace zip
