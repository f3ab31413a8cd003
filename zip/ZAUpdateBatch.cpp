// The public face of the writing side: update batches, adding files from the disk by mask,
// deleting entries by mask.
#include "platform/FileAttributes.h"
#include "platform/UniqueFd.h"
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZAFileDates.h"
#include "zip/ZAMasks.h"
#include "zip/ZANameIndex.h"
#include "zip/ZAStrFunc.h"
#include "zip/ZAUpdatePass.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace zip {

namespace {

struct TFoundFile {
    std::string Path;
    bool Folder = false;
};

// What the disk search looks for and leaves out.
struct TDiskSearch {
    std::string NameMask;
    std::vector<std::string> Exclusions;
    std::int32_t SearchAttr = 0;
    bool Recurse = true;
    dev_t ArchiveDevice = 0;
    ino_t ArchiveInode = 0;
    bool HasArchive = false;

    bool Excluded(const std::string& name, const std::string& relative) const {
        for (const std::string& mask : Exclusions)
            if (MatchesFileMask(name, mask) || MatchesFileMask(relative, mask))
                return true;
        return false;
    }
    bool IsArchive(const struct stat& st) const {
        return HasArchive && st.st_dev == ArchiveDevice && st.st_ino == ArchiveInode;
    }
};

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    if (platform::UniqueDir d = platform::OpenDir(folder.c_str())) {
        while (const dirent* e = ::readdir(d.get())) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
    }
    // The order of the file system is arbitrary; the archive's is by name.
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

void TZABaseArchiver::BeginUpdate() {
    CheckActive();
    if (FUpdateCounter == 0) {
        // Entries spread over volumes cannot be rewritten in place, and a rewrite as one file
        // would leave a set that nothing reads.
        if (FSpanningMode != smNone && FDirManager->Directory.Count() > 0)
            throw EZAException(zeMultiVolumeUpdate, this);
        FDirManager->SaveForUpdate();
    }
    ++FUpdateCounter;
}

void TZABaseArchiver::EndUpdate() {
    CheckActive();
    if (!UpdatePending())
        throw EZAException(zeUpdateNotStarted, this);
    if (FUpdateCounter > 1) {
        --FUpdateCounter;
        return;
    }
    ApplyUpdates();
}

void TZABaseArchiver::DropPendingUpdates() {
    if (!UpdatePending())
        return;
    FUpdateCounter = 0;
    if (FDirManager)
        FDirManager->Directory.Assign(FDirManager->SavedDirectory);
}

// An operation outside a batch is a batch of its own: written when the operation has done
// its marking, dropped when the marking leaves by an exception.

void TZABaseArchiver::DeleteFiles(const std::string& FileMask, std::int32_t SearchAttr,
                                  const std::string& ExclusionMask) {
    CheckActive();
    const bool own = !UpdatePending();
    if (own)
        BeginUpdate();
    try {
        SelectFiles(FileMask, SearchAttr, ExclusionMask);
        ProcessFiles(poDelete);
    } catch (...) {
        if (own)
            DropPendingUpdates();
        throw;
    }
    // An aborted run has dropped the batch already.
    if (own && UpdatePending())
        EndUpdate();
}

void TZABaseArchiver::AddFiles(const std::string& FileMask, std::int32_t SearchAttr,
                               const std::string& ExclusionMask) {
    CheckActive();
    TDiskSearch search;
    search.SearchAttr = SearchAttr;
    search.Recurse = FOptions->Recurse;
    if (!vcl::Trim(ExclusionMask).empty())
        search.Exclusions.push_back(ExclusionMask);
    for (std::int32_t i = 0; i < FExclusionMasks->Count(); ++i)
        if (!vcl::Trim(FExclusionMasks->Get(i)).empty())
            search.Exclusions.push_back(FExclusionMasks->Get(i));
    // The archive never goes into itself.
    struct stat archive {};
    if (!FInMemory && ::stat(FFileName.c_str(), &archive) == 0) {
        search.HasArchive = true;
        search.ArchiveDevice = archive.st_dev;
        search.ArchiveInode = archive.st_ino;
    }

    // The mask's folder part says where to search; a mask that names a folder adds the
    // folder with what it holds.
    std::string mask = FileMask;
    std::replace(mask.begin(), mask.end(), '\\', '/');
    const std::string full = ResolvePath(BaseDir, mask);
    std::string root;
    bool withRoot = false;
    if (vcl::DirectoryExists(full) && mask.find_first_of("*?") == std::string::npos) {
        root = full;
        search.NameMask = std::string(1, '*');
        withRoot = true;
    } else {
        root = vcl::ExtractFilePath(full);
        search.NameMask = vcl::ExtractFileName(full);
    }
    if (!root.empty() && root.back() == '/')
        root.pop_back();

    const bool own = !UpdatePending();
    if (own)
        BeginUpdate();
    try {
        TZANameIndex index(FDirManager->Directory);
        // Stored names are taken relative to the base folder, resolved once for them all.
        const std::string relativeTo = ResolvePath(BaseDir, {});
        bool abort = false;
        // Folders before what they hold, each folder's names in order.
        auto visit = [&](auto& recurse, const std::string& folder, const std::string& relative,
                         bool folderItself) -> void {
            struct stat self {};
            if (folderItself && ::stat(folder.c_str(), &self) == 0 &&
                AttributesMatch(platform::FileAttributesOf(self), SearchAttr))
                AddFileToBatch(folder, true, index, relativeTo, self);
            for (const std::string& name : FolderNames(folder)) {
                if (abort)
                    return;
                const std::string path = folder + "/" + name;
                const std::string below = relative.empty() ? name : relative + "/" + name;
                if (search.Excluded(name, below))
                    continue;
                struct stat link {};
                if (::lstat(path.c_str(), &link) != 0)
                    continue;
                // A link to a folder is not followed: it could lead back up the tree.
                if (S_ISDIR(link.st_mode)) {
                    if (!search.Recurse)
                        continue;
                    recurse(recurse, path, below, MatchesFileMask(name, search.NameMask));
                    continue;
                }
                if (!MatchesFileMask(name, search.NameMask))
                    continue;
                for (bool first = true;; first = false) {
                    // A link is followed to what it names; anything else is what lstat saw,
                    // unless a retry has to look again.
                    struct stat st = link;
                    const bool found =
                        (first && !S_ISLNK(link.st_mode)) || ::stat(path.c_str(), &st) == 0;
                    if (found && search.IsArchive(st))
                        break;
                    if (found && S_ISDIR(st.st_mode))
                        break; // a link to a folder
                    if (found && S_ISREG(st.st_mode)) {
                        if (AttributesMatch(platform::FileAttributesOf(st), SearchAttr))
                            AddFileToBatch(path, false, index, relativeTo, st);
                        break;
                    }
                    // A pipe, socket or device would block or never end; a dangling link has
                    // nothing to read.
                    EZAException failure = EZAException::CreateFmt(zeCannotOpenFile, {path}, this);
                    TZAAction action = fxaIgnore;
                    DoProcessFileFailure(path, poAdd, failure.NativeError(), failure.ErrorCode(),
                                         failure.Message(), action);
                    if (action == fxaAbort)
                        abort = true;
                    if (action != fxaRetry)
                        break;
                }
            }
        };
        if (vcl::DirectoryExists(root))
            visit(visit, root, {}, withRoot);
        if (abort) {
            DropPendingUpdates();
            return;
        }
    } catch (...) {
        if (own)
            DropPendingUpdates();
        throw;
    }
    if (own)
        EndUpdate();
}

void TZABaseArchiver::AddFileToBatch(const std::string& Path, bool Folder, TZANameIndex& Index,
                                     const std::string& RelativeTo, const struct stat& Status) {
    std::string stored = StoredFileNameIn(RelativeTo, Path, FOptions->StorePath);
    if (stored.empty())
        return;
    if (Folder)
        stored += '/';
    std::uint32_t attr = platform::FileAttributesOf(Status);
    const std::uint32_t shownAttr = attr;
    std::string comment;
    const std::string proposed = stored;
    DoStoreFile(stored, attr, comment, Path);
    if (stored.empty())
        return;
    bool confirm = true;
    DoConfirmProcessFile(Path, poAdd, confirm);
    if (!confirm)
        return;

    TZADirArray& dir = FDirManager->Directory;
    std::int32_t i = Index.Find(stored);
    TZAProcessOperation operation = poAdd;
    if (i >= 0) {
        const TDirItem& entry = dir.ItemPtr(i);
        const std::uint32_t entryAttr = entry.CentralHeader.ExternalAttributes;
        if (Folder || (entryAttr & platform::faDirectory) != 0)
            return; // a folder has nothing to replace
        if (!MayReplaceEntry(entry, Path, stored))
            return;
        operation = poUpdate;
    } else {
        i = dir.Count();
        dir.SetCount(i + 1);
        dir.SetItem(i, TDirItem{});
        Index.Add(stored, i);
    }
    FillDirItem(i, Path, proposed, &Status);
    TDirItem& item = dir.ItemPtr(i);
    item.Operation = operation;
    // What the store handler chose.
    if (stored != proposed) {
        item.StoredName = stored;
        item.CentralHeader.NameLength = static_cast<std::uint16_t>(stored.size());
    }
    // The handler sees and changes the DOS attributes; the file's mode above them stays.
    if (attr != shownAttr)
        item.CentralHeader.ExternalAttributes =
            (item.CentralHeader.ExternalAttributes & 0xFFFF0000u) | (attr & 0xFFFFu);
    item.SetComment(comment);
    item.CentralHeader.CommentLength = static_cast<std::uint16_t>(comment.size());
}

void TZABaseArchiver::ApplyUpdates() {
    if (FUpdateCounter <= 0)
        return;
    FUpdateCounter = 0;
    if (!FDirManager || !FArchiveStream)
        throw EZAException(zeArchiveNotOpen, this);
    // Refused before anything is written; the pending changes are dropped as by a rollback.
    const bool readOnly = !FInMemory && FOpenMode != 0xFFFF && (FOpenMode & 3) == vcl::fmOpenRead;
    const bool volumes = FSpanningMode != smNone && FDirManager->SavedDirectory.Count() > 0;
    if (readOnly || volumes) {
        FDirManager->Directory.Assign(FDirManager->SavedDirectory);
        throw EZAException(readOnly ? zeReadOnlyArchive : zeMultiVolumeUpdate, this);
    }
    TZAUpdatePass(*FEngine).Run();
}

} // namespace zip
