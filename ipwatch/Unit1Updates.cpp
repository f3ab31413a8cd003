// The user URL and the dynamic-DNS updates: GETs of HttpCli1, each answer shown in the
// page's memo, and the two form posts of the hidden buttons through IdHTTP1.
#include "ipwatch/Unit1.h"

#include "ipwatch/Unit2.h"
#include "ipwatch/UpdateUrls.h"
#include "vcl/Dialogs.h"

namespace ipwatch {

using namespace vcl;

namespace {

const char* const kDynDnsMissing =
    "Vous devez indiquer les renseignements suivant :\r\rVotre Mot de passe\rL'identifiant\rLe "
    "domaine Dyndns\r\rOu décochez l'option \"Connexion Dyndns\" ";
const char* const kNoIpMissing = "Vous devez indiquer les renseignements suivant :\r\rVotre Mot "
                                 "de passe\rL'identifiant\r\rOu décochez l'option \"Connexion "
                                 "No-ip\" ";
const char* const kOvhMissing =
    "Vous devez indiquer les renseignements suivant :\r\rVotre Mot de passe\rL'identifiant\rLe "
    "domaine ovh\r\rOu décochez l'option \"Connexion Ovh\" ";

} // namespace

void TForm1::AskForSettings(const std::string& text) {
    Button1Click(this);
    ShowMessage(text);
}

// HttpCli1 serves one request at a time, and its GET pumps messages: a timer tick or a menu
// command can start another handler that wants it meanwhile. That second GET is refused at
// once and leaves its own stream empty, so its handler shows "0" (or "Pas de réponse !" for
// the user URL) while the first request goes on with its own URL and stream; the answers
// never mix. After the window has closed, the client is gone and every answer is empty.
void TForm1::HttpCliGet(const std::string& url, TMemoryStream& stream) {
    if (!HttpCli1)
        return;
    HttpCli1->URL = url;
    HttpCli1->Proxy.clear();
    HttpCli1->ProxyPort = "80";
    HttpCli1->RcvdStream = &stream;
    HttpCli1->Get();
    // The window may have closed while the request waited: then the client is gone.
    if (HttpCli1 && HttpCli1->RcvdStream == &stream)
        HttpCli1->RcvdStream = nullptr;
}

void TForm1::Button7Click(TObject*) {
    const std::string url = qv_url->Text();
    if (url.empty() || url == "http://") {
        AskForSettings("Veuillez indiquer une URL\r\rOu décochez l'option \"Envoyer URL\" ");
        return;
    }
    if (url.find("http://") == std::string::npos) {
        AskForSettings("Veuillez indiquer http:// devant votre URL");
        return;
    }
    {
        TMemoryStream stream;
        HttpCliGet(url, stream);
        LoadMemoFromMemoryStream(Memo2, &stream);
    }
    if (Memo2->Lines().Count() > 0 && Memo2->Lines()[0] == "0") {
        Memo2->Lines().Assign(std::vector<std::string>{
            "Pas de réponse !", "Veuillez vérifier votre connexion Internet"});
        if (Form2)
            Form2->AfficheMessage("Erreur : Pas de réponse !", "Vérifier la connexion Internet");
    }
}

void TForm1::DynamicDnsUpdate(const std::string& url, TMemo* memo) {
    memo->Lines().Clear();
    TMemoryStream stream;
    HttpCliGet(url, stream);
    LoadMemoFromMemoryStream(memo, &stream);
}

void TForm1::Button12Click(TObject*) {
    if (domaine_ip->Text().empty() || Login_ip->Text().empty() || password_ip->Text().empty()) {
        AskForSettings(kDynDnsMissing);
        return;
    }
    DynamicDnsUpdate(
        DynDnsUpdateUrl(Services.DynDns, Login_ip->Text(), password_ip->Text(), domaine_ip->Text()),
        Memo3);
}

// The message names two fields, although the host name is needed too.
void TForm1::Button13Click(TObject*) {
    if (login_no->Text().empty() || password_no->Text().empty() || domaine_no->Text().empty()) {
        AskForSettings(kNoIpMissing);
        return;
    }
    DynamicDnsUpdate(
        NoIpUpdateUrl(Services.NoIp, login_no->Text(), password_no->Text(), domaine_no->Text()),
        Memo4);
}

void TForm1::Button15Click(TObject*) {
    if (domaine_ovh->Text().empty() || ident_ovh->Text().empty() || passe_ovh->Text().empty()) {
        AskForSettings(kOvhMissing);
        return;
    }
    DynamicDnsUpdate(OvhUpdateUrl(Services.Ovh, ident_ovh->Text(), passe_ovh->Text(),
                                  domaine_ovh->Text(), CurrentAddress()),
                     Memo5);
}

namespace {

void PointAt(net::TIdHTTP& http, const std::string& hostText) {
    const THostPort server = SplitHostPort(hostText);
    http.Host = server.Host;
    http.Port = server.Port;
}

// The address check shares IdHTTP1: a post's account and content type are put back
// afterwards, so that no later check sends the DynDNS credentials to another server.
class TRequestRestore {
public:
    explicit TRequestRestore(net::TIdHTTP& http) : http_(http), saved_(http.Request) {}
    ~TRequestRestore() { http_.Request = saved_; }
    TRequestRestore(const TRequestRestore&) = delete;
    TRequestRestore& operator=(const TRequestRestore&) = delete;

private:
    net::TIdHTTP& http_;
    net::TIdHTTPRequest saved_;
};

} // namespace

// The answer of either form post is dropped, and so is every error.
void TForm1::Button9Click(TObject*) {
    if (domaine_ip->Text().empty() || Login_ip->Text().empty() || password_ip->Text().empty()) {
        AskForSettings(kDynDnsMissing);
        return;
    }
    TStringList fields;
    fields.Add("hostname=" + domaine_ip->Text());
    fields.Add("system=dyndns");
    fields.Add("myip=" + CurrentAddress());
    TRequestRestore restore(*IdHTTP1);
    try {
        PointAt(*IdHTTP1, Services.DynDns);
        IdHTTP1->Request.Username = Login_ip->Text();
        IdHTTP1->Request.Password = password_ip->Text();
        IdHTTP1->Request.BasicAuthentication = true;
        IdHTTP1->Request.ContentType = "application/x-www-form-urlencoded";
        IdHTTP1->Post("/nic/update?", fields);
    } catch (...) {
    }
}

void TForm1::Button10Click(TObject*) {
    if (login_no->Text().empty() || password_no->Text().empty()) {
        AskForSettings(kNoIpMissing);
        return;
    }
    TStringList fields;
    fields.Add("username=" + login_no->Text());
    fields.Add("password=" + password_no->Text());
    fields.Add("hostname=" + domaine_no->Text());
    TRequestRestore restore(*IdHTTP1);
    try {
        PointAt(*IdHTTP1, Services.NoIp);
        IdHTTP1->Request.BasicAuthentication = false; // the account travels in the fields
        IdHTTP1->Request.ContentType = "application/x-www-form-urlencoded";
        IdHTTP1->Post("/dns?", fields);
    } catch (...) {
    }
}

} // namespace ipwatch
