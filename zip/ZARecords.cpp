#include "zip/ZARecords.h"

#include <algorithm>
#include <limits>

namespace zip {

std::string RecordReader::bytes(std::size_t count) {
    if (count > remaining())
        throw ERecordTruncated();
    std::string out(reinterpret_cast<const char*>(data_ + pos_), count);
    pos_ += count;
    return out;
}

void RecordReader::skip(std::size_t count) {
    if (count > remaining())
        throw ERecordTruncated();
    pos_ += count;
}

RecordWriter& RecordWriter::put(std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return *this;
}

std::size_t DataDescriptorLength(std::string_view bytes, const TDirItem& entry, bool zip64Local) {
    const std::size_t got = bytes.size();
    auto u32At = [&](std::size_t at) { return RecordReader(bytes.substr(at, 4)).u32(); };
    auto u64At = [&](std::size_t at) { return RecordReader(bytes.substr(at, 8)).u64(); };
    const std::size_t sig = got >= 4 && u32At(0) == DataDescriptorSignature ? 4 : 0;
    const std::uint32_t crc = entry.CentralHeader.Crc32;
    const std::uint64_t packed = entry.CompressedSize;
    const std::uint64_t unpacked = entry.UncompressedSize;
    const bool narrow = got >= sig + 12 && u32At(sig) == crc &&
                        u32At(sig + 4) == static_cast<std::uint32_t>(packed) &&
                        u32At(sig + 8) == static_cast<std::uint32_t>(unpacked);
    const bool wide = got >= sig + 20 && u32At(sig) == crc && u64At(sig + 4) == packed &&
                      u64At(sig + 12) == unpacked;
    std::size_t length = sig + 12;
    if ((wide && (!narrow || zip64Local)) || (!narrow && !wide && zip64Local))
        length = sig + 20;
    return std::min(length, got);
}

std::vector<TZAExtraField> ParseExtraFields(std::string_view extra) {
    std::vector<TZAExtraField> fields;
    RecordReader r(extra);
    while (r.remaining() >= 4) {
        TZAExtraField f;
        f.ID = r.u16();
        const std::size_t declared = r.u16();
        const std::size_t n = std::min(declared, r.remaining());
        f.Data = extra.substr(r.position(), n);
        r.skip(n);
        fields.push_back(std::move(f));
    }
    return fields;
}

std::string WriteExtraFields(const std::vector<TZAExtraField>& fields) {
    RecordWriter w;
    for (const auto& f : fields)
        w.u16(f.ID).u16(f.Size()).bytes(f.Data);
    return w.data();
}

const TZAExtraField* FindExtraField(const std::vector<TZAExtraField>& fields, std::uint16_t id) {
    for (const auto& f : fields)
        if (f.ID == id)
            return &f;
    return nullptr;
}

bool HasExtraField(std::string_view extra, std::uint16_t id) {
    return FindExtraField(ParseExtraFields(extra), id) != nullptr;
}

namespace {

// Takes the values in order while each fits whole; the first that does not ends the walk.
class Zip64Walk {
public:
    explicit Zip64Walk(std::string_view data) : r_(data) {}

    template <class T> void Take(bool marked, std::optional<T>& value, std::size_t width) {
        if (!marked || stopped_)
            return;
        if (r_.remaining() < width) {
            stopped_ = true;
            return;
        }
        value = static_cast<T>(width == 8 ? r_.u64() : r_.u32());
    }

private:
    RecordReader r_;
    bool stopped_ = false;
};

} // namespace

TZip64Values ReadCentralZip64(const TZAExtraField& field, const TZACentralHeader& header) {
    return ReadCentralZip64(field.Data, header);
}

TZip64Values ReadCentralZip64(std::string_view data, const TZACentralHeader& header) {
    TZip64Values v;
    Zip64Walk walk(data);
    walk.Take(header.UncompressedSize == Zip64Marker32, v.UncompressedSize, 8);
    walk.Take(header.CompressedSize == Zip64Marker32, v.CompressedSize, 8);
    walk.Take(header.LocalHeaderOffset == Zip64Marker32, v.LocalHeaderOffset, 8);
    walk.Take(header.DiskNumberStart == Zip64Marker16, v.DiskNumberStart, 4);
    return v;
}

TZip64Values ReadLocalZip64(const TZAExtraField& field, const TLocalFileHeader& header) {
    return ReadLocalZip64(field.Data, header);
}

TZip64Values ReadLocalZip64(std::string_view data, const TLocalFileHeader& header) {
    // The local field holds the central field's first two values, in the same order.
    TZACentralHeader sizes;
    sizes.UncompressedSize = header.UncompressedSize;
    sizes.CompressedSize = header.CompressedSize;
    return ReadCentralZip64(data, sizes);
}

void ReadCentralExtra(TDirItem& entry, std::string_view extra) {
    entry.SetExtraFields(ParseExtraFields(extra));
    entry.Zip64 = false;
    // A marked field without a value in any record stands for 0.
    entry.CompressedSize = entry.UncompressedSize = entry.LocalHeaderOffset = 0;
    std::uint32_t disk = 0;
    // Each Zip64 record in turn: a value in a later one replaces the earlier one's.
    for (const TZAExtraField& field : entry.Detail().ExtraFields) {
        if (field.ID != Zip64ExtraId)
            continue;
        const TZip64Values v = ReadCentralZip64(field, entry.CentralHeader);
        if (v.UncompressedSize)
            entry.UncompressedSize = *v.UncompressedSize;
        if (v.CompressedSize)
            entry.CompressedSize = *v.CompressedSize;
        if (v.LocalHeaderOffset)
            entry.LocalHeaderOffset = *v.LocalHeaderOffset;
        if (v.DiskNumberStart)
            disk = *v.DiskNumberStart;
        entry.Zip64 = true;
    }
    entry.SetZip64DiskNumberStart(disk);
    entry.ResolveZip64();
}

std::string BuildCentralZip64(const TZip64Values& values) {
    RecordWriter w;
    if (values.UncompressedSize)
        w.u64(*values.UncompressedSize);
    if (values.CompressedSize)
        w.u64(*values.CompressedSize);
    if (values.LocalHeaderOffset)
        w.u64(*values.LocalHeaderOffset);
    if (values.DiskNumberStart)
        w.u32(*values.DiskNumberStart);
    return w.data();
}

std::string BuildCentralExtra(const TDirItem& entry) {
    const TZACentralHeader& h = entry.CentralHeader;
    TZip64Values values;
    if (h.UncompressedSize == Zip64Marker32)
        values.UncompressedSize = entry.UncompressedSize;
    if (h.CompressedSize == Zip64Marker32)
        values.CompressedSize = entry.CompressedSize;
    if (h.LocalHeaderOffset == Zip64Marker32)
        values.LocalHeaderOffset = entry.LocalHeaderOffset;
    if (h.DiskNumberStart == Zip64Marker16)
        values.DiskNumberStart = entry.DiskNumberStart();
    std::vector<TZAExtraField> fields;
    if (const std::string zip64 = BuildCentralZip64(values); !zip64.empty())
        fields.push_back({Zip64ExtraId, TZACompactString(zip64)});
    // A Zip64 record kept from reading is the one just built anew.
    for (const TZAExtraField& field : entry.Detail().ExtraFields)
        if (field.ID != Zip64ExtraId)
            fields.push_back(field);
    return WriteExtraFields(fields);
}

std::string BuildLocalZip64Extra(std::uint64_t uncompressedSize, std::uint64_t compressedSize) {
    RecordWriter w;
    w.u16(Zip64ExtraId)
        .u16(static_cast<std::uint16_t>(LocalZip64ExtraSize - 4))
        .u64(uncompressedSize)
        .u64(compressedSize);
    return w.data();
}

TLocalFileHeader LocalHeaderOf(const TZACentralHeader& central) {
    TLocalFileHeader h;
    h.VersionNeeded = central.VersionNeeded;
    h.Flags = central.Flags;
    h.Method = central.Method;
    h.Time = central.Time;
    h.Date = central.Date;
    h.Crc32 = central.Crc32;
    h.CompressedSize = central.CompressedSize;
    h.UncompressedSize = central.UncompressedSize;
    return h;
}

std::string BuildLocalRecord(TLocalFileHeader& header, std::string_view name,
                             const std::vector<TZAExtraField>& extra, const TZip64Values& sizes) {
    const std::string records = WriteExtraFields(extra);
    std::string zip64;
    if (header.UncompressedSize == Zip64Marker32)
        zip64 = sizes.UncompressedSize ? BuildLocalZip64Extra(*sizes.UncompressedSize,
                                                              sizes.CompressedSize.value_or(0))
                                       : std::string(LocalZip64ExtraSize, '\0');
    header.NameLength = static_cast<std::uint16_t>(std::min<std::size_t>(name.size(), 0xFFFF));
    header.ExtraLength = static_cast<std::uint16_t>(zip64.size() + records.size());
    RecordWriter w;
    header.Write(w);
    w.bytes(name.substr(0, header.NameLength));
    w.bytes(zip64);
    w.bytes(records);
    return w.data();
}

std::uint16_t EntryVersion(bool needsZip64, bool oemFileNames, bool alternateSet) {
    if (needsZip64)
        return alternateSet ? 0x412D : 0x002D;
    if (alternateSet)
        return 0x4114;
    return oemFileNames ? 0x0014 : 0x0B14;
}

std::uint16_t PackDosTime(const TDosDateTime& t) {
    return static_cast<std::uint16_t>(((t.Hour & 0x1F) << 11) | ((t.Minute & 0x3F) << 5) |
                                      ((t.Second / 2) & 0x1F));
}

std::uint16_t PackDosDate(const TDosDateTime& t) {
    return static_cast<std::uint16_t>((((t.Year - 1980) & 0x7F) << 9) | ((t.Month & 0x0F) << 5) |
                                      (t.Day & 0x1F));
}

TDosDateTime UnpackDosDateTime(std::uint16_t date, std::uint16_t time) {
    TDosDateTime t;
    t.Year = 1980 + (date >> 9);
    t.Month = (date >> 5) & 0x0F;
    t.Day = date & 0x1F;
    t.Hour = time >> 11;
    t.Minute = (time >> 5) & 0x3F;
    t.Second = (time & 0x1F) * 2;
    return t;
}

std::optional<std::time_t> ExtendedModificationTime(const std::vector<TZAExtraField>& extra) {
    const TZAExtraField* record = FindExtraField(extra, ExtendedTimestampExtraId);
    if (!record || record->Data.size() < 5 || (record->Data[0] & 1) == 0)
        return std::nullopt;
    RecordReader r(record->Data.data(), record->Data.size());
    r.skip(1);
    // Signed, as Unix time was when the record was defined: before 1970 is negative.
    return static_cast<std::time_t>(static_cast<std::int32_t>(r.u32()));
}

bool ExtendedTimestamp(std::time_t modified, TZAExtraField& record) {
    if (modified < std::numeric_limits<std::int32_t>::min() ||
        modified > std::numeric_limits<std::int32_t>::max())
        return false;
    RecordWriter w;
    w.u8(0x01).u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(modified)));
    record.ID = ExtendedTimestampExtraId;
    record.Data = w.data();
    return true;
}

std::int32_t CombineDosDateTime(std::uint16_t date, std::uint16_t time) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

} // namespace zip
