#include "ipwatch/Unit1.h"

#include "ipwatch/API_LiberationProcessus.h"
#include "ipwatch/Unit2.h"
#include "platform/Shell.h"
#include "platform/SpecialFolders.h"
#include "vcl/SysUtils.h"

namespace ipwatch {

using namespace vcl;

TForm1* Form1 = nullptr;

namespace {

constexpr const char* kExeName = "Kestrova.exe";

TPicture Picture(const char* name) {
    return TPicture(std::string(":/kestrova/") + name);
}

} // namespace

// The controls are made in the order of the window, which is the order of the keys in the
// settings file: qv_ovh, added later, comes after the e-mail login fields.
TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {
    Form1 = this;
    SetName("Form1");
    SetCaption("Kestrova");
    SetBorderStyle(TFormBorderStyle::bsSingle);
    SetBounds(0, 0, 406, 322);
    SetFont(TFont{}); // the window's designed 8-point font, taken by every control on it
    SetPosition(TPosition::poScreenCenter);
    // The form's own events come first: the form-state component wraps OnClose when it is
    // made, so that the settings are written after FormClose.
    OnCreate = Bind(&TForm1::FormCreate);
    OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
    OnCloseQuery = [this](TObject* Sender, bool& CanClose) { FormCloseQuery(Sender, CanClose); };

    CreateHeading();
    CreatePages();
    CreateBottomButtons();
    CreateHiddenButtons();

    Timer1 = Create<TTimer>(this);
    Timer1->SetName("Timer1");
    Timer1->SetInterval(180000);
    Timer1->SetEnabled(true);
    Timer1->OnTimer = Bind(&TForm1::Timer1Timer);

    SvgEditIni1 = Create<formstate::TSvgEditIni>(this);
    SvgEditIni1->SetName("SvgEditIni1");
    SvgEditIni1->SauveEdit = true;
    SvgEditIni1->SauveCheckBox = true;
    SvgEditIni1->SauveRadioButton = true;
    SvgEditIni1->SauveSpinEdit = true;
    SvgEditIni1->SauveMemo = true;
    SvgEditIni1->SauveDateTimePicker = false;
    SvgEditIni1->SauveRichEdit = false;
    SvgEditIni1->SauveComboBox = false;
    SvgEditIni1->SauveListBox = false;
    SvgEditIni1->SauveStringGrid = false;

    CreateMenu();
    CreateTrayIcon();
    CreateHttpClients();
}

TForm1::~TForm1() {
    if (Form1 == this)
        Form1 = nullptr;
}

TNotifyEvent TForm1::Bind(Handler handler) {
    return [this, handler](TObject* Sender) { (this->*handler)(Sender); };
}

template <class T> T* TForm1::Make(const char* name, TControl* parent) {
    T* control = Create<T>(this);
    control->SetName(name);
    control->SetParent(parent);
    return control;
}

TLabel* TForm1::MakeLabel(const char* name, TControl* parent, int left, int top,
                          const std::string& caption) {
    auto* label = Make<TLabel>(name, parent);
    label->SetCaption(caption);
    label->SetLeft(left);
    label->SetTop(top);
    return label;
}

TButton* TForm1::MakeButton(const char* name, TControl* parent, int left, int top, int width,
                            const std::string& caption, Handler onClick) {
    auto* button = Make<TButton>(name, parent);
    button->SetCaption(caption);
    button->SetBounds(left, top, width, 25);
    button->OnClick = Bind(onClick);
    return button;
}

void TForm1::CreateHeading() {
    TFont heading;
    heading.Size = 10;
    heading.Bold = true;
    heading.Color = clNavy;
    Label1 = MakeLabel("Label1", this, 52, 6, "Kestrova vous indique ");
    Label1->SetFont(heading);
    Label1->SetCaption(Label1->Caption()); // sized for the bold font
    Label2 = MakeLabel("Label2", this, 52, 22, "votre adresse IP externe");
    Label2->SetFont(heading);
    Label2->SetCaption(Label2->Caption());
    Image1 = Make<TImage>("Image1", this);
    Image1->SetBounds(10, 4, 32, 32);
    Image1->SetPicture(Picture("kestrova.png"));
}

void TForm1::CreatePages() {
    PageControl1 = Make<TPageControl>("PageControl1", this);
    PageControl1->SetBounds(4, 42, 398, 236);
    // Narrow tabs, so that all eight pages stand side by side as in the window's design.
    PageControl1->Widget()->setStyleSheet("QTabBar::tab { padding: 4px 6px; }");
    TTabSheet** sheets[] = {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4,
                            &TabSheet5, &TabSheet6, &TabSheet7, &TabSheet8};
    const char* captions[] = {"IP",     "Options", "E-mail", "URL",
                              "Dyndns", "No-IP",   "Ovh",    "A propos"};
    for (int i = 0; i < 8; ++i) {
        TTabSheet* sheet = Create<TTabSheet>(this);
        sheet->SetName("TabSheet" + std::to_string(i + 1));
        sheet->SetCaption(captions[i]);
        sheet->SetPageControl(PageControl1);
        *sheets[i] = sheet;
    }
    CreatePageIP();
    CreatePageOptions();
    CreatePageEmail();
    CreatePageURL();
    CreatePageDyndns();
    CreatePageNoIP();
    CreatePageOvh();
    CreatePageAPropos();
    PageControl1->SetActivePage(TabSheet7);
}

void TForm1::CreatePageIP() {
    GroupBox1 = Make<TGroupBox>("GroupBox1", TabSheet1);
    GroupBox1->SetCaption("Votre adresse IP externe est :");
    GroupBox1->SetBounds(8, 8, 374, 130);
    memo1 = Make<TMemo>("memo1", GroupBox1);
    memo1->SetBounds(10, 22, 354, 96);
    memo1->SetScrollBars(TScrollStyle::ssHorizontal);
    Button8 =
        MakeButton("Button8", TabSheet1, 128, 150, 130, "Tester votre IP", &TForm1::Button8Click);
}

void TForm1::CreatePageOptions() {
    GroupBox2 = Make<TGroupBox>("GroupBox2", TabSheet2);
    GroupBox2->SetCaption("Si changement  d'adresse");
    GroupBox2->SetBounds(6, 4, 170, 176);
    auto check = [this](const char* name, int top, const char* caption) {
        auto* box = Make<TCheckBox>(name, GroupBox2);
        box->SetCaption(caption);
        box->SetBounds(4, top, 164, 20);
        return box;
    };
    qv_fenetre = check("qv_fenetre", 22, "Faire apparaître fenêtre ");
    qv_email = check("qv_email", 46, "Envoyer E-mail");
    qv_urlc = check("qv_urlc", 70, "Envoyer URL");
    qv_dyndns = check("qv_dyndns", 94, "Connexion Dyndns");
    qv_noip = check("qv_noip", 118, "Connexion No-ip");

    GroupBox3 = Make<TGroupBox>("GroupBox3", TabSheet2);
    GroupBox3->SetCaption("Si besoin d'Authentification E-mail");
    GroupBox3->SetBounds(180, 4, 206, 132);
    Label3 = MakeLabel("Label3", GroupBox3, 10, 22, "Identifiant de Messagerie");
    user_name = Make<TEdit>("user_name", GroupBox3);
    user_name->SetBounds(10, 40, 186, 22);
    Label4 = MakeLabel("Label4", GroupBox3, 10, 70, "Mot de passe");
    mot_de_passe = Make<TEdit>("mot_de_passe", GroupBox3);
    mot_de_passe->SetBounds(10, 88, 186, 22);

    qv_ovh = check("qv_ovh", 142, "Connexion OVH");

    Button6 =
        MakeButton("Button6", TabSheet2, 236, 150, 110, "Faire un essai", &TForm1::Button6Click);
    Button6->SetVisible(false);
}

void TForm1::CreatePageEmail() {
    auto field = [this](const char* labelName, TLabel*& label, const char* caption,
                        const char* name, int top, const char* hint) {
        label = MakeLabel(labelName, TabSheet3, 10, top + 3, caption);
        auto* edit = Make<TEdit>(name, TabSheet3);
        edit->SetBounds(70, top, 310, 22);
        edit->SetHint(hint);
        return edit;
    };
    Smtp_qv = field("Label5", Label5, "SMTP", "Smtp_qv", 8,
                    "Indiquer ICI votre serveur SMTP\nExemple : smtp.example.org");
    Email_v = field("Label6", Label6, "E-mail", "Email_v", 34, "Indiquer ici votre adresse E-mail");
    Email_D = field("Label7", Label7, "Destina.", "Email_D", 60,
                    "Indiquer ici l'adresse E-mail du Destinataire");
    Sujet_qv =
        field("Label8", Label8, "Sujet", "Sujet_qv", 86, "Indiquer ici le sujet de l'E-mail");
    Label9 = MakeLabel("Label9", TabSheet3, 10, 115, "Message");
    Message_qv = Make<TMemo>("Message_qv", TabSheet3);
    Message_qv->SetBounds(70, 112, 310, 52);
    Button5 = MakeButton("Button5", TabSheet3, 128, 172, 140, "Essai d'envoi E-mail",
                         &TForm1::Button5Click);
}

void TForm1::CreatePageURL() {
    GroupBox4 = Make<TGroupBox>("GroupBox4", TabSheet4);
    GroupBox4->SetCaption("Indiquer l'URL si l'option URL est cochée");
    GroupBox4->SetBounds(8, 4, 374, 56);
    qv_url = Make<TEdit>("qv_url", GroupBox4);
    qv_url->SetBounds(10, 24, 354, 22);
    qv_url->SetText("http://");
    Button7 =
        MakeButton("Button7", TabSheet4, 128, 66, 130, "Essai envoi URL", &TForm1::Button7Click);
    Label10 = MakeLabel("Label10", TabSheet4, 10, 96, "Résultat de l'envoi URL");
    Memo2 = Make<TMemo>("Memo2", TabSheet4);
    Memo2->SetBounds(10, 114, 372, 64);
    Memo2->SetScrollBars(TScrollStyle::ssVertical);
}

TEdit* TForm1::MakeField(TControl* page, const char* labelName, TLabel*& label, const char* name,
                         int top, const std::string& caption) {
    label = MakeLabel(labelName, page, 10, top + 3, caption);
    auto* edit = Make<TEdit>(name, page);
    edit->SetBounds(118, top, 200, 22);
    return edit;
}

// The three fields of each dynamic-DNS page are made in the window's order, which is the
// order of their keys in the settings file.
void TForm1::CreatePageDyndns() {
    TControl* page = TabSheet5;
    password_ip = MakeField(page, "Label11", Label11, "password_ip", 34, "Mot de passe :");
    Login_ip = MakeField(page, "Label12", Label12, "Login_ip", 8, "Identifiant :");
    domaine_ip = MakeField(page, "Label13", Label13, "domaine_ip", 60, "Domaine dyndns");
    Button12 = MakeButton("Button12", TabSheet5, 118, 88, 140, "Reconnexion Dyndns",
                          &TForm1::Button12Click);
    Button9 =
        MakeButton("Button9", TabSheet5, 260, 88, 120, "Reconnexion Dyndns", &TForm1::Button9Click);
    Button9->SetVisible(false);
    Label14 = MakeLabel("Label14", TabSheet5, 10, 118, "Résultat de l'envoi Dyndns");
    Memo3 = Make<TMemo>("Memo3", TabSheet5);
    Memo3->SetBounds(10, 136, 372, 44);
}

void TForm1::CreatePageNoIP() {
    TControl* page = TabSheet6;
    password_no = MakeField(page, "Label15", Label15, "password_no", 34, "Mot de passe :");
    login_no = MakeField(page, "Label16", Label16, "login_no", 8, "E-mail");
    domaine_no = MakeField(page, "Label17", Label17, "domaine_no", 60, "Domaine No-ip");
    Button13 = MakeButton("Button13", TabSheet6, 118, 88, 140, "Reconnexion No-IP",
                          &TForm1::Button13Click);
    Button10 = MakeButton("Button10", TabSheet6, 260, 88, 120, "Reconnexion No-IP",
                          &TForm1::Button10Click);
    Button10->SetVisible(false);
    Label18 = MakeLabel("Label18", TabSheet6, 10, 118, "Résultat de l'envoi NO-IP");
    Memo4 = Make<TMemo>("Memo4", TabSheet6);
    Memo4->SetBounds(10, 136, 372, 44);
}

void TForm1::CreatePageOvh() {
    TControl* page = TabSheet7;
    domaine_ovh = MakeField(page, "Label19", Label19, "domaine_ovh", 60, "Domaine Ovh");
    ident_ovh = MakeField(page, "Label20", Label20, "ident_ovh", 8, "Identifiant :");
    passe_ovh = MakeField(page, "Label21", Label21, "passe_ovh", 34, "Mot de passe :");
    Button15 =
        MakeButton("Button15", TabSheet7, 118, 88, 140, "Reconnexion OVH", &TForm1::Button15Click);
    Button14 = MakeButton("Button14", TabSheet7, 260, 88, 120, "Reconnexion Dyndns",
                          &TForm1::Button9Click);
    Button14->SetVisible(false);
    Label22 = MakeLabel("Label22", TabSheet7, 10, 118, "Résultat de l'envoi Ovh");
    Memo5 = Make<TMemo>("Memo5", TabSheet7);
    Memo5->SetBounds(10, 136, 372, 44);
}

void TForm1::CreatePageAPropos() {
    TFont title;
    title.Size = 14;
    title.Bold = true;
    title.Color = clNavy;
    Label23 = MakeLabel("Label23", TabSheet8, 20, 16, "Kestrova");
    Label23->SetFont(title);
    Label23->SetCaption(Label23->Caption());
    Label24 = MakeLabel("Label24", TabSheet8, 20, 48, "Version 1.8 xp");
    GroupBox5 = Make<TGroupBox>("GroupBox5", TabSheet8);
    GroupBox5->SetCaption("Mise à jour");
    GroupBox5->SetBounds(20, 84, 200, 70);
    Button11 =
        MakeButton("Button11", GroupBox5, 40, 28, 120, "Mise à jour", &TForm1::Button11Click);
}

void TForm1::CreateBottomButtons() {
    auto bit = [this](const char* name, int left, const char* caption, const char* glyph,
                      Handler onClick) {
        auto* button = Make<TBitBtn>(name, this);
        button->SetCaption(caption);
        button->SetGlyph(Picture(glyph));
        button->SetBounds(left, 286, 92, 28);
        button->OnClick = Bind(onClick);
        return button;
    };
    BitBtn1 = bit("BitBtn1", 8, "Enregister", "save.png", &TForm1::Button4Click);
    BitBtn2 = bit("BitBtn2", 106, "Réduire", "hide.png", &TForm1::Button2Click);
    SpeedButton2 = Make<TSpeedButton>("SpeedButton2", this);
    SpeedButton2->SetBounds(236, 286, 28, 28);
    SpeedButton2->SetGlyph(Picture("help.png"));
    SpeedButton2->SetHint("Aide");
    SpeedButton2->OnClick = Bind(&TForm1::SpeedButton2Click);
    BitBtn3 = bit("BitBtn3", 306, "Quitter", "quit.png", &TForm1::Button3Click);
}

void TForm1::CreateHiddenButtons() {
    auto hidden = [this](const char* name, const char* caption, Handler onClick) {
        TButton* button = MakeButton(name, this, 0, 0, 75, caption, onClick);
        button->SetVisible(false);
        return button;
    };
    Button1 = hidden("Button1", "affiche", &TForm1::Button1Click);
    Button2 = hidden("Button2", "Réduire", &TForm1::Button2Click);
    Button4 = hidden("Button4", "Enregistrer", &TForm1::Button4Click);
    Button3 = hidden("Button3", "Quitter", &TForm1::Button3Click);
    // Two spare edit boxes; without "_" in their names they are never saved.
    Edit1 = Make<TEdit>("Edit1", this);
    Edit1->SetVisible(false);
    Edit2 = Make<TEdit>("Edit2", this);
    Edit2->SetVisible(false);
}

void TForm1::CreateMenu() {
    PopupMenu1 = Create<TPopupMenu>(this);
    PopupMenu1->SetName("PopupMenu1");
    auto item = [this](const char* name, const char* caption, const char* bitmap, Handler onClick) {
        auto* entry = Create<TMenuItem>(this);
        entry->SetName(name);
        entry->SetCaption(caption);
        if (bitmap)
            entry->SetBitmap(Picture(bitmap));
        if (onClick)
            entry->OnClick = Bind(onClick);
        PopupMenu1->Add(entry);
        return entry;
    };
    Afficher1 = item("Afficher1", "Afficher", "show.png", &TForm1::Button1Click);
    Rduire1 = item("Rduire1", "Réduire", "hide.png", &TForm1::Rduire1Click);
    N1 = item("N1", "-", nullptr, nullptr);
    EnvoiEmail1 = item("EnvoiEmail1", "Envoi E-mail", "mail.png", &TForm1::Button5Click);
    EnvoiURL1 = item("EnvoiURL1", "Envoi URL", "url.png", &TForm1::Button7Click);
    N2 = item("N2", "-", nullptr, nullptr);
    Quitter1 = item("Quitter1", "Quitter", "quit.png", &TForm1::Button3Click);
    SetPopupMenu(PopupMenu1);
}

void TForm1::CreateTrayIcon() {
    RxTrayIcon1 = Create<TRxTrayIcon>(this);
    RxTrayIcon1->SetName("RxTrayIcon1");
    RxTrayIcon1->SetIcon(Picture("kestrova.png"));
    RxTrayIcon1->SetHint("Kestrova");
    RxTrayIcon1->SetPopupMenu(PopupMenu1);
    RxTrayIcon1->OnClick = Bind(&TForm1::RxTrayIcon1Click);
    RxTrayIcon1->OnAvailableChange = Bind(&TForm1::RxTrayIcon1AvailableChange);
}

void TForm1::CreateHttpClients() {
    HttpCli1 = Create<net::THttpCli>(this);
    HttpCli1->SetName("HttpCli1");
    HttpCli1->Agent = "Mozilla/3.0 (compatible)";
    HttpCli1->Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    HttpCli1->ProxyPort = "80";
    HttpCli1->LocalAddr = "0.0.0.0";

    // No idle message pump stands on this window: the check holds it until the answer comes.
    // The client's read time-out (a minute) stays on, so that a server that stalls gives the
    // request up instead of freezing the watcher for good.
    IdHTTP1 = Create<net::TIdHTTP>(this);
    IdHTTP1->SetName("IdHTTP1");
    IdHTTP1->Request.UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    IdHTTP1->Request.Accept = "text/html, */*";
    IdHTTP1->Request.ContentType = "text/html";
    IdHTTP1->ForceEncodeParams = true;
    IdHTTP1->AllowCookies = true;
}

// Start-up: the settings are restored by now. With a settings file the program goes
// straight to the tray (where there is one); on the first run it shows its window with only the
// notice and OVH options ticked.
void TForm1::FormCreate(TObject*) {
    std::string settings =
        SvgEditIni1->DossierSpecial(platform::CSIDL_APPDATA) + "/Kestrova/serie.ini";
    if (FileExists(settings)) {
        Button2Click(this);
        // A desktop without a notification area (GNOME without an extension, a bare X
        // server) would leave no way to the hidden window: it stays in view instead.
        if (!RxTrayIcon1->Showing())
            Button1Click(this);
    } else {
        qv_urlc->SetChecked(false);
        qv_dyndns->SetChecked(false);
        qv_noip->SetChecked(false);
        qv_email->SetChecked(false);
        Button1Click(this);
    }
}

void TForm1::Button1Click(TObject*) {
    SetVisible(true);
    // So that the message loop shows the window when it starts.
    Application().ShowMainForm = Visible();
    Application().Restore();
    Devant();
}

// Brings the main window to the front. The window system decides about the focus; raising
// and activating the window is the request it honours.
void TForm1::Devant() {
    BringToFront();
    Application().BringToFront();
}

void TForm1::Button2Click(TObject*) {
    SvgEditIni1->Sauve();
    HideToTray();
    LibereMemoireProcessus(kExeName);
}

void TForm1::Button4Click(TObject* Sender) {
    Button2Click(Sender);
    Timer1->SetEnabled(true); // already running: its period goes on
    SvgEditIni1->Sauve();
}

void TForm1::Rduire1Click(TObject*) {
    HideToTray();
}

// Hides the window to the notification area. A desktop without one would leave no way back
// to a hidden window: the window is minimized there instead.
void TForm1::HideToTray() {
    if (RxTrayIcon1->Showing())
        Hide();
    else
        Widget()->showMinimized();
    // A window hidden during start-up stays hidden when the message loop starts.
    Application().ShowMainForm = Visible();
}

// A notification area that goes away takes the way to a hidden window with it: the window
// comes back.
void TForm1::RxTrayIcon1AvailableChange(TObject* Sender) {
    if (!RxTrayIcon1->Available() && !Visible())
        Button1Click(Sender);
}

// Closing the main window ends the program: FormClose, then the settings are written.
void TForm1::Button3Click(TObject*) {
    Close();
}

// A request of HttpCli1 that is still waiting (the close came through its message pump) is
// abandoned: it returns without touching the client or its stream, and its handler goes on
// with the answer that stayed empty.
void TForm1::FormClose(TObject*, TCloseAction&) {
    Timer1->SetEnabled(false);
    FreeAndNil(HttpCli1);
}

void TForm1::FormCloseQuery(TObject*, bool&) {
    // Closing is always allowed.
}

// A missing help file or updater gives no message: the shell's answer is ignored.
void TForm1::SpeedButton2Click(TObject*) {
    platform::ShellExecute("OPEN", ExtractFilePath(Application().ExeName()) + "Kestrova.chm");
}

// The updater may stop this program; it is not waited for.
void TForm1::Button11Click(TObject*) {
    platform::ShellExecute("open", ExtractFilePath(Application().ExeName()) + "Tamrel.exe");
}

void TForm1::Button6Click(TObject*) {
    if (Form2)
        Form2->AfficheMessage("Essai", "Ceci est un essai");
}

void TForm1::RxTrayIcon1Click(TObject* Sender) {
    Button1Click(Sender);
}

} // namespace ipwatch
