// The updater's archive component: the ZIP archiver with the one switch the update flow needs
// that the component keeps unpublished, whether an archive whose end record and central
// directory cannot be read is still opened through a directory rebuilt from its local
// headers. A release cut short opens that way and lacks the entries after the cut, so the
// flow refuses it: the open then fails with the engine's error 48.
#pragma once

#include "zip/ZipArchiver.h"

namespace updater {

class TReleaseArchiver : public zip::TZipArchiver {
public:
    using TZipArchiver::TZipArchiver;

    bool OpenCorruptedArchives() const { return FOpenCorruptedArchives; }
    void SetOpenCorruptedArchives(bool Value) { FOpenCorruptedArchives = Value; }
};

} // namespace updater
