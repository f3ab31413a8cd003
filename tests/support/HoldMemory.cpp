// A process with a known resident set: it maps the file it is given, reads every page of
// it, says "ready" on its standard output and waits until its standard input closes. The
// pages come from a file, so the system can take them away without any swap space.
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0)
        return 1;
    auto size = static_cast<size_t>(st.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED)
        return 1;
    const volatile char* bytes = static_cast<const char*>(mapped);
    unsigned long sum = 0;
    for (size_t i = 0; i < size; i += 4096)
        sum += static_cast<unsigned char>(bytes[i]);
    std::printf("ready %lu\n", sum);
    std::fflush(stdout);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    return 0;
}
