// The event dispatchers: each calls its handler when one is assigned and otherwise gives the
// default answer, asking the user through the framework's dialogs where a person must decide.
#include "vcl/Dialogs.h"
#include "zip/ZAPrompts.h"
#include "zip/ZAVolumeFiles.h"
#include "zip/ZipArchiver.h"

#include <algorithm>

namespace zip {

namespace {

// Names handed to events and messages use "/", whichever separator the entry was stored with.
std::string EventName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool AskOkCancel(const std::string& message) {
    return vcl::MessageDlg(message, vcl::TMsgDlgType::mtConfirmation,
                           {vcl::TMsgDlgBtn::mbOK, vcl::TMsgDlgBtn::mbCancel}) == vcl::mrOk;
}

} // namespace

void TZABaseArchiver::DoOverallProgress(double Progress, TZAProcessOperation Operation,
                                        TZAProgressPhase ProgressPhase, bool& Cancel) {
    if (OnOverallProgress)
        OnOverallProgress(this, Progress, Operation, ProgressPhase, Cancel);
    else
        Cancel = false;
}

void TZABaseArchiver::DoFileProgress(const std::string& FileName, double Progress,
                                     TZAProcessOperation Operation, TZAProgressPhase ProgressPhase,
                                     bool& Cancel) {
    if (OnFileProgress)
        OnFileProgress(this, EventName(FileName), Progress, Operation, ProgressPhase, Cancel);
    else
        Cancel = false;
}

void TZABaseArchiver::DoCopyTempFileProgress(double Progress, TZAProgressPhase ProgressPhase,
                                             bool& Cancel) {
    Cancel = false;
    if (OnCopyTempFileProgress)
        OnCopyTempFileProgress(this, Progress, ProgressPhase, Cancel);
}

void TZABaseArchiver::DoConfirmOverwrite(const std::string& SourceFileName,
                                         std::string& DestFileName, bool& Confirm) {
    // A handler that says nothing does not overwrite: the same answer as the refused prompt.
    Confirm = false;
    if (OnConfirmOverwrite) {
        OnConfirmOverwrite(this, SourceFileName, DestFileName, Confirm);
        return;
    }
    using vcl::TMsgDlgBtn;
    int answer = vcl::MessageDlg(
        vcl::Format(SConfirmOverwrite, {EventName(DestFileName), EventName(SourceFileName)}),
        vcl::TMsgDlgType::mtConfirmation,
        {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbNoToAll, TMsgDlgBtn::mbYesToAll});
    switch (answer) {
    case vcl::mrYes:
        Confirm = true;
        break;
    case vcl::mrNoToAll:
        Options().OverwriteMode = omNever;
        break;
    case vcl::mrYesToAll:
        Confirm = true;
        Options().OverwriteMode = omAlways;
        break;
    default: // No, or the dialog closed
        break;
    }
}

void TZABaseArchiver::DoConfirmProcessFile(const std::string& FileName,
                                           TZAProcessOperation Operation, bool& Confirm) {
    Confirm = true;
    if (OnConfirmProcessFile)
        OnConfirmProcessFile(this, EventName(FileName), Operation, Confirm);
}

void TZABaseArchiver::DoPassword(const std::string& FileName, std::string& NewPassword,
                                 bool& SkipFile) {
    if (OnPassword) {
        OnPassword(this, EventName(FileName), NewPassword, SkipFile);
        return;
    }
    std::string typed = NewPassword;
    if (vcl::InputQuery(vcl::Format(SPasswordTitle, {EventName(FileName)}), SPasswordPrompt,
                        typed)) {
        NewPassword = typed;
        SkipFile = false;
    } else {
        SkipFile = true;
    }
}

void TZABaseArchiver::DoProcessFileFailure(const std::string& FileName,
                                           TZAProcessOperation Operation, std::int32_t NativeError,
                                           std::int32_t ErrorCode, const std::string& ErrorMessage,
                                           TZAAction& Action) {
    Action = fxaIgnore;
    // While the component is being destroyed nobody is there to answer: the pass ends and
    // leaves the archive as it was.
    if (FTearingDown) {
        Action = fxaAbort;
        return;
    }
    if (OnProcessFileFailure) {
        OnProcessFileFailure(this, EventName(FileName), Operation, NativeError, ErrorCode,
                             ErrorMessage, Action);
        return;
    }
    using vcl::TMsgDlgBtn;
    int answer = vcl::MessageDlg(vcl::Format(SProcessFileFailure, {ErrorMessage}),
                                 vcl::TMsgDlgType::mtConfirmation,
                                 {TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore});
    switch (answer) {
    case vcl::mrRetry:
        Action = fxaRetry;
        break;
    case vcl::mrIgnore:
        Action = fxaIgnore;
        break;
    default: // Abort, or the dialog closed
        Action = fxaAbort;
        break;
    }
}

void TZABaseArchiver::DoRequestBlankVolume(std::int32_t VolumeNumber, std::string& VolumeFileName,
                                           bool& Cancel) {
    Cancel = false;
    VolumeNumber = std::max(VolumeNumber, 0);
    GetVolumeFileName(VolumeFileName, VolumeNumber, false);
    if (OnRequestBlankVolume)
        OnRequestBlankVolume(this, VolumeNumber + 1, VolumeFileName, Cancel);
    else if (FSpanningMode == smSpanning)
        Cancel = !AskOkCancel(vcl::Format(SInsertBlankDisk, {std::int64_t{VolumeNumber} + 1}));
}

void TZABaseArchiver::DoRequestFirstVolume(std::string& VolumeFileName, bool& Cancel) {
    Cancel = false;
    const std::string asked = VolumeFileName;
    GetVolumeFileName(VolumeFileName, 0, !OnRequestFirstVolume);
    if (OnRequestFirstVolume) {
        OnRequestFirstVolume(this, VolumeFileName, Cancel);
    } else if (FSpanningMode == smSpanning) {
        Cancel = !AskOkCancel(SInsertFirstDisk);
        // Look again on the disk now inserted.
        VolumeFileName = asked;
        GetVolumeFileName(VolumeFileName, 0, true);
    } else {
        Cancel = ExistingVolumeFile(VolumeFileName).empty() && FOpenMode != 0xFFFF;
    }
}

void TZABaseArchiver::DoRequestLastVolume(std::string& VolumeFileName, bool& Cancel) {
    Cancel = false;
    GetVolumeFileName(VolumeFileName, -1, true);
    if (OnRequestLastVolume) {
        OnRequestLastVolume(this, VolumeFileName, Cancel);
    } else if (FSpanningMode == smSpanning) {
        bool first = true;
        do {
            Cancel = !AskOkCancel(first ? std::string(SInsertLastDisk)
                                        : vcl::Format(SFileNotOnDisk, {VolumeFileName}));
            first = false;
        } while (!Cancel && ExistingVolumeFile(VolumeFileName).empty());
    } else {
        Cancel = ExistingVolumeFile(VolumeFileName).empty();
    }
}

void TZABaseArchiver::DoRequestMiddleVolume(std::int32_t VolumeNumber, std::string& VolumeFileName,
                                            bool& Cancel) {
    Cancel = false;
    const std::string asked = VolumeFileName;
    GetVolumeFileName(VolumeFileName, VolumeNumber, !OnRequestMiddleVolume);
    if (OnRequestMiddleVolume) {
        OnRequestMiddleVolume(this, VolumeNumber + 1, VolumeFileName, Cancel);
        return;
    }
    if (FSpanningMode == smSpanning)
        Cancel = !AskOkCancel(vcl::Format(SInsertDisk, {std::int64_t{VolumeNumber} + 1}));
    else
        Cancel = ExistingVolumeFile(VolumeFileName).empty();
    VolumeFileName = asked;
    GetVolumeFileName(VolumeFileName, VolumeNumber, true);
}

void TZABaseArchiver::DoDiskFull(std::int32_t VolumeNumber, const std::string& VolumeFileName,
                                 bool& Cancel) {
    Cancel = false;
    if (OnDiskFull) {
        OnDiskFull(this, VolumeNumber + 1, VolumeFileName, Cancel);
    } else if (FSpanningMode == smSpanning) {
        TZAVolumeNumberInfo volume;
        volume.SetNumber(VolumeNumber);
        std::int64_t required = FSpanningOptions->GetVolumeSize(volume);
        std::int64_t available = GetDiskFreeBytes(VolumeFileName);
        Cancel = !AskOkCancel(vcl::Format(SDiskFull, {required, available}));
    } else {
        Cancel = true;
    }
}

void TZABaseArchiver::DoUnpublishedEvent(std::uint8_t Value, std::int32_t A, std::int32_t B,
                                         std::int32_t C) {
    if (FOnUnpublishedEvent)
        FOnUnpublishedEvent(this, Value, A, B, C);
}

void TZABaseArchiver::DoStoreFile(std::string& FileName, std::uint32_t& FileAttr,
                                  std::string& Comment, const std::string& OriginalFileName) {
    if (!OnStoreFile)
        return;
    FileName = EventName(FileName);
    OnStoreFile(this, FileName, FileAttr, Comment, OriginalFileName);
    // Back to the stored form, whichever separator the handler used.
    FileName = EventName(FileName);
}

void TZABaseArchiver::DoExtractFile(std::string& FileName, std::uint32_t& FileAttr,
                                    const std::string& Comment) {
    FileName = EventName(FileName);
    if (OnExtractFile)
        OnExtractFile(this, FileName, FileAttr, Comment);
}

} // namespace zip
