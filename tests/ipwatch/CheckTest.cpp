// The address check against loopback servers: the check page, the fallback service, the
// comparison with the previous check and the notifications of a change, in order.
#include "WatchFixture.h"

#include <QEventLoop>
#include <QTimer>

using namespace testsupport;
using namespace vcl;

namespace {

using Lines = std::vector<std::string>;

class CheckTest : public WatchTest {};

TEST_F(CheckTest, AChangeRunsEveryTickedNotificationInOrder) {
    FillEverything();
    Tick();
    EXPECT_EQ(Memo(form1->memo1)[0], "192.0.2.7");
    EXPECT_EQ(form2->Titre->Caption().substr(0, 2), DateTimeToStr(Now()).substr(0, 2));
    EXPECT_EQ(form2->Texte->Caption(), "Votre IP : 192.0.2.7");
    EXPECT_EQ(form1->RxTrayIcon1->Hint(), "Kestrova : 192.0.2.7");
    EXPECT_EQ(Servers(), (Lines{"check", "url", "dyndns", "noip", "ovh"}));
    // The mail went between the check page and the user URL.
    ASSERT_EQ(Mails().size(), 1u);
    const double mailed = Mails()[0]["time"].toDouble();
    EXPECT_LT(Requests("check")[0]["time"].toDouble(), mailed);
    EXPECT_LT(mailed, Requests("url")[0]["time"].toDouble());
    EXPECT_EQ(Memo(form1->Memo2), (Lines{"ok", "merci"}));
    EXPECT_EQ(Memo(form1->Memo3), Lines{"good 192.0.2.7"});
    EXPECT_EQ(Memo(form1->Memo4), Lines{"nochg 192.0.2.7"});
    EXPECT_EQ(Memo(form1->Memo5), Lines{"good"});
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(CheckTest, TheCheckPageIsAPlainIndyGet) {
    UntickEverything();
    Tick();
    ASSERT_EQ(Requests().size(), 1u);
    const QJsonObject page = Requests("check")[0];
    EXPECT_EQ(Text(page, "method"), "GET");
    EXPECT_EQ(Text(page, "path"), "/");
    EXPECT_EQ(Header(page, "User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(Header(page, "Accept"), "text/html, */*");
    EXPECT_EQ(Header(page, "Authorization"), "<none>");
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
}

// Whatever goes wrong with the check page, the fallback service is asked, and its first
// answer line is the address.
TEST_F(CheckTest, TheFallbackServiceStandsInForAFailingCheckPage) {
    struct Case {
        const char* name;
        const char* answer;
    } cases[] = {
        {"not found", R"({"status": 404, "body": "Address: 192.0.2.9</body>"})"},
        {"server error", R"({"status": 500})"},
        {"no closing body tag", R"({"body": "Current IP Address: 192.0.2.9"})"},
        {"empty page", R"({"body": ""})"},
        {"cut in mid-body", R"({"action": "cut", "body": "Address: 192.0.2.9</bo"})"},
        {"reset", R"({"action": "reset"})"},
        {"stalled", R"({"action": "stall"})"},
        {"stalled in mid-body", R"({"action": "stallbody", "body": "Address: 1"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(HttpLog(), std::ios::trunc).close();
        Route("check", "/", c.answer);
        UntickEverything();
        form1->memo1->Lines().Clear();
        Tick();
        EXPECT_EQ(Servers(), (Lines{"check", "fallback"}));
        EXPECT_EQ(Memo(form1->memo1), (Lines{"203.0.113.5", "ipindy"}));
        const QJsonObject fallback = Requests("fallback")[0];
        EXPECT_EQ(Text(fallback, "path"), "/cgi-bin/ipindy.pl");
        EXPECT_EQ(Header(fallback, "User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    }
}

TEST_F(CheckTest, BothSourcesFailingIsReportedEvenWithTheNoticeOptionOff) {
    FillEverything();
    form1->qv_fenetre->SetChecked(false);
    Route("check", "/", R"({"status": 500})");
    form1->Services.Fallback = "127.0.0.1:" + std::to_string(nettest::RefusedPort());
    Tick();
    EXPECT_EQ(Memo(form1->memo1),
              (Lines{"Pas de réponse !", "Veuillez vérifier votre connexion Internet"}));
    EXPECT_TRUE(form2->Visible());
    EXPECT_EQ(form2->Titre->Caption(), "Erreur : Pas de réponse !");
    EXPECT_EQ(form2->Texte->Caption(), "Vérifier la connexion Internet");
    EXPECT_EQ(form1->RxTrayIcon1->Hint(), "Kestrova");
    EXPECT_EQ(Servers(), Lines{"check"}); // no notification
    EXPECT_TRUE(Mails().empty());
}

TEST_F(CheckTest, AFallbackAnswerOfZeroOrNothingIsNoAddress) {
    for (const char* answer : {R"({"body": "0\r\n"})", R"({"body": ""})"}) {
        SCOPED_TRACE(answer);
        Route("check", "/", R"({"status": 404})");
        Route("fallback", "/cgi-bin/ipindy.pl", answer);
        UntickEverything();
        Tick();
        EXPECT_EQ(Memo(form1->memo1)[0], "Pas de réponse !");
    }
}

TEST_F(CheckTest, TheSameAddressTwiceChangesNothing) {
    FillEverything();
    Tick();
    ASSERT_EQ(Servers().size(), 5u);
    form2->SpeedButton1Click(form2->SpeedButton1); // the first notice goes away
    form1->RxTrayIcon1->SetHint("Kestrova");
    std::ofstream(HttpLog(), std::ios::trunc).close();

    Tick();
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
    EXPECT_EQ(Servers(), Lines{"check"});
    EXPECT_EQ(Mails().size(), 1u);
    EXPECT_FALSE(form2->Visible());
    EXPECT_EQ(form1->RxTrayIcon1->Hint(), "Kestrova");
    EXPECT_EQ(ipwatch::IPPrecedente, "192.0.2.7");
}

TEST_F(CheckTest, AfterAFailedCheckTheSameAddressCountsAsAChange) {
    UntickEverything();
    form1->qv_ovh->SetChecked(true);
    form1->ident_ovh->SetText("ovh-user");
    form1->passe_ovh->SetText("secret");
    form1->domaine_ovh->SetText("home.example.fr");
    Route("check", "/",
          R"([{"body": "a: 192.0.2.7</body>"}, {"status": 500}, {"body": "a: 192.0.2.7</body>"}])");
    Route("fallback", "/cgi-bin/ipindy.pl", R"({"status": 503})");
    Tick();
    Tick();
    EXPECT_EQ(Memo(form1->memo1)[0], "Pas de réponse !");
    Tick();
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
    EXPECT_EQ(Requests("ovh").size(), 2u);
}

TEST_F(CheckTest, WithTheNoticeOptionOffAChangeShowsNoNoticeAndKeepsTheTip) {
    UntickEverything();
    Tick();
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
    EXPECT_FALSE(form2->Visible());
    EXPECT_EQ(form1->RxTrayIcon1->Hint(), "Kestrova");
}

TEST_F(CheckTest, TheManualCheckOnlyWritesTheAddress) {
    FillEverything();
    form1->Button8->Click();
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
    EXPECT_EQ(Servers(), Lines{"check"});
    EXPECT_FALSE(form2->Visible());

    // Both sources failing: the single line "0", and no report.
    std::ofstream(HttpLog(), std::ios::trunc).close();
    Route("check", "/", R"({"status": 404})");
    Route("fallback", "/cgi-bin/ipindy.pl", R"({"body": ""})");
    form1->Button8->Click();
    EXPECT_EQ(Memo(form1->memo1), Lines{"0"});
    EXPECT_EQ(Servers(), (Lines{"check", "fallback"}));
    EXPECT_FALSE(form2->Visible());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(CheckTest, AManualCheckSetsTheAddressTheNextTickComparesWith) {
    FillEverything();
    form1->Button8Click(nullptr);
    Tick();
    EXPECT_EQ(Servers(), (Lines{"check", "check"}));
    EXPECT_TRUE(Mails().empty());
}

// A notification with incomplete settings shows its box over the window; the check goes on
// with the next one when the box is closed.
TEST_F(CheckTest, IncompleteSettingsAskAndTheCheckGoesOn) {
    FillEverything();
    form1->Sujet_qv->SetText("");
    form1->qv_url->SetText("http://");
    form1->Hide();
    Tick();
    EXPECT_TRUE(form1->Visible());
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(dialogs->shown[0].caption, "Kestrova");
    EXPECT_EQ(Boxes()[1], "Veuillez indiquer une URL\r\rOu décochez l'option \"Envoyer URL\" ");
    EXPECT_EQ(Servers(), (Lines{"check", "dyndns", "noip", "ovh"}));
    EXPECT_TRUE(Mails().empty());
}

TEST_F(CheckTest, ATenMegabyteCheckPageOrFallbackAnswerIsTakenInStride) {
    UntickEverything();
    Route("check", "/", R"({"action": "big"})");
    Route("fallback", "/cgi-bin/ipindy.pl", R"({"action": "big"})");
    Tick();
    // The bytes 0..250 over and over: the page has no closing body tag, so the fallback is
    // asked, and its first line ends at once at a NUL byte: no address.
    EXPECT_EQ(Servers(), (Lines{"check", "fallback"}));
    EXPECT_EQ(Memo(form1->memo1),
              (Lines{"Pas de réponse !", "Veuillez vérifier votre connexion Internet"}));
}

// A check page whose "address" runs to 10 MB is a failed request, as any answer beyond what
// a real page holds: the fallback service gives the address, and the change goes out whole.
// Read whole, it froze the window for a minute and a half and lost the user URL and the
// OVH update of that change.
TEST_F(CheckTest, ATenMegabyteAddressIsAFailedRequestAndTheChangeStillGoesOut) {
    FillEverything();
    form1->qv_email->SetChecked(false);
    TempDir dir;
    const std::string page = dir / "page.html";
    WriteFile(page,
              "<html><body>Current IP Address: " + std::string(10 << 20, '7') + "</body></html>");
    Route("check", "/", ("{\"file\": \"" + page + "\"}").c_str());
    Tick();
    EXPECT_EQ(Servers(), (Lines{"check", "fallback", "url", "dyndns", "noip", "ovh"}));
    EXPECT_EQ(Memo(form1->memo1), (Lines{"203.0.113.5", "ipindy"}));
    EXPECT_EQ(Memo(form1->Memo2), (Lines{"ok", "merci"}));
    ASSERT_EQ(Requests("ovh").size(), 1u);
    EXPECT_NE(Text(Requests("ovh")[0], "path").find("myip=203.0.113.5"), std::string::npos);
    EXPECT_TRUE(Boxes().empty());
}

// A message box that stays open, processing messages as a modal box does, until the test's
// condition holds (or a long limit, which only a failing program reaches).
class StandingBox : public TDialogPresenter {
public:
    explicit StandingBox(std::function<bool()> closeWhen) : closeWhen_(std::move(closeWhen)) {}
    TDialogAnswer Present(const TDialogRequest& request) override {
        texts.push_back(request.text);
        if (texts.size() == 1) { // the first box stands; any later one is closed at once
            QEventLoop loop;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (closeWhen_())
                    loop.quit();
            });
            poll.start(10);
            QTimer::singleShot(10000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return {request.closeResult, {}};
    }
    std::vector<std::string> texts;

private:
    std::function<bool()> closeWhen_;
};

// While a box of one check waits for the user, the timer goes on ticking and the next
// checks run; before, no tick came until the box was closed (27 minutes in one report).
TEST_F(CheckTest, TicksGoOnWhileABoxOfACheckWaits) {
    struct Case {
        const char* name;
        std::function<void(ipwatch::TForm1&)> arrange;
        const char* words;
    } cases[] = {
        {"missing settings",
         [](ipwatch::TForm1& f) {
             f.qv_urlc->SetChecked(true);
             f.qv_url->SetText("http://");
         },
         "Veuillez indiquer une URL"},
        {"mail refused after the connect",
         [](ipwatch::TForm1& f) {
             f.qv_email->SetChecked(true);
             f.mot_de_passe->SetText("wrong");
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        FillEverything();
        UntickEverything();
        c.arrange(*form1);
        int ticks = 0;
        auto check = form1->Timer1->OnTimer;
        form1->Timer1->OnTimer = [&](TObject* sender) {
            ++ticks;
            check(sender);
        };
        auto* box = new StandingBox([&] { return ticks >= 3; });
        TPresenterScope scope{std::unique_ptr<TDialogPresenter>(box)};
        form1->Timer1->SetInterval(100);
        EXPECT_TRUE(PumpUntil([&] { return !box->texts.empty(); }, 5000));
        form1->Timer1->SetEnabled(false);
        ASSERT_FALSE(box->texts.empty());
        EXPECT_NE(box->texts[0].find(c.words), std::string::npos) << box->texts[0];
        EXPECT_GE(ticks, 3) << "ticks while the first box waited";
        // The later checks saw the same address: they notified nothing more.
        EXPECT_EQ(box->texts.size(), 1u);
        EXPECT_EQ(Memo(form1->memo1)[0], "192.0.2.7");
    }
}

} // namespace
