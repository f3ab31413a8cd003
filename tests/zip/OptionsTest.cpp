#include "zip/ZAOptions.h"

#include "vcl/SysUtils.h"

#include <gtest/gtest.h>

namespace {

using namespace zip;

TEST(TZAOptions, ConstructorValues) {
    TZAOptions o;
    EXPECT_TRUE(o.Recurse);
    EXPECT_EQ(o.StorePath, spRelativePath);
    EXPECT_EQ(o.ShareMode, smShareDenyNone);
    EXPECT_EQ(o.OverwriteMode, omAlways);
    EXPECT_TRUE(o.CreateDirs);
    EXPECT_TRUE(o.ReplaceReadOnly);
    EXPECT_TRUE(o.SetAttributes);
    EXPECT_EQ(o.SearchAttr, zip::faAllEntries);
    EXPECT_TRUE(o.FlushBuffers);
    EXPECT_TRUE(o.OEMFileNames);
}

std::vector<std::string> Names(const std::vector<vcl::TPublishedProperty>& properties) {
    std::vector<std::string> names;
    for (const auto& p : properties)
        names.push_back(p.Name);
    return names;
}

TEST(TZAOptions, DefaultsStreamOnlyThePropertiesWithoutDefault) {
    TZAOptions o;
    EXPECT_EQ(Names(o.StoredProperties()),
              (std::vector<std::string>{"FlushBuffers", "OEMFileNames"}));
    o.StorePath = spNoPath;
    o.SearchAttr = 0x3F;
    auto stored = o.StoredProperties();
    ASSERT_EQ(Names(stored), (std::vector<std::string>{"StorePath", "SearchAttr", "FlushBuffers",
                                                       "OEMFileNames"}));
    EXPECT_EQ(stored[0].Value, "spNoPath");
    EXPECT_EQ(stored[1].Value, "63");
}

TEST(TZAOptions, AssignCopiesEveryProperty) {
    TZAOptions source;
    source.Recurse = false;
    source.ShareMode = smShareExclusive;
    source.OverwriteMode = omIfNewer;
    source.SearchAttr = 1;
    source.OEMFileNames = false;
    TZAOptions target;
    target.Assign(source);
    EXPECT_EQ(target.ShareMode, smShareExclusive);
    EXPECT_EQ(target.OverwriteMode, omIfNewer);
    EXPECT_FALSE(target.Recurse);
    EXPECT_EQ(target.SearchAttr, 1);
    EXPECT_FALSE(target.OEMFileNames);
}

TEST(TZAOptions, AssignFromAnotherClassFails) {
    TZAOptions target;
    TZASpanningOptions other;
    EXPECT_THROW(target.Assign(other), vcl::EConvertError);
    TZASpanningOptions spanning;
    EXPECT_THROW(spanning.Assign(target), vcl::EConvertError);
}

TEST(TZASpanningOptions, ConstructorValuesAndAssign) {
    TZASpanningOptions s;
    EXPECT_TRUE(s.AdvancedNaming);
    EXPECT_EQ(s.FirstVolumeSize, 0);
    EXPECT_EQ(s.VolumeSize, vsAutoDetect);
    EXPECT_EQ(s.CustomVolumeSize(), 0);
    EXPECT_EQ(s.StoredProperties().size(), 4u); // no defaults: always written

    s.AdvancedNaming = false;
    s.FirstVolumeSize = 123;
    s.VolumeSize = vs650MB;
    s.SetCustomVolumeSize(70000);
    TZASpanningOptions copy;
    copy.Assign(s);
    EXPECT_FALSE(copy.AdvancedNaming);
    EXPECT_EQ(copy.FirstVolumeSize, 123);
    EXPECT_EQ(copy.VolumeSize, vs650MB);
    EXPECT_EQ(copy.CustomVolumeSize(), 70000);
}

TEST(TZASpanningOptions, CustomVolumeSizeMinimum) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {1000, 65536},  {-5, 65536},    {0, 65536},
        {65535, 65536}, {65536, 65536}, {10000000000, 10000000000}};
    for (auto [given, stored] : cases) {
        TZASpanningOptions s;
        s.SetCustomVolumeSize(given);
        EXPECT_EQ(s.CustomVolumeSize(), stored) << given;
    }
}

TEST(TZASpanningOptions, VolumeSizeTable) {
    const std::pair<TZAVolumeSize, std::int64_t> table[] = {
        {vsAutoDetect, -1},   {vs1_44MB, 1457664},  {vs100MB, 104857600},
        {vs200MB, 209715200}, {vs250MB, 262144000}, {vs600MB, 629145600},
        {vs650MB, 681574400}, {vs700MB, 734003200}, {vs4700MB, 4928307200}};
    TZAVolumeNumberInfo second;
    second.SetNumber(1);
    for (auto [size, bytes] : table) {
        TZASpanningOptions s;
        s.VolumeSize = size;
        EXPECT_EQ(s.GetVolumeSize(second), bytes) << int(size);
        EXPECT_EQ(VolumeSizeBytes(size), bytes) << int(size);
    }
}

TEST(TZASpanningOptions, FirstVolumeSizeAppliesToVolumeZeroOnly) {
    TZASpanningOptions s;
    s.FirstVolumeSize = 500000;
    s.VolumeSize = vs100MB;
    TZAVolumeNumberInfo volume;
    volume.SetNumber(0);
    EXPECT_EQ(s.GetVolumeSize(volume), 500000);
    volume.SetNumber(1);
    EXPECT_EQ(s.GetVolumeSize(volume), 104857600);
}

// A custom size never below the minimum, not even the constructor's 0: a 0-byte volume
// would hold nothing and the writer would never finish.
TEST(TZASpanningOptions, CustomSizeOnFreshOptionsIsTheMinimum) {
    TZASpanningOptions s;
    s.VolumeSize = vsCustom;
    TZAVolumeNumberInfo volume;
    volume.SetNumber(2);
    EXPECT_EQ(s.GetVolumeSize(volume), 65536);
    s.SetCustomVolumeSize(200000);
    EXPECT_EQ(s.GetVolumeSize(volume), 200000);
}

TEST(TZAVolumeNumberInfo, FirstAndLast) {
    TZAVolumeNumberInfo v;
    EXPECT_EQ(v.Kind, vkUnknown);
    EXPECT_FALSE(v.IsFirst());
    EXPECT_FALSE(v.IsLast());
    v.SetNumber(0);
    EXPECT_TRUE(v.IsFirst());
    EXPECT_EQ(v.Kind, vkCustom);

    TZAVolumeNumberInfo last;
    last.LastNumber = 3;
    last.SetLast(true);
    EXPECT_EQ(last.Number, 3);
    EXPECT_TRUE(last.IsLast());

    TZAVolumeNumberInfo unknownLast;
    unknownLast.SetLast(false);
    EXPECT_FALSE(unknownLast.IsLast());
    unknownLast.SetLast(true);
    EXPECT_TRUE(unknownLast.IsLast());
    EXPECT_EQ(unknownLast.Number, -1);

    v.Reset();
    EXPECT_EQ(v.Number, -1);
    v.SetFirst(false);
    EXPECT_EQ(v.Number, -1);
    v.SetFirst(true);
    EXPECT_EQ(v.Kind, vkFirst);
    EXPECT_TRUE(v.IsFirst());
}

TEST(TZAVolumeNumberInfo, SameVolume) {
    TZAVolumeNumberInfo last, first, third, otherThird, unknown, otherUnknown;
    last.SetLast(true);
    first.SetFirst(true);
    third.SetNumber(2);
    otherThird.SetNumber(2);
    EXPECT_TRUE(last.SameVolume(last));
    EXPECT_FALSE(last.SameVolume(first));
    EXPECT_TRUE(first.SameVolume(first));
    EXPECT_FALSE(first.SameVolume(third));
    EXPECT_TRUE(third.SameVolume(otherThird));
    EXPECT_FALSE(third.SameVolume(first));
    EXPECT_TRUE(unknown.SameVolume(otherUnknown)); // by kind when no number is meant
}

} // namespace
