#include "zip/ZAZlib.h"

#include "ZipTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace zip;

TEST(Settings, LevelsModesAndBufferSizes) {
    EXPECT_EQ(ModeFromLevel(clNone), 0);
    EXPECT_EQ(ModeFromLevel(clFastest), 1);
    EXPECT_EQ(ModeFromLevel(clNormal), 6);
    EXPECT_EQ(ModeFromLevel(clMax), 9);
    const TZACompressionLevel levels[] = {clNone,   clFastest, clFastest, clFastest,
                                          clNormal, clNormal,  clNormal,  clMax,
                                          clMax,    clMax,     clNone,    clNone};
    const std::int32_t sizes[] = {1048576, 524288,  524288,  524288,  1048576, 1048576,
                                  1048576, 1572864, 1572864, 1572864, 1048576, 1048576};
    for (std::uint8_t mode = 0; mode < 12; ++mode) {
        EXPECT_EQ(LevelFromMode(mode), levels[mode]) << int(mode);
        EXPECT_EQ(BufferSizeForMode(mode), sizes[mode]) << int(mode);
    }
    EXPECT_EQ(LevelFromMode(255), clNone);
}

TEST(Settings, HeaderBytesPassZlibsCheck) {
    const std::uint16_t expected[] = {0xDA78, 0x0178, 0x0178, 0x5E78, 0x5E78,
                                      0x9C78, 0x9C78, 0xDA78, 0xDA78, 0xDA78};
    for (std::uint32_t code = 0; code < 10; ++code) {
        std::uint16_t h = ZlibHeaderForLevel(code);
        EXPECT_EQ(h, expected[code]) << code;
        EXPECT_EQ(((h & 0xFF) << 8 | h >> 8) % 31, 0) << code;
    }
    EXPECT_EQ(ZlibHeaderForLevel(10), 0);
}

TEST(ResultChecks, NegativeRaisesWithPlainText) {
    EXPECT_EQ(CheckDecompressResult(1), 1);
    EXPECT_EQ(CheckCompressResult(0), 0);
    try {
        CheckDecompressResult(-3);
        FAIL();
    } catch (const EDecompressionError& e) {
        EXPECT_EQ(e.Message(), "error");
    }
    try {
        CheckCompressResult(-2);
        FAIL();
    } catch (const EZlibError& e) {
        EXPECT_NE(dynamic_cast<const ECompressionError*>(&e), nullptr);
        EXPECT_EQ(e.Message(), "error");
    }
}

// Fixtures compressed by Python's zlib: wrapped (zlib.compress) and raw deflate.
class PythonData : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ziptest::TempDir;
        plain_ = ziptest::CompressibleText(300000) + ziptest::RandomBytes(5000, 5);
        ziptest::WriteFile(*dir_ / "plain", plain_);
        std::string script = "import zlib,sys; d=open(sys.argv[1],'rb').read(); "
                             "open(sys.argv[2],'wb').write(zlib.compress(d, 9)); "
                             "c=zlib.compressobj(6, zlib.DEFLATED, -15); "
                             "open(sys.argv[3],'wb').write(c.compress(d)+c.flush()); "
                             "open(sys.argv[4],'wb').write(zlib.compress(b'0123456789'))";
        ASSERT_TRUE(ziptest::Run("python3 -c \"" + script + "\" " + *dir_ / "plain" + " " +
                                 *dir_ / "wrapped" + " " + *dir_ / "raw" + " " + *dir_ / "tiny"));
        wrapped_ = ziptest::ReadFile(*dir_ / "wrapped");
        raw_ = ziptest::ReadFile(*dir_ / "raw");
        tiny_ = ziptest::ReadFile(*dir_ / "tiny");
    }
    static void TearDownTestSuite() { delete dir_; }

    static std::int32_t Size(const std::string& s) { return static_cast<std::int32_t>(s.size()); }

    static inline ziptest::TempDir* dir_ = nullptr;
    static inline std::string plain_, wrapped_, raw_, tiny_;
};

std::string Text(const TZABlock& block, std::int32_t size) {
    return block ? std::string(reinterpret_cast<const char*>(block.get()),
                               static_cast<std::size_t>(size))
                 : std::string();
}

TEST_F(PythonData, InflatesWrappedData) {
    for (std::int32_t estimate : {0, 1, 1000, Size(plain_), 10 * Size(plain_)}) {
        TZABlock out;
        std::int32_t outSize = -1;
        InflateBuffer(wrapped_.data(), Size(wrapped_), estimate, out, outSize);
        EXPECT_EQ(outSize, Size(plain_)) << estimate;
        EXPECT_EQ(Text(out, outSize), plain_) << estimate;
    }
    TZABlock out;
    std::int32_t outSize = 0;
    InflateBuffer(wrapped_.data(), Size(wrapped_), 1000, out, outSize, Size(plain_));
    EXPECT_EQ(outSize, Size(plain_));                          // exactly the maximum is still whole
    InflateBuffer(tiny_.data(), Size(tiny_), 1, out, outSize); // grows in 256-byte steps
    EXPECT_EQ(Text(out, outSize), "0123456789");
    InflateBuffer(tiny_.data(), Size(tiny_), 0, out, outSize); // no estimate: one 256-byte step
    EXPECT_EQ(Text(out, outSize), "0123456789");
}

struct FailureCase {
    const char* name;
    int input; // 0 wrapped, 1 raw, 2 cut off
    std::int32_t estimate;
    std::int64_t maxOutput;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const FailureCase& row, std::ostream* os) {
    *os << row.name;
}

const FailureCase failureCases[] = {
    {"RawDeflateHasNoHeader", 1, 1000, InflateBufferMaxOutput},
    {"CutOffStream", 2, 1000, InflateBufferMaxOutput},
    {"NegativeEstimate", 0, -1, InflateBufferMaxOutput},
    {"EstimateAboveCap", 0, InflateBufferMaxEstimate + 1, InflateBufferMaxOutput},
    {"OutputAboveMaximum", 0, 1000, 300000},
    {"OutputOneAboveMaximum", 0, 1000, 304999},
};

class InflateFailure : public PythonData, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InflateFailure, GivesNoOutput) {
    const FailureCase& c = GetParam();
    std::string input = c.input == 1   ? raw_
                        : c.input == 2 ? wrapped_.substr(0, wrapped_.size() / 2)
                                       : wrapped_;
    TZABlock out(static_cast<std::uint8_t*>(std::malloc(1)));
    std::int32_t outSize = 77;
    InflateBuffer(input.data(), Size(input), c.estimate, out, outSize, c.maxOutput);
    EXPECT_EQ(outSize, 0);
    EXPECT_EQ(out, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Refusals, InflateFailure, ::testing::ValuesIn(failureCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(PythonData, TryInflateBuffer) {
    TZABlock out(static_cast<std::uint8_t*>(std::malloc(1)));
    std::uint8_t* before = out.get();
    std::int32_t outSize = 4096;
    EXPECT_FALSE(TryInflateBuffer(1, wrapped_.data(), Size(wrapped_), out, outSize));
    EXPECT_EQ(out.get(), before); // another identifier touches nothing
    EXPECT_EQ(outSize, 4096);
    EXPECT_FALSE(TryInflateBuffer(0, wrapped_.data(), 0, out, outSize));
    EXPECT_TRUE(TryInflateBuffer(0, wrapped_.data(), Size(wrapped_), out, outSize));
    EXPECT_EQ(Text(out, outSize), plain_);
    outSize = 4096;
    EXPECT_FALSE(TryInflateBuffer(0, raw_.data(), Size(raw_), out, outSize));
    EXPECT_EQ(outSize, 0);
}

// The binding's deflater output is ordinary zlib data for Python too.
TEST_F(PythonData, DeflaterOutputInflatesElsewhere) {
    std::vector<std::uint8_t> packed(plain_.size() + 1024);
    std::span<const std::uint8_t> in(reinterpret_cast<const std::uint8_t*>(plain_.data()),
                                     plain_.size());
    std::span<std::uint8_t> out(packed);
    TZDeflater deflater(6);
    EXPECT_EQ(deflater.Deflate(in, out, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(deflater.TotalIn(), static_cast<std::int64_t>(plain_.size()));
    packed.resize(static_cast<std::size_t>(deflater.TotalOut()));
    ziptest::WriteFile(*dir_ / "ours", std::string(packed.begin(), packed.end()));
    EXPECT_TRUE(ziptest::Run("python3 -c \"import zlib,sys; "
                             "assert zlib.decompress(open(sys.argv[1],'rb').read()) == "
                             "open(sys.argv[2],'rb').read()\" " +
                             *dir_ / "ours" + " " + *dir_ / "plain"));
}

// The raw inflater entry reading uses: ZIP's bare deflate data whole, again after a reset on
// the same memory, and a stream cut short stalls (no progress, nothing raised) so the caller
// decides; wrapped data is no raw stream.
TEST_F(PythonData, RawInflaterAndItsStalls) {
    TZInflater inflater(TZInflateFormat::Raw);
    std::string out(plain_.size() + 10, '\0');
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        inflater.Reset();
        std::span<const std::uint8_t> in(reinterpret_cast<const std::uint8_t*>(raw_.data()),
                                         raw_.size());
        std::span<std::uint8_t> room(reinterpret_cast<std::uint8_t*>(out.data()), out.size());
        int r = Z_OK;
        while (r == Z_OK)
            r = inflater.Inflate(in, room);
        EXPECT_EQ(r, Z_STREAM_END);
        EXPECT_EQ(inflater.TotalOut(), Size(plain_));
        EXPECT_EQ(inflater.TotalIn(), Size(raw_));
        EXPECT_TRUE(out.substr(0, plain_.size()) == plain_);
    }

    inflater.Reset();
    std::span<const std::uint8_t> cut(reinterpret_cast<const std::uint8_t*>(raw_.data()),
                                      raw_.size() / 2);
    std::span<std::uint8_t> room(reinterpret_cast<std::uint8_t*>(out.data()), out.size());
    int r = Z_OK;
    for (int calls = 0; r == Z_OK && calls < 1000; ++calls)
        r = inflater.Inflate(cut, room);
    EXPECT_EQ(r, Z_BUF_ERROR);
    EXPECT_TRUE(cut.empty());
    EXPECT_GT(inflater.TotalOut(), 0);

    TZInflater raw(TZInflateFormat::Raw);
    std::span<const std::uint8_t> wrapped(reinterpret_cast<const std::uint8_t*>(wrapped_.data()),
                                          wrapped_.size());
    std::span<std::uint8_t> space(reinterpret_cast<std::uint8_t*>(out.data()), out.size());
    EXPECT_THROW(
        {
            while (raw.Inflate(wrapped, space) == Z_OK) {
            }
        },
        EDecompressionError);
}

// More than 4 GiB through one inflate stream: the totals must not wrap at 32 bits.
TEST(Inflater, CountsPastFourGiB) {
    const std::size_t chunk = 4 << 20;
    const std::int64_t total = (std::int64_t{4} << 30) + 12345;
    std::vector<std::uint8_t> zeros(chunk, 0), packed;
    {
        TZDeflater deflater(1);
        std::vector<std::uint8_t> room(1 << 20);
        std::int64_t fed = 0;
        int r = Z_OK;
        while (r != Z_STREAM_END) {
            std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(chunk, total - fed));
            std::span<const std::uint8_t> in(zeros.data(), n);
            bool last = fed + static_cast<std::int64_t>(n) == total;
            do {
                std::span<std::uint8_t> out(room);
                r = deflater.Deflate(in, out, last ? Z_FINISH : Z_NO_FLUSH);
                packed.insert(packed.end(), room.begin(),
                              room.end() - static_cast<std::ptrdiff_t>(out.size()));
            } while (!in.empty() || (last && r != Z_STREAM_END));
            fed += static_cast<std::int64_t>(n);
        }
        EXPECT_EQ(deflater.TotalIn(), total);
    }
    TZInflater inflater;
    std::span<const std::uint8_t> in(packed);
    int r = Z_OK;
    while (r != Z_STREAM_END) {
        std::span<std::uint8_t> out(zeros);
        r = inflater.Inflate(in, out);
    }
    EXPECT_EQ(inflater.TotalOut(), total);
    EXPECT_EQ(inflater.TotalIn(), static_cast<std::int64_t>(packed.size()));
}

} // namespace
