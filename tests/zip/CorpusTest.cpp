// libzip's regression archives, each opened, listed and extracted by the engine in a child
// process under a memory limit and a time limit. Every archive has its expected outcome: it
// opens with so many entries of which so many fail (through the failure event), or the open
// fails with the engine's error or the stream's read error. Nothing crashes, exhausts memory
// or hangs.
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace {

const std::string CorpusDir = std::string(ZIP_CORPUS_DIR) + "/libzip-regress";

struct Outcome {
    const char* file;
    // "opened N" with " failing" and the native error of each entry that fails through the
    // failure event (0: the stream's read error); "error E" when the open raises the engine's
    // error E, "read error" when it raises the stream's.
    const char* outcome;
};

// Entries fail where their data are inconsistent (8), their data or local header lie past
// the end of the file (0), their method is one the engine does not decode (55: AES, bzip2,
// LZMA, xz, zstd), or their volume is not there (45).
const Outcome Expected[] = {
    {"aaaaaaaa-stored.zip", "opened 1"},
    {"bigzero-zip.zip", "opened 1"},
    {"bogus.zip", "error 35"},
    {"broken.zip", "opened 6 failing 8 8 8"},
    {"changing-size-muchl.zip", "opened 3"},
    {"changing-size-muchlo.zip", "opened 3"},
    {"changing-size-muchlonger.zip", "opened 3"},
    {"changing-size.zip", "opened 2"},
    {"cm-default.zip", "opened 4"},
    {"empty-pkware.zip", "opened 1"},
    {"encrypt-1234.zip", "opened 1"},
    {"encrypt-aes128-noentropy.zip", "opened 2 failing 55"},
    {"encrypt-aes128.zip", "opened 2 failing 55"},
    {"encrypt-aes192-noentropy.zip", "opened 2 failing 55"},
    {"encrypt-aes192.zip", "opened 2 failing 55"},
    {"encrypt-aes256-noentropy.zip", "opened 2 failing 55"},
    {"encrypt-aes256.zip", "opened 2 failing 55"},
    {"encrypt-none.zip", "opened 2"},
    {"encrypt-pkware-noentropy-2.zip", "opened 2"},
    {"encrypt-pkware-noentropy.zip", "opened 2"},
    {"encrypt.zip", "opened 2"},
    {"encrypt_plus_extra.zip", "opened 2"},
    {"encrypt_plus_extra_modified_c.zip", "opened 2"},
    {"encrypt_plus_extra_modified_l.zip", "opened 2"},
    {"extra_field_align_1-0.zip", "opened 1"},
    {"extra_field_align_1-ef_00.zip", "opened 1"},
    {"extra_field_align_1-ef_ff.zip", "opened 1"},
    {"extra_field_align_1-ff.zip", "opened 1"},
    {"extra_field_align_2-0.zip", "opened 1"},
    {"extra_field_align_2-ef_00.zip", "opened 1"},
    {"extra_field_align_2-ef_ff.zip", "opened 1"},
    {"extra_field_align_2-ff.zip", "opened 1"},
    {"extra_field_align_3-0.zip", "opened 1"},
    {"extra_field_align_3-ef_00.zip", "opened 1"},
    {"extra_field_align_3-ef_ff.zip", "opened 1"},
    {"extra_field_align_3-ff.zip", "opened 1"},
    {"extra_field_align_4-ff.zip", "opened 1"},
    {"filename_duplicate.zip", "opened 2"},
    {"filename_duplicate_empty.zip", "opened 2"},
    {"filename_empty.zip", "opened 1"},
    {"fileorder.zip", "opened 2"},
    {"firstsecond-split-deflated.zip", "opened 2"},
    {"firstsecond-split-stored.zip", "opened 2"},
    {"firstsecond.zip", "opened 2"},
    {"foo-stored.zip", "opened 1"},
    {"gap-add.zip", "opened 4 failing 8"},
    {"gap-delete.zip", "opened 2 failing 8"},
    {"gap-replace.zip", "opened 3 failing 8"},
    {"gap.zip", "opened 3 failing 8"},
    {"hmac-error.zip", "opened 1 failing 55"},
    {"incons-archive-comment-longer.zip", "opened 1"},
    {"incons-archive-comment-shorter.zip", "opened 1"},
    {"incons-cdoffset.zip", "opened 1"},
    {"incons-cdsize-large.zip", "read error"},
    {"incons-cdsize-small.zip", "read error"},
    {"incons-central-compression-method.zip", "opened 1 failing 8"},
    {"incons-central-compsize-larger-toolarge.zip", "opened 1 failing 8"},
    {"incons-central-compsize-larger.zip", "opened 1 failing 8"},
    {"incons-central-compsize-smaller.zip", "opened 1 failing 8"},
    {"incons-central-crc.zip", "opened 1 failing 8"},
    {"incons-central-date.zip", "opened 1"},
    {"incons-central-file-comment-longer.zip", "opened 1"},
    {"incons-central-file-comment-shorter.zip", "opened 1"},
    {"incons-central-file-comment-utf8-ascii.zip", "opened 1"},
    {"incons-central-magic-bad.zip", "opened 1"},
    {"incons-central-magic-bad2.zip", "opened 1"},
    {"incons-central-size-larger.zip", "opened 1 failing 8"},
    {"incons-data.zip", "opened 1 failing 8"},
    {"incons-ef-central-size-wrong.zip", "opened 1"},
    {"incons-ef-local-dupe-utf8comment.zip", "opened 1"},
    {"incons-ef-local-dupe-utf8name.zip", "opened 1"},
    {"incons-ef-local-dupe-zip64-v1.zip", "opened 1"},
    {"incons-ef-local-dupe-zip64-v2.zip", "opened 1"},
    {"incons-ef-local-id-size.zip", "opened 1"},
    {"incons-ef-local-id.zip", "opened 1"},
    {"incons-ef-local-size.zip", "opened 1 failing 8"},
    {"incons-ef-local-utf8name-ascii.zip", "opened 1"},
    {"incons-eocd-magic-bad.zip", "opened 1"},
    {"incons-eocd64-gap.zip", "opened 1"},
    // Its Zip64 directory stands where its Zip64 end record says: no prefix moves the entry,
    // which reads as Python reads it.
    {"incons-eocd64.zip", "opened 1"},
    {"incons-file-count-high.zip", "read error"},
    {"incons-file-count-low.zip", "opened 2"},
    {"incons-file-count-overflow.zip", "opened 1"},
    {"incons-filename-nul-byte.zip", "opened 1"},
    {"incons-gap-before-cd.zip", "opened 1"},
    {"incons-gap-before-eocd.zip", "opened 1"},
    {"incons-gap-before-local.zip", "opened 2"},
    {"incons-local-compression-method.zip", "opened 1"},
    {"incons-local-compsize-larger.zip", "opened 1"},
    {"incons-local-compsize-smaller.zip", "opened 1"},
    {"incons-local-crc.zip", "opened 1"},
    {"incons-local-filename-long.zip", "opened 1 failing 0"},
    {"incons-local-filename-missing.zip", "opened 1"},
    {"incons-local-filename-short.zip", "opened 1 failing 8"},
    {"incons-local-filename.zip", "opened 1"},
    {"incons-local-magic-bad.zip", "opened 1"},
    {"incons-local-size-larger.zip", "opened 1"},
    {"incons-stored-size.zip", "opened 1 failing 8"},
    {"incons-streamed-2.zip", "opened 1"},
    {"incons-streamed.zip", "opened 1"},
    {"incons-trailing-garbage.zip", "opened 1"},
    {"incons-zip64-checkcons-overflow.zip", "opened 1 failing 0"},
    {"junk-at-end.zip", "opened 3"},
    {"junk-at-start.zip", "opened 3"},
    {"lzma-no-eos.zip", "opened 1 failing 55"},
    {"manyfiles-zip.zip", "opened 7"},
    {"mtime-default.zip", "opened 1"},
    {"mtime-dstpoint-deflated.zip", "opened 1"},
    {"mtime-dstpoint.zip", "opened 1"},
    {"mtime-post-dstpoint-deflated.zip", "opened 1"},
    {"mtime-post-dstpoint.zip", "opened 1"},
    {"mtime-pre-dstpoint-deflated.zip", "opened 1"},
    {"mtime-pre-dstpoint.zip", "opened 1"},
    {"multidisk.zip", "opened 1 failing 45"},
    {"rename_ok.zip", "opened 4"},
    {"stored-no-eos.zip", "opened 1"},
    {"streamed-zip64.zip", "opened 1"},
    {"streamed.zip", "opened 1"},
    {"test-cp437-comment-utf-8.zip", "opened 16"},
    {"test-cp437-fc-utf-8-filename.zip", "opened 1"},
    {"test-cp437-fc.zip", "opened 1"},
    {"test-cp437.zip", "opened 16"},
    {"test-utf8-unmarked.zip", "opened 1"},
    {"test-utf8.zip", "opened 1"},
    {"test.zip", "opened 3"},
    {"test2.zip", "opened 1"},
    {"test_open_multiple.zip", "opened 1"},
    {"testbuffer.zip", "opened 1"},
    {"testbuffer_reopen.zip", "opened 2"},
    {"testbzip2.zip", "opened 1 failing 55"},
    {"testbzip2broken.zip", "opened 1 failing 55"},
    {"testchanged.zip", "opened 4"},
    {"testchangedlocal.zip", "opened 4"},
    {"testcomment.zip", "opened 4"},
    {"testcomment13.zip", "opened 2"},
    {"testcommentremoved.zip", "opened 4"},
    {"testdeflated.zip", "opened 1"},
    {"testdeflated2.zip", "opened 2"},
    {"testdir.zip", "opened 2"},
    {"testempty.zip", "opened 0"},
    {"testextrabytes.zip", "opened 1"},
    {"testfile-UTF8.zip", "opened 1"},
    {"testfile-cp437.zip", "opened 1"},
    {"testfile-ef.zip", "opened 1"},
    {"testfile-long-comment.zip", "opened 1"},
    {"testfile-lzma.zip", "opened 1 failing 55"},
    {"testfile-plus-extra.zip", "opened 1"},
    {"testfile-stored-dos.zip", "opened 1"},
    {"testfile-torrentzip-modified.zip", "opened 1"},
    {"testfile-torrentzip.zip", "opened 1"},
    {"testfile-truncated.zip", "opened 1"},
    {"testfile-xz.zip", "opened 1 failing 55"},
    {"testfile-zstd.zip", "opened 1 failing 55"},
    {"testfile.zip", "opened 1"},
    {"testfile0.zip", "opened 1"},
    {"testfile2014.zip", "opened 1"},
    {"teststdin.zip", "opened 1"},
    {"teststored.zip", "opened 1"},
    {"utf-8-standardization-input.zip", "opened 1"},
    {"utf-8-standardization-output.zip", "opened 1"},
    {"zip-in-archive-comment.zip", "opened 1"},
    {"zip64-3mf.zip", "opened 1"},
    {"zip64-in-archive-comment.zip", "opened 1"},
    {"zip64.zip", "opened 1"},
    {"zipcmp_zip_dir.zip", "opened 3"},
};

// AddressSanitizer reserves terabytes of address space for its shadow memory, so an
// address-space limit would stop it before it starts: under it, its own RSS limit serves.
constexpr bool Sanitized =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// The probe's outcome in the table's words; a crash, a hang or a runaway allocation shows as
// its exit.
std::string Probe(const ziptest::TempDir& dir, const std::string& file) {
    const std::string out = dir / "out.txt";
    const std::string scratch = dir / "x";
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);
    const std::string limit =
        Sanitized ? "ASAN_OPTIONS=hard_rss_limit_mb=2048 " : "ulimit -v 2097152; ";
    const std::string command = limit + "timeout 60 '" + std::string(ZIP_CORPUS_PROBE) + "' '" +
                                file + "' '" + scratch + "' > '" + out + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string text = ziptest::ReadFile(out);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 3 || WEXITSTATUS(status) == 1)
        return "exit " + std::to_string(status) + ": " + text.substr(0, 2000);
    std::string failing;
    std::string last;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("failed\t", 0) == 0)
            failing += " " + line.substr(line.rfind('\t') + 1);
        if (!line.empty())
            last = line;
    }
    if (last.rfind("opened ", 0) == 0)
        return last.substr(0, last.find(" failed")) + (failing.empty() ? "" : " failing" + failing);
    if (last.rfind("engine\t", 0) == 0)
        return "error " + last.substr(7, last.find('\t', 7) - 7);
    if (last == "stream\tErreur de lecture du flux")
        return "read error";
    return last;
}

} // namespace

TEST(Corpus, EveryArchiveHasItsExpectedOutcome) {
    if (!std::filesystem::is_directory(CorpusDir))
        GTEST_SKIP() << "no corpus at " << CorpusDir;
    ziptest::TempDir dir;
    std::map<std::string, std::string> expected;
    for (const Outcome& o : Expected)
        expected[o.file] = o.outcome;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || entry.path().extension() != ".zip")
            continue;
        ++files;
        const auto it = expected.find(name);
        if (it == expected.end()) {
            ADD_FAILURE() << name << ": no expected outcome";
            continue;
        }
        EXPECT_EQ(Probe(dir, entry.path().string()), it->second) << name;
    }
    EXPECT_EQ(files, std::size(Expected));
}
