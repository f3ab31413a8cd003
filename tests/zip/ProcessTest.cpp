// The processing loop: the order of its events, confirmation, the failure answers, cancel
// from any progress event, the counts, the delete, update and test steps, and the lock that
// keeps two archivers from running at once.
#include "LoopSupport.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace zip;
using ziptest::Exists;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

const char* PhaseName(TZAProgressPhase p) {
    return p == ppStart ? "start" : p == ppEnd ? "end" : "process";
}

struct Loop : ::testing::Test {
    // Declared before the archiver's owner, so that they outlive the archiver, whose handlers
    // reach them, and its archive file.
    TempDir dir;
    vcl::TScriptedDialogs dialogs;
    std::vector<std::string> log; // events, ppProcess left out
    std::vector<std::int32_t> failures;
    // What the handlers answer.
    std::string refuse;                      // confirmation answered False for this entry
    std::function<TZAAction(int)> onFailure; // by failure number, from 1
    std::function<bool(const std::string&)> cancelAtFileEnd;
    vcl::TComponent owner{nullptr};
    ziptest::TLoopArchiver* a = vcl::Create<ziptest::TLoopArchiver>(&owner);

    Loop() {
        a->SetName("ZipArchiver1");
        a->BaseDir = dir / "out";
        a->OnOverallProgress = [this](vcl::TObject*, double p, TZAProcessOperation,
                                      TZAProgressPhase phase, bool&) {
            if (phase != ppProcess)
                log.push_back(std::string("overall ") + PhaseName(phase) + " " +
                              std::to_string(static_cast<int>(p)));
        };
        a->OnFileProgress = [this](vcl::TObject*, const std::string& name, double p,
                                   TZAProcessOperation, TZAProgressPhase phase, bool& cancel) {
            if (phase == ppProcess)
                return;
            log.push_back(std::string("file ") + name + " " + PhaseName(phase) + " " +
                          std::to_string(static_cast<int>(p)));
            if (phase == ppEnd && cancelAtFileEnd && cancelAtFileEnd(name))
                cancel = true;
        };
        a->OnConfirmProcessFile = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation, bool& confirm) {
            log.push_back("confirm " + name);
            confirm = name != refuse;
        };
        a->OnProcessFileFailure = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation, std::int32_t native, std::int32_t,
                                         const std::string&, TZAAction& action) {
            log.push_back("failure " + name + " " + std::to_string(native));
            failures.push_back(native);
            action = onFailure ? onFailure(static_cast<int>(failures.size())) : fxaIgnore;
        };
    }

    void Archive(const std::string& body) {
        ziptest::PythonZip(dir, dir / "a.zip", body);
        a->Load(dir, dir / "a.zip");
    }
    void ThreeEntries() { Archive("for n in 'abc': z.writestr(n + '.txt', n * 10)"); }
    // The second entry's data no longer matches its CRC.
    void SecondDamaged() {
        ThreeEntries();
        std::string bytes = ReadFile(dir / "a.zip");
        bytes[bytes.find("bbbbbbbbbb")] = 'B';
        WriteFile(dir / "a.zip", bytes);
        a->Load(dir, dir / "a.zip");
    }
};

TEST_F(Loop, EventsOfARunInOrder) {
    Archive("z.writestr('a.txt', 'a'); z.writestr('d/b.txt', 'b')");
    a->Run(poExtract);
    const std::vector<std::string> expected = {
        "overall start 0", "confirm a.txt",        "file a.txt start 0",   "file a.txt end 100",
        "confirm d/b.txt", "file d/b.txt start 0", "file d/b.txt end 100", "overall end 100"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(a->ProcessedFileNo(), 2);
    EXPECT_EQ(a->ProcessedFileCount(), 2);
}

TEST_F(Loop, AnEmptyArchiveFiresOnlyTheOverallEvents) {
    Archive("");
    a->Run(poExtract);
    EXPECT_EQ(log, (std::vector<std::string>{"overall start 0", "overall end 100"}));
}

TEST_F(Loop, OnlySelectedEntriesAreCountedAndRun) {
    ThreeEntries();
    a->Entry(1).Selected = true;
    a->ProcessFiles(poExtract);
    EXPECT_EQ(a->ProcessedFileCount(), 1);
    EXPECT_TRUE(Exists(dir / "out/b.txt"));
    EXPECT_FALSE(Exists(dir / "out/a.txt"));
    EXPECT_EQ(a->Entry(1).Operation, poExtract);
}

TEST_F(Loop, ARefusedConfirmationSkipsTheEntry) {
    ThreeEntries();
    refuse = "b.txt";
    a->Run(poExtract);
    EXPECT_EQ(std::count(log.begin(), log.end(), "file b.txt start 0"), 0);
    EXPECT_FALSE(Exists(dir / "out/b.txt"));
    EXPECT_EQ(ReadFile(dir / "out/c.txt"), "cccccccccc");
    EXPECT_EQ(a->ProcessedFileNo(), 2);
}

struct ActionCase {
    const char* label;
    std::vector<TZAAction> answers; // one per failure
    int failures;
    bool thirdExtracted;
    int processed;
};

const ActionCase actionCases[] = {
    {"IgnoreGoesOn", {fxaIgnore}, 1, true, 2},
    {"RetryOnceThenIgnore", {fxaRetry, fxaIgnore}, 2, true, 2},
    {"AbortStops", {fxaAbort}, 1, false, 1},
};

struct Actions : Loop, ::testing::WithParamInterface<ActionCase> {};

TEST_P(Actions, TheFailureAnswerDecides) {
    const ActionCase& c = GetParam();
    SecondDamaged();
    a->SetUpdateCounter(1);
    onFailure = [&](int n) { return c.answers[static_cast<std::size_t>(n - 1)]; };
    a->Run(poExtract);
    EXPECT_EQ(static_cast<int>(failures.size()), c.failures);
    for (std::int32_t code : failures)
        EXPECT_EQ(code, zeBadEntryData);
    EXPECT_EQ(std::count(log.begin(), log.end(), "confirm b.txt"), c.failures);
    EXPECT_EQ(Exists(dir / "out/c.txt"), c.thirdExtracted);
    EXPECT_FALSE(Exists(dir / "out/b.txt"));
    EXPECT_EQ(a->ProcessedFileNo(), c.processed);
    EXPECT_EQ(log.back(), "overall end 100");
    EXPECT_EQ(a->UpdateCounter(), c.thirdExtracted ? 1 : 0); // an abort drops pending updates
}

INSTANTIATE_TEST_SUITE_P(Answers, Actions, ::testing::ValuesIn(actionCases),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(Loop, WithoutAFailureHandlerTheDialogAsks) {
    SecondDamaged();
    a->OnProcessFileFailure = nullptr;
    dialogs->Press("&Abandonner");
    a->Run(poExtract);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_NE(dialogs->shown[0].text.find("File processing error"), std::string::npos);
    EXPECT_FALSE(Exists(dir / "out/c.txt"));
}

TEST_F(Loop, CancelAtAFileEndStopsBeforeTheNextEntry) {
    ThreeEntries();
    a->SetUpdateCounter(1);
    cancelAtFileEnd = [](const std::string& name) { return name == "a.txt"; };
    a->Run(poExtract);
    EXPECT_EQ(log.back(), "overall end 100");
    EXPECT_EQ(std::count(log.begin(), log.end(), "confirm b.txt"), 0);
    EXPECT_TRUE(a->ProgressCancel()); // kept although the overall handler left it alone
    EXPECT_EQ(a->UpdateCounter(), 0);
}

TEST_F(Loop, CancelAtTheOverallStartFiresNothingMore) {
    ThreeEntries();
    a->OnOverallProgress = [this](vcl::TObject*, double, TZAProcessOperation,
                                  TZAProgressPhase phase, bool& cancel) {
        log.push_back(PhaseName(phase));
        cancel = true;
    };
    a->Run(poExtract);
    EXPECT_EQ(log, std::vector<std::string>{"start"});
    EXPECT_FALSE(Exists(dir / "out"));
}

TEST_F(Loop, CancelWithoutProgressHandlersSurvivesTheDefaultAnswer) {
    // The dispatchers without a handler answer "go on"; the flag set during the data must
    // still stop the run.
    ThreeEntries();
    a->OnOverallProgress = nullptr;
    a->OnFileProgress = [](vcl::TObject*, const std::string&, double, TZAProcessOperation,
                           TZAProgressPhase phase, bool& cancel) {
        if (phase == ppProcess)
            cancel = true;
    };
    a->Run(poExtract);
    EXPECT_TRUE(a->ProgressCancel());
    EXPECT_EQ(std::count(log.begin(), log.end(), "confirm b.txt"), 0);
    EXPECT_FALSE(Exists(dir / "out/a.txt"));
}

TEST_F(Loop, OtherErrorsLeaveTheRunAndTheLock) {
    ThreeEntries();
    a->OnConfirmProcessFile = [](vcl::TObject*, const std::string&, TZAProcessOperation, bool&) {
        throw std::runtime_error("out of paper");
    };
    EXPECT_THROW(a->Run(poExtract), std::runtime_error);
    EXPECT_EQ(log, std::vector<std::string>{"overall start 0"});
    std::thread other([] {
        ziptest::TTestArchiver::EnterArchiverLock(); // would hang if the run had kept it
        ziptest::TTestArchiver::LeaveArchiverLock();
    });
    other.join();
}

TEST_F(Loop, TheLockIsHeldForTheWholeRun) {
    ThreeEntries();
    ziptest::TLoopArchiver* b = vcl::Create<ziptest::TLoopArchiver>(&owner);
    b->BaseDir = dir / "out2";
    b->Load(dir, dir / "a.zip");
    std::atomic<bool> firstInside{false}, secondCalled{false}, firstDone{false};
    std::atomic<bool> secondSawFirstDone{false};
    a->OnConfirmProcessFile = [&](vcl::TObject*, const std::string&, TZAProcessOperation, bool&) {
        firstInside = true;
        while (!secondCalled)
            std::this_thread::yield();
        // Give the other thread every chance to get in if it could.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    a->OnOverallProgress = [&](vcl::TObject*, double, TZAProcessOperation, TZAProgressPhase phase,
                               bool&) {
        if (phase == ppEnd)
            firstDone = true;
    };
    b->OnOverallProgress = [&](vcl::TObject*, double, TZAProcessOperation, TZAProgressPhase phase,
                               bool&) {
        if (phase == ppStart)
            secondSawFirstDone = firstDone.load();
    };
    std::thread first([&] { a->Run(poExtract); });
    while (!firstInside)
        std::this_thread::yield();
    std::thread second([&] {
        secondCalled = true;
        b->Run(poExtract);
    });
    first.join();
    second.join();
    EXPECT_TRUE(secondSawFirstDone);
    EXPECT_TRUE(Exists(dir / "out2/c.txt"));
}

// ---- Delete, update and test ----------------------------------------------------------------

TEST_F(Loop, DeleteRemovesEverySelectedEntryWhileAnUpdateIsPending) {
    ThreeEntries();
    a->Entry(0).Selected = true;
    a->Entry(1).Selected = true;
    a->ProcessFiles(poDelete);
    EXPECT_EQ(failures, (std::vector<std::int32_t>{22, 22})); // no update pending
    EXPECT_EQ(a->Directory().Count(), 3);

    failures.clear();
    a->SetUpdateCounter(1);
    a->ProcessFiles(poDelete);
    EXPECT_TRUE(failures.empty());
    ASSERT_EQ(a->Directory().Count(), 1);
    EXPECT_EQ(a->Entry(0).StoredName, "c.txt");
    EXPECT_EQ(a->ProcessedFileNo(), 2);
}

TEST_F(Loop, TestChecksTheDataAndLeavesNoTemporaryFile) {
    SecondDamaged();
    fs::create_directories(dir / "tmp");
    a->TempDir = dir / "tmp";
    a->Run(poTest);
    EXPECT_EQ(failures, std::vector<std::int32_t>{8});
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    EXPECT_FALSE(Exists(dir / "out"));
    EXPECT_EQ(a->ProcessedFileNo(), 2);
}

TEST_F(Loop, TestingAFolderEntryMakesNoTemporaryFile) {
    Archive("z.writestr('d/', '')");
    fs::create_directories(dir / "tmp");
    a->TempDir = dir / "tmp";
    std::size_t seen = 0;
    a->OnFileProgress = [&](vcl::TObject*, const std::string&, double, TZAProcessOperation,
                            TZAProgressPhase, bool&) {
        seen += static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir / "tmp"), fs::directory_iterator()));
    };
    a->Run(poTest);
    EXPECT_EQ(seen, 0u);
    EXPECT_TRUE(failures.empty());
}

TEST_F(Loop, OtherOperationsRunTheConfirmationAlone) {
    ThreeEntries();
    a->Run(poRename);
    EXPECT_EQ(log, (std::vector<std::string>{"confirm a.txt", "confirm b.txt", "confirm c.txt"}));
    EXPECT_EQ(a->ProcessedFileNo(), 3);
}

} // namespace
