// The writing side's protected parts for the tests, and new entries made the way the marking
// steps make them (a fixed date, the archive bit, the archiver's method for the mode).
#pragma once

#include "ArchiverAccess.h"
#include "vcl/Streams.h"
#include "zip/ZADirManager.h"

#include <memory>
#include <string>

namespace ziptest {

class TWriteArchiver : public TTestArchiver {
public:
    using TTestArchiver::TTestArchiver;

    using TZABaseArchiver::ApplyUpdates;
    using TZABaseArchiver::CompressStream;
    using TZABaseArchiver::DecompressStream;
    using TZABaseArchiver::MakeTempFileName;
    using TZABaseArchiver::WriteCentralDir;

    zip::TZADirManager& Dir() { return *FDirManager; }
    std::int32_t UpdateCounter() const { return FUpdateCounter; }
    void SetProgressEnabled(bool on) { FProgress.Enabled = on; }
    bool ProgressCancel() const { return FProgress.Cancel; }

    // A new archive in a file (or a memory stream when path is empty), as the opening steps
    // would leave it.
    void OpenNew(const std::string& path) {
        SetFileName(path);
        SetOpenMode(0xFFFF);
        if (path.empty())
            PretendOpen(std::make_unique<vcl::TMemoryStream>());
        else
            PretendOpen(std::make_unique<vcl::TFileStream>(path, vcl::fmCreate));
        VolumeInfo().SetNumber(0);
    }
    // An open archive on the volume OpenVolume has just opened.
    void PretendOpenOnCurrentVolume() {
        FDirManager = std::make_unique<zip::TZADirManager>();
        FActive = true;
    }

    static constexpr std::uint16_t Date = (44 << 9) | (5 << 5) | 6; // 2024-05-06
    static constexpr std::uint16_t Time = (12 << 11) | (34 << 5) | 28;

    zip::TDirItem MakeEntry(const std::string& name, std::uint8_t mode,
                            const std::string& password = {}) {
        zip::TDirItem e;
        e.StoredName = name;
        e.NewData = true;
        e.Password = password;
        e.SourceFileName = name;
        e.CompressionMode = mode;
        e.Operation = zip::poAdd;
        zip::TZACentralHeader& h = e.CentralHeader;
        h.Signature = 0x02014B50;
        h.VersionMadeBy = h.VersionNeeded = 0x14;
        h.Flags = password.empty() ? 0 : 1;
        h.Method = mode > 0 ? 8 : 0;
        h.Time = Time;
        h.Date = Date;
        h.Crc32 = 0xFFFFFFFF;
        h.NameLength = static_cast<std::uint16_t>(name.size());
        h.ExternalAttributes = 0x20;
        return e;
    }

    // A file entry whose data comes from memory.
    zip::TDirItem& AddData(const std::string& name, const std::string& data, std::uint8_t mode,
                           const std::string& password = {}) {
        zip::TDirItem e = MakeEntry(name, mode, password);
        auto stream = std::make_unique<vcl::TMemoryStream>();
        stream->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
        e.TakeSourceStream(std::move(stream));
        return Append(e);
    }
    // A file entry whose data comes from a disk file.
    zip::TDirItem& AddFile(const std::string& name, const std::string& path, std::uint8_t mode) {
        zip::TDirItem e = MakeEntry(name, mode);
        e.SourceFileName = path;
        return Append(e);
    }
    zip::TDirItem& AddFolder(const std::string& name) {
        zip::TDirItem e = MakeEntry(name, 0);
        e.CentralHeader.ExternalAttributes = 0x10;
        e.CentralHeader.Method = 0;
        e.CentralHeader.Crc32 = 0;
        e.CentralHeader.Flags = 2;
        return Append(e);
    }
    zip::TDirItem& Append(const zip::TDirItem& e) {
        zip::TZADirArray& d = Dir().Directory;
        d.SetCount(d.Count() + 1);
        d.SetItem(d.Count() - 1, e);
        return d.ItemPtr(d.Count() - 1);
    }
    std::int32_t IndexOf(const std::string& name) {
        for (std::int32_t i = 0; i < Dir().Directory.Count(); ++i)
            if (Dir().Directory.ItemPtr(i).StoredName == name)
                return i;
        return -1;
    }
};

} // namespace ziptest
