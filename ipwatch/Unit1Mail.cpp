// The e-mail notification: one plain-text mail over SMTP that announces the address.
#include "ipwatch/Unit1.h"

#include "ipwatch/Unit2.h"
#include "net/IdMessage.h"
#include "net/IdSMTP.h"
#include "vcl/DateUtils.h"

#include <memory>

namespace ipwatch {

using namespace vcl;

namespace {

// A server that has not accepted the connection by then counts as unreachable.
constexpr int kSmtpConnectMs = 300;

} // namespace

void TForm1::Button5Click(TObject*) {
    if (Smtp_qv->Text().empty() || Email_v->Text().empty() || Email_D->Text().empty() ||
        Sujet_qv->Text().empty()) {
        AskForSettings("Vous devez indiquer les renseignements suivant :\r\rVotre SMTP\rVotre "
                       "E-mail\rL'e-mail du destinataire\rLe sujet de l'E-mail\r\rOu décochez "
                       "l'option \"Envoyer E-mail\" ");
        return;
    }
    const std::string when = DateTimeToStr(Now());

    // Made for this mail only; the client goes first, then the message.
    auto IdMessage1 = std::make_unique<net::TIdMessage>(nullptr);
    auto IdSMTP1 = std::make_unique<net::TIdSMTP>(nullptr);

    const std::string address = CurrentAddress();
    IdMessage1->From.Address = Email_v->Text();
    IdMessage1->Subject = Sujet_qv->Text();
    IdMessage1->Recipients.Add().Address = Email_D->Text();
    TStrings& body = IdMessage1->Body;
    body.Add("Kestrova vous informe!");
    body.Add("Adresse IP : " + address);
    body.Add("Lien : http://" + address);
    body.Add("Date et heure : " + when);
    body.Add(" ");
    body.Add("Message :");
    for (const std::string& line : Message_qv->Lines().Lines())
        body.Add(line);

    IdSMTP1->Host = Smtp_qv->Text();
    IdSMTP1->Port = Services.SmtpPort;
    IdSMTP1->ReadTimeout = Services.SmtpReadTimeout;
    try {
        if (!user_name->Text().empty() && !mot_de_passe->Text().empty()) {
            IdSMTP1->AuthenticationType = net::atLogin;
            IdSMTP1->Username = user_name->Text();
            IdSMTP1->Password = mot_de_passe->Text();
        } else {
            IdSMTP1->AuthenticationType = net::atNone;
        }
        IdSMTP1->Connect(kSmtpConnectMs);
    } catch (const std::exception&) {
        IdSMTP1->Disconnect();
        IdSMTP1.reset();
        IdMessage1.reset();
        memo1->Lines().Add("Impossible d'envoyer E-MAIL sur changement d'adresse IP");
        memo1->Lines().Add("Vérifier votre serveur SMTP ou votre connexion internet");
        if (Form2)
            Form2->AfficheMessage("E-mail : Pas de réponse !", "Vérifier la connexion Internet");
        return;
    }
    // A refusal after the introduction goes on to the caller, once the session is closed
    // (the client and the message go with this frame).
    struct DisconnectAfterwards {
        net::TIdSMTP& smtp;
        ~DisconnectAfterwards() { smtp.Disconnect(); }
    } disconnect{*IdSMTP1};
    IdSMTP1->Send(*IdMessage1);
}

} // namespace ipwatch
