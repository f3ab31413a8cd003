// The file an update writes the new archive into: an unnamed file in the archive's own folder
// (or, where the file system cannot make one, a hidden sibling), which takes the archive's
// name in one rename once it is complete and on the disk. Until then the old archive is
// untouched, and a process killed at any moment leaves it as it was.
#pragma once

#include "vcl/Streams.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace zip {

// Creates a new file, for reading and writing, under "prefix" + 8 random hex digits + suffix,
// drawing again while the name is taken; -1 with errno when it cannot.
int CreateRandomlyNamedFile(const std::string& prefix, const std::string& suffix, mode_t mode,
                            std::string& name);

class TZASiblingFile : public vcl::THandleStream {
public:
    // A new, empty file beside target, with the permission bits (and, where allowed, the
    // owner) of the file open as like. Raises std::system_error with the system's reason.
    TZASiblingFile(const std::string& target, int like);
    // A file that was never published goes with its stream.
    ~TZASiblingFile() override;

    // Writes all of count, or fails with the reason kept for Error().
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    // The errno of the last failed write or copy, 0 when none failed.
    int Error() const { return error_; }
    void ClearError() { error_ = 0; }

    // Copies the first count bytes of the file open as from to the start of this one,
    // cloning blocks where the file system can, and leaves the position after them. False
    // with Error() set when it could not.
    bool CopyHead(int from, std::int64_t count);

    // Flushes the data, puts the file in place of target and flushes the folder. Raises
    // std::system_error with the system's reason; target is untouched then.
    void Publish();

private:
    std::string target_;
    std::string folder_;
    std::string named_; // the hidden sibling's name while it has one
    int error_ = 0;
    bool published_ = false;
};

} // namespace zip
