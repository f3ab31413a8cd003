// On-disk records: the cursor, round trips, the version and date rules, and the records of
// archives written by Info-ZIP, 7-Zip and Python's zipfile, read field by field.
#include "support/TempDir.h"
#include "zip/ZARecords.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace zip;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Unhex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

} // namespace

TEST(RecordCursor, ReadsLittleEndianFieldsInOrder) {
    std::string bytes = Unhex("504b0304"
                              "1400"
                              "0800"
                              "78563412f0debc9a"
                              "ab");
    RecordReader r(bytes);
    EXPECT_EQ(r.u32(), 0x04034B50u);
    EXPECT_EQ(r.u16(), 0x0014);
    EXPECT_EQ(r.u16(), 0x0008);
    EXPECT_EQ(r.u64(), 0x9ABCDEF012345678ull);
    EXPECT_EQ(r.remaining(), 1u);
    EXPECT_EQ(r.bytes(1), "\xab");
}

TEST(RecordCursor, RunningPastTheEndThrowsAndConsumesNothing) {
    std::string bytes = Unhex("010203");
    RecordReader r(bytes);
    EXPECT_THROW(r.u32(), ERecordTruncated);
    EXPECT_EQ(r.position(), 0u);
    EXPECT_EQ(r.u16(), 0x0201);
    EXPECT_THROW(r.bytes(2), ERecordTruncated);
    EXPECT_THROW(r.skip(2), ERecordTruncated);
    EXPECT_EQ(r.u8(), 3);
}

TEST(RecordCursor, WriterMirrorsReader) {
    RecordWriter w;
    w.u8(0x7F).u16(0xBEEF).u32(0x01020304).u64(0x1122334455667788ull).bytes("xy");
    EXPECT_EQ(Hex(w.data()), "7fefbe040302018877665544332211" + Hex("xy"));
}

TEST(Records, FixedSizesMatchTheFormat) {
    auto size = [](const auto& record) {
        RecordWriter w;
        record.Write(w);
        return w.size();
    };
    EXPECT_EQ(size(TLocalFileHeader{}), TLocalFileHeader::Size);
    RecordWriter central;
    WriteCentralHeader(central, TZACentralHeader{});
    EXPECT_EQ(central.size(), static_cast<std::size_t>(TZACentralHeader::Size));
    EXPECT_EQ(size(TEndOfCentralDir{}), TEndOfCentralDir::Size);
    EXPECT_EQ(size(TZip64EndOfCentralDir{}), TZip64EndOfCentralDir::Size);
    EXPECT_EQ(size(TZip64EndLocator{}), TZip64EndLocator::Size);
    EXPECT_EQ(size(TDataDescriptor{}), TDataDescriptor::Size);
}

TEST(Records, CentralHeaderRoundTripKeepsEveryField) {
    TZACentralHeader h;
    h.Signature = AlternateSignatures.CentralHeader;
    h.VersionMadeBy = 0x0B14;
    h.VersionNeeded = 0x0014;
    h.Flags = 0x0809;
    h.Method = 8;
    h.Time = 0x6D2F;
    h.Date = 0x5A8A;
    h.Crc32 = 0xCAFEBABE;
    h.CompressedSize = Zip64Marker32;
    h.UncompressedSize = 123456;
    h.NameLength = 7;
    h.ExtraLength = 12;
    h.CommentLength = 3;
    h.DiskNumberStart = Zip64Marker16;
    h.InternalAttributes = 1;
    h.ExternalAttributes = 0x81A40020;
    h.LocalHeaderOffset = 0x01020304;
    RecordWriter w;
    WriteCentralHeader(w, h);
    EXPECT_EQ(w.data().substr(0, 4), Unhex("615c0203"));
    RecordReader r(w.data());
    TZACentralHeader back = ReadCentralHeader(r);
    RecordWriter again;
    WriteCentralHeader(again, back);
    EXPECT_EQ(again.data(), w.data());
    EXPECT_EQ(back.ExternalAttributes, 0x81A40020u);
    EXPECT_EQ(back.DiskNumberStart, Zip64Marker16);
}

TEST(Records, EndRecordsRoundTrip) {
    TZip64EndOfCentralDir z;
    z.EntriesOnDisk = z.TotalEntries = 70000;
    z.CentralDirSize = 0x123456789ull;
    z.CentralDirOffset = 0x100000000ull;
    RecordWriter w;
    z.Write(w);
    EXPECT_EQ(w.data().substr(0, 4), "PK\x06\x06");
    RecordReader r(w.data());
    TZip64EndOfCentralDir back = TZip64EndOfCentralDir::Read(r);
    EXPECT_EQ(back.RecordSize, 44u);
    EXPECT_EQ(back.VersionMadeBy, 45);
    EXPECT_EQ(back.TotalEntries, 70000u);
    EXPECT_EQ(back.CentralDirOffset, 0x100000000ull);

    TZip64EndLocator l;
    l.Zip64EndOffset = 0x1FFFFFFFFull;
    RecordWriter lw;
    l.Write(lw);
    RecordReader lr(lw.data());
    TZip64EndLocator lb = TZip64EndLocator::Read(lr);
    EXPECT_EQ(lb.Signature, Zip64EndLocatorSignature);
    EXPECT_EQ(lb.Zip64EndOffset, 0x1FFFFFFFFull);
    EXPECT_EQ(lb.TotalDisks, 1u);

    TDataDescriptor d;
    d.Crc32 = 1;
    d.CompressedSize = 2;
    d.UncompressedSize = 3;
    RecordWriter dw;
    d.Write(dw);
    EXPECT_EQ(Hex(dw.data()), "504b0708"
                              "01000000"
                              "02000000"
                              "03000000");
}

TEST(ExtraFields, ParseAndWriteInFileOrder) {
    // A record that fits inside the entry's string, one that does not, an empty one.
    std::vector<TZAExtraField> fields{{0x5455, TZACompactString("\x03\x01\x02\x03\x04")},
                                      {0x0001, TZACompactString(std::string(40, 'z'))},
                                      {0x7875, TZACompactString()}};
    std::string raw = WriteExtraFields(fields);
    EXPECT_EQ(raw.size(), 4 + 5 + 4 + 40 + 4u);
    auto back = ParseExtraFields(raw);
    ASSERT_EQ(back.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i].ID, fields[i].ID);
        EXPECT_EQ(back[i].Data, fields[i].Data);
    }
}

// Other writers' archives carry such fields; every reader in the engine takes them so.
TEST(ExtraFields, ReaderTolerances) {
    struct Case {
        const char* what;
        const char* hex;
        std::vector<std::pair<std::uint16_t, std::string>> records; // ID, data as hex
    } cases[] = {
        {"a record running past the field keeps what remains",
         "0100"
         "0800"
         "0102",
         {{0x0001, "0102"}}},
        {"a record header cut short ends the list",
         "5554"
         "0100"
         "07"
         "0100"
         "08",
         {{0x5455, "07"}}},
        {"three bytes of padding carry no record", "010203", {}},
        {"an empty record",
         "7578"
         "0000",
         {{0x7875, ""}}},
        {"the second record cut short",
         "0100"
         "0000"
         "5554"
         "0500"
         "0102",
         {{0x0001, ""}, {0x5455, "0102"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<TZAExtraField> fields;
        ASSERT_NO_THROW(fields = ParseExtraFields(Unhex(c.hex)));
        ASSERT_EQ(fields.size(), c.records.size());
        for (std::size_t i = 0; i < fields.size(); ++i) {
            EXPECT_EQ(fields[i].ID, c.records[i].first);
            EXPECT_EQ(Hex(std::string(fields[i].Data.begin(), fields[i].Data.end())),
                      c.records[i].second);
        }
    }
    const auto fields = ParseExtraFields(Unhex("5554"
                                               "0100"
                                               "07"
                                               "0100"
                                               "0000"
                                               "0100"
                                               "0000"));
    ASSERT_NE(FindExtraField(fields, 0x0001), nullptr);
    EXPECT_EQ(FindExtraField(fields, 0x0001), &fields[1]);
    EXPECT_EQ(FindExtraField(fields, 0x7075), nullptr);
}

TEST(Zip64Field, CompressedMarkerAloneTakesTheFirstEightBytes) {
    TZACentralHeader h;
    h.CompressedSize = Zip64Marker32;
    h.UncompressedSize = 10;
    RecordWriter w;
    w.u64(0x100000005ull);
    TZip64Values v = ReadCentralZip64(w.data(), h);
    EXPECT_FALSE(v.UncompressedSize);
    EXPECT_EQ(v.CompressedSize, 0x100000005ull);
    EXPECT_FALSE(v.LocalHeaderOffset);
}

// A field too short for what its markers call for: whole values only, and none after the
// first that does not fit, since it would come from the wrong bytes.
TEST(Zip64Field, ShortFieldsGiveWholeValuesOnly) {
    struct Case {
        const char* what;
        bool unpacked, packed, offset, disk; // which header fields hold their marker
        std::size_t bytes;
        std::optional<std::uint64_t> u, c, o;
        std::optional<std::uint32_t> d;
    } cases[] = {
        {"empty field", true, true, false, false, 0, {}, {}, {}, {}},
        {"seven bytes", true, false, false, false, 7, {}, {}, {}, {}},
        {"one whole value of two", true, true, false, false, 12, 0x0807060504030201ull, {}, {}, {}},
        {"disk after a missing size", true, false, false, true, 4, {}, {}, {}, {}},
        {"disk alone", false, false, false, true, 4, {}, {}, {}, 0x04030201u},
        {"offset and disk",
         false,
         false,
         true,
         true,
         12,
         {},
         {},
         0x0807060504030201ull,
         0x0C0B0A09u},
        {"longer than needed", false, true, false, false, 20, {}, 0x0807060504030201ull, {}, {}},
    };
    std::string data;
    for (int i = 1; i <= 28; ++i)
        data.push_back(static_cast<char>(i));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TZACentralHeader h;
        h.UncompressedSize = c.unpacked ? Zip64Marker32 : 1;
        h.CompressedSize = c.packed ? Zip64Marker32 : 1;
        h.LocalHeaderOffset = c.offset ? Zip64Marker32 : 1;
        h.DiskNumberStart = c.disk ? Zip64Marker16 : 1;
        TZip64Values v;
        ASSERT_NO_THROW(v = ReadCentralZip64(std::string_view(data).substr(0, c.bytes), h));
        EXPECT_EQ(v.UncompressedSize, c.u);
        EXPECT_EQ(v.CompressedSize, c.c);
        EXPECT_EQ(v.LocalHeaderOffset, c.o);
        EXPECT_EQ(v.DiskNumberStart, c.d);
    }
}

TEST(Zip64Field, LocalHeaderTakesTheSizesBehindItsMarkers) {
    TLocalFileHeader l;
    l.UncompressedSize = Zip64Marker32;
    l.CompressedSize = Zip64Marker32;
    const std::string both = BuildLocalZip64Extra(0x100000001ull, 0x200000002ull).substr(4);
    TZip64Values v = ReadLocalZip64(both, l);
    EXPECT_EQ(v.UncompressedSize, 0x100000001ull);
    EXPECT_EQ(v.CompressedSize, 0x200000002ull);
    l.UncompressedSize = 5;
    v = ReadLocalZip64(both, l);
    EXPECT_FALSE(v.UncompressedSize);
    EXPECT_EQ(v.CompressedSize, 0x100000001ull);
    l.UncompressedSize = Zip64Marker32;
    v = ReadLocalZip64(both.substr(0, 10), l);
    EXPECT_EQ(v.UncompressedSize, 0x100000001ull);
    EXPECT_FALSE(v.CompressedSize);
}

// The directory item's real values come from the header and its Zip64 field once, as the
// directory is read; readers never look at the markers.
TEST(CentralExtra, ResolvesSizesOffsetAndDisk) {
    struct Case {
        const char* what;
        std::uint32_t unpacked, packed, offset;
        std::uint16_t disk;
        std::string extra;
        bool zip64;
        std::uint64_t u, c, o;
        std::uint32_t d;
    } cases[] = {
        {"no Zip64", 10, 5, 100, 2, "", false, 10, 5, 100, 2},
        {"every marker", Zip64Marker32, Zip64Marker32, Zip64Marker32, Zip64Marker16,
         Unhex("0100"
               "1c00") +
             BuildCentralZip64({0x100000000ull, 0x200000000ull, 0x300000000ull, 70000u}),
         true, 0x100000000ull, 0x200000000ull, 0x300000000ull, 70000u},
        {"compressed size alone", 10, Zip64Marker32, 100, 0,
         Unhex("0100"
               "0800") +
             BuildCentralZip64({{}, 0x123456789ull, {}, {}}),
         true, 10, 0x123456789ull, 100, 0},
        {"a field without markers takes nothing", 10, 5, 100, 0,
         Unhex("0100"
               "0800"
               "ffffffffffffffff"),
         true, 10, 5, 100, 0},
        {"after another record", 10, 5, Zip64Marker32, 0,
         Unhex("5554"
               "0500"
               "0100000000"
               "0100"
               "0800") +
             BuildCentralZip64({{}, {}, 0x400000000ull, {}}),
         true, 10, 5, 0x400000000ull, 0},
        {"a marker with a value missing gives 0", Zip64Marker32, 5, 100, 0,
         Unhex("0100"
               "0000"),
         true, 0, 5, 100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TDirItem e;
        e.CentralHeader.UncompressedSize = c.unpacked;
        e.CentralHeader.CompressedSize = c.packed;
        e.CentralHeader.LocalHeaderOffset = c.offset;
        e.CentralHeader.DiskNumberStart = c.disk;
        ReadCentralExtra(e, c.extra);
        EXPECT_EQ(e.Zip64, c.zip64);
        EXPECT_EQ(e.UncompressedSize, c.u);
        EXPECT_EQ(e.CompressedSize, c.c);
        EXPECT_EQ(e.LocalHeaderOffset, c.o);
        EXPECT_EQ(e.DiskNumberStart(), c.d);
        // The header keeps its markers: the writer builds the Zip64 field from them.
        EXPECT_EQ(e.CentralHeader.UncompressedSize, c.unpacked);
        EXPECT_EQ(WriteExtraFields(e.Detail().ExtraFields), c.extra);
    }
}

TEST(Zip64Field, AllMarkersReadInTheirOrderAndBuildBack) {
    TZACentralHeader h;
    h.UncompressedSize = h.CompressedSize = h.LocalHeaderOffset = Zip64Marker32;
    h.DiskNumberStart = Zip64Marker16;
    TZip64Values values{0x100000000ull, 0x200000000ull, 0x300000000ull, 70000u};
    std::string data = BuildCentralZip64(values);
    EXPECT_EQ(data.size(), 28u);
    TZip64Values back = ReadCentralZip64(data, h);
    EXPECT_EQ(back.UncompressedSize, 0x100000000ull);
    EXPECT_EQ(back.CompressedSize, 0x200000000ull);
    EXPECT_EQ(back.LocalHeaderOffset, 0x300000000ull);
    EXPECT_EQ(back.DiskNumberStart, 70000u);
}

TEST(Zip64Field, LocalFieldIsTwentyBytes) {
    EXPECT_EQ(Hex(BuildLocalZip64Extra(0x100000000ull, 7)), "0100"
                                                            "1000"
                                                            "0000000001000000"
                                                            "0700000000000000");
}

// A first volume past the 16-bit field stands with the entry's details: it is copied with the
// entry and written back into the record it came from; an unmarked field answers for itself.
TEST(CentralExtra, AVolumeBehindItsMarkerGoesBackIntoTheRecord) {
    TDirItem e;
    e.CentralHeader.DiskNumberStart = Zip64Marker16;
    const std::string record = Unhex("0100"
                                     "0400") +
                               BuildCentralZip64({{}, {}, {}, 70000u});
    ReadCentralExtra(e, record);
    const TDirItem copy = e;
    EXPECT_EQ(copy.DiskNumberStart(), 70000u);
    EXPECT_EQ(Hex(BuildCentralExtra(copy)), Hex(record));
    e.CentralHeader.DiskNumberStart = 3;
    EXPECT_EQ(e.DiskNumberStart(), 3u);
    EXPECT_EQ(Hex(BuildCentralExtra(e)), "");
}

// The writer's central extra field: a Zip64 record built from the markers and the entry's
// values comes first, one read from the archive is dropped, the other records follow as read.
TEST(CentralExtra, WriterPutsAFreshZip64RecordFirst) {
    TDirItem e;
    e.CentralHeader.CompressedSize = Zip64Marker32;
    e.CentralHeader.LocalHeaderOffset = 7;
    ReadCentralExtra(e, Unhex("5554"
                              "0500"
                              "0100000000"
                              "0100"
                              "0800"
                              "0900000001000000"));
    e.CompressedSize = 0x200000000ull; // as the writer left it
    EXPECT_EQ(Hex(BuildCentralExtra(e)), "0100"
                                         "0800"
                                         "0000000002000000"
                                         "5554"
                                         "0500"
                                         "0100000000");
    e.CentralHeader.CompressedSize = 5; // nothing marked: no Zip64 record at all
    EXPECT_EQ(Hex(BuildCentralExtra(e)), "5554"
                                         "0500"
                                         "0100000000");
}

// A new entry's local record before and after its data: the Zip64 room is zeros until the
// sizes are known, and the other records stand after it.
TEST(LocalRecord, ZipSixtyFourRoomThenOtherRecords) {
    TZACentralHeader c;
    c.VersionNeeded = 45;
    c.Flags = FlagUtf8Names;
    c.Method = MethodDeflated;
    c.Crc32 = 0x11223344;
    TLocalFileHeader h = LocalHeaderOf(c);
    h.UncompressedSize = Zip64Marker32;
    const std::vector<TZAExtraField> timestamp = {
        {ExtendedTimestampExtraId, TZACompactString("\x01\x02\x03\x04\x05")}};
    const std::string before = BuildLocalRecord(h, "ab", timestamp);
    EXPECT_EQ(h.NameLength, 2);
    EXPECT_EQ(h.ExtraLength, LocalZip64ExtraSize + 9);
    EXPECT_EQ(Hex(before.substr(TLocalFileHeader::Size)),
              Hex("ab") + std::string(2 * LocalZip64ExtraSize, '0') + "55540500" + "0102030405");
    RecordReader r(before);
    const TLocalFileHeader back = TLocalFileHeader::Read(r);
    EXPECT_EQ(back.VersionNeeded, 45);
    EXPECT_EQ(back.Flags, FlagUtf8Names);
    EXPECT_EQ(back.Method, MethodDeflated);
    EXPECT_EQ(back.Crc32, 0x11223344u);

    TZip64Values sizes;
    sizes.UncompressedSize = 0x100000000ull;
    sizes.CompressedSize = 7;
    const std::string after = BuildLocalRecord(h, "ab", timestamp, sizes);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(Hex(after.substr(TLocalFileHeader::Size + 2, LocalZip64ExtraSize)),
              Hex(BuildLocalZip64Extra(0x100000000ull, 7)));

    h.UncompressedSize = 3; // no marker: no room
    EXPECT_EQ(BuildLocalRecord(h, "ab", {}).size(), TLocalFileHeader::Size + 2);
    EXPECT_EQ(h.ExtraLength, 0);
}

// How much of what follows an entry's data is its data descriptor, as other writers leave it.
TEST(DataDescriptor, LengthFollowsWhatItHolds) {
    TDirItem e;
    e.CentralHeader.Crc32 = 0xAABBCCDD;
    e.CentralHeader.CompressedSize = 5;
    e.CentralHeader.UncompressedSize = 9;
    e.ResolveZip64();
    const std::string sig = Unhex("504b0708");
    const std::string narrow = Unhex("ddccbbaa"
                                     "05000000"
                                     "09000000");
    const std::string wide = Unhex("ddccbbaa"
                                   "0500000000000000"
                                   "0900000000000000");
    const std::string next = Unhex("504b0304"
                                   "00000000");
    const struct {
        const char* what;
        std::string bytes;
        bool zip64Local;
        std::size_t length;
    } cases[] = {
        {"signature, 4-byte sizes", sig + narrow + next, false, 16},
        {"no signature, 4-byte sizes", narrow + next, false, 12},
        {"signature, 8-byte sizes", sig + wide + next, false, 24},
        {"8-byte sizes without a signature", wide, false, 20},
        {"sizes that match neither, local Zip64 record", sig + std::string(20, 'x'), true, 24},
        {"sizes that match neither", sig + std::string(20, 'x'), false, 16},
        {"cut short", sig + narrow.substr(0, 6), false, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DataDescriptorLength(c.bytes, e, c.zip64Local), c.length);
    }
}

// The 32- and 16-bit fields of values that may need the Zip64 records.
TEST(MarkedFields, MarkersFromTheLimitOn) {
    EXPECT_EQ(Field32(0xFFFFFFFEll), 0xFFFFFFFEu);
    EXPECT_EQ(Field32(0xFFFFFFFFll), Zip64Marker32);
    EXPECT_EQ(Field32(0x100000000ll), Zip64Marker32);
    EXPECT_EQ(Field16(-1), 0);
    EXPECT_EQ(Field16(65534), 65534);
    EXPECT_EQ(Field16(65535), Zip64Marker16);
}

TEST(VersionRule, Table) {
    struct Case {
        bool zip64, oem, alternate;
        std::uint16_t version;
    } cases[] = {
        {true, true, false, 0x002D},  {true, false, false, 0x002D},  {true, true, true, 0x412D},
        {false, true, false, 0x0014}, {false, false, false, 0x0B14}, {false, true, true, 0x4114},
        {false, false, true, 0x4114},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EntryVersion(c.zip64, c.oem, c.alternate), c.version)
            << c.zip64 << c.oem << c.alternate;
}

TEST(SignatureSets, EndSignatureChoosesTheSet) {
    EXPECT_EQ(SignatureSetOf(0x06054141).LocalHeader, 0x05045C61u);
    EXPECT_EQ(SignatureSetOf(0x06054141).CentralHeader, 0x03025C61u);
    EXPECT_EQ(SignatureSetOf(0x06054B50).LocalHeader, 0x04034B50u);
    EXPECT_EQ(SignatureSetOf(0).CentralHeader, 0x02014B50u);
}

TEST(DosDateTime, PacksAndUnpacks) {
    TDosDateTime t{2024, 12, 31, 23, 59, 58};
    EXPECT_EQ(PackDosDate(t), ((2024 - 1980) << 9) | (12 << 5) | 31);
    EXPECT_EQ(PackDosTime(t), (23 << 11) | (59 << 5) | 29);
    EXPECT_EQ(UnpackDosDateTime(PackDosDate(t), PackDosTime(t)), t);
    TDosDateTime odd{1980, 1, 1, 0, 0, 59}; // odd seconds fall to the even step below
    EXPECT_EQ(UnpackDosDateTime(PackDosDate(odd), PackDosTime(odd)).Second, 58);
    // Dates from 2044 on have the top bit set and compare as negative numbers.
    EXPECT_LT(CombineDosDateTime(PackDosDate({2044, 1, 1, 0, 0, 0}), 0), 0);
    EXPECT_EQ(CombineDosDateTime(0x5A8A, 0x6D2F), 0x5A8A6D2F);
}

// ---- Archives written by other tools ----

namespace {

struct ParsedEntry {
    TZACentralHeader header;
    std::string name;
    std::string extra;
    std::string comment;
    TZip64Values zip64;
    std::uint64_t offset() const {
        return zip64.LocalHeaderOffset.value_or(header.LocalHeaderOffset);
    }
};

struct ParsedArchive {
    TEndOfCentralDir end;
    std::string comment;
    std::optional<TZip64EndLocator> locator;
    std::optional<TZip64EndOfCentralDir> zip64End;
    std::vector<ParsedEntry> entries;
};

// Finds the end record whose comment reaches exactly to the end of the file, then reads the
// Zip64 records and the central headers in sequence.
ParsedArchive Parse(const std::string& file, std::uint64_t directoryBase = 0) {
    ParsedArchive a;
    std::size_t at = std::string::npos;
    for (std::size_t p = file.size() - TEndOfCentralDir::Size + 1; p-- > 0;) {
        RecordReader r(file.data() + p, file.size() - p);
        TEndOfCentralDir e = TEndOfCentralDir::Read(r);
        if (e.Signature == StandardSignatures.EndOfCentralDir && e.CommentLength == r.remaining()) {
            a.end = e;
            a.comment = r.bytes(e.CommentLength);
            at = p;
            break;
        }
    }
    if (at == std::string::npos)
        throw std::runtime_error("no end record");
    std::uint64_t dirOffset = a.end.CentralDirOffset;
    std::uint64_t count = a.end.TotalEntries;
    if (at >= TZip64EndLocator::Size) {
        RecordReader r(file.data() + at - TZip64EndLocator::Size, TZip64EndLocator::Size);
        TZip64EndLocator l = TZip64EndLocator::Read(r);
        if (l.Signature == Zip64EndLocatorSignature) {
            a.locator = l;
            RecordReader z(std::string_view(file).substr(l.Zip64EndOffset));
            a.zip64End = TZip64EndOfCentralDir::Read(z);
            dirOffset = a.zip64End->CentralDirOffset;
            count = a.zip64End->TotalEntries;
        }
    }
    RecordReader r(std::string_view(file).substr(dirOffset - directoryBase));
    for (std::uint64_t i = 0; i < count; ++i) {
        ParsedEntry e;
        e.header = ReadCentralHeader(r);
        e.name = r.bytes(e.header.NameLength);
        e.extra = r.bytes(e.header.ExtraLength);
        e.comment = r.bytes(e.header.CommentLength);
        for (const auto& f : ParseExtraFields(e.extra))
            if (f.ID == Zip64ExtraId)
                e.zip64 = ReadCentralZip64(f, e.header);
        a.entries.push_back(std::move(e));
    }
    return a;
}

void Shell(const std::string& command) {
    ASSERT_EQ(std::system(("(" + command + ") >/dev/null 2>&1").c_str()), 0) << command;
}

// Python's reading of the same archive, one line per entry, as the oracle.
std::vector<std::map<std::string, std::string>> PythonView(const std::string& archive,
                                                           const TempDir& dir) {
    std::string script = dir / "dump.py";
    WriteFile(script, R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
with open(sys.argv[2], 'w') as out:
    for i in z.infolist():
        d = i.date_time
        out.write(' '.join([
            'name=' + i.filename.encode('utf-8').hex(),
            'made=%d' % (i.create_system << 8 | i.create_version),
            'needed=%d' % (i.reserved << 8 | i.extract_version),
            'flags=%d' % i.flag_bits, 'method=%d' % i.compress_type,
            'date=%04d%02d%02d%02d%02d%02d' % d, 'crc=%d' % i.CRC,
            'csize=%d' % i.compress_size, 'usize=%d' % i.file_size,
            'disk=%d' % i.volume, 'iattr=%d' % i.internal_attr, 'eattr=%d' % i.external_attr,
            'offset=%d' % i.header_offset, 'extra=' + i.extra.hex(),
            'comment=' + i.comment.hex()]) + '\n')
)");
    std::string listing = dir / "listing.txt";
    Shell("python3 " + script + " " + archive + " " + listing);
    std::vector<std::map<std::string, std::string>> rows;
    std::istringstream in(ReadFile(listing));
    for (std::string line; std::getline(in, line);) {
        std::map<std::string, std::string> row;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            auto eq = word.find('=');
            row[word.substr(0, eq)] = word.substr(eq + 1);
        }
        rows.push_back(row);
    }
    return rows;
}

std::string DateText(const TZACentralHeader& h) {
    TDosDateTime t = UnpackDosDateTime(h.Date, h.Time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second);
    return text;
}

class ForeignArchives : public ::testing::Test {
protected:
    void SetUp() override {
        std::string text;
        for (int i = 0; i < 3000; ++i)
            text += "line " + std::to_string(i) + " of a compressible text\n";
        WriteFile(dir / "a.txt", text);
        Shell("mkdir -p " + dir / "sub");
        Shell("head -c 5000 /dev/urandom > " + dir / "sub/b.bin");
        WriteFile(dir / "empty.txt", "");
    }

    // Every central header agrees with Python's view and points at a local header that
    // carries the same name, method and (unless a descriptor follows) CRC.
    void CheckAgainstPython(const std::string& archive) {
        std::string bytes = ReadFile(archive);
        ParsedArchive a = Parse(bytes);
        auto rows = PythonView(archive, dir);
        ASSERT_EQ(a.entries.size(), rows.size());
        EXPECT_EQ(a.end.TotalEntries, rows.size());
        EXPECT_EQ(a.end.EntriesOnDisk, rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ParsedEntry& e = a.entries[i];
            auto& row = rows[i];
            SCOPED_TRACE(e.name);
            EXPECT_EQ(e.header.Signature, StandardSignatures.CentralHeader);
            EXPECT_EQ(Hex(e.name), row["name"]);
            EXPECT_EQ(std::to_string(e.header.VersionMadeBy), row["made"]);
            EXPECT_EQ(std::to_string(e.header.VersionNeeded), row["needed"]);
            EXPECT_EQ(std::to_string(e.header.Flags), row["flags"]);
            EXPECT_EQ(std::to_string(e.header.Method), row["method"]);
            EXPECT_EQ(DateText(e.header), row["date"]);
            EXPECT_EQ(std::to_string(e.header.Crc32), row["crc"]);
            EXPECT_EQ(std::to_string(e.zip64.CompressedSize.value_or(e.header.CompressedSize)),
                      row["csize"]);
            EXPECT_EQ(std::to_string(e.zip64.UncompressedSize.value_or(e.header.UncompressedSize)),
                      row["usize"]);
            EXPECT_EQ(std::to_string(e.header.DiskNumberStart), row["disk"]);
            EXPECT_EQ(std::to_string(e.header.InternalAttributes), row["iattr"]);
            EXPECT_EQ(std::to_string(e.header.ExternalAttributes), row["eattr"]);
            EXPECT_EQ(std::to_string(e.offset()), row["offset"]);
            EXPECT_EQ(Hex(e.extra), row["extra"]);
            EXPECT_EQ(Hex(e.comment), row["comment"]);

            RecordReader r(std::string_view(bytes).substr(e.offset()));
            TLocalFileHeader l = TLocalFileHeader::Read(r);
            EXPECT_EQ(l.Signature, StandardSignatures.LocalHeader);
            EXPECT_EQ(r.bytes(l.NameLength), e.name);
            EXPECT_EQ(l.Method, e.header.Method);
            if (!(l.Flags & FlagDataDescriptor)) {
                EXPECT_EQ(l.Crc32, e.header.Crc32);
            }
            ParseExtraFields(r.bytes(l.ExtraLength)); // well formed
        }
    }

    TempDir dir;
};

} // namespace

TEST_F(ForeignArchives, InfoZipPlain) {
    Shell("cd " + dir.Path() + " && zip -q -r plain.zip a.txt sub empty.txt");
    CheckAgainstPython(dir / "plain.zip");
    ParsedArchive a = Parse(ReadFile(dir / "plain.zip"));
    EXPECT_FALSE(a.locator);
    ASSERT_EQ(a.entries.size(), 4u);
    EXPECT_EQ(a.entries[1].name, "sub/");
    EXPECT_TRUE(a.entries[1].header.ExternalAttributes & faDirectory);
    EXPECT_EQ(a.entries[0].header.Method, MethodDeflated);
}

TEST_F(ForeignArchives, InfoZipForcedZip64) {
    Shell("cd " + dir.Path() + " && zip -q -r -fz z64.zip a.txt sub empty.txt");
    CheckAgainstPython(dir / "z64.zip");
    std::string bytes = ReadFile(dir / "z64.zip");
    ParsedArchive a = Parse(bytes);
    ASSERT_TRUE(a.locator);
    ASSERT_TRUE(a.zip64End);
    EXPECT_EQ(a.zip64End->Signature, Zip64EndOfCentralDirSignature);
    EXPECT_EQ(a.zip64End->RecordSize, 44u);
    EXPECT_EQ(a.zip64End->TotalEntries, 4u);
    EXPECT_EQ(a.locator->TotalDisks, 1u);
    // The locator stands right before the end record and names where the Zip64 end record is.
    EXPECT_EQ(a.locator->Zip64EndOffset + TZip64EndOfCentralDir::Size + TZip64EndLocator::Size,
              bytes.size() - TEndOfCentralDir::Size - a.comment.size());
    // Info-ZIP keeps the directory offset in the Zip64 record and marks it in the end record.
    EXPECT_EQ(a.end.CentralDirOffset, Zip64Marker32);
    EXPECT_EQ(a.zip64End->CentralDirSize + a.zip64End->CentralDirOffset, a.locator->Zip64EndOffset);
    bool sawZip64 = false;
    for (const auto& e : a.entries) {
        if (e.header.UncompressedSize == Zip64Marker32) {
            sawZip64 = true;
            EXPECT_TRUE(e.zip64.UncompressedSize);
        }
        RecordReader r(std::string_view(bytes).substr(e.offset()));
        TLocalFileHeader l = TLocalFileHeader::Read(r);
        r.skip(l.NameLength);
        bool localZip64 = false;
        for (const auto& f : ParseExtraFields(r.bytes(l.ExtraLength)))
            localZip64 |= f.ID == Zip64ExtraId && f.Size() == 16;
        EXPECT_TRUE(localZip64) << e.name;
    }
    EXPECT_TRUE(sawZip64);
}

TEST_F(ForeignArchives, SevenZip) {
    Shell("cd " + dir.Path() + " && 7zz a -tzip -bd seven.zip a.txt sub empty.txt");
    CheckAgainstPython(dir / "seven.zip");
}

TEST_F(ForeignArchives, PythonZipfileWithCommentsAndZip64LocalFields) {
    std::string script = dir / "make.py";
    WriteFile(script, R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = b'archive comment'
    z.write(sys.argv[2] + '/a.txt', 'a.txt')
    i = zipfile.ZipInfo('dir/note.txt', (2023, 6, 15, 10, 20, 30))
    i.comment = b'entry comment'
    z.writestr(i, 'note')
    with z.open('forced.bin', 'w', force_zip64=True) as f:
        f.write(b'x' * 1000)
)");
    Shell("python3 " + script + " " + dir / "py.zip" + " " + dir.Path());
    CheckAgainstPython(dir / "py.zip");
    ParsedArchive a = Parse(ReadFile(dir / "py.zip"));
    EXPECT_EQ(a.comment, "archive comment");
    EXPECT_EQ(a.entries[1].comment, "entry comment");
    EXPECT_EQ(DateText(a.entries[1].header), "20230615102030");
}

TEST_F(ForeignArchives, InfoZipSplitSet) {
    Shell("head -c 200000 /dev/urandom > " + dir / "big.bin");
    Shell("cd " + dir.Path() + " && zip -q -s 64k split.zip big.bin a.txt");
    // Info-ZIP names the earlier volumes in lower case; the last one is the archive itself.
    std::vector<std::string> volumes;
    for (int n = 1; testsupport::Exists(dir / ("split.z0" + std::to_string(n))); ++n)
        volumes.push_back(ReadFile(dir / ("split.z0" + std::to_string(n))));
    volumes.push_back(ReadFile(dir / "split.zip"));
    ASSERT_GE(volumes.size(), 4u);
    // Split sets begin with the spanning marker, which has the data descriptor's value.
    RecordReader marker(volumes[0]);
    EXPECT_EQ(marker.u32(), DataDescriptorSignature);

    const std::string& last = volumes.back();
    std::size_t at = last.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(at, std::string::npos);
    RecordReader r(std::string_view(last).substr(at));
    TEndOfCentralDir end = TEndOfCentralDir::Read(r);
    EXPECT_EQ(end.DiskNumber, volumes.size() - 1);
    EXPECT_EQ(end.TotalEntries, 2u);
    ASSERT_LT(end.CentralDirDisk, volumes.size());
    ASSERT_LE(end.EntriesOnDisk, end.TotalEntries);

    // The directory may begin on an earlier volume; join the volumes from there on.
    std::string tail;
    for (std::size_t v = end.CentralDirDisk; v < volumes.size(); ++v)
        tail += volumes[v];
    RecordReader dirReader(std::string_view(tail).substr(end.CentralDirOffset));
    std::string joined;
    std::vector<std::size_t> starts;
    for (const auto& v : volumes) {
        starts.push_back(joined.size());
        joined += v;
    }
    std::vector<std::string> names;
    for (int i = 0; i < end.TotalEntries; ++i) {
        TZACentralHeader h = ReadCentralHeader(dirReader);
        std::string name = dirReader.bytes(h.NameLength);
        dirReader.skip(h.ExtraLength + h.CommentLength);
        names.push_back(name);
        ASSERT_LT(h.DiskNumberStart, volumes.size());
        // A header may straddle two volumes, so read it from the joined set.
        RecordReader local(
            std::string_view(joined).substr(starts[h.DiskNumberStart] + h.LocalHeaderOffset));
        TLocalFileHeader l = TLocalFileHeader::Read(local);
        EXPECT_EQ(l.Signature, StandardSignatures.LocalHeader);
        EXPECT_EQ(local.bytes(l.NameLength), name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"big.bin", "a.txt"}));
}
