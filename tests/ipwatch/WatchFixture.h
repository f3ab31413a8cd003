// Kestrova with its outside services on loopback: named HTTP servers playing the check
// page, the fallback address service, the user URL and the three update servers, answering
// from a routes file the test writes, and aiosmtpd for the mail. The servers live for the
// whole test program; each test starts Kestrova afresh and begins with empty logs.
#pragma once

#include "KestrovaFixture.h"
#include "net/TestServers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>
#include <fstream>

namespace testsupport {

class WatchTest : public KestrovaTest {
protected:
    static void SetUpTestSuite() {
        http_ = new nettest::ServerProcess(
            nettest::ScriptPath("http_server.py"), HttpLog(),
            {RoutesFile(), "check=127.0.0.1:0", "fallback=127.0.0.1:0", "url=127.0.0.1:0",
             "dyndns=127.0.0.1:0", "noip=127.0.0.1:0", "ovh=127.0.0.1:0"});
        http_ports_ =
            QJsonDocument::fromJson(QByteArray::fromStdString(http_->FirstLine())).object();
        smtp_ = new nettest::ServerProcess(nettest::ScriptPath("smtp_server.py"), SmtpLog());
        smtp_ports_ =
            QJsonDocument::fromJson(QByteArray::fromStdString(smtp_->FirstLine())).object();
    }
    static void TearDownTestSuite() {
        delete http_;
        delete smtp_;
        http_ = smtp_ = nullptr;
    }

    void SetUp() override {
        KestrovaTest::SetUp();
        std::ofstream(HttpLog(), std::ios::trunc).close();
        std::ofstream(SmtpLog(), std::ios::trunc).close();
        WriteRoutes(DefaultRoutes());
        Restart();
    }

    // A new start of Kestrova, its outside services on the test's servers.
    void Restart() {
        Start();
        ipwatch::TOutsideServices& services = form1->Services;
        services.CheckPage = HttpHost("check");
        services.Fallback = HttpHost("fallback");
        services.DynDns = HttpHost("dyndns");
        services.NoIp = HttpHost("noip");
        services.Ovh = HttpHost("ovh");
        services.SmtpPort = SmtpPort("smtp");
        services.SmtpReadTimeout = 2000;
        // Short limits, so that a stalled server costs the test little.
        form1->HttpCli1->ReadTimeout = 1500;
        form1->IdHTTP1->ReadTimeout = 1500;
    }

    static std::string HttpLog() { return nettest::LogPath("watch-http.log"); }
    static std::string SmtpLog() { return nettest::LogPath("watch-smtp.log"); }
    static std::string RoutesFile() { return nettest::LogPath("watch-routes.json"); }
    static int HttpPort(const char* name) { return http_ports_[name].toInt(); }
    static std::string HttpHost(const char* name) {
        return "127.0.0.1:" + std::to_string(HttpPort(name));
    }
    static int SmtpPort(const char* name) { return smtp_ports_[name].toInt(); }

    // The answers of the servers: {"server": {"/path": answer or [answers], "*": answer}}.
    static QJsonObject DefaultRoutes() {
        return Json(R"({
            "check": {"/": {"body": "<html><head><title>Current IP Check</title></head><body>Current IP Address: 192.0.2.7</body></html>"}},
            "fallback": {"/cgi-bin/ipindy.pl": {"body": "203.0.113.5\r\nipindy\r\n"}},
            "url": {"*": {"body": "ok\r\nmerci\r\n"}},
            "dyndns": {"*": {"body": "good 192.0.2.7\r\n"}},
            "noip": {"*": {"body": "nochg 192.0.2.7\n"}},
            "ovh": {"*": {"body": "good\r\n"}}
        })");
    }
    static QJsonObject Json(const char* text) {
        QJsonParseError error{};
        QJsonObject object = QJsonDocument::fromJson(text, &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
        return object;
    }
    // Replaces the file in one step: the server reads it at every request.
    static void WriteRoutes(const QJsonObject& routes) {
        const std::string temporary = RoutesFile() + ".new";
        std::ofstream(temporary, std::ios::trunc)
            << QJsonDocument(routes).toJson(QJsonDocument::Compact).toStdString();
        std::rename(temporary.c_str(), RoutesFile().c_str());
    }
    // One server's answer replaced: Route("check", "/", R"({"status": 500})").
    static void Route(const char* server, const char* path, const char* answer) {
        QJsonObject routes = CurrentRoutes();
        QJsonObject one = routes[server].toObject();
        QJsonDocument parsed = QJsonDocument::fromJson(answer);
        one[path] = parsed.isArray() ? QJsonValue(parsed.array()) : QJsonValue(parsed.object());
        routes[server] = one;
        WriteRoutes(routes);
    }
    static QJsonObject CurrentRoutes() {
        return QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(RoutesFile()))).object();
    }

    // The requests one server received, in order.
    static std::vector<QJsonObject> Requests(const char* server = nullptr) {
        std::vector<QJsonObject> found;
        for (const auto& entry : nettest::ReadLog(HttpLog()))
            if (!server || entry["server"].toString() == server)
                found.push_back(entry);
        return found;
    }
    static std::vector<std::string> Servers() {
        std::vector<std::string> names;
        for (const auto& entry : Requests())
            names.push_back(Text(entry, "server"));
        return names;
    }
    static std::string Text(const QJsonObject& entry, const char* key) {
        return entry[key].toString().toStdString();
    }
    static std::string Header(const QJsonObject& request, const char* name) {
        for (const auto& pair : request["headers"].toArray())
            if (pair.toArray()[0].toString().compare(name, Qt::CaseInsensitive) == 0)
                return pair.toArray()[1].toString().toStdString();
        return "<none>";
    }
    static std::vector<QJsonObject> Mails() {
        std::vector<QJsonObject> found;
        for (const auto& entry : nettest::ReadLog(SmtpLog()))
            if (entry["event"].toString() == "mail")
                found.push_back(entry);
        return found;
    }
    // The body lines of a received mail, after its headers.
    static std::vector<std::string> BodyLines(const QJsonObject& mail) {
        const std::string data = Text(mail, "data");
        const auto start = data.find("\r\n\r\n");
        std::vector<std::string> lines;
        if (start == std::string::npos)
            return lines;
        std::size_t at = start + 4;
        while (at < data.size()) {
            auto end = data.find("\r\n", at);
            if (end == std::string::npos)
                end = data.size();
            lines.push_back(data.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    static std::string MailHeader(const QJsonObject& mail, const std::string& name) {
        const std::string data = Text(mail, "data");
        const std::string key = "\r\n" + name + ": ";
        const std::string text = "\r\n" + data.substr(0, data.find("\r\n\r\n"));
        const auto at = text.find(key);
        if (at == std::string::npos)
            return "<none>";
        const auto from = at + key.size();
        return text.substr(from, text.find("\r\n", from) - from);
    }

    // Every notification ticked and filled in, as a user who wants them all.
    void FillEverything() {
        form1->qv_fenetre->SetChecked(true);
        form1->qv_email->SetChecked(true);
        form1->qv_urlc->SetChecked(true);
        form1->qv_dyndns->SetChecked(true);
        form1->qv_noip->SetChecked(true);
        form1->qv_ovh->SetChecked(true);
        form1->user_name->SetText("mailer@example.org");
        form1->mot_de_passe->SetText("p@ss:w/rd");
        form1->Smtp_qv->SetText("127.0.0.1");
        form1->Email_v->SetText("kestrova@example.org");
        form1->Email_D->SetText("owner@example.org");
        form1->Sujet_qv->SetText("Nouvelle adresse IP");
        form1->Message_qv->Lines().Assign(std::vector<std::string>{"Bonjour,", "à bientôt"});
        form1->qv_url->SetText("http://" + HttpHost("url") + "/hook?from=kestrova");
        form1->Login_ip->SetText("dyn@example.org");
        form1->password_ip->SetText("p@ss:w/rd");
        form1->domaine_ip->SetText("home.dyndns.org");
        form1->login_no->SetText("noip@example.org");
        form1->password_no->SetText("no:pass");
        form1->domaine_no->SetText("home.no-ip.org");
        form1->ident_ovh->SetText("ovh-user");
        form1->passe_ovh->SetText("ovh/p@ss");
        form1->domaine_ovh->SetText("home.example.fr");
    }
    void UntickEverything() {
        for (vcl::TCheckBox* box : {form1->qv_fenetre, form1->qv_email, form1->qv_urlc,
                                    form1->qv_dyndns, form1->qv_noip, form1->qv_ovh})
            box->SetChecked(false);
    }

    // A tick of Timer1, as the message loop delivers it: an escaping error goes to the
    // framework's error box.
    void Tick() { vcl::SafeCall(form1->Timer1->OnTimer, form1->Timer1); }

    std::vector<std::string> Memo(vcl::TMemo* memo) { return memo->Lines().Lines(); }
    // The texts of the message boxes shown so far.
    std::vector<std::string> Boxes() {
        std::vector<std::string> texts;
        for (const auto& box : dialogs->shown)
            texts.push_back(box.text);
        return texts;
    }

    static inline nettest::ServerProcess* http_ = nullptr;
    static inline nettest::ServerProcess* smtp_ = nullptr;
    static inline QJsonObject http_ports_;
    static inline QJsonObject smtp_ports_;
};

} // namespace testsupport
