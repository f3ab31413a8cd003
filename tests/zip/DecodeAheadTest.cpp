// Small entries of an archive file are decoded ahead of their turn on a second core. A run
// over the same bytes read through a stream in memory, which is never read ahead, is the
// reference: every event, answer, failure and file must come out the same.
#include "CipherSupport.h"
#include "LoopSupport.h"
#include "zip/ZAExcept.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using namespace zip;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

class TAheadArchiver : public ziptest::TLoopArchiver {
public:
    using TLoopArchiver::TLoopArchiver;
    // The same bytes through a stream that is not the archiver's own file.
    void ReadFromMemory(const std::string& archive) {
        auto memory = std::make_unique<vcl::TMemoryStream>();
        memory->LoadFromFile(archive);
        FArchiveStream = std::move(memory);
    }
};

// What one run did: its events in order, and the files it left (bytes, mode, time).
struct Outcome {
    std::vector<std::string> events;
    std::map<std::string, std::string> files;
    // The threads this process had at the start of each entry. (A thread just joined may
    // still be listed for a moment on a loaded machine: only the median counts.)
    std::vector<std::size_t> threads;

    std::size_t MedianThreads() {
        std::sort(threads.begin(), threads.end());
        return threads.empty() ? 0 : threads[threads.size() / 2];
    }
};

// A file's bytes in a line that a failed comparison can show.
std::string Digest(const std::string& bytes) {
    return std::to_string(bytes.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>{}(bytes));
}

std::size_t ThreadsNow() {
    const fs::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(fs::begin(tasks), fs::end(tasks)));
}

struct RunCase {
    const char* what;
    // Sets up the archiver's answers for a run; log adds a line to the run's events.
    std::function<void(TAheadArchiver&, std::function<void(std::string)> log)> answers;
};

struct DecodeAhead : ::testing::Test {
    TempDir dir;
    std::string src = dir / "src";
    std::string archive = dir / "a.zip";

    // Forty small files of every size up to some 300 KB, one empty, one stored of 1.5 MB
    // (read in two steps), one large (decoded in its turn), a folder, one entry encrypted,
    // and one stored entry whose data are damaged.
    void SetUp() override {
        fs::create_directories(src + "/sub/deep");
        for (int i = 0; i < 40; ++i) {
            const std::size_t size = static_cast<std::size_t>(i) * i * 7919 % 300000 + i;
            WriteFile(src + "/sub/f" + std::to_string(i) + ".txt",
                      i % 3 ? ziptest::CompressibleText(size) : ziptest::RandomBytes(size, i));
        }
        WriteFile(src + "/empty.txt", "");
        WriteFile(src + "/noise.bin", ziptest::RandomBytes(1500000, 3));
        WriteFile(src + "/big.txt", ziptest::CompressibleText(std::size_t{5} << 20));
        WriteFile(src + "/sub/deep/bad.bin", "damaged " + std::string(5000, 'x'));
        WriteFile(src + "/secret.txt", "under a password");
        ziptest::MakeWithoutImpostors(
            [&] {
                ASSERT_TRUE(ziptest::Run("cd '" + src +
                                         "' && zip -q -r -n .bin ../a.zip sub empty.txt noise.bin "
                                         "big.txt && zip -q -P pw ../a.zip secret.txt"));
            },
            archive, {""});
        std::string bytes = ReadFile(archive);
        const auto at = bytes.find("damaged ");
        ASSERT_NE(at, std::string::npos);
        bytes[at + 100] = 'y';
        WriteFile(archive, bytes);
    }

    Outcome Extract(const RunCase& c, bool fromMemory) {
        const std::string out = dir / (fromMemory ? "memory" : "file");
        fs::remove_all(out);
        vcl::TComponent owner{nullptr};
        auto* a = vcl::Create<TAheadArchiver>(&owner);
        a->SetFileName(archive);
        a->OpenArchive();
        if (fromMemory)
            a->ReadFromMemory(archive);
        a->BaseDir = out;
        Outcome outcome;
        auto log = [&](std::string line) { outcome.events.push_back(std::move(line)); };
        a->OnConfirmProcessFile = [&](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                      bool&) { log("confirm " + name); };
        a->OnExtractFile = [&](vcl::TObject*, std::string&, std::uint32_t&, const std::string&) {
            outcome.threads.push_back(ThreadsNow());
        };
        a->OnFileProgress = [&](vcl::TObject*, const std::string& name, double percent,
                                TZAProcessOperation, TZAProgressPhase phase, bool&) {
            char text[64];
            std::snprintf(text, sizeof text, " %.9f %d", percent, static_cast<int>(phase));
            log("file " + name + text);
        };
        a->OnOverallProgress = [&](vcl::TObject*, double percent, TZAProcessOperation,
                                   TZAProgressPhase phase, bool&) {
            char text[64];
            std::snprintf(text, sizeof text, "overall %.9f %d", percent, static_cast<int>(phase));
            log(text);
        };
        a->OnPassword = [&](vcl::TObject*, const std::string& name, std::string& password, bool&) {
            log("password " + name);
            password = "pw";
        };
        a->OnProcessFileFailure = [&](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                      std::int32_t native, std::int32_t, const std::string&,
                                      TZAAction& action) {
            log("failure " + name + " " + std::to_string(native));
            action = fxaIgnore;
        };
        c.answers(*a, log);
        a->ExtractFiles("*.*", faAllEntries, "");
        log(a->ProgressCancel() ? "cancelled" : "ended");
        a->CloseArchive();

        if (fs::exists(out))
            for (const auto& e : fs::recursive_directory_iterator(out)) {
                struct stat st {};
                ::stat(e.path().c_str(), &st);
                const std::string name = fs::relative(e.path(), out).string();
                // (A folder's time is when the run wrote into it last.)
                outcome.files[name] = e.is_regular_file() ? std::to_string(st.st_mode) + " " +
                                                                std::to_string(st.st_mtime) + " " +
                                                                Digest(ReadFile(e.path().string()))
                                                          : "folder " + std::to_string(st.st_mode);
            }
        return outcome;
    }
};

const RunCase runCases[] = {
    {"every entry", [](TAheadArchiver&, auto) {}},
    {"damaged data kept", [](TAheadArchiver& a, auto) { a.ExtractCorruptedFiles = true; }},
    {"a cancel in the twentieth file's data",
     [](TAheadArchiver& a, auto log) {
         auto steps = std::make_shared<int>(0);
         a.OnFileProgress = [log, steps](vcl::TObject*, const std::string& name, double,
                                         TZAProcessOperation, TZAProgressPhase phase,
                                         bool& cancel) {
             log("file " + name + " " + std::to_string(static_cast<int>(phase)));
             if (phase == ppProcess && ++*steps == 20)
                 cancel = true;
         };
     }},
    {"every third entry declined and the damaged one tried again",
     [](TAheadArchiver& a, auto log) {
         auto seen = std::make_shared<int>(0);
         auto retried = std::make_shared<bool>(false);
         a.OnConfirmProcessFile = [log, seen](vcl::TObject*, const std::string& name,
                                              TZAProcessOperation, bool& confirm) {
             log("confirm " + name);
             confirm = ++*seen % 3 != 0;
         };
         a.OnProcessFileFailure = [log, retried](vcl::TObject*, const std::string& name,
                                                 TZAProcessOperation, std::int32_t native,
                                                 std::int32_t, const std::string&,
                                                 TZAAction& action) {
             log("failure " + name + " " + std::to_string(native));
             action = *retried ? fxaIgnore : fxaRetry;
             *retried = true;
         };
     }},
    {"a handler that renames every file",
     [](TAheadArchiver& a, auto log) {
         a.OnExtractFile = [log](vcl::TObject*, std::string& name, std::uint32_t&,
                                 const std::string&) {
             log("extract " + name);
             name += ".out";
         };
     }},
};

TEST_F(DecodeAhead, ARunGivesTheSameEventsAndFilesAsOneReadInItsTurn) {
    for (const RunCase& c : runCases) {
        SCOPED_TRACE(c.what);
        const Outcome ahead = Extract(c, false);
        const Outcome inTurn = Extract(c, true);
        EXPECT_EQ(ahead.events, inTurn.events);
        EXPECT_EQ(ahead.files, inTurn.files);
    }

    // The file was read ahead, on a thread of its own; the stream in memory was not.
    EXPECT_GT(Extract(runCases[0], false).MedianThreads(),
              Extract(runCases[0], true).MedianThreads());

    // And the reference is right: every sound file whole, the damaged one reported and absent.
    const Outcome all = Extract(runCases[0], false);
    for (const auto& e : fs::recursive_directory_iterator(src)) {
        const std::string name = fs::relative(e.path(), src).string();
        if (name == "sub/deep/bad.bin")
            continue;
        ASSERT_TRUE(all.files.count(name)) << name;
        if (e.is_regular_file()) {
            EXPECT_TRUE(all.files.at(name).ends_with(" " + Digest(ReadFile(e.path().string()))))
                << name;
        }
    }
    EXPECT_FALSE(all.files.count("sub/deep/bad.bin"));
    EXPECT_EQ(std::count(all.events.begin(), all.events.end(),
                         "failure sub/deep/bad.bin " + std::to_string(zeBadEntryData)),
              1);
}

} // namespace
