// Writing the archive's tail: every central header with its name, extra field and comment,
// the Zip64 end record and locator when the counts or positions call for them, the end
// record and the archive comment.
#pragma once

#include "vcl/Streams.h"
#include "zip/ZADirArray.h"

#include <cstdint>
#include <string>

namespace zip {

class TZAEngine;
class TZADirManager;

class TZADirWriter {
public:
    TZADirWriter(TZAEngine& engine, TZADirManager& dir) : engine_(engine), dir_(dir) {}

    // At the end of stream (the archiver's archive stream when null).
    void Write(vcl::TStream* stream);

private:
    void WriteEntry(TDirItem& entry, vcl::TStream*& stream, vcl::TMemoryStream& staging);
    // On one volume the records gather in staging and go out a block at a time.
    void Stage(std::string_view bytes, vcl::TMemoryStream& staging);
    void Flush(vcl::TStream*& stream, vcl::TMemoryStream& staging);
    void Put(const std::string& bytes, vcl::TStream*& stream, std::int32_t keepTogether,
             vcl::TStream* staging);
    // Notes where the header just written went: the directory's first volume and offset,
    // and how many headers stand on the volume written last.
    void PlaceHeader(vcl::TStream& stream, vcl::TStream& staging);
    void FinishVolumes();

    TZAEngine& engine_;
    TZADirManager& dir_;
    std::int64_t written_ = 0; // the directory's bytes so far, on every volume
    bool firstPlaced_ = false;
    std::int32_t firstVolume_ = 0;
    std::int64_t firstOffset_ = 0;
    std::int32_t lastHeaderVolume_ = -1;
    std::int32_t headersOnLastVolume_ = 0;
};

} // namespace zip
