// The delete, update and test steps of the processing loop, and the routines with which they
// prepare the live directory for the update pass.
#include "platform/FileAttributes.h"
#include "vcl/PathUtils.h"
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZAFileDates.h"
#include "zip/ZAOverwrite.h"
#include "zip/ZARecords.h"
#include "zip/ZAStrFunc.h"
#include "zip/ZipArchiver.h"

#include <sys/stat.h>
#include <unistd.h>

namespace zip {

void TZABaseArchiver::DeleteItem(std::int32_t Index) {
    RemoveItem(Index);
}

void TZABaseArchiver::RemoveItem(std::int32_t Index) {
    TZADirArray& dir = FDirManager->Directory;
    if (Index < 0 || Index >= dir.Count())
        throw EZAException(zeRemoveIndex, this);
    if (!UpdatePending())
        throw EZAException(zeUpdateNotStarted, this);
    dir.Delete(Index);
}

TDirItem& TZABaseArchiver::MarkItemForUpdate(std::int32_t Index, const std::string& Path,
                                             const std::string& RelativeTo) {
    TZADirArray& dir = FDirManager->Directory;
    if (Index < 0 || Index >= dir.Count())
        throw EZAException(zeMarkIndex, this);
    if (!UpdatePending())
        throw EZAException(zeMarkNotStarted, this);
    FillDirItemFromFile(Index, Path, RelativeTo);
    TDirItem& item = dir.ItemPtr(Index);
    item.Operation = poUpdate;
    return item;
}

void TZABaseArchiver::FillDirItemFromFile(std::int32_t Index, const std::string& Path,
                                          const std::string& RelativeTo) {
    struct stat st {};
    const bool known = ::stat(Path.c_str(), &st) == 0;
    FillDirItem(Index, Path, StoredFileName(Path, RelativeTo, FOptions->StorePath),
                known ? &st : nullptr);
}

void TZABaseArchiver::FillDirItem(std::int32_t Index, const std::string& Path, std::string stored,
                                  const struct stat* status) {
    if (stored.empty())
        return;
    const bool folder = status && S_ISDIR(status->st_mode);
    const std::int32_t age =
        status && !folder ? DosDateTimeFrom(status->st_mtim.tv_sec) : DosDateTimeNow();
    const std::uint32_t attr = status ? platform::FileAttributesOf(*status) : platform::faArchive;
    if (folder && stored.back() != '/')
        stored += '/';

    TDirItem& item = FDirManager->Directory.ItemPtr(Index);
    item.StoredName = stored;
    // The name is the file's now, written as its own text: the bytes it was read from and
    // the record that named it go with the old data.
    item.NameTooLong = false;
    item.DropNameField();
    item.NewData = true;
    item.EditSource().Password = Password;
    item.EditSource().SourceFileName = Path;
    item.CompressionMode = folder ? 0 : FCompressionMode;
    // The header describes the new data alone: nothing of the old record's extras stays.
    item.SetComment({});
    item.SetExtraFields({});
    item.Zip64 = false;
    // The file's mode and UTC time go with it, as peers on this system read them.
    TZAExtraField timestamp;
    if (status && ExtendedTimestamp(status->st_mtime, timestamp))
        item.EditDetail().ExtraFields.push_back(timestamp);

    const bool alternate = FDirManager->EndRecord.Signature == AlternateSignatures.EndOfCentralDir;
    TZACentralHeader h;
    h.Signature = alternate ? AlternateSignatures.CentralHeader : StandardSignatures.CentralHeader;
    h.VersionMadeBy = UnixVersionMadeBy(EntryVersion(false, FOptions->OEMFileNames, false));
    h.VersionNeeded = EntryVersion(false, FOptions->OEMFileNames, alternate);
    h.Flags = Password.empty() ? 0 : FlagEncrypted;
    h.Method = FCompressionMethod;
    h.Time = DosTimeOf(age);
    h.Date = DosDateOf(age);
    h.Crc32 = 0xFFFFFFFF;
    h.NameLength = static_cast<std::uint16_t>(stored.size());
    h.ExternalAttributes = status ? UnixExternalAttributes(status->st_mode, attr) : attr;
    if (folder) {
        // A folder has no data, so it is never marked encrypted.
        h.Method = MethodStored;
        h.Crc32 = 0;
        h.Flags = 2;
    }
    item.CentralHeader = h;
    item.ResolveZip64();
}

bool TZABaseArchiver::MayReplaceEntry(const TDirItem& Entry, const std::string& SourcePath,
                                      const std::string& StoredName) {
    if (!FOptions->ReplaceReadOnly &&
        (Entry.CentralHeader.ExternalAttributes & platform::faReadOnly) != 0)
        return false;
    const std::int32_t entryDate =
        CombineDosDateTime(Entry.CentralHeader.Date, Entry.CentralHeader.Time);
    // The disk file is the source here, the entry the target.
    switch (OverwriteRule(FOptions->OverwriteMode, DosFileAge(SourcePath), entryDate)) {
    case TZAOverwriteAnswer::Ask: {
        std::string dest = StoredName; // a changed name has no effect
        bool confirm = false;
        DoConfirmOverwrite(SourcePath, dest, confirm);
        return confirm;
    }
    case TZAOverwriteAnswer::Replace:
        return true;
    case TZAOverwriteAnswer::Keep:
        return false;
    }
    return false;
}

void TZABaseArchiver::UpdateItem(std::int32_t Index, const std::string& Name,
                                 const std::string& BaseFolder) {
    TZADirArray& dir = FDirManager->Directory;
    const TDirItem& entry = dir.ItemPtr(Index);
    const std::uint32_t attr = entry.CentralHeader.ExternalAttributes;
    if ((attr & platform::faDirectory) != 0)
        return;
    // A relative name is taken below the base folder, a full one as it stands: reading a file
    // into the archive writes nothing outside it, so archives made with full paths stay
    // updatable.
    const std::string path = ResolvePath(BaseFolder, Name);
    if (path.empty() || platform::FileGetAttr(path) == -1)
        return;
    if (!MayReplaceEntry(entry, path, Name))
        return;
    // The stored name is taken relative to BaseDir, without changing the process's folder.
    MarkItemForUpdate(Index, path, ResolvePath(BaseDir, {}));
}

void TZABaseArchiver::TestItem(std::int32_t Index, const std::string& Name) {
    const TDirItem& entry = FDirManager->Directory.ItemPtr(Index);
    // A test answers whether extraction would succeed: an entry that extraction refuses for
    // its name fails here too, before an installer relies on it.
    if (entry.NameTooLong)
        throw EZAException::CreateFmt(zeCannotCreateFile, {Name}, this);
    if ((entry.CentralHeader.ExternalAttributes & platform::faDirectory) != 0)
        return;
    const std::string temp = FEngine->MakeTempFileName();
    struct TRemoveAfter {
        const std::string& name;
        ~TRemoveAfter() { ::unlink(name.c_str()); }
    } remove{temp};
    std::unique_ptr<vcl::TFileStream> file;
    try {
        file = std::make_unique<vcl::TFileStream>(temp, vcl::fmOpenReadWrite);
    } catch (const vcl::EStreamError&) {
        throw EZAException::CreateFmt(zeCannotCreateFile, {temp}, this);
    }
    ExtractItemToStream(Index, *file);
}

} // namespace zip
