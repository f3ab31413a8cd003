#include "zip/ZADirArray.h"
#include "zip/ZAExcept.h"

#include <gtest/gtest.h>

namespace {

using namespace zip;

// Requests in order on one new array, and the capacity after each.
struct GrowthCase {
    const char* name;
    std::vector<std::pair<std::int32_t, std::int32_t>> steps;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const GrowthCase& row, std::ostream* os) {
    *os << row.name;
}

const GrowthCase growthCases[] = {
    {"OneAtATimeSteps", {{1, 1000}, {1001, 3000}, {5000, 7000}}},
    {"LargeFirstRequest", {{70000, 70000}}},
    {"StepSurvivesRelease", {{1, 1000}, {1001, 3000}, {3001, 7000}, {0, 0}, {1, 8000}}},
    {"StepCapsAtTenThousand",
     {{1, 1000}, {1001, 3000}, {3001, 7000}, {7001, 15000}, {15001, 25000}, {25001, 35000}}},
    {"ShrinkKeepsCapacity", {{1, 1000}, {10, 1000}, {5, 1000}}},
};

class Growth : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(Growth, Capacities) {
    TZADirArray array;
    for (auto [count, capacity] : GetParam().steps) {
        array.SetCount(count);
        EXPECT_EQ(array.Count(), count);
        EXPECT_EQ(array.Capacity(), capacity) << "after SetCount(" << count << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(DirArray, Growth, ::testing::ValuesIn(growthCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(DirArray, ClearKeepsCapacityAndStep) {
    TZADirArray array;
    array.SetCount(3);
    array.ItemPtr(0).StoredName = "a";
    array.Clear();
    EXPECT_EQ(array.Count(), 0);
    EXPECT_EQ(array.Capacity(), 1000);
    array.SetCount(1);
    EXPECT_TRUE(array.GetItem(0).StoredName.empty());
}

TEST(DirArray, IndexErrorsCarryTheirCodes) {
    TZADirArray array;
    array.SetCount(2);
    auto code = [](auto&& call) {
        try {
            call();
        } catch (const EZAException& e) {
            return std::make_pair(static_cast<TZAError>(e.NativeError()), e.Message());
        }
        return std::make_pair(static_cast<TZAError>(-100), std::string());
    };
    EXPECT_EQ(
        code([&] { array.GetItem(2); }),
        std::make_pair(zeGetItemIndex, std::string("Index out of bounds - Native error: 00002")));
    EXPECT_EQ(code([&] { array.GetItem(-1); }).first, zeGetItemIndex);
    EXPECT_EQ(code([&] { array.SetItem(2, TDirItem{}); }).first, zeDirectoryIndex);
    EXPECT_EQ(
        code([&] { array.ItemPtr(2); }),
        std::make_pair(zeItemPtrIndex, std::string("Index out of bounds - Native error: 00003")));
    EXPECT_EQ(code([&] { array.Delete(5); }).first, zeDeleteIndex);
    EXPECT_EQ(array.Count(), 2);
}

// A count read from an archive never sizes an allocation by itself.
TEST(DirArray, RefusesCountsTheDataCannotHold) {
    TZADirArray array;
    EXPECT_THROW(array.SetCount(-1), EZAException);
    EXPECT_EQ(array.Capacity(), 0);
    EXPECT_THROW(array.SetCount(1000, 46 * 999), EZAException);
    EXPECT_THROW(array.SetCount(0x7FFFFFFF, 1000), EZAException);
    EXPECT_EQ(array.Capacity(), 0);
    array.SetCount(1000, 46 * 1000);
    EXPECT_EQ(array.Count(), 1000);
    EXPECT_EQ(TZADirArray::MaxEntriesIn(-5), 0);
}

TEST(DirArray, DeleteMovesLaterEntriesDown) {
    TZADirArray array;
    array.SetCount(3);
    for (int i = 0; i < 3; ++i) {
        TDirItem& item = array.ItemPtr(i);
        item.StoredName = std::string(1, static_cast<char>('A' + i));
        item.EditDetail().ExtraFields.push_back(
            {static_cast<std::uint16_t>(i), TZACompactString("\x01\x02\x03")});
    }
    array.Delete(0);
    ASSERT_EQ(array.Count(), 2);
    EXPECT_EQ(array.GetItem(0).StoredName, "B");
    EXPECT_EQ(array.GetItem(1).StoredName, "C");
    EXPECT_EQ(array.GetItem(1).Detail().ExtraFields.at(0).ID, 2);
    array.Delete(1);
    array.Delete(0);
    EXPECT_EQ(array.Count(), 0);
    EXPECT_EQ(array.Capacity(), 0); // deleting the only entry releases every slot
}

class CountedStream : public vcl::TMemoryStream {
public:
    explicit CountedStream(int& released) : released_(released) {}
    ~CountedStream() override { ++released_; }

private:
    int& released_;
};

TEST(DirArray, DeleteReleasesOnlyOwnedStreams) {
    int released = 0;
    CountedStream lent(released);
    {
        TZADirArray array;
        array.SetCount(2);
        array.ItemPtr(0).TakeSourceStream(std::make_unique<CountedStream>(released));
        array.ItemPtr(1).LendSourceStream(lent);
        EXPECT_TRUE(array.GetItem(0).Source().OwnsStream);
        EXPECT_FALSE(array.GetItem(1).Source().OwnsStream);
        array.Delete(0);
        EXPECT_EQ(released, 1);
        array.Delete(0);
        EXPECT_EQ(released, 1);
    }
    EXPECT_EQ(released, 1);
}

TEST(DirArray, AssignCopiesInFull) {
    TZADirArray copy;
    {
        TZADirArray source;
        source.SetCount(2);
        source.ItemPtr(1).StoredName = "dir/file.txt";
        source.ItemPtr(1).EditDetail().ExtraFields.push_back(
            {0x5455, TZACompactString("\x09\x08\x07")});
        source.ItemPtr(1).CentralHeader.Crc32 = 0xDEADBEEF;
        source.ItemPtr(1).Selected = true;
        copy.Assign(source);
    }
    ASSERT_EQ(copy.Count(), 2);
    TDirItem item = copy.GetItem(1);
    EXPECT_EQ(item.StoredName, "dir/file.txt");
    EXPECT_EQ(item.Detail().ExtraFields.at(0).Data, "\x09\x08\x07");
    EXPECT_EQ(item.Detail().ExtraFields.at(0).Size(), 3);
    EXPECT_EQ(item.CentralHeader.Crc32, 0xDEADBEEF);
    copy.ClearSelection();
    EXPECT_FALSE(copy.GetItem(1).Selected);
    copy.Assign(copy);
    EXPECT_EQ(copy.Count(), 2);
}

} // namespace
