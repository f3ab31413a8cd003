#include "ipwatch/API_LiberationProcessus.h"

#include "platform/Processes.h"

namespace ipwatch {

void LibereMemoireProcessus(const std::string& ExeName) {
    for (const platform::ProcessEntry& entry : platform::ProcessSnapshot()) {
        if (entry.ExeName == ExeName) {
            platform::EmptyWorkingSet(entry.Pid);
            return;
        }
    }
}

} // namespace ipwatch
