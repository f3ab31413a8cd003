// Where a processing run or an update pass stands: how many files it has done and has to do,
// how far the current file is, and whether a handler cancelled. The data loops share it with
// the component by reference; its Cancel is the one passed to every progress event.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zip {

class TZAProgressState {
public:
    std::int32_t ProcessedFileNo = 0;    // entries finished so far in the run
    std::int32_t ProcessedFileCount = 0; // entries the run processes
    bool Cancel = false;
    // The data loops fire their progress events only while it is set; runs set it at their
    // start and nothing clears it.
    bool Enabled = false;
    // The password prompt was cancelled for the current entry, which is then skipped.
    bool SkipFile = false;
    long double FileBytesDone = 0;
    long double FileBytesTotal = 0;

    // A run begins: nothing counted, nothing cancelled, progress events on.
    void BeginRun() {
        ProcessedFileNo = 0;
        ProcessedFileCount = 0;
        Cancel = false;
        Enabled = true;
    }

    // The share of the current file done, 0 to 100.
    double FilePercent() const { return static_cast<double>(FileShare() * 100); }
    // (files done + share of the current file) over the files of the run, 0 to 100.
    double OverallPercent() const {
        const long double files = std::max(ProcessedFileCount, 1);
        return static_cast<double>((FileShare() + ProcessedFileNo) / files * 100);
    }

private:
    long double FileShare() const {
        return FileBytesTotal > 0 ? FileBytesDone / FileBytesTotal : 0;
    }
};

} // namespace zip
