#include "updater/Unit1.h"

#include "net/AnswerLines.h"
#include "platform/Processes.h"
#include "platform/Shell.h"
#include "platform/SpecialFolders.h"
#include "vcl/Dialogs.h"
#include "vcl/SysUtils.h"
#include "zip/ZAExcept.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace updater {

using namespace vcl;

namespace {

TPicture Picture(const char* name) {
    return TPicture(std::string(":/tamrel/") + name);
}

// The last write of a file, in local time.
TDateTime FileWriteTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return UnixToDateTime(static_cast<long long>(st.st_mtime));
}

// The progress bar counts in the framework's 32-bit integers; a larger byte count is held
// at the largest one rather than wrapping round.
int BarValue(std::int64_t count) {
    return static_cast<int>(std::clamp<std::int64_t>(count, 0, INT_MAX));
}

} // namespace

TUpdaterPlace TUpdaterPlace::Installed() {
    TUpdaterPlace place;
    place.Folder = platform::ProgramFolder();
    return place;
}

TForm1::TForm1(TComponent* AOwner, TUpdaterPlace place) : TForm(AOwner), place_(std::move(place)) {
    place_.Folder = IncludeTrailingPathDelimiter(place_.Folder);
    SetName("Form1");
    SetCaption("Mise à jour");
    SetBorderStyle(TFormBorderStyle::bsSingle);
    SetBounds(0, 0, 390, 153);
    SetFont(TFont{"MS Sans Serif", 8, false, clWindowText});
    SetPosition(TPosition::poScreenCenter);
    OnCreate = Bind(&TForm1::FormCreate);

    CreateVisibleControls();
    CreateHiddenControls();
    CreateComponents();
}

TNotifyEvent TForm1::Bind(Handler handler) {
    return [this, handler](TObject* Sender) { (this->*handler)(Sender); };
}

template <class T> T* TForm1::Make(const char* name) {
    T* control = Create<T>(this);
    control->SetName(name);
    control->SetParent(this);
    return control;
}

void TForm1::CreateVisibleControls() {
    Label2 = Make<TLabel>("Label2");
    Label2->SetBounds(8, 6, 100, 20);
    Label2->SetFont(TFont{"Verdana", 13, false, clOlive});
    Label2->SetCaption("Mise à jour Kestrova");

    Label1 = Make<TLabel>("Label1");
    Label1->SetLeft(10);
    Label1->SetTop(31);

    Image1 = Make<TImage>("Image1");
    Image1->SetBounds(320, 0, 49, 57);
    Image1->SetPicture(Picture("tamrel.png"));

    ProgressBar = Make<TProgressBar>("ProgressBar");
    ProgressBar->SetBounds(8, 64, 361, 17);

    BitBtn1 = Make<TBitBtn>("BitBtn1");
    BitBtn1->SetBounds(8, 88, 169, 25);
    BitBtn1->SetCaption("Mise à jour");
    BitBtn1->SetGlyph(Picture("update.png"));
    BitBtn1->OnClick = Bind(&TForm1::BitBtn1Click);

    BitBtn2 = Make<TBitBtn>("BitBtn2");
    BitBtn2->SetBounds(200, 88, 169, 25);
    BitBtn2->SetCaption("Quitter");
    BitBtn2->SetGlyph(Picture("quit.png"));
    BitBtn2->OnClick = Bind(&TForm1::BitBtn2Click);
}

TButton* TForm1::MakeHiddenButton(const char* name, int left, const std::string& caption) {
    auto* button = Make<TButton>(name);
    button->SetBounds(left, 200, 75, 25);
    button->SetCaption(caption);
    button->Hide();
    return button;
}

// Leftovers of the window's design, kept below its visible area: the update flow calls the
// handlers of the buttons directly.
void TForm1::CreateHiddenControls() {
    Label3 = Make<TLabel>("Label3");
    Label3->SetLeft(8);
    Label3->SetTop(176);
    Label3->Hide();
    Memo1 = Make<TMemo>("Memo1");
    Memo1->SetBounds(8, 240, 185, 89);
    Memo1->Hide();
    Button2 = MakeHiddenButton("Button2", 8, "Voir date de l'exe");
    Button2->OnClick = Bind(&TForm1::Button2Click);
    Button3 = MakeHiddenButton("Button3", 88, "Button3");
    Button3->OnClick = Bind(&TForm1::Button3Click);
    Button5 = MakeHiddenButton("Button5", 168, "html");
    Button5->OnClick = Bind(&TForm1::Button5Click);
    Button1 = MakeHiddenButton("Button1", 248, "voi fichier html");
    auto hiddenEdit = [this](const char* name, int top) {
        auto* edit = Make<TEdit>(name);
        edit->SetBounds(200, top, 169, 21);
        edit->Hide();
        return edit;
    };
    Nom_de_exe = hiddenEdit("Nom_de_exe", 240);
    Nom_du_zip = hiddenEdit("Nom_du_zip", 264);
    url_verif = hiddenEdit("url_verif", 288);
    url_de_telechargement = hiddenEdit("url_de_telechargement", 312);
}

void TForm1::CreateComponents() {
    IdHTTP1 = Create<net::TIdHTTP>(this);
    IdHTTP1->SetName("IdHTTP1");
    IdHTTP1->AllowCookies = true;
    IdHTTP1->HandleRedirects = false;
    // The client's idle limit stays: without one a server that stops sending mid-download
    // would hold the updater, with the main program already stopped, for ever.
    IdHTTP1->OnWorkBegin = [this](TObject* Sender, net::TWorkMode AWorkMode,
                                  std::int64_t AWorkCountMax) {
        IdHTTP1WorkBegin(Sender, AWorkMode, AWorkCountMax);
    };
    IdHTTP1->OnWork = [this](TObject* Sender, net::TWorkMode AWorkMode, std::int64_t AWorkCount) {
        IdHTTP1Work(Sender, AWorkMode, AWorkCount);
    };
    IdHTTP1->OnWorkEnd = [this](TObject* Sender, net::TWorkMode AWorkMode) {
        IdHTTP1WorkEnd(Sender, AWorkMode);
    };

    IdAntiFreeze1 = Create<net::TIdAntiFreeze>(this);
    IdAntiFreeze1->SetName("IdAntiFreeze1");

    ZipArchiver1 = Create<zip::TZipArchiver>(this);
    ZipArchiver1->SetName("ZipArchiver1");
    ZipArchiver1->ExtractCorruptedFiles = false;
    ZipArchiver1->SetCompressionLevel(zip::clFastest);
    ZipArchiver1->SetCompressionMode(1);
    ZipArchiver1->SetCurrentVersion("2.65 ");
    ZipArchiver1->SetSpanningMode(zip::smNone);
    ZipArchiver1->SpanningOptions().AdvancedNaming = true;
    ZipArchiver1->SpanningOptions().VolumeSize = zip::vsAutoDetect;
    ZipArchiver1->Options().FlushBuffers = true;
    ZipArchiver1->Options().OEMFileNames = true;
    ZipArchiver1->SetInMemory(false);
    ZipArchiver1->SetZip64Mode(zip::zmDisabled);
    ZipArchiver1->OnFileProgress = [this](TObject* Sender, const std::string& FileName,
                                          double Progress, zip::TZAProcessOperation Operation,
                                          zip::TZAProgressPhase ProgressPhase, bool& Cancel) {
        ZipArchiver1FileProgress(Sender, FileName, Progress, Operation, ProgressPhase, Cancel);
    };
}

void TForm1::FormCreate(TObject*) {
    NomExe = "Kestrova.exe";
    NomZip = "Kestrova.zip";
    CheminZip = Folder() + NomZip;
    UrlPageVersion = "http://" + place_.ReleaseHost + "/kestrova/update.html";
    UrlZip = "http://" + place_.ReleaseHost + "/rv/" + NomZip;
    NomProduit = ChangeFileExt(NomExe, "");
    SetCaption("Mise à jour " + NomProduit);
    Label2->SetCaption("Mise à jour " + NomProduit);
    BitBtn1->SetHint("Recherchez maintenant une nouvelle version de " + NomProduit);
    Label1->SetCaption("Pour rechercher une nouvelle version de " + NomProduit +
                       "\rVeuillez cliquer sur le bouton \"Mise à jour\".");
}

void TForm1::LoadMemoFromMemoryStream(TMemo* Memo, TMemoryStream* Stream) {
    const std::string_view bytes(reinterpret_cast<const char*>(Stream->Memory()),
                                 static_cast<std::size_t>(Stream->Size()));
    Memo->Lines().Assign(net::AnswerLines(bytes));
}

void TForm1::Button5Click(TObject*) {
    const std::string noNewVersion =
        "Aucune nouvelle version de " + NomProduit + "\rn'est disponible sur internet.";
    TMemoryStream stream;
    try {
        IdHTTP1->Get(UrlPageVersion, stream);
    } catch (const std::exception&) { // the library's errors and any other alike
        Label1->SetCaption(noNewVersion);
        return;
    }
    LoadMemoFromMemoryStream(Memo1, &stream);
    const std::string first = Memo1->Lines().Count() > 0 ? Memo1->Lines()[0] : std::string();
    if (first.empty() || first == "0") {
        Memo1->Lines().Clear();
        Label1->SetCaption("Pas de réponse, essayez de nouveau dans un moment");
        return;
    }
    // Not trapped: a first line that is no date ends the click in the error box.
    DateWeb = StrToDate(first);
}

void TForm1::Button2Click(TObject*) {
    const std::string path = Folder() + NomExe;
    if (FileExists(path)) {
        Label3->SetCaption(DateToStr(std::floor(FileWriteTime(path))));
        DateExe = StrToDate(Label3->Caption());
    } else {
        Label1->SetCaption("La mise à jour, ne trouve pas le fichier d'origine\r" + NomExe +
                           " sur votre ordinateur.");
    }
}

void TForm1::Button3Click(TObject*) {
    ZipArchiver1->SetFileName(CheminZip);
    ZipArchiver1->OpenArchive(vcl::fmOpenRead | vcl::fmShareDenyWrite);
    ZipArchiver1->BaseDir = Folder();
    ZipArchiver1->ExtractFiles("*.*", zip::faAllEntries, "");
    ZipArchiver1->CloseArchive();
}

bool TForm1::DownloadArchive() {
    bool whole = false;
    {
        // Created before the error trap: a file that cannot be made ends the click in the
        // error box.
        TFileStream file(CheminZip, fmCreate);
        try {
            IdHTTP1->Get(UrlZip, file);
            // The client already fails a body cut short; only a whole release is installed,
            // so its length is held against the announced one here as well.
            const std::int64_t announced = IdHTTP1->ResponseContentLength();
            if (announced >= 0 && file.Size() != announced)
                throw net::EIdConnClosedGracefully();
            whole = true;
        } catch (const net::EIdException& error) {
            ShowMessage(Format("Erreur durant le téléchargement : %s", {error.Message()}));
        } catch (const std::exception& error) {
            ShowMessage(Format("Erreur inconnue : %s", {std::string(error.what())}));
        }
    }
    if (!whole)
        DeleteFile(CheminZip);
    return whole;
}

void TForm1::TestArchive() {
    std::string failure; // the engine's text for the first entry that failed
    bool skipped = false;
    // The test is the flow's own step: its failures are answered here, without the
    // engine's prompts, and every setting it changes is put back however it ends.
    struct TRestore {
        zip::TZipArchiver* archiver;
        ~TRestore() {
            archiver->CloseArchive();
            archiver->OnProcessFileFailure = nullptr;
            archiver->OnPassword = nullptr;
            archiver->SetOpenCorruptedArchives(true);
        }
    } restore{ZipArchiver1};
    ZipArchiver1->OnProcessFileFailure =
        [&failure](TObject*, const std::string&, zip::TZAProcessOperation, std::int32_t,
                   std::int32_t, const std::string& message, zip::TZAAction& action) {
            if (failure.empty())
                failure = message;
            action = zip::fxaAbort;
        };
    // An entry that needs a password cannot be checked, so it is no part of a sound release.
    ZipArchiver1->OnPassword = [&skipped](TObject*, const std::string&, std::string&, bool& skip) {
        skip = true;
        skipped = true;
    };
    ZipArchiver1->SetOpenCorruptedArchives(false);
    ZipArchiver1->SetFileName(CheminZip);
    // An archive without its end record fails here: zeArchiveDamaged.
    ZipArchiver1->OpenArchive(vcl::fmOpenRead | vcl::fmShareDenyWrite);
    ZipArchiver1->BaseDir = Folder();
    ZipArchiver1->TestFiles("*.*", zip::faAllEntries, "");
    if (!failure.empty())
        throw Exception(failure);
    if (skipped || ZipArchiver1->ProcessedFileNo() != ZipArchiver1->ProcessedFileCount())
        throw zip::EZAException(zip::zeBadEntryData, ZipArchiver1);
}

void TForm1::RecoverMainProgram() {
    ZipArchiver1->CloseArchive();
    if (FileExists(Folder() + NomExe))
        platform::ShellExecute("open", Folder() + NomExe);
    if (FileExists(CheminZip))
        DeleteFile(CheminZip);
}

void TForm1::BitBtn1Click(TObject*) {
    BitBtn1->SetEnabled(false);
    if (!FileExists(Folder() + NomExe)) {
        Label1->SetCaption("La mise à jour, ne trouve pas le fichier d'origine\r" + NomExe +
                           " sur votre ordinateur.");
        return;
    }
    Button5Click(Button5);
    Button2Click(Button2);
    if (!(DateWeb > DateExe)) {
        Label1->SetCaption("Aucune nouvelle version de " + NomProduit +
                           "\rn'est disponible sur internet.");
        BitBtn1->SetEnabled(true);
        return;
    }
    // The release is downloaded and checked while the main program still runs: a failed
    // download or a damaged archive never leaves the address unwatched.
    Label1->SetCaption("Téléchargement des mises à jour " + NomProduit + ".");
    if (!DownloadArchive()) {
        BitBtn1->SetEnabled(true);
        return;
    }
    Label1->SetCaption("Installation de la mise à jour " + NomProduit + ".");
    try {
        TestArchive();
    } catch (...) {
        DeleteFile(CheminZip);
        BitBtn1->SetEnabled(true);
        throw; // the engine's error in the standard error box
    }
    if (!TerminerProcessus(NomExe, place_.Processes(), place_.Stopper)) {
        // A main program still runs: a release installed under it would run beside it (the
        // old one going on with the replaced program) once the new one starts.
        DeleteFile(CheminZip);
        BitBtn1->SetEnabled(true);
        ShowMessage("La mise à jour de " + NomProduit + " n'a pas été installée :\r" + NomProduit +
                    " n'a pas pu être arrêté.");
        return;
    }
    Sleep(300);
    // From here on the main program is stopped: every road that does not install the whole
    // release starts it again.
    try {
        Button3Click(Button3);
    } catch (...) {
        RecoverMainProgram();
        throw;
    }
    if (ZipArchiver1->ProcessedFileNo() != ZipArchiver1->ProcessedFileCount()) {
        // An entry failed or was skipped, or its prompt was answered "Abandonner": the
        // user has seen the engine's prompt, and the success box would be untrue.
        RecoverMainProgram();
        return;
    }
    Label1->SetCaption("Mise à jour de " + NomProduit + " terminée.");
    Sleep(300);
    platform::ShellExecute("open", Folder() + NomExe);
    if (FileExists(CheminZip))
        DeleteFile(CheminZip);
    BitBtn1->SetEnabled(true);
    ShowMessage("La mise à jour de " + NomProduit + " est terminée et installée.\r\n" + NomProduit +
                " à été redémarré automatiquement.");
    Close();
}

void TForm1::BitBtn2Click(TObject*) {
    Close();
}

void TForm1::IdHTTP1WorkBegin(TObject*, net::TWorkMode AWorkMode, std::int64_t AWorkCountMax) {
    if (AWorkMode != net::wmRead)
        return;
    ProgressBar->SetMax(BarValue(AWorkCountMax));
    ProgressBar->SetPosition(0);
    DebutTransfert = Now();
    Application().ProcessMessages();
}

void TForm1::IdHTTP1Work(TObject*, net::TWorkMode AWorkMode, std::int64_t AWorkCount) {
    if (AWorkMode != net::wmRead)
        return;
    ProgressBar->SetPosition(BarValue(AWorkCount));
    constexpr TDateTime oneSecond = 1.0 / 86400;
    if (Now() - DebutTransfert >= oneSecond)
        Application().ProcessMessages();
}

void TForm1::IdHTTP1WorkEnd(TObject*, net::TWorkMode) {
    ProgressBar->SetPosition(0);
}

void TForm1::ZipArchiver1FileProgress(TObject*, const std::string&, double Progress,
                                      zip::TZAProcessOperation, zip::TZAProgressPhase, bool&) {
    ProgressBar->SetPosition(static_cast<int>(Progress));
}

bool TerminerProcessus(const std::string& NomExe) {
    return TerminerProcessus(NomExe, platform::ProcessSnapshot());
}

bool TerminerProcessus(const std::string& NomExe,
                       const std::vector<platform::ProcessEntry>& processes,
                       const TStopper& stopper) {
    // The snapshot holds every user's processes; only this user's main program is stopped.
    std::vector<pid_t> own;
    for (const platform::ProcessEntry& process : processes)
        if (process.Uid == ::getuid() && SameText(process.ExeName, NomExe))
            own.push_back(process.Pid);
    // One whose end is refused fails at once, unless it has ended on its own meanwhile; the
    // others get their time to end.
    bool stopped = true;
    std::vector<pid_t> ending;
    for (const pid_t pid : own) {
        if (stopper.Terminate(pid))
            ending.push_back(pid);
        else
            stopped = platform::WaitForProcessExit(pid, 0) && stopped;
    }
    for (const pid_t pid : ending)
        stopped = platform::WaitForProcessExit(pid, stopper.ExitWaitMs) && stopped;
    return stopped;
}

} // namespace updater
