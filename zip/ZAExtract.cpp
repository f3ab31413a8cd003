// Extracting one entry: to a disk file below the base folder (its folders, the overwrite
// rules, date and attributes), or into any stream.
#include "platform/FileAttributes.h"
#include "vcl/SysUtils.h"
#include "zip/ZADecodeAhead.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAEntryStarts.h"
#include "zip/ZAExcept.h"
#include "zip/ZAExtractPath.h"
#include "zip/ZAExtractRun.h"
#include "zip/ZAFileDates.h"
#include "zip/ZAOverwrite.h"
#include "zip/ZARecords.h"
#include "zip/ZASiblingFile.h"
#include "zip/ZAStrFunc.h"
#include "zip/ZAWriteBehind.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zip {

namespace {

// A decoding that failed raises zeBadEntryData, unless the run was cancelled, the entry
// skipped, or damaged data are to be kept.
void CheckDecoded(bool decoded, TZABaseArchiver& archiver) {
    const TZAProgressState& progress = TZAEngine::Of(archiver).Progress;
    if (!decoded && !progress.Cancel && !progress.SkipFile && !archiver.ExtractCorruptedFiles)
        throw EZAException(zeBadEntryData, &archiver);
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// The permission bits an entry made on Unix carries in the high half of its attributes, less
// what the umask leaves out of every new file: an archive cannot make a file writable by
// others where the user's own programs would not. Never setuid, setgid or sticky; a symbolic
// link is written as a plain file holding the link's text, with the default mode, and never
// becomes a link.
bool EntryUnixMode(const TDirItem& entry, std::uint32_t attr, mode_t umask, mode_t& mode) {
    if (MadeByHost(entry.CentralHeader.VersionMadeBy) != HostUnix)
        return false;
    const auto unixMode = static_cast<mode_t>(UnixModeOf(attr));
    if (unixMode == 0 || (unixMode & S_IFMT) == S_IFLNK)
        return false;
    mode = unixMode & 0777 & ~umask;
    return true;
}

// A new file next to target, which takes target's place only once its data is complete: a
// failed extraction leaves the old file as it was. Created with 0666 less the umask, as the
// target itself would be. -1 when the folder cannot hold it.
int CreateSibling(const std::string& target, std::string& tempName) {
    return CreateRandomlyNamedFile(vcl::ExtractFilePath(target) + ".FC", ".tmp", 0666, tempName);
}

// Asks about removable medium once per folder and run.
bool OnRemovableDrive(TZAExtractRun& run, const std::string& target) {
    const std::string folder = vcl::ExtractFilePath(target);
    auto known = run.Removable.find(folder);
    if (known == run.Removable.end())
        known = run.Removable.emplace(folder, IsRemovableDrive(folder)).first;
    return known->second;
}

} // namespace

TZAExtractRun& TZABaseArchiver::ExtractRun(const std::string& BaseFolder) {
    if (!FExtractRun || FExtractRun->BaseFolder != BaseFolder)
        FExtractRun = std::make_unique<TZAExtractRun>(BaseFolder);
    return *FExtractRun;
}

const TDirItem& TZABaseArchiver::EntryToExtract(std::int32_t Index) {
    TZADirArray& dir = FDirManager->Directory;
    if (Index < 0 || Index >= dir.Count())
        throw EZAException(zeExtractIndex, this);
    return dir.ItemPtr(Index);
}

void TZABaseArchiver::ExtractItemToFile(std::int32_t Index, const std::string& Name,
                                        const std::string& BaseFolder) {
    const TDirItem& entry = EntryToExtract(Index);
    // A name longer than the engine holds is never cut to fit: two entries that differ only
    // past the cut would become one file.
    if (entry.NameTooLong)
        throw EZAException::CreateFmt(zeCannotCreateFile, {Name}, this);
    const std::uint32_t storedAttr = entry.CentralHeader.ExternalAttributes;
    const std::string stored = entry.StoredName.str();
    // The time the file will get, so that a file extracted before compares equal to it.
    const std::int32_t entryDate = EntryDosDateTime(entry);

    std::uint32_t attr = storedAttr;
    std::string name = Name;
    DoExtractFile(name, attr, entry.Detail().Comment.str());
    // A handler may name a full path of its own; below the base folder it is accepted, as
    // the overwrite prompt's is. A stored name's leading "/" only roots it in the base folder.
    std::string asStored = Name;
    std::replace(asStored.begin(), asStored.end(), '/', '\\');
    if (OnExtractFile && name != asStored && !name.empty() && name.front() == '/') {
        std::string relative;
        if (!RelativeToBase(BaseFolder, name, relative))
            throw EZAException::CreateFmt(zeCannotCreateFile, {name}, this);
        name = relative;
    }

    if (!FOptions->CreateDirs) {
        auto cut = name.find_last_of("/\\:");
        if (cut != std::string::npos)
            name.erase(0, cut + 1);
    }

    // The one place where the entry's name becomes a disk path: names that would lead out of
    // the base folder are refused before anything is created. Each folder is checked once a
    // run; the file's own part is checked in full only when something already stands there.
    TZAExtractRun& run = ExtractRun(BaseFolder);
    std::string target = ConfinedPath(BaseFolder, name, run.Folders, true);
    if (target.empty())
        throw EZAException::CreateFmt(zeCannotCreateFile, {name}, this);

    if (FOptions->CreateDirs) {
        std::size_t cut = name.size();
        while (cut > 0 && !IsSeparator(name[cut - 1]))
            --cut;
        const std::string folder =
            ConfinedPath(BaseFolder, name.substr(0, cut), run.Folders, false);
        bool made = !folder.empty() && run.Folders.Contains(folder);
        if (!made) {
            try {
                made = !folder.empty() && vcl::ForceDirectories(folder);
            } catch (...) {
                made = false;
            }
            if (made)
                run.Folders.Add(folder);
        }
        if (!made)
            throw EZAException::CreateFmt(zeCannotCreateFolder, {folder.empty() ? name : folder},
                                          this);
    }

    // A folder entry leaves only its folder; so does a name that names no file below the base.
    const bool folderEntry = (storedAttr & platform::faDirectory) != 0 ||
                             (!stored.empty() && IsSeparator(stored.back()));
    if (folderEntry || name.empty() || IsSeparator(name.back()) ||
        target == ConfinedPath(BaseFolder, ""))
        return;

    // A new file is created in place, never through a link; a failure removes it again.
    // Only a name that exists already goes through the sibling that replaces it once whole.
    int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    const bool created = fd >= 0;
    bool replacing = false;
    mode_t keptMode = 0;
    std::string temp;
    if (!created) {
        if (errno != EEXIST)
            throw EZAException::CreateFmt(zeCannotCreateFile, {target}, this);
        if (ConfinedPath(BaseFolder, name).empty())
            throw EZAException::CreateFmt(zeCannotCreateFile, {name}, this);
        if (std::int32_t existing = platform::FileGetAttr(target); existing != -1) {
            if (!FOptions->ReplaceReadOnly && (existing & platform::faReadOnly) != 0)
                return;
            // The entry is the source here, the disk file the target.
            switch (OverwriteRule(FOptions->OverwriteMode, entryDate, DosFileAge(target))) {
            case TZAOverwriteAnswer::Ask: {
                std::string dest = target;
                bool confirm = false;
                DoConfirmOverwrite(name, dest, confirm);
                if (!confirm)
                    return;
                if (dest != target) {
                    target = ConfinedFullPath(BaseFolder, dest);
                    if (target.empty())
                        throw EZAException::CreateFmt(zeCannotCreateFile, {dest}, this);
                }
                break;
            }
            case TZAOverwriteAnswer::Replace:
                break;
            case TZAOverwriteAnswer::Keep:
                return;
            }
        }

        // The file being replaced keeps its permission bits (an installed program stays
        // executable), less the read-only state, which replacing clears.
        if (struct stat st{}; ::stat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                throw EZAException::CreateFmt(zeCannotCreateFile, {target}, this);
            replacing = true;
            keptMode = (st.st_mode & 0777) | S_IWUSR;
        }

        fd = CreateSibling(target, temp);
        if (fd < 0)
            throw EZAException::CreateFmt(zeCannotCreateFile, {target}, this);
    }

    std::exception_ptr failure;
    bool discard = false;
    {
        vcl::THandleStream out(fd);
        try {
            if (entry.UncompressedSize >= LargeEntryBytes) {
                // A large file is written beside the decoding, on another core; a write that
                // failed there fails the entry as one that failed while decoding would.
                TZAWriteBehind behind(out);
                ExtractItemToStream(Index, behind);
                CheckDecoded(behind.Finish(), *this);
            } else if (std::optional<TZADecoded> decoded = DecodedAhead(Index, entry)) {
                CheckDecoded(FEngine->ReplayDecoded(out, entry, *decoded), *this);
            } else {
                ExtractItemToStream(Index, out);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        discard = failure || FEngine->Progress.SkipFile || FEngine->Progress.Cancel;
        (void)SetEntryFileTime(fd, entry);
        if (!discard) {
            mode_t mode = 0;
            if (FOptions->SetAttributes && EntryUnixMode(entry, attr, run.Umask, mode)) {
                (void)::fchmod(fd, mode);
                if ((attr & platform::faReadOnly) != 0)
                    (void)platform::FileSetAttrHandle(fd, platform::faReadOnly);
            } else {
                if (replacing)
                    (void)::fchmod(fd, keptMode);
                if (FOptions->SetAttributes)
                    (void)platform::FileSetAttrHandle(fd, attr);
            }
            // The old file goes only once the new one is on the disk, so a crash between the
            // two cannot leave an empty file in its place.
            if (replacing || (FOptions->FlushBuffers && OnRemovableDrive(run, target)))
                (void)out.Flush();
        }
    }

    if (discard) {
        ::unlink(created ? target.c_str() : temp.c_str());
        if (failure)
            std::rethrow_exception(failure);
        return;
    }
    if (!created && ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw EZAException::CreateFmt(zeCannotCreateFile, {target}, this);
    }
}

std::optional<TZADecoded> TZABaseArchiver::DecodedAhead(std::int32_t Index, const TDirItem& Entry) {
    if (!FDecodeAhead)
        return std::nullopt;
    OpenEntryVolume(Entry);
    FDecodeAhead->Plan(FDirManager->Directory, Index, FArchiveStream.get());
    return FDecodeAhead->Take(Index, Entry);
}

void TZABaseArchiver::OpenEntryVolume(const TDirItem& Entry) {
    TZAVolumeNumberInfo volume;
    volume.LastNumber = FDirManager->LastVolume();
    const std::int32_t number = EntryVolume(Entry);
    // No volume after the last one holds anything.
    if (FSpanningMode != smNone && volume.LastNumber >= 0 && number > volume.LastNumber)
        throw vcl::EReadError();
    volume.SetNumber(number);
    OpenVolume(volume);
}

void TZABaseArchiver::ExtractItemToStream(std::int32_t Index, vcl::TStream& Target) {
    const TDirItem& entry = EntryToExtract(Index);
    OpenEntryVolume(entry);

    // An offset the volume does not reach is read past its end (and one of 2^63 or more would
    // turn negative as a stream position).
    if (entry.LocalHeaderOffset > static_cast<std::uint64_t>(FArchiveStream->Size()))
        throw vcl::EReadError();
    FArchiveStream->SetPosition(static_cast<std::int64_t>(entry.LocalHeaderOffset));
    CheckDecoded(FEngine->DecompressStream(*FArchiveStream, Target, entry), *this);
}

} // namespace zip
