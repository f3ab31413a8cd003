// The address check: the what-is-my-IP page, the fallback address service behind it, the
// comparison with the previous check and the notifications of a change.
#include "ipwatch/Unit1.h"

#include "ipwatch/API_LiberationProcessus.h"
#include "ipwatch/CheckPage.h"
#include "ipwatch/Unit2.h"
#include "net/AnswerLines.h"
#include "vcl/DateUtils.h"
#include "vcl/Forms.h"

#include <optional>

namespace ipwatch {

using namespace vcl;

std::string IPPrecedente;

namespace {

constexpr const char* kExeName = "Kestrova.exe";

bool NoAddress(const std::string& address) {
    return address.empty() || address == "0";
}

} // namespace

std::string TForm1::CurrentAddress() {
    return memo1->Lines().Count() > 0 ? memo1->Lines()[0] : std::string();
}

void TForm1::LoadMemoFromMemoryStream(TMemo* Memo, TMemoryStream* Stream) {
    const std::string_view bytes(reinterpret_cast<const char*>(Stream->Memory()),
                                 static_cast<std::size_t>(Stream->Size()));
    Memo->Lines().Assign(net::AnswerLines(bytes));
}

void TForm1::ipc(std::string& Address) {
    std::string page;
    try {
        page = IdHTTP1->Get("http://" + Services.CheckPage + "/");
    } catch (...) {
        // A page that could not be had is an empty page: the fallback service is asked.
    }
    Address = CutCheckPageAddress(page);
    memo1->Lines().Add(Address);
}

void TForm1::ipcqv(std::string& Address) {
    TMemoryStream stream;
    try {
        IdHTTP1->Get("http://" + Services.Fallback + "/cgi-bin/ipindy.pl", stream);
    } catch (...) {
        // The stream keeps what arrived, possibly nothing.
    }
    LoadMemoFromMemoryStream(memo1, &stream);
    Address = CurrentAddress();
}

// A tick can come while a message box or a request of HttpCli1 of an earlier check waits:
// the new check then runs inside it, from the address memo as it stands.
void TForm1::Timer1Timer(TObject*) {
    IPPrecedente = CurrentAddress();
    memo1->Lines().Clear();
    std::string Address;
    ipc(Address);
    LibereMemoireProcessus(kExeName);
    if (NoAddress(Address))
        ipcqv(Address);
    if (NoAddress(Address)) {
        memo1->Lines().Assign(std::vector<std::string>{
            "Pas de réponse !", "Veuillez vérifier votre connexion Internet"});
        if (Form2)
            Form2->AfficheMessage("Erreur : Pas de réponse !", "Vérifier la connexion Internet");
        return;
    }
    if (Address == IPPrecedente)
        return;

    const std::string when = DateTimeToStr(Now());
    if (qv_fenetre->Checked()) {
        if (Form2)
            Form2->AfficheMessage(when, "Votre IP : " + Address);
        RxTrayIcon1->SetHint("Kestrova : " + Address);
    }
    // Each runs to its end before the next. A mail the server refuses after the connect
    // must not cost the user URL and the updates of this change (the address memo holds the
    // new address by now, so no later check would send them): its error is kept, the
    // others go out, and the error box comes at the end of the check, with the text it
    // always had.
    std::optional<Exception> mailError;
    if (qv_email->Checked()) {
        try {
            Button5Click(this);
        } catch (const std::exception& error) {
            mailError.emplace(error.what());
        }
    }
    if (qv_urlc->Checked())
        Button7Click(this);
    if (qv_dyndns->Checked())
        Button12Click(this);
    if (qv_noip->Checked())
        Button13Click(this);
    if (qv_ovh->Checked())
        Button15Click(this);
    LibereMemoireProcessus(kExeName);
    if (mailError)
        Application().HandleException(*mailError);
}

void TForm1::Button8Click(TObject*) {
    memo1->Lines().Clear();
    std::string Address;
    ipc(Address);
    if (NoAddress(Address))
        ipcqv(Address);
}

} // namespace ipwatch
