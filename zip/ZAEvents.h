// The archiver's event types. Sender is always the archiver; parameters passed by reference
// are the handler's answers.
#pragma once

#include "vcl/Classes.h"
#include "zip/ZATypes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zip {

using TZAFileProgressEvent = std::function<void(vcl::TObject* Sender, const std::string& FileName,
                                                double Progress, TZAProcessOperation Operation,
                                                TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAProgressEvent =
    std::function<void(vcl::TObject* Sender, double Progress, TZAProcessOperation Operation,
                       TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZACopyTempFileProgressEvent = std::function<void(
    vcl::TObject* Sender, double Progress, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAConfirmOverwriteEvent =
    std::function<void(vcl::TObject* Sender, const std::string& SourceFileName,
                       std::string& DestFileName, bool& Confirm)>;
using TZAConfirmProcessFileEvent =
    std::function<void(vcl::TObject* Sender, const std::string& FileName,
                       TZAProcessOperation Operation, bool& Confirm)>;
using TZAOnPasswordEvent = std::function<void(vcl::TObject* Sender, const std::string& FileName,
                                              std::string& NewPassword, bool& SkipFile)>;
using TZAProcessFileFailureEvent =
    std::function<void(vcl::TObject* Sender, const std::string& FileName,
                       TZAProcessOperation Operation, std::int32_t NativeError,
                       std::int32_t ErrorCode, const std::string& ErrorMessage, TZAAction& Action)>;
using TZAOnRequestBlankVolumeEvent = std::function<void(
    vcl::TObject* Sender, std::int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestFirstVolumeEvent =
    std::function<void(vcl::TObject* Sender, std::string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestLastVolumeEvent =
    std::function<void(vcl::TObject* Sender, std::string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestMiddleVolumeEvent = std::function<void(
    vcl::TObject* Sender, std::int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)>;
using TZAOnDiskFullEvent = std::function<void(vcl::TObject* Sender, std::int32_t VolumeNumber,
                                              const std::string& VolumeFileName, bool& Cancel)>;
using TZAOnStoreFileEvent =
    std::function<void(vcl::TObject* Sender, std::string& FileName, std::uint32_t& FileAttr,
                       std::string& Comment, const std::string& OriginalFileName)>;
using TZAOnExtractFileEvent =
    std::function<void(vcl::TObject* Sender, std::string& FileName, std::uint32_t& FileAttr,
                       const std::string& Comment)>;
// The event without a property: one 8-bit and three 32-bit values, no documented meaning.
using TZAUnpublishedEvent = std::function<void(vcl::TObject* Sender, std::uint8_t Value,
                                               std::int32_t A, std::int32_t B, std::int32_t C)>;

} // namespace zip
