// The updater's window: one button that compares the release date on the release server with
// the installed main program's file date and, when the release is newer, stops the main
// program, downloads the release archive, extracts it over the installation folder and starts
// the main program again. All of it runs on the GUI thread, inside the button's handler.
#pragma once

#include "net/IdAntiFreeze.h"
#include "net/IdHTTP.h"
#include "platform/Processes.h"
#include "updater/Hosts.h"
#include "vcl/Buttons.h"
#include "vcl/ComCtrls.h"
#include "vcl/DateUtils.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"
#include "vcl/Streams.h"
#include "zip/ZipArchiver.h"

#include <functional>
#include <string>
#include <vector>

namespace updater {

using TProcessList = std::function<std::vector<platform::ProcessEntry>()>;

// How the main program is stopped: each process is ended at once (it is not asked to close)
// and then has ExitWaitMs milliseconds to be gone, the time a killed process takes to end
// (until then its program file is still in use).
struct TStopper {
    std::function<bool(pid_t)> Terminate = platform::TerminateProcess;
    int ExitWaitMs = 5000;
};

// Where the window works: the installation folder (the updater's own, with a trailing "/"),
// the release server (a host name, or "host:port"), the processes among which it looks for
// the main program (the whole machine) and how it stops them. Tests narrow them to their own.
struct TUpdaterPlace {
    std::string Folder;
    std::string ReleaseHost = kReleaseHost;
    TProcessList Processes = platform::ProcessSnapshot;
    TStopper Stopper;
    static TUpdaterPlace Installed();
};

class TForm1 : public vcl::TForm {
public:
    explicit TForm1(vcl::TComponent* AOwner, TUpdaterPlace place = TUpdaterPlace::Installed());

    vcl::TLabel* Label2;
    vcl::TLabel* Label1; // the status line
    vcl::TImage* Image1;
    vcl::TProgressBar* ProgressBar;
    vcl::TBitBtn* BitBtn1; // "Mise à jour"
    vcl::TBitBtn* BitBtn2; // "Quitter"

    // Below the visible area, never shown.
    vcl::TLabel* Label3; // the main program file's date as text
    vcl::TMemo* Memo1;   // the version page's lines
    vcl::TButton* Button2;
    vcl::TButton* Button3;
    vcl::TButton* Button5;
    vcl::TButton* Button1;
    vcl::TEdit* Nom_de_exe;
    vcl::TEdit* Nom_du_zip;
    vcl::TEdit* url_verif;
    vcl::TEdit* url_de_telechargement;

    net::TIdHTTP* IdHTTP1;
    net::TIdAntiFreeze* IdAntiFreeze1;
    zip::TZipArchiver* ZipArchiver1;

    // Set by FormCreate.
    std::string NomExe;
    std::string NomZip;
    std::string NomProduit;
    std::string CheminZip;
    std::string UrlPageVersion;
    std::string UrlZip;
    // Kept between clicks of one run; DateWeb stays 0 until a version page has been read.
    vcl::TDateTime DateWeb = 0;
    vcl::TDateTime DateExe = 0;
    vcl::TDateTime DebutTransfert = 0;

    const std::string& Folder() const { return place_.Folder; }

    void FormCreate(vcl::TObject* Sender);
    void BitBtn1Click(vcl::TObject* Sender);
    void BitBtn2Click(vcl::TObject* Sender);
    void Button5Click(vcl::TObject* Sender);
    void Button2Click(vcl::TObject* Sender);
    void Button3Click(vcl::TObject* Sender);
    void IdHTTP1WorkBegin(vcl::TObject* Sender, net::TWorkMode AWorkMode,
                          std::int64_t AWorkCountMax);
    void IdHTTP1Work(vcl::TObject* Sender, net::TWorkMode AWorkMode, std::int64_t AWorkCount);
    void IdHTTP1WorkEnd(vcl::TObject* Sender, net::TWorkMode AWorkMode);
    void ZipArchiver1FileProgress(vcl::TObject* Sender, const std::string& FileName,
                                  double Progress, zip::TZAProcessOperation Operation,
                                  zip::TZAProgressPhase ProgressPhase, bool& Cancel);
    // Replaces the memo's lines by the answer lines of the stream's bytes.
    void LoadMemoFromMemoryStream(vcl::TMemo* Memo, vcl::TMemoryStream* Stream);

private:
    using Handler = void (TForm1::*)(vcl::TObject*);
    vcl::TNotifyEvent Bind(Handler handler);
    template <class T> T* Make(const char* name);
    vcl::TButton* MakeHiddenButton(const char* name, int left, const std::string& caption);

    void CreateVisibleControls();
    void CreateHiddenControls();
    void CreateComponents();
    // The release into CheminZip; True when it arrived whole. A failure has been shown
    // and the file removed.
    bool DownloadArchive();
    // Reads the downloaded release through without writing anything out: its end record
    // and central directory as they stand (no rebuilt directory), every entry's data checked
    // against its CRC. A release that is not intact raises the engine's error.
    void TestArchive();
    // The roads that end without the new release installed, once the main program may
    // have been stopped: the main program started again when its file is there, the
    // archive closed and removed.
    void RecoverMainProgram();

    TUpdaterPlace place_;
};

// Ends every running process of this user whose executable file is named NomExe, ASCII letter
// case aside, without asking it to close, and waits until each has ended. Other users'
// processes of that name are theirs: they are left alone. True when none of this user's runs
// any more (also when none ran); false when one could not be ended or has not ended in time.
bool TerminerProcessus(const std::string& NomExe);
// The same among the given processes, taken as a snapshot.
bool TerminerProcessus(const std::string& NomExe,
                       const std::vector<platform::ProcessEntry>& processes,
                       const TStopper& stopper = {});

} // namespace updater
