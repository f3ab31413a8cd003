// The user URL and the dynamic-DNS updates against loopback servers: what each request
// carries, the answer lines in the page's memo, the boxes about missing settings, the form
// posts, and HttpCli1 wanted twice at once or freed while it waits.
#include "WatchFixture.h"

#include <QTimer>

using namespace testsupport;
using namespace vcl;

namespace {

using Lines = std::vector<std::string>;
using ipwatch::TForm1;

const Lines kNoAnswer{"Pas de réponse !", "Veuillez vérifier votre connexion Internet"};
const char* const kDynDnsMissing =
    "Vous devez indiquer les renseignements suivant :\r\rVotre Mot de passe\rL'identifiant\r"
    "Le domaine Dyndns\r\rOu décochez l'option \"Connexion Dyndns\" ";
const char* const kNoIpMissing = "Vous devez indiquer les renseignements suivant :\r\rVotre Mot "
                                 "de passe\rL'identifiant\r\rOu décochez l'option \"Connexion "
                                 "No-ip\" ";
const char* const kOvhMissing =
    "Vous devez indiquer les renseignements suivant :\r\rVotre Mot de passe\rL'identifiant\r"
    "Le domaine ovh\r\rOu décochez l'option \"Connexion Ovh\" ";

class UpdatesTest : public WatchTest {
protected:
    void SetUp() override {
        WatchTest::SetUp();
        FillEverything();
        form1->memo1->Lines().Assign(Lines{"192.0.2.7", "more"});
    }
    void ExpectNoAnswerNotice() {
        EXPECT_TRUE(form2->Visible());
        EXPECT_EQ(form2->Titre->Caption(), "Erreur : Pas de réponse !");
        EXPECT_EQ(form2->Texte->Caption(), "Vérifier la connexion Internet");
    }
};

TEST_F(UpdatesTest, EachUpdateSendsItsPathQueryAndAccount) {
    struct Case {
        const char* name;
        void (TForm1::*handler)(TObject*);
        const char* server;
        const char* path;
        const char* credentials;
        TMemo* TForm1::*memo;
        Lines lines;
    } cases[] = {
        {"DynDNS",
         &TForm1::Button12Click,
         "dyndns",
         "/nic/update?system=dyndns&hostname=home.dyndns.org&wildcard=NOCHG&mx=NOCHG&backmx=NOCHG",
         "dyn@example.org:p@ss:w/rd",
         &TForm1::Memo3,
         {"good 192.0.2.7"}},
        {"No-IP",
         &TForm1::Button13Click,
         "noip",
         "/nic/update?hostname=home.no-ip.org",
         "noip@example.org:no:pass",
         &TForm1::Memo4,
         {"nochg 192.0.2.7"}},
        {"OVH",
         &TForm1::Button15Click,
         "ovh",
         "/nic/update?system=dyndns&hostname=home.example.fr&myip=192.0.2.7",
         "ovh-user:ovh/p@ss",
         &TForm1::Memo5,
         {"good"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(HttpLog(), std::ios::trunc).close();
        (form1->*c.memo)->Lines().Assign(Lines{"old"});
        (form1->*c.handler)(nullptr);
        ASSERT_EQ(Servers(), Lines{c.server});
        const QJsonObject request = Requests()[0];
        EXPECT_EQ(Text(request, "method"), "GET");
        EXPECT_EQ(Text(request, "version"), "HTTP/1.0");
        EXPECT_EQ(Text(request, "path"), c.path);
        EXPECT_EQ(Text(request, "credentials"), c.credentials);
        EXPECT_EQ(Header(request, "User-Agent"), "Mozilla/3.0 (compatible)");
        EXPECT_EQ(Header(request, "Accept"),
                  "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
        EXPECT_EQ(Header(request, "Host"), HttpHost(c.server));
        EXPECT_EQ(Memo(form1->*c.memo), c.lines);
    }
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(form2->Visible());
}

TEST_F(UpdatesTest, AnUpdateWithoutAnswerShowsZeroAndNothingElse) {
    struct Case {
        const char* name;
        const char* answer;
    } cases[] = {
        {"empty body", R"({"body": ""})"},
        {"reset", R"({"action": "reset"})"},
        {"stalled", R"({"action": "stall"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Route("dyndns", "*", c.answer);
        form1->Button12Click(nullptr);
        EXPECT_EQ(Memo(form1->Memo3), Lines{"0"});
    }
    form1->Services.NoIp = "127.0.0.1:" + std::to_string(nettest::RefusedPort());
    form1->Button13Click(nullptr);
    EXPECT_EQ(Memo(form1->Memo4), Lines{"0"});
    EXPECT_FALSE(form2->Visible());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(UpdatesTest, AnErrorPageIsShownAsItCame) {
    Route("ovh", "*", R"({"status": 401, "body": "badauth\r\n"})");
    form1->Button15Click(nullptr);
    EXPECT_EQ(Memo(form1->Memo5), Lines{"badauth"});
}

TEST_F(UpdatesTest, OvhSendsWhateverTheFirstLineOfTheAddressMemoHolds) {
    form1->memo1->Lines().Assign(kNoAnswer);
    form1->Button15Click(nullptr);
    ASSERT_EQ(Requests("ovh").size(), 1u);
    EXPECT_EQ(
        Text(Requests("ovh")[0], "path"),
        "/nic/update?system=dyndns&hostname=home.example.fr&myip=Pas%20de%20r\xc3\xa9ponse%20!");
}

TEST_F(UpdatesTest, MissingSettingsAskOverTheShownWindow) {
    struct Case {
        const char* name;
        void (TForm1::*handler)(TObject*);
        TEdit* TForm1::*field;
        const char* text;
    } cases[] = {
        {"DynDNS host", &TForm1::Button12Click, &TForm1::domaine_ip, kDynDnsMissing},
        {"DynDNS login", &TForm1::Button12Click, &TForm1::Login_ip, kDynDnsMissing},
        {"DynDNS password", &TForm1::Button12Click, &TForm1::password_ip, kDynDnsMissing},
        {"No-IP login", &TForm1::Button13Click, &TForm1::login_no, kNoIpMissing},
        {"No-IP password", &TForm1::Button13Click, &TForm1::password_no, kNoIpMissing},
        {"No-IP host", &TForm1::Button13Click, &TForm1::domaine_no, kNoIpMissing},
        {"OVH host", &TForm1::Button15Click, &TForm1::domaine_ovh, kOvhMissing},
        {"OVH login", &TForm1::Button15Click, &TForm1::ident_ovh, kOvhMissing},
        {"OVH password", &TForm1::Button15Click, &TForm1::passe_ovh, kOvhMissing},
        {"DynDNS post", &TForm1::Button9Click, &TForm1::password_ip, kDynDnsMissing},
        {"No-IP post", &TForm1::Button10Click, &TForm1::password_no, kNoIpMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillEverything();
        (form1->*c.field)->SetText("");
        for (TMemo* memo : {form1->Memo3, form1->Memo4, form1->Memo5})
            memo->Lines().Assign(Lines{"old"});
        form1->Hide();
        dialogs->shown.clear();
        (form1->*c.handler)(nullptr);
        EXPECT_TRUE(form1->Visible());
        EXPECT_EQ(Boxes(), Lines{c.text});
        for (TMemo* memo : {form1->Memo3, form1->Memo4, form1->Memo5})
            EXPECT_EQ(Memo(memo), Lines{"old"});
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_F(UpdatesTest, TheUserUrlIsCheckedThenFetchedAsTyped) {
    struct Case {
        const char* name;
        std::string url;
        const char* box; // nullptr: fetched
    } cases[] = {
        {"empty", "", "Veuillez indiquer une URL\r\rOu décochez l'option \"Envoyer URL\" "},
        {"the default", "http://",
         "Veuillez indiquer une URL\r\rOu décochez l'option \"Envoyer URL\" "},
        {"no scheme", HttpHost("url") + "/hook", "Veuillez indiquer http:// devant votre URL"},
        {"capitals", "HTTP://" + HttpHost("url") + "/",
         "Veuillez indiquer http:// devant votre URL"},
        {"plain", "http://" + HttpHost("url") + "/hook?ip=1", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(HttpLog(), std::ios::trunc).close();
        dialogs->shown.clear();
        form1->Memo2->Lines().Assign(Lines{"old"});
        form1->Hide();
        form1->qv_url->SetText(c.url);
        form1->Button7Click(nullptr);
        if (c.box) {
            EXPECT_TRUE(form1->Visible());
            EXPECT_EQ(Boxes(), Lines{c.box});
            EXPECT_TRUE(Requests().empty());
            EXPECT_EQ(Memo(form1->Memo2), Lines{"old"});
        } else {
            EXPECT_TRUE(Boxes().empty());
            ASSERT_EQ(Servers(), Lines{"url"});
            EXPECT_EQ(Text(Requests()[0], "path"), "/hook?ip=1");
            EXPECT_EQ(Text(Requests()[0], "version"), "HTTP/1.0");
            EXPECT_EQ(Memo(form1->Memo2), (Lines{"ok", "merci"}));
        }
    }
}

TEST_F(UpdatesTest, AnotherSchemeWithHttpLaterIsHandedOnUnchanged) {
    const std::string url = "ftp://" + HttpHost("url") + "/?back=http://example.org";
    form1->qv_url->SetText(url);
    form1->Button7Click(nullptr);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(form1->HttpCli1->URL, url);
    EXPECT_EQ(Memo(form1->Memo2), kNoAnswer); // the client speaks HTTP only
    ExpectNoAnswerNotice();
}

TEST_F(UpdatesTest, AUserUrlWithoutAnswerIsReported) {
    struct Case {
        const char* name;
        const char* answer;
    } cases[] = {
        {"the line 0", R"({"body": "0\r\n"})"},
        {"empty body", R"({"body": ""})"},
        {"reset", R"({"action": "reset"})"},
        {"stalled", R"({"action": "stall"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form2->SpeedButton1Click(nullptr);
        form1->qv_fenetre->SetChecked(false); // reported all the same
        Route("url", "*", c.answer);
        form1->EnvoiURL1->Click();
        EXPECT_EQ(Memo(form1->Memo2), kNoAnswer);
        ExpectNoAnswerNotice();
    }
}

// Half an answer, or one far longer than any real one, is no answer.
TEST_F(UpdatesTest, CutOrHugeAnswersAreNoAnswer) {
    for (const char* answer : {R"({"action": "cut", "body": "partial\r\nline"})",
                               R"({"action": "big"})", R"({"action": "endless"})"}) {
        SCOPED_TRACE(answer);
        Route("url", "*", answer);
        form1->Button7Click(nullptr);
        EXPECT_EQ(Memo(form1->Memo2),
                  (Lines{"Pas de réponse !", "Veuillez vérifier votre connexion Internet"}));
    }
}

TEST_F(UpdatesTest, LineEndingsOfTheAnswerFollowTheAnswerRule) {
    struct Case {
        const char* answer;
        Lines lines;
    } cases[] = {
        {R"({"body": "a\nb\r\nc\rd"})", {"a", "b", "c", "d"}},
        {R"({"body": "a\n\rb"})", {"a", "", "b"}},
        {R"({"body": "good\r\n\r\n"})", {"good", ""}},
    };
    for (const Case& c : cases) {
        Route("dyndns", "*", c.answer);
        form1->Button12Click(nullptr);
        EXPECT_EQ(Memo(form1->Memo3), c.lines) << c.answer;
    }
}

TEST_F(UpdatesTest, TheFormPostsSendTheirFieldsAndReportNothing) {
    form1->Button9Click(nullptr);
    form1->Button10Click(nullptr);
    ASSERT_EQ(Servers(), (Lines{"dyndns", "noip"}));
    const QJsonObject dyndns = Requests("dyndns")[0];
    EXPECT_EQ(Text(dyndns, "method"), "POST");
    EXPECT_EQ(Text(dyndns, "path"), "/nic/update?");
    EXPECT_EQ(Text(dyndns, "credentials"), "dyn@example.org:p@ss:w/rd");
    EXPECT_EQ(Header(dyndns, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(Header(dyndns, "User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(Text(dyndns, "body"), "hostname=home.dyndns.org&system=dyndns&myip=192.0.2.7");
    const QJsonObject noip = Requests("noip")[0];
    EXPECT_EQ(Text(noip, "method"), "POST");
    EXPECT_EQ(Text(noip, "path"), "/dns?");
    EXPECT_EQ(Header(noip, "Authorization"), "<none>");
    EXPECT_EQ(Text(noip, "body"),
              "username=noip%40example.org&password=no%3Apass&hostname=home.no-ip.org");

    // The next check goes out as before: no account, the client's own content type.
    UntickEverything();
    Tick();
    const QJsonObject page = Requests("check").at(0);
    EXPECT_EQ(Header(page, "Authorization"), "<none>");
    EXPECT_EQ(Header(page, "Content-Type"), "text/html");

    // Failures are dropped.
    form1->Services.DynDns = "127.0.0.1:" + std::to_string(nettest::RefusedPort());
    Route("noip", "*", R"({"status": 500})");
    form1->Button9Click(nullptr);
    form1->Button10Click(nullptr);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(form2->Visible());
}

// A timer tick or a menu command that wants HttpCli1 while it waits for another answer is
// refused at once: its memo shows "0", and the first request ends with its own answer.
TEST_F(UpdatesTest, ASecondRequestWhileOneWaitsGetsNoAnswerAndMixesNothing) {
    Route("ovh", "*", R"({"delay_ms": 800, "body": "good slow\r\n"})");
    bool fired = false;
    QTimer::singleShot(200, [&] {
        form1->Button12Click(nullptr);
        form1->Button7Click(nullptr);
        fired = true;
    });
    form1->Button15Click(nullptr);
    ASSERT_TRUE(fired);
    EXPECT_EQ(Memo(form1->Memo5), Lines{"good slow"});
    EXPECT_EQ(Memo(form1->Memo3), Lines{"0"});
    EXPECT_EQ(Memo(form1->Memo2), kNoAnswer);
    EXPECT_EQ(Servers(), Lines{"ovh"});

    // The client serves the next request as usual.
    form1->Button12Click(nullptr);
    EXPECT_EQ(Memo(form1->Memo3), Lines{"good 192.0.2.7"});
}

TEST_F(UpdatesTest, ANewCheckDuringARequestRunsBesideIt) {
    Route("ovh", "*", R"({"delay_ms": 800, "body": "good slow\r\n"})");
    UntickEverything();
    form1->qv_dyndns->SetChecked(true);
    form1->memo1->Lines().Clear();
    QTimer::singleShot(200, [&] { Tick(); });
    form1->Button15Click(nullptr);
    EXPECT_EQ(Memo(form1->Memo5), Lines{"good slow"});
    EXPECT_EQ(Memo(form1->Memo3), Lines{"0"});
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
}

TEST_F(UpdatesTest, ClosingTheWindowDuringARequestAbandonsIt) {
    Route("ovh", "*", R"({"delay_ms": 800, "body": "good slow\r\n"})");
    QTimer::singleShot(200, [&] { form1->Close(); });
    form1->Button15Click(nullptr);
    EXPECT_EQ(form1->HttpCli1, nullptr);
    EXPECT_FALSE(form1->Timer1->Enabled());
    EXPECT_EQ(Memo(form1->Memo5), Lines{"0"});

    // Without the client every answer is empty; nothing is sent.
    form1->Button12Click(nullptr);
    form1->Button7Click(nullptr);
    EXPECT_EQ(Memo(form1->Memo3), Lines{"0"});
    EXPECT_EQ(Memo(form1->Memo2), kNoAnswer);
    EXPECT_EQ(Servers(), Lines{"ovh"});
}

// "Quitter" while the user URL or an update waits for its server: the request is abandoned
// and the program ends, however it was waiting. A check that finds a new address shows its
// notice just before the user URL, and the notice stays in view while the request waits.
TEST_F(UpdatesTest, QuittingWhileARequestWaitsEndsTheProgram) {
    struct Road {
        const char* name;
        void (TForm1::*request)(TObject*);
        const char* server;
        std::function<void(TForm1&)> quit;
        bool fromTray = false;
        bool notice = false;
    } roads[] = {
        {"user URL, button", &TForm1::Button7Click, "url", [](TForm1& f) { f.BitBtn3->Click(); }},
        {"OVH, tray menu", &TForm1::Button15Click, "ovh", [](TForm1& f) { f.Quitter1->Click(); },
         true},
        {"DynDNS, close box", &TForm1::Button12Click, "dyndns",
         [](TForm1& f) { f.Widget()->close(); }},
        {"user URL after the notice, button", &TForm1::Button7Click, "url",
         [](TForm1& f) { f.BitBtn3->Click(); }, false, true},
        {"user URL after the notice, menu", &TForm1::Button7Click, "url",
         [](TForm1& f) { f.Quitter1->Click(); }, false, true},
        {"user URL after the notice, tray menu", &TForm1::Button7Click, "url",
         [](TForm1& f) { f.Quitter1->Click(); }, true, true},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        Restart();
        FillEverything();
        if (road.fromTray)
            form1->Rduire1Click(nullptr); // the window hidden, as in the tray
        form1->HttpCli1->ReadTimeout = 0; // the server never answers: only the quit ends it
        Route(road.server, "*", R"({"action": "stall"})");
        QObject timers; // the timers go with the round
        bool asked = false, returned = false, gaveUp = false;
        QTimer::singleShot(0, &timers, [&] {
            if (road.notice)
                form2->AfficheMessage("01/02/2026 10:00:00", "Votre IP : 192.0.2.7");
            (form1->*road.request)(nullptr);
            returned = true;
        });
        QTimer::singleShot(300, &timers, [&] {
            asked = true;
            if (road.notice) {
                EXPECT_TRUE(form2->Visible());
            }
            road.quit(*form1);
        });
        // Only a program that failed to end gets here.
        QTimer::singleShot(8000, &timers, [&] {
            gaveUp = true;
            QCoreApplication::exit(1);
        });
        app->Run();
        EXPECT_TRUE(asked);
        EXPECT_FALSE(gaveUp) << "the message loop went on after Quitter";
        EXPECT_TRUE(returned) << "the waiting handler ended";
        EXPECT_TRUE(app->Terminated());
        WriteRoutes(DefaultRoutes());
    }
}

} // namespace
