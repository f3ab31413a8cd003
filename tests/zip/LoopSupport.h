// For the processing-loop tests: an archiver that opens the loop's steps to the tests and
// loads an archive's directory as Python's zipfile reads it, and an event log.
#pragma once

#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "zip/ZARecords.h"

#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace ziptest {

class TLoopArchiver : public TTestArchiver {
public:
    using TTestArchiver::TTestArchiver;
    using TZABaseArchiver::DeleteItem;
    using TZABaseArchiver::ExtractItemToFile;
    using TZABaseArchiver::ExtractItemToStream;
    using TZABaseArchiver::FillDirItemFromFile;
    using TZABaseArchiver::MarkItemForUpdate;
    using TZABaseArchiver::ProcessFiles;
    using TZABaseArchiver::RemoveItem;
    using TZABaseArchiver::TestItem;
    using TZABaseArchiver::UpdateItem;

    zip::TZADirArray& Directory() { return FDirManager->Directory; }
    zip::TDirItem& Entry(std::int32_t i) { return FDirManager->Directory.ItemPtr(i); }
    std::int32_t ProcessedFileNo() { return Engine(*this).Progress.ProcessedFileNo; }
    std::int32_t ProcessedFileCount() { return Engine(*this).Progress.ProcessedFileCount; }
    bool ProgressCancel() { return Engine(*this).Progress.Cancel; }
    void SetUpdateCounter(std::int32_t n) { FUpdateCounter = n; }
    std::int32_t UpdateCounter() const { return FUpdateCounter; }
    void SelectAll() {
        for (std::int32_t i = 0; i < Directory().Count(); ++i)
            Entry(i).Selected = true;
    }
    // The loop over every entry, as ExtractFiles("*.*", zip::faAllEntries, "") runs it.
    void Run(zip::TZAProcessOperation operation) {
        SelectAll();
        ProcessFiles(operation);
    }

    // Stands in for opening: the archive file, and its directory as Python's zipfile reads it.
    void Load(const ziptest::TempDir& scratch, const std::string& archive) {
        const std::string script = scratch / "list-central.py";
        WriteFile(script,
                  "import sys, zipfile\n"
                  "z = zipfile.ZipFile(sys.argv[1])\n"
                  "out = open(sys.argv[2], 'w')\n"
                  "print(z.start_dir, file=out)\n"
                  "for i in z.infolist():\n"
                  "    y, mo, d, h, mi, s = i.date_time\n"
                  "    date = ((y - 1980) << 9) | (mo << 5) | d\n"
                  "    time = (h << 11) | (mi << 5) | (s // 2)\n"
                  "    print(i.header_offset, i.compress_size, i.file_size, i.CRC,\n"
                  "          i.flag_bits, i.compress_type, i.extract_version,\n"
                  "          (i.create_system << 8) | i.create_version, i.external_attr,\n"
                  "          date, time, i.filename.encode('utf-8').hex() or '-', file=out)\n");
        const std::string listing = scratch / "list-central.txt";
        if (!ziptest::Run("/usr/bin/python3 " + script + " '" + archive + "' " + listing))
            throw std::runtime_error("cannot list " + archive);
        SetFileName(archive);
        PretendOpen(std::make_unique<vcl::TFileStream>(archive, vcl::fmOpenRead));
        std::istringstream lines(ReadFile(listing));
        lines >> FDirManager->DirStart;
        std::uint64_t offset = 0, packed = 0, size = 0;
        std::uint32_t crc = 0, flags = 0, method = 0, needed = 0, made = 0, external = 0, date = 0,
                      time = 0;
        std::string hexName;
        std::vector<zip::TDirItem> items;
        while (lines >> offset >> packed >> size >> crc >> flags >> method >> needed >> made >>
               external >> date >> time >> hexName) {
            zip::TDirItem item;
            zip::TZACentralHeader& h = item.CentralHeader;
            h.Signature = zip::StandardSignatures.CentralHeader;
            h.VersionMadeBy = static_cast<std::uint16_t>(made);
            h.VersionNeeded = static_cast<std::uint16_t>(needed);
            h.Flags = static_cast<std::uint16_t>(flags);
            h.Method = static_cast<std::uint16_t>(method);
            h.Date = static_cast<std::uint16_t>(date);
            h.Time = static_cast<std::uint16_t>(time);
            h.Crc32 = crc;
            h.CompressedSize = static_cast<std::uint32_t>(packed);
            h.UncompressedSize = static_cast<std::uint32_t>(size);
            h.ExternalAttributes = external;
            h.LocalHeaderOffset = static_cast<std::uint32_t>(offset);
            std::string name;
            for (std::size_t k = 0; k + 1 < hexName.size(); k += 2)
                name += static_cast<char>(std::stoi(hexName.substr(k, 2), nullptr, 16));
            item.StoredName = name;
            h.NameLength = static_cast<std::uint16_t>(item.StoredName.size());
            item.ResolveZip64();
            items.push_back(item);
        }
        FDirManager->Directory.SetCount(static_cast<std::int32_t>(items.size()));
        for (std::size_t k = 0; k < items.size(); ++k)
            FDirManager->Directory.SetItem(static_cast<std::int32_t>(k), items[k]);
    }
};

// Writes an archive with Python's zipfile from a script body that has `z` open for writing.
inline void PythonZip(const TempDir& scratch, const std::string& archive, const std::string& body,
                      bool deflate = false) {
    const std::string script = scratch / "make.py";
    WriteFile(script, std::string("import zipfile, sys\n") +
                          "z = zipfile.ZipFile(sys.argv[1], 'w', " +
                          (deflate ? "zipfile.ZIP_DEFLATED" : "zipfile.ZIP_STORED") + ")\n" + body +
                          "\nz.close()\n");
    if (!ziptest::Run("/usr/bin/python3 " + script + " '" + archive + "'"))
        throw std::runtime_error("cannot make " + archive);
}

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline unsigned ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace ziptest
