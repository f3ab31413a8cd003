#include "zip/ZARecords.h"

#include <algorithm>

namespace zip {

std::uint64_t RecordReader::take(std::size_t width) {
    if (width > remaining())
        throw ERecordTruncated();
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
    pos_ += width;
    return v;
}

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

TLocalFileHeader TLocalFileHeader::Read(RecordReader& r) {
    TLocalFileHeader h;
    h.Signature = r.u32();
    h.VersionNeeded = r.u16();
    h.Flags = r.u16();
    h.Method = r.u16();
    h.Time = r.u16();
    h.Date = r.u16();
    h.Crc32 = r.u32();
    h.CompressedSize = r.u32();
    h.UncompressedSize = r.u32();
    h.NameLength = r.u16();
    h.ExtraLength = r.u16();
    return h;
}

void TLocalFileHeader::Write(RecordWriter& w) const {
    w.u32(Signature)
        .u16(VersionNeeded)
        .u16(Flags)
        .u16(Method)
        .u16(Time)
        .u16(Date)
        .u32(Crc32)
        .u32(CompressedSize)
        .u32(UncompressedSize)
        .u16(NameLength)
        .u16(ExtraLength);
}

TZACentralHeader ReadCentralHeader(RecordReader& r) {
    TZACentralHeader h;
    h.Signature = r.u32();
    h.VersionMadeBy = r.u16();
    h.VersionNeeded = r.u16();
    h.Flags = r.u16();
    h.Method = r.u16();
    h.Time = r.u16();
    h.Date = r.u16();
    h.Crc32 = r.u32();
    h.CompressedSize = r.u32();
    h.UncompressedSize = r.u32();
    h.NameLength = r.u16();
    h.ExtraLength = r.u16();
    h.CommentLength = r.u16();
    h.DiskNumberStart = r.u16();
    h.InternalAttributes = r.u16();
    h.ExternalAttributes = r.u32();
    h.LocalHeaderOffset = r.u32();
    return h;
}

void WriteCentralHeader(RecordWriter& w, const TZACentralHeader& h) {
    w.u32(h.Signature)
        .u16(h.VersionMadeBy)
        .u16(h.VersionNeeded)
        .u16(h.Flags)
        .u16(h.Method)
        .u16(h.Time)
        .u16(h.Date)
        .u32(h.Crc32)
        .u32(h.CompressedSize)
        .u32(h.UncompressedSize)
        .u16(h.NameLength)
        .u16(h.ExtraLength)
        .u16(h.CommentLength)
        .u16(h.DiskNumberStart)
        .u16(h.InternalAttributes)
        .u32(h.ExternalAttributes)
        .u32(h.LocalHeaderOffset);
}

TEndOfCentralDir TEndOfCentralDir::Read(RecordReader& r) {
    TEndOfCentralDir e;
    e.Signature = r.u32();
    e.DiskNumber = r.u16();
    e.CentralDirDisk = r.u16();
    e.EntriesOnDisk = r.u16();
    e.TotalEntries = r.u16();
    e.CentralDirSize = r.u32();
    e.CentralDirOffset = r.u32();
    e.CommentLength = r.u16();
    return e;
}

void TEndOfCentralDir::Write(RecordWriter& w) const {
    w.u32(Signature)
        .u16(DiskNumber)
        .u16(CentralDirDisk)
        .u16(EntriesOnDisk)
        .u16(TotalEntries)
        .u32(CentralDirSize)
        .u32(CentralDirOffset)
        .u16(CommentLength);
}

TZip64EndOfCentralDir TZip64EndOfCentralDir::Read(RecordReader& r) {
    TZip64EndOfCentralDir e;
    e.Signature = r.u32();
    e.RecordSize = r.u64();
    e.VersionMadeBy = r.u16();
    e.VersionNeeded = r.u16();
    e.DiskNumber = r.u32();
    e.CentralDirDisk = r.u32();
    e.EntriesOnDisk = r.u64();
    e.TotalEntries = r.u64();
    e.CentralDirSize = r.u64();
    e.CentralDirOffset = r.u64();
    return e;
}

void TZip64EndOfCentralDir::Write(RecordWriter& w) const {
    w.u32(Signature)
        .u64(RecordSize)
        .u16(VersionMadeBy)
        .u16(VersionNeeded)
        .u32(DiskNumber)
        .u32(CentralDirDisk)
        .u64(EntriesOnDisk)
        .u64(TotalEntries)
        .u64(CentralDirSize)
        .u64(CentralDirOffset);
}

TZip64EndLocator TZip64EndLocator::Read(RecordReader& r) {
    TZip64EndLocator l;
    l.Signature = r.u32();
    l.Zip64EndDisk = r.u32();
    l.Zip64EndOffset = r.u64();
    l.TotalDisks = r.u32();
    return l;
}

void TZip64EndLocator::Write(RecordWriter& w) const {
    w.u32(Signature).u32(Zip64EndDisk).u64(Zip64EndOffset).u32(TotalDisks);
}

TDataDescriptor TDataDescriptor::Read(RecordReader& r) {
    TDataDescriptor d;
    d.Signature = r.u32();
    d.Crc32 = r.u32();
    d.CompressedSize = r.u32();
    d.UncompressedSize = r.u32();
    return d;
}

void TDataDescriptor::Write(RecordWriter& w) const {
    w.u32(Signature).u32(Crc32).u32(CompressedSize).u32(UncompressedSize);
}

std::vector<TZAExtraField> ParseExtraFields(std::string_view extra) {
    std::vector<TZAExtraField> fields;
    RecordReader r(extra);
    while (r.remaining() >= 4) {
        TZAExtraField f;
        f.ID = r.u16();
        const std::size_t declared = r.u16();
        const std::string data = r.bytes(std::min(declared, r.remaining()));
        f.Data.assign(data.begin(), data.end());
        fields.push_back(std::move(f));
    }
    return fields;
}

std::string WriteExtraFields(const std::vector<TZAExtraField>& fields) {
    RecordWriter w;
    for (const auto& f : fields)
        w.u16(f.ID).u16(f.Size()).bytes(
            std::string_view(reinterpret_cast<const char*>(f.Data.data()), f.Data.size()));
    return w.data();
}

const TZAExtraField* FindExtraField(const std::vector<TZAExtraField>& fields, std::uint16_t id) {
    for (const auto& f : fields)
        if (f.ID == id)
            return &f;
    return nullptr;
}

namespace {

std::string_view DataOf(const TZAExtraField& field) {
    return {reinterpret_cast<const char*>(field.Data.data()), field.Data.size()};
}

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
    return ReadCentralZip64(DataOf(field), header);
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
    return ReadLocalZip64(DataOf(field), header);
}

TZip64Values ReadLocalZip64(std::string_view data, const TLocalFileHeader& header) {
    TZip64Values v;
    Zip64Walk walk(data);
    walk.Take(header.UncompressedSize == Zip64Marker32, v.UncompressedSize, 8);
    walk.Take(header.CompressedSize == Zip64Marker32, v.CompressedSize, 8);
    return v;
}

void ReadCentralExtra(TDirItem& entry, std::string_view extra) {
    entry.ExtraFields = ParseExtraFields(extra);
    entry.Zip64 = false;
    entry.Zip64UncompressedSize = entry.Zip64CompressedSize = entry.Zip64LocalHeaderOffset = 0;
    entry.Zip64DiskNumberStart = 0;
    // Each Zip64 record in turn: a value in a later one replaces the earlier one's.
    for (const TZAExtraField& field : entry.ExtraFields) {
        if (field.ID != Zip64ExtraId)
            continue;
        const TZip64Values v = ReadCentralZip64(field, entry.CentralHeader);
        if (v.UncompressedSize)
            entry.Zip64UncompressedSize = *v.UncompressedSize;
        if (v.CompressedSize)
            entry.Zip64CompressedSize = *v.CompressedSize;
        if (v.LocalHeaderOffset)
            entry.Zip64LocalHeaderOffset = *v.LocalHeaderOffset;
        if (v.DiskNumberStart)
            entry.Zip64DiskNumberStart = static_cast<std::int32_t>(*v.DiskNumberStart);
        entry.Zip64 = true;
    }
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

std::string BuildLocalZip64Extra(std::uint64_t uncompressedSize, std::uint64_t compressedSize) {
    RecordWriter w;
    w.u16(Zip64ExtraId).u16(16).u64(uncompressedSize).u64(compressedSize);
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

std::int32_t CombineDosDateTime(std::uint16_t date, std::uint16_t time) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

} // namespace zip
