// The on-disk records of a ZIP archive, read and written field by field through one
// little-endian cursor. Layouts follow PKWARE's APPNOTE; the engine also knows a second,
// alternate signature set for its own non-ZIP format.
#pragma once

#include "vcl/SysUtils.h"
#include "zip/ZACentralHeader.h"
#include "zip/ZADirArray.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zip {

// A record cut short: the bytes ended before the field being read.
class ERecordTruncated : public vcl::Exception {
public:
    ERecordTruncated() : vcl::Exception("Truncated archive record") {}
};

// Reads little-endian fields from a byte range, each read consuming what it took. Running
// past the end raises ERecordTruncated and leaves the cursor where it was.
class RecordReader {
public:
    RecordReader(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    explicit RecordReader(std::string_view bytes) : RecordReader(bytes.data(), bytes.size()) {}
    // The reader only looks at the bytes; a temporary would be gone before the first read.
    explicit RecordReader(std::string&&) = delete;

    std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    std::uint64_t u64() { return take(8); }
    // A field of the width its type has.
    template <std::unsigned_integral T> void field(T& value) {
        value = static_cast<T>(take(sizeof(T)));
    }
    std::string bytes(std::size_t count);
    void skip(std::size_t count);

    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }

private:
    // Inline, with the width known where it is called: a directory of many entries reads
    // seventeen fields an entry.
    std::uint64_t take(std::size_t width) {
        if (width > remaining())
            throw ERecordTruncated();
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i)
            v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += width;
        return v;
    }

    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The 4 bytes at p as a little-endian number: signature searches test every byte position, where
// a cursor for each would cost more than the test.
inline std::uint32_t SignatureAt(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

// Appends little-endian fields to a byte string.
class RecordWriter {
public:
    RecordWriter& u8(std::uint8_t v) { return put(v, 1); }
    RecordWriter& u16(std::uint16_t v) { return put(v, 2); }
    RecordWriter& u32(std::uint32_t v) { return put(v, 4); }
    RecordWriter& u64(std::uint64_t v) { return put(v, 8); }
    template <std::unsigned_integral T> RecordWriter& field(T value) {
        return put(value, sizeof(T));
    }
    RecordWriter& bytes(std::string_view data) {
        out_.append(data);
        return *this;
    }

    const std::string& data() const { return out_; }
    std::size_t size() const { return out_.size(); }

private:
    RecordWriter& put(std::uint64_t v, int width);

    std::string out_;
};

// Every fixed record lists its fields once, in file order (a static Fields(record, visit)),
// and is read and written by walking that one list.
template <class Record> Record ReadRecord(RecordReader& r) {
    Record record;
    Record::Fields(record, [&r](auto& value) { r.field(value); });
    return record;
}
template <class Record> void WriteRecord(RecordWriter& w, const Record& record) {
    Record::Fields(record, [&w](auto value) { w.field(value); });
}

// Signatures. The Zip64 records and the data descriptor have one value in both sets.
struct TZASignatureSet {
    std::uint32_t LocalHeader;
    std::uint32_t CentralHeader;
    std::uint32_t EndOfCentralDir;
};
inline constexpr TZASignatureSet StandardSignatures{0x04034B50, 0x02014B50, 0x06054B50};
inline constexpr TZASignatureSet AlternateSignatures{0x05045C61, 0x03025C61, 0x06054141};
inline constexpr std::uint32_t Zip64EndOfCentralDirSignature = 0x06064B50;
inline constexpr std::uint32_t Zip64EndLocatorSignature = 0x07064B50;
inline constexpr std::uint32_t DataDescriptorSignature = 0x08074B50;

// The end record's signature decides which set the writer uses.
inline const TZASignatureSet& SignatureSetOf(std::uint32_t endSignature) {
    return endSignature == AlternateSignatures.EndOfCentralDir ? AlternateSignatures
                                                               : StandardSignatures;
}

inline constexpr std::uint16_t Zip64ExtraId = 0x0001;

// The made-by host (high byte of version made by) of archives written on Unix.
inline constexpr std::uint16_t HostUnix = 3;
constexpr std::uint16_t MadeByHost(std::uint16_t versionMadeBy) {
    return static_cast<std::uint16_t>(versionMadeBy >> 8);
}

struct TLocalFileHeader {
    static constexpr std::size_t Size = 30;

    std::uint32_t Signature = StandardSignatures.LocalHeader;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t Time = 0;
    std::uint16_t Date = 0;
    std::uint32_t Crc32 = 0;
    std::uint32_t CompressedSize = 0;
    std::uint32_t UncompressedSize = 0;
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;

    template <class Self, class Visit> static void Fields(Self& h, Visit&& f) {
        f(h.Signature), f(h.VersionNeeded), f(h.Flags), f(h.Method), f(h.Time), f(h.Date);
        f(h.Crc32), f(h.CompressedSize), f(h.UncompressedSize), f(h.NameLength);
        f(h.ExtraLength);
    }
    static TLocalFileHeader Read(RecordReader& r) { return ReadRecord<TLocalFileHeader>(r); }
    void Write(RecordWriter& w) const { WriteRecord(w, *this); }
};

// The central header's fixed part is the directory's own record (TZACentralHeader).
inline TZACentralHeader ReadCentralHeader(RecordReader& r) {
    return ReadRecord<TZACentralHeader>(r);
}
inline void WriteCentralHeader(RecordWriter& w, const TZACentralHeader& h) {
    WriteRecord(w, h);
}

struct TEndOfCentralDir {
    static constexpr std::size_t Size = 22;

    std::uint32_t Signature = StandardSignatures.EndOfCentralDir;
    std::uint16_t DiskNumber = 0;
    std::uint16_t CentralDirDisk = 0;
    std::uint16_t EntriesOnDisk = 0;
    std::uint16_t TotalEntries = 0;
    std::uint32_t CentralDirSize = 0;
    std::uint32_t CentralDirOffset = 0;
    std::uint16_t CommentLength = 0;

    template <class Self, class Visit> static void Fields(Self& e, Visit&& f) {
        f(e.Signature), f(e.DiskNumber), f(e.CentralDirDisk), f(e.EntriesOnDisk);
        f(e.TotalEntries), f(e.CentralDirSize), f(e.CentralDirOffset), f(e.CommentLength);
    }
    static TEndOfCentralDir Read(RecordReader& r) { return ReadRecord<TEndOfCentralDir>(r); }
    void Write(RecordWriter& w) const { WriteRecord(w, *this); }
};

// Exactly 56 bytes: the engine neither reads nor writes an extensible data sector.
struct TZip64EndOfCentralDir {
    static constexpr std::size_t Size = 56;

    std::uint32_t Signature = Zip64EndOfCentralDirSignature;
    std::uint64_t RecordSize = 44;
    std::uint16_t VersionMadeBy = 45;
    std::uint16_t VersionNeeded = 45;
    std::uint32_t DiskNumber = 0;
    std::uint32_t CentralDirDisk = 0;
    std::uint64_t EntriesOnDisk = 0;
    std::uint64_t TotalEntries = 0;
    std::uint64_t CentralDirSize = 0;
    std::uint64_t CentralDirOffset = 0;

    template <class Self, class Visit> static void Fields(Self& e, Visit&& f) {
        f(e.Signature), f(e.RecordSize), f(e.VersionMadeBy), f(e.VersionNeeded);
        f(e.DiskNumber), f(e.CentralDirDisk), f(e.EntriesOnDisk), f(e.TotalEntries);
        f(e.CentralDirSize), f(e.CentralDirOffset);
    }
    static TZip64EndOfCentralDir Read(RecordReader& r) {
        return ReadRecord<TZip64EndOfCentralDir>(r);
    }
    void Write(RecordWriter& w) const { WriteRecord(w, *this); }
};

struct TZip64EndLocator {
    static constexpr std::size_t Size = 20;

    std::uint32_t Signature = Zip64EndLocatorSignature;
    std::uint32_t Zip64EndDisk = 0;
    std::uint64_t Zip64EndOffset = 0;
    std::uint32_t TotalDisks = 1;

    template <class Self, class Visit> static void Fields(Self& l, Visit&& f) {
        f(l.Signature), f(l.Zip64EndDisk), f(l.Zip64EndOffset), f(l.TotalDisks);
    }
    static TZip64EndLocator Read(RecordReader& r) { return ReadRecord<TZip64EndLocator>(r); }
    void Write(RecordWriter& w) const { WriteRecord(w, *this); }
};

// The 16-byte form only; the 24-byte Zip64 form is not recognised.
struct TDataDescriptor {
    static constexpr std::size_t Size = 16;

    std::uint32_t Signature = DataDescriptorSignature;
    std::uint32_t Crc32 = 0;
    std::uint32_t CompressedSize = 0;
    std::uint32_t UncompressedSize = 0;

    template <class Self, class Visit> static void Fields(Self& d, Visit&& f) {
        f(d.Signature), f(d.Crc32), f(d.CompressedSize), f(d.UncompressedSize);
    }
    static TDataDescriptor Read(RecordReader& r) { return ReadRecord<TDataDescriptor>(r); }
    void Write(RecordWriter& w) const { WriteRecord(w, *this); }
};

// The bytes of the data descriptor at the start of bytes that follows entry's data, as other
// writers leave it: with or without its signature, with 4- or 8-byte sizes (the sizes it holds
// decide where they can; else a Zip64 record in the local header, zip64Local, means 8-byte
// sizes, as writers that stream do). Never more than bytes holds.
std::size_t DataDescriptorLength(std::string_view bytes, const TDirItem& entry, bool zip64Local);

// Splits an extra field into its records, in file order. The tolerances are those every
// reader in the engine applies, since other writers' archives carry such fields: a record
// whose declared size runs past the field keeps the bytes that remain, and a record header
// cut short (fewer than four bytes left) ends the list, its bytes belonging to no record.
std::vector<TZAExtraField> ParseExtraFields(std::string_view extra);
std::string WriteExtraFields(const std::vector<TZAExtraField>& fields);
// The first record with this ID, or nullptr.
const TZAExtraField* FindExtraField(const std::vector<TZAExtraField>& fields, std::uint16_t id);
// Whether an extra field, as it stands in a header, holds a record with this ID.
bool HasExtraField(std::string_view extra, std::uint16_t id);

// The values of a Zip64 field, each present only when the matching header field holds its
// marker.
struct TZip64Values {
    std::optional<std::uint64_t> UncompressedSize;
    std::optional<std::uint64_t> CompressedSize;
    std::optional<std::uint64_t> LocalHeaderOffset;
    std::optional<std::uint32_t> DiskNumberStart;
};

// Reads a central header's Zip64 field in the order the header's markers call for. A value
// is taken only when its whole width remains; the values stop at the first one the field is
// too short for, since the later ones would come from the wrong bytes. Nothing is read past
// the field and nothing raises.
TZip64Values ReadCentralZip64(std::string_view data, const TZACentralHeader& header);
TZip64Values ReadCentralZip64(const TZAExtraField& field, const TZACentralHeader& header);
// The same for a local header's Zip64 field: the uncompressed, then the compressed size.
TZip64Values ReadLocalZip64(std::string_view data, const TLocalFileHeader& header);
TZip64Values ReadLocalZip64(const TZAExtraField& field, const TLocalFileHeader& header);
// A central header's extra field into the entry: its records, the Zip64 flag (set by any
// Zip64 record, also one that holds no value), the Zip64 values and the resolved 64-bit
// values. The entry's CentralHeader must already hold the header read.
void ReadCentralExtra(TDirItem& entry, std::string_view extra);
// Builds the data of a central header's Zip64 field from the values present.
std::string BuildCentralZip64(const TZip64Values& values);
// A central header's extra field as the writer lays it down: a Zip64 record built afresh from
// the header's markers and the entry's Zip64 values first (none when nothing is marked), then
// every other record kept from reading, unchanged.
std::string BuildCentralExtra(const TDirItem& entry);

// The 20-byte Zip64 field of a local header: ID, size 16, uncompressed then compressed size.
// The writer keeps room for it behind the name and fills it once the sizes are known.
inline constexpr std::size_t LocalZip64ExtraSize = 20;
std::string BuildLocalZip64Extra(std::uint64_t uncompressedSize, std::uint64_t compressedSize);
// The local header that goes with an entry's central header: the fields the two share.
TLocalFileHeader LocalHeaderOf(const TZACentralHeader& central);
// A new entry's local record up to its data: the header, the name (cut to what its length
// field holds), the Zip64 field when the header's uncompressed size holds the marker, then the
// given records. Sets the header's name and extra lengths. Before the data is written its
// sizes are not known: without them the Zip64 field's room is left zeroed.
std::string BuildLocalRecord(TLocalFileHeader& header, std::string_view name,
                             const std::vector<TZAExtraField>& extra,
                             const TZip64Values& sizes = {});

// A size or offset as its 32-bit field: the marker from 0xFFFFFFFF on.
constexpr std::uint32_t Field32(std::int64_t value) {
    return value >= std::int64_t{Zip64Marker32} ? Zip64Marker32 : static_cast<std::uint32_t>(value);
}
// A volume number or an entry count as its 16-bit field: the marker above 65534, 0 for an
// unknown (negative) volume.
constexpr std::uint16_t Field16(std::int64_t value) {
    if (value < 0)
        return 0;
    return value <= 65534 ? static_cast<std::uint16_t>(value) : Zip64Marker16;
}

// What an entry made on Unix records of its file, so that peers and the engine give it back
// exactly: the host Unix in the high byte of version made by (the version rule's value in
// the low byte), the file's mode in the high half of the external attributes (the MS-DOS
// attributes stay in the low byte), and the modification time in UTC in an extended
// timestamp record beside the local DOS time.
constexpr std::uint16_t UnixVersionMadeBy(std::uint16_t version) {
    return static_cast<std::uint16_t>(HostUnix << 8 | (version & 0xFF));
}
constexpr std::uint32_t UnixExternalAttributes(std::uint32_t mode, std::uint32_t dosAttributes) {
    return (mode & 0xFFFF) << 16 | (dosAttributes & 0xFF);
}
constexpr std::uint32_t UnixModeOf(std::uint32_t externalAttributes) {
    return externalAttributes >> 16;
}

// The extended timestamp record that Info-ZIP, bsdtar and others add: a flags byte, then the
// times it flags as signed 32-bit UTC seconds, the modification time (bit 0) first.
inline constexpr std::uint16_t ExtendedTimestampExtraId = 0x5455;
// The modification time of the first such record, when it holds one.
std::optional<std::time_t> ExtendedModificationTime(const std::vector<TZAExtraField>& extra);
// The record with the modification time alone; false for a time its seconds cannot hold.
bool ExtendedTimestamp(std::time_t modified, TZAExtraField& record);

// The version written into version needed and version made by of a new or rewritten entry.
std::uint16_t EntryVersion(bool needsZip64, bool oemFileNames, bool alternateSet);

// MS-DOS date and time packing.
struct TDosDateTime {
    int Year = 1980; // 1980..2107
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0; // kept in steps of two

    bool operator==(const TDosDateTime&) const = default;
};
std::uint16_t PackDosTime(const TDosDateTime& t);
std::uint16_t PackDosDate(const TDosDateTime& t);
TDosDateTime UnpackDosDateTime(std::uint16_t date, std::uint16_t time);
// An entry's date (high 16 bits) and time (low 16 bits) as one signed 32-bit number, and back.
std::int32_t CombineDosDateTime(std::uint16_t date, std::uint16_t time);
constexpr std::uint16_t DosDateOf(std::int32_t dateTime) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(dateTime) >> 16);
}
constexpr std::uint16_t DosTimeOf(std::int32_t dateTime) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(dateTime) & 0xFFFF);
}

} // namespace zip
