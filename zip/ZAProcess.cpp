// The processing loop: one operation over every selected entry, under the process-wide
// archiver lock, with its progress, confirmation and failure events.
#include "zip/ZADecodeAhead.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAEntryStarts.h"
#include "zip/ZAExcept.h"
#include "zip/ZAExtractRun.h"
#include "zip/ZAStrFunc.h"
#include "zip/ZipArchiver.h"

#include <algorithm>

namespace zip {

namespace {

bool ReportsProgress(TZAProcessOperation operation) {
    return operation == poExtract || operation == poTest;
}

bool ReadsEntries(TZAProcessOperation operation) {
    return operation == poExtract || operation == poTest;
}

// Sets a value for the run and takes it back however the run ends.
template <class T> class TForTheRun {
public:
    TForTheRun(T& slot, T value) : slot_(slot) { slot_ = std::move(value); }
    ~TForTheRun() { slot_ = T(); }
    TForTheRun(const TForTheRun&) = delete;
    TForTheRun& operator=(const TForTheRun&) = delete;

private:
    T& slot_;
};

} // namespace

void TZABaseArchiver::ProcessFiles(TZAProcessOperation Operation) {
    // Held for the whole run, events included; left on every way out.
    struct TArchiverLockGuard {
        TArchiverLockGuard() { EnterArchiverLock(); }
        ~TArchiverLockGuard() { LeaveArchiverLock(); }
        TArchiverLockGuard(const TArchiverLockGuard&) = delete;
        TArchiverLockGuard& operator=(const TArchiverLockGuard&) = delete;
    } lock;
    TZADirArray& dir = FDirManager->Directory;

    FEngine->Progress.BeginRun();
    for (std::int32_t i = 0; i < dir.Count(); ++i)
        if (dir.ItemPtr(i).Selected)
            ++FEngine->Progress.ProcessedFileCount;

    const bool progress = ReportsProgress(Operation);
    // Reading entries: the entries' starts once for the whole run.
    TForTheRun<std::shared_ptr<const TZAEntryStarts>> starts(
        FEntryStarts, ReadsEntries(Operation) ? std::make_shared<TZAEntryStarts>(dir) : nullptr);
    // What extraction learns about the destination holds for this run only.
    TForTheRun<std::unique_ptr<TZAExtractRun>> extractRun(FExtractRun, nullptr);
    // Made once the run's entry starts are set: it takes them as they stand. A set of volumes
    // is read in turn only.
    TForTheRun<std::unique_ptr<TZADecodeAhead>> decodeAhead(
        FDecodeAhead, Operation == poExtract && FSpanningMode == smNone
                          ? std::make_unique<TZADecodeAhead>(*FEngine)
                          : nullptr);
    TZAAction action = fxaIgnore;
    // A progress dispatcher without a handler clears the flag; a cancel asked for earlier
    // must survive it.
    auto endEvent = [this](auto fire) {
        const bool saved = FEngine->Progress.Cancel;
        fire();
        FEngine->Progress.Cancel = FEngine->Progress.Cancel || saved;
    };

    bool started = true;
    if (progress) {
        DoOverallProgress(0.0, Operation, ppStart, FEngine->Progress.Cancel);
        started = !FEngine->Progress.Cancel;
    }

    if (started) {
        std::int32_t i = 0;
        while (i < dir.Count()) {
            if (!dir.ItemPtr(i).Selected) {
                ++i;
                continue;
            }
            dir.ItemPtr(i).Operation = Operation;
            bool removed = false;
            bool stop = false;
            do {
                action = fxaIgnore;
                std::string name = dir.ItemPtr(i).StoredName.str();
                try {
                    bool confirm = true;
                    DoConfirmProcessFile(name, Operation, confirm);
                    if (!confirm)
                        break;
                    const std::string base = BaseFolder(BaseDir);
                    const std::string stored = dir.ItemPtr(i).StoredName.str();
                    if (progress) {
                        DoFileProgress(stored, 0.0, Operation, ppStart, FEngine->Progress.Cancel);
                        if (FEngine->Progress.Cancel) {
                            stop = true;
                            break;
                        }
                    }
                    const std::int32_t before = dir.Count();
                    switch (Operation) {
                    case poDelete:
                        DeleteItem(i);
                        break;
                    case poUpdate:
                        UpdateItem(i, name, base);
                        break;
                    case poExtract:
                        ExtractItemToFile(i, name, base);
                        break;
                    case poTest:
                        TestItem(i, name);
                        break;
                    default:
                        break;
                    }
                    removed = dir.Count() < before;
                    if (progress)
                        endEvent([&] {
                            DoFileProgress(stored, 100.0, Operation, ppEnd,
                                           FEngine->Progress.Cancel);
                        });
                    if (FEngine->Progress.Cancel) {
                        stop = true;
                        break;
                    }
                    ++FEngine->Progress.ProcessedFileNo;
                } catch (const EZAException& e) {
                    DoProcessFileFailure(name, Operation, e.NativeError(), e.ErrorCode(),
                                         e.Message(), action);
                } catch (const vcl::EStreamError& e) {
                    // A damaged entry (its header or data past the end of the file) fails on
                    // its own: the sound entries after it are still read.
                    if (!ReadsEntries(Operation))
                        throw;
                    DoProcessFileFailure(name, Operation, 0, 0, e.Message(), action);
                }
            } while (action == fxaRetry);
            if (stop || action == fxaAbort || FEngine->Progress.Cancel)
                break;
            if (!removed)
                ++i;
        }

        if (progress)
            endEvent([&] { DoOverallProgress(100.0, Operation, ppEnd, FEngine->Progress.Cancel); });
    }

    if (FEngine->Progress.Cancel || action == fxaAbort)
        ClearUpdateCounter();
}

} // namespace zip
