// Runs one update batch for the interruption test and reports its events on standard output,
// one line each, so that the test can kill it at a chosen point: when an event's line equals
// the stop argument the child says "stopped" and waits to be killed.
// A full disk is reported and given up, a failed entry reported and ignored.
// Arguments: archive, base folder, mask to add, stop line ("" runs to the end).
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string stop;
bool processSeen = false;

void Report(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (line == stop) {
        std::printf("stopped\n");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
}

const char* Phase(zip::TZAProgressPhase p) {
    return p == zip::ppStart ? "start" : p == zip::ppEnd ? "end" : "process";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5)
        return 64;
    stop = argv[4];
    zip::TZipArchiver a(nullptr);
    a.SetName("ZipArchiver1");
    a.SetFileName(argv[1]);
    a.BaseDir = argv[2];
    a.OnOverallProgress = [](vcl::TObject*, double, zip::TZAProcessOperation,
                             zip::TZAProgressPhase phase, bool&) {
        if (phase != zip::ppProcess)
            Report(std::string("overall ") + Phase(phase));
    };
    a.OnFileProgress = [](vcl::TObject*, const std::string&, double, zip::TZAProcessOperation,
                          zip::TZAProgressPhase phase, bool&) {
        // The first data step of the file only: later ones add nothing for the test.
        if (phase == zip::ppProcess && processSeen)
            return;
        processSeen = processSeen || phase == zip::ppProcess;
        Report(std::string("file ") + Phase(phase));
    };
    // A full disk is given up at once; a failed entry is reported and left out.
    a.OnDiskFull = [](vcl::TObject*, std::int32_t, const std::string&, bool& cancel) {
        Report("disk full");
        cancel = true;
    };
    a.OnProcessFileFailure = [](vcl::TObject*, const std::string&, zip::TZAProcessOperation,
                                std::int32_t native, std::int32_t, const std::string& message,
                                zip::TZAAction& action) {
        Report("failure " + std::to_string(native) + " " + message);
        action = zip::fxaIgnore;
    };
    try {
        a.OpenArchive();
        Report("open");
        a.BeginUpdate();
        a.AddFiles(argv[3], 0x20, "");
        a.EndUpdate();
        a.CloseArchive();
        Report("done");
        return 0;
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
        return 2;
    }
}
