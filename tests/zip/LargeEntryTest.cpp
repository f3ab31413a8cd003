// An entry whose compressed data alone passes 4 GiB: a stored, encrypted file 6 bytes under
// the limit, read from a sparse file. Its local header must defer both sizes to a local
// Zip64 record and ask for version 4.5, or readers take the 32-bit field for the size.
// Writes 4 GiB: labelled "large".
#include "ZipTestSupport.h"
#include "zip/ZipArchiver.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace zip;
using ziptest::Capture;
namespace fs = std::filesystem;

namespace {

TEST(LargeEntry, StoredEncryptedDataBeyondFourGibibytesGetsALocalZip64Record) {
    ziptest::TempDir dir;
    const std::string src = dir / "src";
    fs::create_directories(src);
    const std::int64_t size = 0xFFFFFFFFll - 6;
    {
        const int fd = ::open((src + "/big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    vcl::TComponent owner{nullptr};
    auto* a = vcl::Create<TZipArchiver>(&owner);
    a->SetFileName(dir / "big.zip");
    a->BaseDir = src;
    a->SetZip64Mode(zmAuto);
    a->SetCompressionMode(0);
    a->Password = "pw";
    a->OpenArchive();
    a->AddFiles("big.bin", 0x20, "");
    a->CloseArchive();
    fs::remove(src + "/big.bin");

    // The local header as written: version, both size fields, the Zip64 record's sizes.
    EXPECT_EQ(Capture("/usr/bin/python3 -c 'import struct, sys\n"
                      "f = open(sys.argv[1], \"rb\")\n"
                      "h = struct.unpack(\"<IHHHHHIIIHH\", f.read(30))\n"
                      "f.read(h[9])\n"
                      "extra = f.read(h[10])\n"
                      "i = 0\n"
                      "while i < len(extra):\n"
                      "    tag, n = struct.unpack(\"<HH\", extra[i:i+4])\n"
                      "    if tag == 1: print(h[1] & 0xFF, hex(h[7]), hex(h[8]), "
                      "struct.unpack(\"<QQ\", extra[i+4:i+20]))\n"
                      "    i += 4 + n\n' '" +
                      (dir / "big.zip") + "'"),
              "45 0xffffffff 0xffffffff (4294967289, 4294967301)\n");
    EXPECT_TRUE(ziptest::Run("7zz t -ppw '" + (dir / "big.zip") + "'"))
        << Capture("7zz t -ppw '" + (dir / "big.zip") + "'");
}

} // namespace
