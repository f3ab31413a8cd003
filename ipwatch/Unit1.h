// The main window: the settings pages, the tray icon with its pop-up menu, and the timer of
// the periodic address check. The program lives in the tray; after the first run it starts
// hidden there.
#pragma once

#include "formstate/SvgEditIni.h"
#include "ipwatch/OutsideServices.h"
#include "net/HttpCli.h"
#include "net/IdHTTP.h"
#include "vcl/Buttons.h"
#include "vcl/ComCtrls.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Menus.h"
#include "vcl/StdCtrls.h"
#include "vcl/Streams.h"
#include "vcl/TrayIcon.h"

#include <string>

namespace ipwatch {

class TForm1 : public vcl::TForm {
public:
    explicit TForm1(vcl::TComponent* AOwner);
    ~TForm1() override;

    // Heading.
    vcl::TImage* Image1;
    vcl::TLabel* Label1;
    vcl::TLabel* Label2;

    vcl::TPageControl* PageControl1;
    vcl::TTabSheet* TabSheet1; // "IP"
    vcl::TTabSheet* TabSheet2; // "Options"
    vcl::TTabSheet* TabSheet3; // "E-mail"
    vcl::TTabSheet* TabSheet4; // "URL"
    vcl::TTabSheet* TabSheet5; // "Dyndns"
    vcl::TTabSheet* TabSheet6; // "No-IP"
    vcl::TTabSheet* TabSheet7; // "Ovh"
    vcl::TTabSheet* TabSheet8; // "A propos"

    // Page "IP".
    vcl::TGroupBox* GroupBox1;
    vcl::TMemo* memo1; // its first line is the current address
    vcl::TButton* Button8;

    // Page "Options".
    vcl::TGroupBox* GroupBox2;
    vcl::TCheckBox* qv_fenetre;
    vcl::TCheckBox* qv_email;
    vcl::TCheckBox* qv_urlc;
    vcl::TCheckBox* qv_dyndns;
    vcl::TCheckBox* qv_noip;
    vcl::TGroupBox* GroupBox3;
    vcl::TLabel* Label3;
    vcl::TEdit* user_name;
    vcl::TLabel* Label4;
    vcl::TEdit* mot_de_passe;
    vcl::TCheckBox* qv_ovh;
    vcl::TButton* Button6; // hidden

    // Page "E-mail".
    vcl::TLabel* Label5;
    vcl::TEdit* Smtp_qv;
    vcl::TLabel* Label6;
    vcl::TEdit* Email_v;
    vcl::TLabel* Label7;
    vcl::TEdit* Email_D;
    vcl::TLabel* Label8;
    vcl::TEdit* Sujet_qv;
    vcl::TLabel* Label9;
    vcl::TMemo* Message_qv;
    vcl::TButton* Button5;

    // Page "URL".
    vcl::TGroupBox* GroupBox4;
    vcl::TEdit* qv_url;
    vcl::TButton* Button7;
    vcl::TLabel* Label10;
    vcl::TMemo* Memo2;

    // Page "Dyndns".
    vcl::TLabel* Label11;
    vcl::TEdit* password_ip;
    vcl::TLabel* Label12;
    vcl::TEdit* Login_ip;
    vcl::TLabel* Label13;
    vcl::TEdit* domaine_ip;
    vcl::TButton* Button12;
    vcl::TButton* Button9; // hidden
    vcl::TLabel* Label14;
    vcl::TMemo* Memo3;

    // Page "No-IP".
    vcl::TLabel* Label15;
    vcl::TEdit* password_no;
    vcl::TLabel* Label16;
    vcl::TEdit* login_no;
    vcl::TLabel* Label17;
    vcl::TEdit* domaine_no;
    vcl::TButton* Button13;
    vcl::TButton* Button10; // hidden
    vcl::TLabel* Label18;
    vcl::TMemo* Memo4;

    // Page "Ovh".
    vcl::TLabel* Label19;
    vcl::TEdit* domaine_ovh;
    vcl::TLabel* Label20;
    vcl::TEdit* ident_ovh;
    vcl::TLabel* Label21;
    vcl::TEdit* passe_ovh;
    vcl::TButton* Button15;
    vcl::TButton* Button14; // hidden
    vcl::TLabel* Label22;
    vcl::TMemo* Memo5;

    // Page "A propos".
    vcl::TLabel* Label23;
    vcl::TLabel* Label24;
    vcl::TGroupBox* GroupBox5;
    vcl::TButton* Button11;

    // Along the bottom.
    vcl::TBitBtn* BitBtn1;           // "Enregister"
    vcl::TBitBtn* BitBtn2;           // "Réduire"
    vcl::TSpeedButton* SpeedButton2; // help
    vcl::TBitBtn* BitBtn3;           // "Quitter"

    // Never visible: the operations other handlers reach through them.
    vcl::TButton* Button1; // "affiche"
    vcl::TButton* Button2; // "Réduire"
    vcl::TButton* Button4; // "Enregistrer"
    vcl::TButton* Button3; // "Quitter"
    vcl::TEdit* Edit1;
    vcl::TEdit* Edit2;

    vcl::TTimer* Timer1;
    formstate::TSvgEditIni* SvgEditIni1;
    vcl::TPopupMenu* PopupMenu1;
    vcl::TMenuItem* Afficher1;
    vcl::TMenuItem* Rduire1;
    vcl::TMenuItem* N1;
    vcl::TMenuItem* EnvoiEmail1;
    vcl::TMenuItem* EnvoiURL1;
    vcl::TMenuItem* N2;
    vcl::TMenuItem* Quitter1;
    vcl::TRxTrayIcon* RxTrayIcon1;
    // The user URL and the dynamic-DNS updates; it pumps messages while it waits, so another
    // handler may want it meanwhile (HttpCliGet says what happens). Freed when the window
    // closes, so the handlers that use it check it first.
    net::THttpCli* HttpCli1;
    // The address check and the form posts; it blocks without pumping messages.
    net::TIdHTTP* IdHTTP1;

    TOutsideServices Services;

    // Start-up, showing, hiding, saving, help, updater and quitting.
    void FormCreate(vcl::TObject* Sender);
    void Button1Click(vcl::TObject* Sender);
    void Devant();
    void Button2Click(vcl::TObject* Sender);
    void Button4Click(vcl::TObject* Sender);
    void Rduire1Click(vcl::TObject* Sender);
    void Button3Click(vcl::TObject* Sender);
    void FormClose(vcl::TObject* Sender, vcl::TCloseAction& Action);
    void FormCloseQuery(vcl::TObject* Sender, bool& CanClose);
    void SpeedButton2Click(vcl::TObject* Sender);
    void Button11Click(vcl::TObject* Sender);
    void Button6Click(vcl::TObject* Sender);
    void RxTrayIcon1Click(vcl::TObject* Sender);
    void RxTrayIcon1AvailableChange(vcl::TObject* Sender);

    // The address check and the notifications.
    void ipc(std::string& Address);
    void ipcqv(std::string& Address);
    // Replaces the memo's lines by the answer lines of the stream's bytes.
    void LoadMemoFromMemoryStream(vcl::TMemo* Memo, vcl::TMemoryStream* Stream);
    void Timer1Timer(vcl::TObject* Sender);
    void Button8Click(vcl::TObject* Sender);
    void Button5Click(vcl::TObject* Sender);
    void Button7Click(vcl::TObject* Sender);
    void Button12Click(vcl::TObject* Sender);
    void Button13Click(vcl::TObject* Sender);
    void Button15Click(vcl::TObject* Sender);
    void Button9Click(vcl::TObject* Sender);
    void Button10Click(vcl::TObject* Sender);

private:
    void HideToTray();
    using Handler = void (TForm1::*)(vcl::TObject*);
    vcl::TNotifyEvent Bind(Handler handler);
    template <class T> T* Make(const char* name, vcl::TControl* parent);
    vcl::TLabel* MakeLabel(const char* name, vcl::TControl* parent, int left, int top,
                           const std::string& caption);
    vcl::TButton* MakeButton(const char* name, vcl::TControl* parent, int left, int top, int width,
                             const std::string& caption, Handler onClick);
    // One labelled field of a dynamic-DNS page: its label at the left, the edit box after it.
    vcl::TEdit* MakeField(vcl::TControl* page, const char* labelName, vcl::TLabel*& label,
                          const char* name, int top, const std::string& caption);

    void CreateHeading();
    void CreatePages();
    void CreatePageIP();
    void CreatePageOptions();
    void CreatePageEmail();
    void CreatePageURL();
    void CreatePageDyndns();
    void CreatePageNoIP();
    void CreatePageOvh();
    void CreatePageAPropos();
    void CreateBottomButtons();
    void CreateHiddenButtons();
    void CreateMenu();
    void CreateTrayIcon();
    void CreateHttpClients();

    // The first line of memo1: the address the notifications send.
    std::string CurrentAddress();
    // Shows the main window, then the message box about missing settings.
    void AskForSettings(const std::string& text);
    // One GET of HttpCli1 into the stream; nothing when the client is gone.
    void HttpCliGet(const std::string& url, vcl::TMemoryStream& stream);
    void DynamicDnsUpdate(const std::string& url, vcl::TMemo* memo);
};

// The main window of the program.
extern TForm1* Form1;
// The address of the previous check.
extern std::string IPPrecedente;

} // namespace ipwatch
