// A stand-in for a program that the tests start: it notes how it was started (the number of
// its arguments, whether it leads a session of its own) in the file named by
// KESTROVA_START_RECORD, and ends.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char**) {
    const char* record = std::getenv("KESTROVA_START_RECORD");
    if (!record)
        return 1;
    // Written under a temporary name and renamed, so a reader never sees half a line.
    std::string temp = std::string(record) + ".part";
    FILE* out = std::fopen(temp.c_str(), "w");
    if (!out)
        return 1;
    std::fprintf(out, "arguments=%d own-session=%d\n", argc - 1, getsid(0) == getpid() ? 1 : 0);
    std::fclose(out);
    return std::rename(temp.c_str(), record) == 0 ? 0 : 1;
}
