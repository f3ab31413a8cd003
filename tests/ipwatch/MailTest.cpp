// The e-mail notification against aiosmtpd: envelope, subject and body lines, AUTH LOGIN
// only with both login fields, connect failures reported, a refusal after the connect
// shown without stopping the rest of the change.
#include "WatchFixture.h"

using namespace testsupport;
using namespace vcl;

namespace {

using Lines = std::vector<std::string>;

const char* const kMissing = "Vous devez indiquer les renseignements suivant :\r\rVotre SMTP\r"
                             "Votre E-mail\rL'e-mail du destinataire\rLe sujet de l'E-mail\r\r"
                             "Ou décochez l'option \"Envoyer E-mail\" ";

class MailTest : public WatchTest {
protected:
    void SetUp() override {
        WatchTest::SetUp();
        FillEverything();
        form1->memo1->Lines().Assign(Lines{"192.0.2.7"});
    }
};

TEST_F(MailTest, TheMailCarriesTheAddressTheTimeAndTheUsersLines) {
    const TDateTime before = Now();
    form1->Button5Click(nullptr);
    ASSERT_EQ(Mails().size(), 1u);
    const QJsonObject mail = Mails()[0];
    EXPECT_EQ(Text(mail, "mail_from"), "kestrova@example.org");
    EXPECT_EQ(mail["rcpt_tos"].toArray().size(), 1);
    EXPECT_EQ(mail["rcpt_tos"][0].toString().toStdString(), "owner@example.org");
    EXPECT_EQ(MailHeader(mail, "Subject"), "Nouvelle adresse IP");
    EXPECT_EQ(MailHeader(mail, "From"), "kestrova@example.org");
    EXPECT_EQ(MailHeader(mail, "To"), "owner@example.org");
    EXPECT_EQ(Text(mail, "login"), "mailer@example.org");
    EXPECT_EQ(Text(mail, "mechanism"), "LOGIN");

    Lines body = BodyLines(mail);
    ASSERT_EQ(body.size(), 8u);
    const std::string stamp = body[3];
    ASSERT_EQ(stamp.rfind("Date et heure : ", 0), 0u) << stamp;
    const TDateTime when = StrToDateTime(stamp.substr(16));
    EXPECT_LE(std::abs(when - before) * 86400, 2.0) << stamp;
    body[3] = "Date et heure : ";
    EXPECT_EQ(body,
              (Lines{"Kestrova vous informe!", "Adresse IP : 192.0.2.7", "Lien : http://192.0.2.7",
                     "Date et heure : ", " ", "Message :", "Bonjour,", "à bientôt"}));
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
    EXPECT_FALSE(form2->Visible());
}

TEST_F(MailTest, WithoutBothLoginFieldsTheMailGoesWithoutAuthentication) {
    form1->mot_de_passe->SetText("");
    form1->Button5Click(nullptr);
    form1->user_name->SetText("");
    form1->mot_de_passe->SetText("p@ss:w/rd");
    form1->Button5Click(nullptr);
    ASSERT_EQ(Mails().size(), 2u);
    for (const QJsonObject& mail : Mails()) {
        EXPECT_TRUE(mail["login"].isNull());
        EXPECT_TRUE(mail["mechanism"].isNull());
    }
}

TEST_F(MailTest, AnEmptyMessageEndsTheBodyWithItsHeading) {
    form1->Message_qv->Lines().Clear();
    form1->Button5Click(nullptr);
    ASSERT_EQ(Mails().size(), 1u);
    EXPECT_EQ(BodyLines(Mails()[0]).back(), "Message :");
    EXPECT_EQ(BodyLines(Mails()[0]).size(), 6u);
}

TEST_F(MailTest, AfterAFailedCheckTheMailCarriesItsText) {
    form1->memo1->Lines().Assign(
        Lines{"Pas de réponse !", "Veuillez vérifier votre connexion Internet"});
    form1->EnvoiEmail1->Click();
    ASSERT_EQ(Mails().size(), 1u);
    EXPECT_EQ(BodyLines(Mails()[0])[1], "Adresse IP : Pas de réponse !");
    EXPECT_EQ(BodyLines(Mails()[0])[2], "Lien : http://Pas de réponse !");
}

TEST_F(MailTest, MissingSettingsAskOverTheShownWindowAndSendNothing) {
    struct Case {
        const char* name;
        TEdit* ipwatch::TForm1::*field;
    } cases[] = {
        {"server", &ipwatch::TForm1::Smtp_qv},
        {"sender", &ipwatch::TForm1::Email_v},
        {"recipient", &ipwatch::TForm1::Email_D},
        {"subject", &ipwatch::TForm1::Sujet_qv},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillEverything();
        (form1->*c.field)->SetText("");
        form1->Hide();
        dialogs->shown.clear();
        form1->Button5->Click();
        EXPECT_TRUE(form1->Visible());
        ASSERT_EQ(Boxes(), Lines{kMissing});
        EXPECT_EQ(dialogs->shown[0].caption, "Kestrova");
    }
    EXPECT_TRUE(Mails().empty());
    EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
}

// No session: two lines after the address and a notice; nothing escapes.
TEST_F(MailTest, AServerThatCannotBeReachedIsReported) {
    nettest::FullListener slow; // its handshakes are never answered
    struct Case {
        const char* name;
        int port;
    } cases[] = {
        {"refused", nettest::RefusedPort()},
        {"accepts after more than 300 ms", slow.Port()},
        {"bad greeting", SmtpPort("badgreeting")},
        {"bad introduction", SmtpPort("badintroduction")},
        {"silent", SmtpPort("silent")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form1->memo1->Lines().Assign(Lines{"192.0.2.7"});
        form2->SpeedButton1Click(nullptr);
        form1->Services.SmtpPort = c.port;
        form1->Button5Click(nullptr);
        EXPECT_EQ(Memo(form1->memo1),
                  (Lines{"192.0.2.7", "Impossible d'envoyer E-MAIL sur changement d'adresse IP",
                         "Vérifier votre serveur SMTP ou votre connexion internet"}));
        EXPECT_TRUE(form2->Visible());
        EXPECT_EQ(form2->Titre->Caption(), "E-mail : Pas de réponse !");
        EXPECT_EQ(form2->Texte->Caption(), "Vérifier la connexion Internet");
    }
    EXPECT_TRUE(Mails().empty());
    EXPECT_TRUE(Boxes().empty());
}

// A refusal after the connect keeps its error box, and the rest of the change still goes
// out: before, it ended the check, and since the address memo already held the new address,
// the user URL and the DynDNS, No-IP and OVH updates of that change were never sent.
TEST_F(MailTest, ARefusalAfterTheConnectIsShownAndTheOtherNotificationsStillGoOut) {
    struct Case {
        const char* name;
        const char* sender;
        const char* recipient;
        const char* password;
        const char* reply; // the server's words, which the box shows
    } cases[] = {
        {"sender refused", "blocked@example.org", "owner@example.org", "p@ss:w/rd",
         "5.7.1 Sender refused"},
        {"recipient refused", "kestrova@example.org", "refused@example.org", "p@ss:w/rd",
         "5.1.1 Mailbox unavailable"},
        {"login refused", "kestrova@example.org", "owner@example.org", "wrong",
         "5.7.8 Authentication credentials invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(HttpLog(), std::ios::trunc).close();
        dialogs->shown.clear();
        form1->memo1->Lines().Clear();
        form1->Memo3->Lines().Clear();
        form1->Email_v->SetText(c.sender);
        form1->Email_D->SetText(c.recipient);
        form1->mot_de_passe->SetText(c.password);
        Tick();
        ASSERT_EQ(dialogs->shown.size(), 1u);
        const TDialogRequest& box = dialogs->shown[0];
        EXPECT_EQ(box.kind, TDialogRequest::Kind::MessageBox);
        EXPECT_EQ(box.caption, "Kestrova");
        EXPECT_EQ(box.icon, TDialogIcon::Stop);
        EXPECT_NE(box.text.find(c.reply), std::string::npos) << box.text;
        EXPECT_EQ(Servers(), (Lines{"check", "url", "dyndns", "noip", "ovh"}));
        EXPECT_EQ(Memo(form1->Memo3), Lines{"good 192.0.2.7"});
        EXPECT_EQ(Memo(form1->memo1), Lines{"192.0.2.7"});
    }
    EXPECT_TRUE(Mails().empty());
}

} // namespace
