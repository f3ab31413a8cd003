// The file an update writes the new archive into: an unnamed file in the archive's own folder
// (or, where the file system cannot make one, a hidden sibling), which takes the archive's
// name in one rename once it is complete and on the disk. Until then the old archive is
// untouched, and a process killed at any moment leaves it as it was. What is written goes to
// the disk while the update goes on, so that the last flush waits for little.
#pragma once

#include "vcl/Streams.h"

#include <cstdint>
#include <memory>
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
    // Sets the file's end; what was written past it no longer waits to be flushed.
    void SetSize(std::int64_t size) override;
    // The errno of the last failed write or copy, 0 when none failed.
    int Error() const { return error_; }
    void ClearError() { error_ = 0; }

    // Copies the first count bytes of the file open as from to the start of this one,
    // cloning blocks where the file system can, and leaves the position after them. False
    // with Error() set when it could not.
    bool CopyHead(int from, std::int64_t count);
    // Copies count bytes of the file open as from, at offset, to this file's position, and
    // leaves the position after them. False when it could not: with Error() set when the
    // copy failed, 0 when from ended before.
    bool Copy(int from, std::int64_t offset, std::int64_t count);

    // Flushes the data, puts the file in place of target and flushes the folder. Raises
    // std::system_error with the system's reason; target is untouched then.
    void Publish();

private:
    // Starts writing to the disk what was written below end, a step at a time, and waits for
    // the step before: the flush at the end finds little left, and the pages an update
    // dirties stay few however large the archive.
    void WriteBack(std::int64_t end);

    std::string target_;
    std::string folder_;
    std::string named_; // the hidden sibling's name while it has one
    int error_ = 0;
    bool published_ = false;
    std::int64_t submitted_ = 0;             // below it, writing to the disk has started
    std::int64_t waited_ = 0;                // below it, the data is on the disk
    std::unique_ptr<std::uint8_t[]> buffer_; // for copies the kernel does not make
};

} // namespace zip
