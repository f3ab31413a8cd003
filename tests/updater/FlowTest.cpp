#include "UpdaterFixture.h"
#include "support/Child.h"

#include "net/TestServers.h"
#include "platform/Processes.h"
#include "vcl/DateUtils.h"
#include "vcl/SysUtils.h"
#include "zip/ZAExcept.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <thread>

using namespace testsupport;

namespace {

constexpr int kFileYear = 2020, kFileMonth = 3, kFileDay = 15;

std::string ShortDate(int year, int month, int day) {
    return vcl::DateToStr(vcl::EncodeDate(year, month, day));
}

void RunCommand(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A stand-in main program: a script that notes, next to itself, which release started.
void WriteProgram(const std::string& path, const std::string& release) {
    WriteFile(path, "#!/bin/sh\necho " + release + " > \"$(dirname \"$0\")/started.txt\"\n");
    ::chmod(path.c_str(), 0755);
}

// Sets a file's last write to noon of a local date.
void SetFileDate(const std::string& path, int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class Flow : public UpdaterTest {
protected:
    static void SetUpTestSuite() {
        server_ = new nettest::ServerProcess(nettest::ScriptPath("http_server.py"), Log(),
                                             {Routes(), "release=127.0.0.1:0"});
        port_ = QJsonDocument::fromJson(QByteArray::fromStdString(server_->FirstLine()))
                    .object()["release"]
                    .toInt();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    // A stand-in for the running main program under that name, one the flow may stop.
    std::unique_ptr<Child> RunningMainProgram(const TempDir& dir,
                                              const std::string& name = "Kestrova.exe") {
        const std::string running = dir / name;
        std::filesystem::copy_file(HOLD_MEMORY, running);
        WriteFile(dir / "data", std::string(4096, 'x'));
        auto child = std::make_unique<Child>(running, std::vector<std::string>{dir / "data"});
        Adopt(child->Pid());
        EXPECT_EQ(child->ReadLine().rfind("ready", 0), 0u);
        return child;
    }

    void SetUp() override {
        std::ofstream(Log(), std::ios::trunc).close();
        Start("127.0.0.1:" + std::to_string(port_));
        form->IdHTTP1->ReadTimeout = 3000;
        WriteProgram(Exe(), "old");
        SetFileDate(Exe(), kFileYear, kFileMonth, kFileDay);
        Serve(ShortDate(kFileYear, kFileMonth, kFileDay + 1) + "\r\n", "");
    }

    static std::string Log() { return nettest::LogPath("updater-http.log"); }
    static std::string Routes() { return nettest::LogPath("updater-routes.json"); }
    std::string Exe() const { return Installation() + "/Kestrova.exe"; }
    std::string Started() const { return Installation() + "/started.txt"; }
    // The started program's line, once it is written whole: its shell creates the file
    // before it writes, so the file's existence alone says nothing yet of what it holds.
    bool WaitForStart() const {
        return WaitFor([&] {
            const std::string line = ReadFile(Started());
            return !line.empty() && line.back() == '\n';
        });
    }

    // The version page's body and the archive's answer (a JSON object).
    void Serve(const std::string& page, const std::string& archiveAnswer) {
        QJsonObject release;
        release["/kestrova/update.html"] = QJsonObject{{"body", QString::fromStdString(page)}};
        if (!archiveAnswer.empty())
            release["/rv/Kestrova.zip"] =
                QJsonDocument::fromJson(QByteArray::fromStdString(archiveAnswer)).object();
        else
            release["/rv/Kestrova.zip"] = QJsonObject{{"status", 404}, {"body", "missing"}};
        const std::string temporary = Routes() + ".new";
        std::ofstream(temporary, std::ios::trunc)
            << QJsonDocument(QJsonObject{{"release", release}}).toJson().toStdString();
        std::rename(temporary.c_str(), Routes().c_str());
    }
    void ServeArchive(const std::string& archive, long limit = -1) {
        QJsonObject answer{{"file", QString::fromStdString(archive)}};
        if (limit >= 0) {
            answer["limit"] = static_cast<double>(limit);
            answer["action"] = "cut";
        }
        Serve(ShortDate(kFileYear, kFileMonth, kFileDay + 1) + "\r\n",
              QJsonDocument(answer).toJson().toStdString());
    }

    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const auto& entry : nettest::ReadLog(Log()))
            paths.push_back(entry["path"].toString().toStdString());
        return paths;
    }
    bool AskedForTheArchive() const {
        const auto paths = Paths();
        return std::find(paths.begin(), paths.end(), "/rv/Kestrova.zip") != paths.end();
    }
    // The version page's answer as a JSON object; the archive is not served.
    void ServePageAnswer(const std::string& answer) {
        const std::string routes = "{\"release\": {\"/kestrova/update.html\": " + answer + "}}";
        std::ofstream(Routes() + ".new", std::ios::trunc) << routes;
        std::rename((Routes() + ".new").c_str(), Routes().c_str());
    }
    // Where the central directory of an archive without comment begins: 16 bytes into its
    // end record.
    static long DirectoryOffset(const std::string& bytes) {
        const std::string end = bytes.substr(bytes.size() - 22);
        return static_cast<unsigned char>(end[16]) | static_cast<unsigned char>(end[17]) << 8 |
               static_cast<unsigned char>(end[18]) << 16;
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const auto& d : dialogs->shown)
            texts.push_back(d.text);
        return texts;
    }

    // A release made by Info-ZIP zip from a folder: the new main program, a file in a
    // subfolder, and whatever the test adds there first.
    std::string MakeRelease(const std::function<void(const std::string&)>& extra = {},
                            const std::string& zipOptions = "") {
        const std::string source = root / "release";
        vcl::ForceDirectories(source + "/docs");
        WriteProgram(source + "/Kestrova.exe", "new");
        WriteFile(source + "/docs/lisezmoi.txt", "nouvelle version\n");
        if (extra)
            extra(source);
        const std::string archive = root / "Kestrova-release.zip";
        RunCommand("cd '" + source + "' && zip -q -r " + zipOptions + " '" + archive + "' .");
        return archive;
    }

    // Runs a Python script (Debian's python3, with zipfile) on one argument.
    void Python(const std::string& script, const std::string& argument) {
        const std::string file = root / "script.py";
        WriteFile(file, script);
        RunCommand("/usr/bin/python3 '" + file + "' '" + argument + "'");
    }

    static nettest::ServerProcess* server_;
    static int port_;
};

nettest::ServerProcess* Flow::server_ = nullptr;
int Flow::port_ = 0;

const std::string kNoNewVersion = "Aucune nouvelle version de Kestrova\r"
                                  "n'est disponible sur internet.";
const std::string kInstalled = "La mise à jour de Kestrova est terminée et installée.\r\n"
                               "Kestrova à été redémarré automatiquement.";

TEST_F(Flow, NoUpdateUnlessTheReleaseIsStrictlyLater) {
    struct Case {
        const char* name;
        std::string page;
    } cases[] = {
        {"same date", ShortDate(kFileYear, kFileMonth, kFileDay) + "\r\n"},
        {"earlier date", ShortDate(kFileYear, kFileMonth, kFileDay - 1) + "\nsuite\n"},
        {"empty page", ""},
        {"no answer", "0\r\n"},
        {"empty first line", "\r\n" + ShortDate(kFileYear + 1, 1, 1)},
    };
    for (const Case& c : cases) {
        Serve(c.page, "");
        form->BitBtn1->Click();
        EXPECT_EQ(form->Label1->Caption(), kNoNewVersion) << c.name;
        EXPECT_TRUE(form->BitBtn1->Enabled()) << c.name;
        EXPECT_TRUE(dialogs->shown.empty()) << c.name;
        EXPECT_FALSE(AskedForTheArchive()) << c.name;
        EXPECT_NE(ReadFile(Exe()).find("old"), std::string::npos) << c.name;
    }
    // Each click asked the version page again.
    EXPECT_EQ(Paths().size(), std::size(cases));
    EXPECT_FALSE(Exists(form->CheminZip));
}

TEST_F(Flow, OnlyTheFirstLineCountsAndTheTimeOfDayOfTheFileDoesNot) {
    Serve(ShortDate(kFileYear, kFileMonth, kFileDay) + "\r\n" + ShortDate(kFileYear + 5, 1, 1) +
              "\r\n",
          "");
    form->BitBtn1->Click();
    EXPECT_EQ(form->DateWeb, vcl::EncodeDate(kFileYear, kFileMonth, kFileDay));
    EXPECT_EQ(form->DateExe, vcl::EncodeDate(kFileYear, kFileMonth, kFileDay));
    EXPECT_EQ(form->Label3->Caption(), ShortDate(kFileYear, kFileMonth, kFileDay));
    EXPECT_EQ(form->Memo1->Lines().Count(), 2);
    EXPECT_EQ(form->Label1->Caption(), kNoNewVersion);
}

// A version page far longer than any real one, or one dripped so slowly that the idle limit
// never trips, is no answer: the program neither holds it nor waits on it.
TEST_F(Flow, AnOversizedOrDrippedVersionPageMeansNoNewVersion) {
    TempDir runDir;
    auto child = RunningMainProgram(runDir);
    const char* answers[] = {R"({"action": "big"})", R"({"action": "endless"})",
                             R"({"action": "drip", "body": "15/03/2099\r\n", "interval_ms": 300})"};
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        Start("127.0.0.1:" + std::to_string(port_));
        form->IdHTTP1->ReadTimeout = 3000;
        form->IdHTTP1->AnswerDeadline = 1500;
        ServePageAnswer(answer);
        form->BitBtn1->Click();
        EXPECT_EQ(form->Label1->Caption(), kNoNewVersion);
        EXPECT_TRUE(form->BitBtn1->Enabled());
        EXPECT_EQ(form->DateWeb, 0);
        EXPECT_TRUE(dialogs->shown.empty());
        EXPECT_EQ(form->Memo1->Lines().Count(), 0);
    }
    EXPECT_FALSE(AskedForTheArchive());
    EXPECT_FALSE(platform::WaitForProcessExit(child->Pid(), 0));
}

TEST_F(Flow, AVersionPageThatCannotBeHadMeansNoNewVersion) {
    struct Case {
        const char* name;
        std::string host;
        const char* answer;
    } cases[] = {
        {"server down", "127.0.0.1:" + std::to_string(nettest::RefusedPort()), nullptr},
        {"HTTP error", "", R"({"status": 500, "body": "panne"})"},
        {"redirect", "", R"({"status": 302, "headers": [["Location", "/ailleurs"]]})"},
    };
    for (const Case& c : cases) {
        Start(c.host.empty() ? "127.0.0.1:" + std::to_string(port_) : c.host);
        if (c.answer) {
            const std::string routes =
                "{\"release\": {\"/kestrova/update.html\": " + std::string(c.answer) + "}}";
            std::ofstream(Routes() + ".new", std::ios::trunc) << routes;
            std::rename((Routes() + ".new").c_str(), Routes().c_str());
        }
        form->BitBtn1->Click();
        EXPECT_EQ(form->Label1->Caption(), kNoNewVersion) << c.name;
        EXPECT_TRUE(form->BitBtn1->Enabled()) << c.name;
        EXPECT_EQ(form->DateWeb, 0) << c.name;
        EXPECT_TRUE(dialogs->shown.empty()) << c.name;
    }
    EXPECT_FALSE(AskedForTheArchive());
}

TEST_F(Flow, AFirstLineThatIsNoDateEndsInTheErrorBoxBeforeAnythingIsStopped) {
    TempDir runDir;
    auto child = RunningMainProgram(runDir);

    Serve("<html>maintenance</html>\r\n", "");
    form->BitBtn1->Click();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].caption, "Mise à jour");
    EXPECT_EQ(dialogs->shown[0].icon, vcl::TDialogIcon::Stop);
    EXPECT_EQ(dialogs->shown[0].text, "'<html>maintenance</html>' n'est pas une date correcte.");
    EXPECT_FALSE(form->BitBtn1->Enabled());
    EXPECT_FALSE(AskedForTheArchive());
    EXPECT_FALSE(platform::WaitForProcessExit(child->Pid(), 100));
}

TEST_F(Flow, AMissingMainProgramIsReportedAndNothingIsAsked) {
    std::filesystem::remove(Exe());
    form->BitBtn1->Click();
    EXPECT_EQ(form->Label1->Caption(), "La mise à jour, ne trouve pas le fichier d'origine\r"
                                       "Kestrova.exe sur votre ordinateur.");
    EXPECT_FALSE(form->BitBtn1->Enabled());
    EXPECT_TRUE(Paths().empty());
}

TEST_F(Flow, EveryMainProgramOfTheUserIsStoppedWhateverItsLetterCase) {
    TempDir runDir;
    WriteFile(runDir / "data", std::string(4096, 'x'));
    auto program = [&](const std::string& name) {
        vcl::CreateDir(runDir / name.substr(0, name.find('/')));
        std::filesystem::copy_file(HOLD_MEMORY, runDir / name);
        return runDir / name;
    };
    Child other(program("a/Kestrova.exe.old"), {runDir / "data"});
    auto shouted = std::make_unique<Child>(program("b/KESTROVA.EXE"),
                                           std::vector<std::string>{runDir / "data"});
    auto second = std::make_unique<Child>(program("c/kestrova.exe"),
                                          std::vector<std::string>{runDir / "data"});
    for (Child* c : {&other, shouted.get(), second.get()}) {
        Adopt(c->Pid());
        ASSERT_EQ(c->ReadLine().rfind("ready", 0), 0u);
    }
    // Both namesakes at once: the one left running would go on beside the new release.
    EXPECT_TRUE(updater::TerminerProcessus("Kestrova.exe", OwnProcesses()));
    EXPECT_TRUE(platform::WaitForProcessExit(shouted->Pid(), 0));
    EXPECT_TRUE(platform::WaitForProcessExit(second->Pid(), 0));
    EXPECT_FALSE(platform::WaitForProcessExit(other.Pid(), 0));
    shouted.reset(); // reaped, or their remains would still be listed under their names
    second.reset();
    // None left is no failure: there is nothing to stop.
    EXPECT_TRUE(updater::TerminerProcessus("Kestrova.exe", OwnProcesses()));
    EXPECT_FALSE(platform::WaitForProcessExit(other.Pid(), 0));
}

TEST_F(Flow, TwoRunningMainProgramsAreBothStoppedBeforeTheInstall) {
    TempDir one, two;
    auto first = RunningMainProgram(one);
    auto second = RunningMainProgram(two, "KESTROVA.EXE");
    ServeArchive(MakeRelease());
    form->BitBtn1->Click();
    EXPECT_TRUE(platform::WaitForProcessExit(first->Pid(), 0));
    EXPECT_TRUE(platform::WaitForProcessExit(second->Pid(), 0));
    EXPECT_EQ(Texts(), std::vector<std::string>{kInstalled});
    EXPECT_TRUE(WaitForStart());
    EXPECT_EQ(ReadFile(Started()), "new\n");
}

// Another user's Kestrova runs as that user's program: the updater has no business with it.
// The helper runs under the user "nobody", which takes root to start.
TEST_F(Flow, AnotherUsersMainProgramIsLeftRunning) {
    if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "starting a program as another user takes root and setpriv";
    // A folder every user may enter, for the other user's program.
    char shared[] = "/tmp/kestrova-other-XXXXXX";
    ASSERT_NE(::mkdtemp(shared), nullptr);
    struct Remove {
        std::string path;
        ~Remove() { std::filesystem::remove_all(path); }
    } remove{shared};
    ::chmod(shared, 0755);
    const std::string theirs = std::string(shared) + "/Kestrova.exe";
    std::filesystem::copy_file(HOLD_MEMORY, theirs);
    WriteFile(std::string(shared) + "/data", std::string(4096, 'x'));
    ::chmod((std::string(shared) + "/data").c_str(), 0644);
    // Started first, so that it comes first in the process list as well.
    Child other("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", theirs,
                                     std::string(shared) + "/data"});
    Adopt(other.Pid());
    ASSERT_EQ(other.ReadLine().rfind("ready", 0), 0u);
    TempDir runDir;
    auto mine = RunningMainProgram(runDir);
    ServeArchive(MakeRelease());

    form->BitBtn1->Click();
    EXPECT_FALSE(platform::WaitForProcessExit(other.Pid(), 0)) << "the other user's program";
    EXPECT_TRUE(platform::WaitForProcessExit(mine->Pid(), 0));
    EXPECT_EQ(Texts(), std::vector<std::string>{kInstalled});
    EXPECT_TRUE(WaitForStart());
    EXPECT_EQ(ReadFile(Started()), "new\n");
}

TEST_F(Flow, AMainProgramThatCannotBeStoppedLeavesEverythingAsItWas) {
    struct Case {
        const char* name;
        bool refused; // the end is refused; else the process is told to end and stays
    };
    for (const Case& c : {Case{"refused", true}, Case{"does not end", false}}) {
        SCOPED_TRACE(c.name);
        stopper.Terminate = [&c](pid_t) { return !c.refused; };
        stopper.ExitWaitMs = 200;
        Start("127.0.0.1:" + std::to_string(port_));
        dialogs->shown.clear();
        TempDir runDir;
        auto running = RunningMainProgram(runDir);
        ServeArchive(MakeRelease());

        form->BitBtn1->Click();
        EXPECT_EQ(Texts(), (std::vector<std::string>{"La mise à jour de Kestrova n'a pas été "
                                                     "installée :\rKestrova n'a pas pu être "
                                                     "arrêté."}));
        EXPECT_FALSE(platform::WaitForProcessExit(running->Pid(), 0));
        EXPECT_EQ(ReadFile(Exe()), "#!/bin/sh\necho old > \"$(dirname \"$0\")/started.txt\"\n");
        EXPECT_FALSE(Exists(Installation() + "/docs"));
        EXPECT_FALSE(Exists(Started())) << "nothing was started beside it";
        EXPECT_FALSE(Exists(form->CheminZip));
        EXPECT_TRUE(form->BitBtn1->Enabled());
        EXPECT_FALSE(app->Terminated());
    }
}

TEST_F(Flow, AnArchiveFileThatCannotBeMadeEndsInTheErrorBoxWithTheMainProgramRunning) {
    TempDir runDir;
    auto child = RunningMainProgram(runDir);
    vcl::CreateDir(form->CheminZip); // a folder where the archive should go

    form->BitBtn1->Click();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].icon, vcl::TDialogIcon::Stop);
    EXPECT_EQ(dialogs->shown[0].text,
              "Impossible de créer le fichier \"" + form->CheminZip + "\". Is a directory.");
    EXPECT_EQ(form->Label1->Caption(), "Téléchargement des mises à jour Kestrova.");
    EXPECT_FALSE(form->BitBtn1->Enabled());
    EXPECT_FALSE(AskedForTheArchive());
    EXPECT_FALSE(platform::WaitForProcessExit(child->Pid(), 0));
}

TEST_F(Flow, TheDownloadMovesTheProgressBarAndWritesTheWholeArchive) {
    // 5 MB that do not compress, stored as they are.
    std::mt19937 random(7);
    std::string noise(5 * 1024 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    const std::string archive =
        MakeRelease([&](const std::string& source) { WriteFile(source + "/donnees.bin", noise); });
    const std::string expected = ReadFile(archive);
    ServeArchive(archive);

    std::vector<std::pair<int, int>> begins; // (maximum, position) after each begin
    std::vector<int> positions;
    std::vector<int> ends;
    std::string downloaded;
    auto begin = form->IdHTTP1->OnWorkBegin;
    auto work = form->IdHTTP1->OnWork;
    auto end = form->IdHTTP1->OnWorkEnd;
    form->IdHTTP1->OnWorkBegin = [&](vcl::TObject* s, net::TWorkMode m, std::int64_t max) {
        begin(s, m, max);
        begins.emplace_back(form->ProgressBar->Max(), form->ProgressBar->Position());
    };
    form->IdHTTP1->OnWork = [&](vcl::TObject* s, net::TWorkMode m, std::int64_t count) {
        work(s, m, count);
        positions.push_back(form->ProgressBar->Position());
    };
    form->IdHTTP1->OnWorkEnd = [&](vcl::TObject* s, net::TWorkMode m) {
        end(s, m);
        ends.push_back(form->ProgressBar->Position());
        if (form->Label1->Caption() == "Téléchargement des mises à jour Kestrova.")
            downloaded = ReadFile(form->CheminZip);
    };

    form->BitBtn1->Click();
    ASSERT_EQ(begins.size(), 2u); // the version page, then the archive
    EXPECT_EQ(begins[1].first, static_cast<int>(expected.size()));
    EXPECT_EQ(begins[1].second, 0);
    EXPECT_TRUE(std::is_sorted(positions.begin() + 1, positions.end()));
    EXPECT_GT(positions.size(), 10u);
    EXPECT_EQ(positions.back(), static_cast<int>(expected.size()));
    EXPECT_EQ(ends, (std::vector<int>{0, 0}));
    EXPECT_TRUE(downloaded == expected) << downloaded.size() << " bytes of " << expected.size();
}

TEST_F(Flow, ANewerReleaseReplacesAndRestartsTheMainProgram) {
    TempDir runDir;
    auto child = RunningMainProgram(runDir, "KESTROVA.EXE");
    ServeArchive(MakeRelease());

    form->BitBtn1->Click();
    EXPECT_TRUE(platform::WaitForProcessExit(child->Pid(), 0));
    EXPECT_EQ(Texts(), std::vector<std::string>{kInstalled});
    EXPECT_EQ(dialogs->shown[0].caption, "Mise à jour");
    EXPECT_TRUE(WaitForStart());
    EXPECT_EQ(ReadFile(Started()), "new\n");
    EXPECT_EQ(ReadFile(Installation() + "/docs/lisezmoi.txt"), "nouvelle version\n");
    EXPECT_FALSE(Exists(form->CheminZip));
    EXPECT_EQ(form->Label1->Caption(), "Mise à jour de Kestrova terminée.");
    EXPECT_TRUE(form->BitBtn1->Enabled());
    EXPECT_TRUE(app->Terminated());
}

TEST_F(Flow, AProgramReplacedFromAnArchiveWithoutUnixModesStaysExecutable) {
    const std::string archive = root / "windows.zip";
    Python("import sys, zipfile\n"
           "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
           "i = zipfile.ZipInfo('Kestrova.exe', (2020, 4, 1, 12, 0, 0))\n"
           "i.create_system = 0\n"
           "i.external_attr = 0x20\n"
           "z.writestr(i, '#!/bin/sh\\necho windows > \"$(dirname \"$0\")/started.txt\"\\n')\n"
           "z.close()\n",
           archive);
    ServeArchive(archive);
    form->BitBtn1->Click();
    EXPECT_EQ(Mode(Exe()) & 0111, 0111u);
    EXPECT_TRUE(WaitForStart());
    EXPECT_EQ(ReadFile(Started()), "windows\n");
}

// Every release that is not whole and intact is refused before the main program is
// stopped and before anything is extracted: the box the user sees, the old installation
// untouched, the main program still running, no archive left and the button usable.
TEST_F(Flow, AReleaseThatIsNotWholeAndIntactIsRefusedWithTheMainProgramRunning) {
    const std::string sound = MakeRelease(
        [](const std::string& source) {
            WriteFile(source + "/docs/notes.txt", std::string(3000, 'n') + "\n");
        },
        "-0");
    const std::string bytes = ReadFile(sound);
    const long directory = DirectoryOffset(bytes);
    // Served whole with its true length, but cut before its central directory.
    const std::string truncated = root / "truncated.zip";
    WriteFile(truncated, bytes.substr(0, static_cast<std::size_t>(directory)));
    // A byte of a stored entry's data changed: its CRC no longer matches.
    const std::string flipped = root / "flipped.zip";
    std::string damaged = bytes;
    damaged[damaged.find(std::string(3000, 'n')) + 1500] = 'N';
    WriteFile(flipped, damaged);
    // Entries that need a password: the test cannot read them, so they are no sound release.
    const std::string locked = root / "locked.zip";
    RunCommand("cd '" + root / "release" + "' && zip -q -r -P secret '" + locked + "' .");
    // The engine's own words, in the standard error box that ends them with a full stop.
    const std::string crcText =
        zip::EZAException(zip::zeBadEntryData, form->ZipArchiver1).Message() + ".";
    const std::string damagedText =
        zip::EZAException(zip::zeArchiveDamaged, form->ZipArchiver1).Message() + ".";

    struct Case {
        const char* name;
        std::function<void()> serve;
        std::string box;
        vcl::TDialogIcon icon;
    };
    const Case cases[] = {
        {"not found", [&] { Serve(ShortDate(kFileYear, kFileMonth, kFileDay + 1) + "\r\n", ""); },
         "Erreur durant le téléchargement : HTTP/1.1 404 Not Found", vcl::TDialogIcon::None},
        {"cut with a longer length announced", [&] { ServeArchive(sound, directory); },
         "Erreur durant le téléchargement : Connection Closed Gracefully.", vcl::TDialogIcon::None},
        {"truncated, served whole", [&] { ServeArchive(truncated); }, damagedText,
         vcl::TDialogIcon::Stop},
        {"an entry failing its CRC", [&] { ServeArchive(flipped); }, crcText,
         vcl::TDialogIcon::Stop},
        {"entries behind a password", [&] { ServeArchive(locked); }, crcText,
         vcl::TDialogIcon::Stop},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir runDir;
        auto child = RunningMainProgram(runDir);
        Start("127.0.0.1:" + std::to_string(port_));
        form->IdHTTP1->ReadTimeout = 3000;
        dialogs->shown.clear();
        c.serve();
        form->BitBtn1->Click();
        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_EQ(dialogs->shown[0].text, c.box);
        EXPECT_EQ(dialogs->shown[0].icon, c.icon);
        EXPECT_EQ(dialogs->shown[0].caption, "Mise à jour");
        EXPECT_TRUE(AskedForTheArchive());
        EXPECT_FALSE(platform::WaitForProcessExit(child->Pid(), 0)) << "the watcher was stopped";
        EXPECT_EQ(ReadFile(Exe()), "#!/bin/sh\necho old > \"$(dirname \"$0\")/started.txt\"\n");
        EXPECT_FALSE(Exists(Installation() + "/docs"));
        EXPECT_FALSE(Exists(form->CheminZip));
        EXPECT_TRUE(form->BitBtn1->Enabled());
        EXPECT_FALSE(app->Terminated());
        std::ofstream(Log(), std::ios::trunc).close();
    }
}

TEST_F(Flow, AnArchiveCutBeforeItsDirectoryIsNeitherRebuiltNorInstalled) {
    TempDir runDir;
    auto child = RunningMainProgram(runDir);
    const std::string archive = MakeRelease();
    ServeArchive(archive, DirectoryOffset(ReadFile(archive)));

    form->BitBtn1->Click();
    EXPECT_EQ(Texts(), std::vector<std::string>{
                           "Erreur durant le téléchargement : Connection Closed Gracefully."});
    EXPECT_FALSE(platform::WaitForProcessExit(child->Pid(), 0));
    EXPECT_NE(ReadFile(Exe()).find("old"), std::string::npos);
    EXPECT_FALSE(Exists(Installation() + "/docs/lisezmoi.txt"));
    EXPECT_FALSE(Exists(form->CheminZip));
    EXPECT_TRUE(form->BitBtn1->Enabled());
}

// An entry that cannot be written once the main program is stopped: the engine's prompt
// comes, and whatever the user answers, the main program runs again afterwards, the archive
// is gone and no success is claimed.
TEST_F(Flow, AnEntryThatFailsAfterTheMainProgramStoppedEndsWithTheMainProgramRunningAgain) {
    for (const char* answer : {"Abandonner", "Ignorer"}) {
        SCOPED_TRACE(answer);
        TempDir runDir;
        auto child = RunningMainProgram(runDir);
        Start("127.0.0.1:" + std::to_string(port_));
        form->IdHTTP1->ReadTimeout = 3000;
        std::filesystem::remove(Started());
        ServeArchive(MakeRelease());
        // A folder stands where the release's text file goes.
        vcl::ForceDirectories(Installation() + "/docs/lisezmoi.txt");
        dialogs->shown.clear();
        dialogs->Press(answer);

        form->BitBtn1->Click();
        EXPECT_TRUE(platform::WaitForProcessExit(child->Pid(), 0));
        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_EQ(dialogs->shown[0].kind, vcl::TDialogRequest::Kind::MessageDlg);
        EXPECT_NE(dialogs->shown[0].text.find("File processing error"), std::string::npos)
            << dialogs->shown[0].text;
        EXPECT_TRUE(WaitForStart()) << "the main program is dead";
        EXPECT_FALSE(Exists(form->CheminZip));
        EXPECT_NE(form->Label1->Caption(), "Mise à jour de Kestrova terminée.");
        EXPECT_FALSE(app->Terminated());
        std::filesystem::remove_all(Installation() + "/docs");
        WriteProgram(Exe(), "old");
        SetFileDate(Exe(), kFileYear, kFileMonth, kFileDay);
    }
}

TEST_F(Flow, NothingIsWrittenOutsideTheInstallationFolder) {
    const std::string archive = root / "escape.zip";
    Python("import sys, zipfile\n"
           "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
           "z.writestr('Kestrova.exe', '#!/bin/sh\\n')\n"
           "z.writestr('../escaped.txt', 'dehors')\n"
           "z.writestr('docs/../../escaped2.txt', 'dehors')\n"
           "z.writestr('/tmp/kestrova-escaped-absolute.txt', 'dehors')\n"
           "z.close()\n",
           archive);
    ServeArchive(archive);
    form->BitBtn1->Click();
    EXPECT_FALSE(Exists(root / "escaped.txt"));
    EXPECT_FALSE(Exists(root / "escaped2.txt"));
    EXPECT_FALSE(Exists("/tmp/kestrova-escaped-absolute.txt"));
}

} // namespace
