#include "WriteFloor.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bench {

TreeInMemory LoadTree(const fs::path& root) {
    TreeInMemory tree;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        const std::string name = e.path().lexically_relative(root).string();
        if (e.is_directory()) {
            tree.folders.push_back(name);
        } else if (e.is_regular_file()) {
            std::ifstream in(e.path(), std::ios::binary);
            tree.files.emplace_back(name, std::string(std::istreambuf_iterator<char>(in), {}));
        }
    }
    // A folder's name sorts before the names below it.
    std::sort(tree.folders.begin(), tree.folders.end());
    return tree;
}

bool WriteTree(const TreeInMemory& tree, const fs::path& dest) {
    bool ok = true;
    for (const std::string& folder : tree.folders)
        ok = ::mkdir((dest / folder).c_str(), 0777) == 0 && ok;
    const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    for (const auto& [name, bytes] : tree.files) {
        const int fd = ::open((dest / name).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            ok = false;
            continue;
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        const bool written =
            done == bytes.size() && ::futimens(fd, times) == 0 && ::fchmod(fd, 0644) == 0;
        ok = ::close(fd) == 0 && written && ok;
    }
    return ok;
}

} // namespace bench
