#include "vcl/Streams.h"
#include "support/TempDir.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vcl;
using testsupport::TempDir;

namespace {

TEST(MemoryStream, GrowsSeeksAndFillsGapsWithZeros) {
    TMemoryStream s;
    s.WriteBuffer("abc", 3);
    s.SetPosition(6);
    s.WriteBuffer("z", 1);
    EXPECT_EQ(s.Size(), 7);
    EXPECT_EQ(std::memcmp(s.Memory(), "abc\0\0\0z", 7), 0);
    s.SetPosition(1);
    char two[2];
    s.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "bc");
    EXPECT_EQ(s.Seek(-1, TSeekOrigin::soEnd), 6);
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2);
    char rest[4];
    EXPECT_EQ(s.Read(rest, 4), 0);
    EXPECT_THROW(s.ReadBuffer(rest, 1), EReadError);
}

TEST(FileStream, ReportsFailuresInTheFrameworksWords) {
    TempDir dir;
    std::string missing = dir / "none.bin";
    try {
        TFileStream s(missing, fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Impossible d'ouvrir le fichier \"" + missing + "\". No such file or directory");
    }
    try {
        TFileStream s(dir / "no/such/folder.bin", fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind("Impossible de créer le fichier \"", 0), 0u);
    }
    EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError); // a folder is no file
    try {
        TMemoryStream m;
        m.ReadBuffer(nullptr, 1);
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Erreur de lecture du flux");
    }
}

TEST(FileStream, PositionsPassFourGigabytes) {
    TempDir dir;
    TFileStream s(dir / "sparse.bin", fmCreate);
    const std::int64_t far = (std::int64_t{5} << 30) + 3;
    EXPECT_EQ(s.Seek(far, TSeekOrigin::soBeginning), far);
    s.WriteBuffer("x", 1);
    EXPECT_EQ(s.Size(), far + 1);
    s.SetPosition(far);
    char c = 0;
    s.ReadBuffer(&c, 1);
    EXPECT_EQ(c, 'x');
}

TEST(Stream, ASeekThatCannotBeDoneRaisesAndLeavesThePosition) {
    TempDir dir;
    const std::string file = dir / "f.bin";
    {
        TFileStream s(file, fmCreate);
        s.WriteBuffer("0123456789", 10);
    }
    TFileStream f(file, fmOpenRead);
    TMemoryStream m;
    m.WriteBuffer("0123456789", 10);
    for (TStream* s : {static_cast<TStream*>(&f), static_cast<TStream*>(&m)}) {
        s->SetPosition(4);
        EXPECT_THROW(s->SetPosition(-1), EStreamError);
        EXPECT_THROW(s->Seek(-5, TSeekOrigin::soCurrent), EStreamError);
        EXPECT_THROW(s->Seek(-11, TSeekOrigin::soEnd), EStreamError);
        // The next read comes from where the stream stood, not from before its start.
        char c = 0;
        s->ReadBuffer(&c, 1);
        EXPECT_EQ(c, '4');
    }
    m.SetPosition(1);
    EXPECT_THROW(m.Seek(INT64_MAX, TSeekOrigin::soCurrent), EStreamError);
    EXPECT_EQ(m.Position(), 1);
}

// The position a file stream remembers is the descriptor's own after every kind of move, and
// its size is the file's, also when another descriptor grew the file meanwhile.
TEST(FileStream, RemembersThePositionTheDescriptorHas) {
    TempDir dir;
    const std::string file = dir / "f.bin";
    TFileStream s(file, fmCreate);
    char buffer[16] = {};
    struct Step {
        const char* what;
        std::function<void()> run;
        std::int64_t position;
    };
    const Step steps[] = {
        {"write", [&] { s.WriteBuffer("0123456789", 10); }, 10},
        {"seek back", [&] { s.SetPosition(3); }, 3},
        {"read", [&] { s.ReadBuffer(buffer, 4); }, 7},
        {"same place", [&] { s.SetPosition(7); }, 7},
        {"from here", [&] { s.Seek(-2, TSeekOrigin::soCurrent); }, 5},
        {"from the end", [&] { s.Seek(-1, TSeekOrigin::soEnd); }, 9},
        {"read past the end", [&] { EXPECT_EQ(s.Read(buffer, 16), 1); }, 10},
        {"past the end", [&] { s.SetPosition(20); }, 20},
        {"write there", [&] { s.WriteBuffer("x", 1); }, 21},
        {"cut", [&] { s.SetSize(15); }, 15},
        {"failed seek", [&] { EXPECT_THROW(s.SetPosition(-1), EStreamError); }, 15},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.run();
        EXPECT_EQ(s.Position(), step.position);
        EXPECT_EQ(::lseek(s.Handle(), 0, SEEK_CUR), step.position);
    }
    EXPECT_EQ(s.Size(), 15);
    {
        TFileStream other(file, fmOpenReadWrite);
        other.SetPosition(100);
        other.WriteBuffer("y", 1);
    }
    EXPECT_EQ(s.Size(), 101);
    EXPECT_EQ(s.Position(), 15);
}

TEST(Stream, CopyFromZeroCopiesTheWholeSource) {
    TMemoryStream source, target;
    source.WriteBuffer("hello world", 11);
    source.SetPosition(5);
    EXPECT_EQ(target.CopyFrom(source, 0), 11);
    source.SetPosition(6);
    EXPECT_EQ(target.CopyFrom(source, 5), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target.Memory()), 16), "hello worldworld");
    source.SetPosition(10);
    EXPECT_THROW(target.CopyFrom(source, 5), EReadError);
}

} // namespace
