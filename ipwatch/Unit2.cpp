#include "ipwatch/Unit2.h"

#include "vcl/SysUtils.h"

#include <algorithm>

namespace ipwatch {

using namespace vcl;

TForm2* Form2 = nullptr;
int HauteurInitiale = 0;

namespace {

// The delay between two steps of a slide.
constexpr unsigned kStepMilliseconds = 10;

} // namespace

TForm2::TForm2(TComponent* AOwner) : TForm(AOwner) {
    Form2 = this;
    SetName("Form2");
    SetCaption(" Messages");
    SetBorderStyle(TFormBorderStyle::bsNone);
    SetFormStyle(TFormStyle::fsStayOnTop);
    SetColor(clCream);
    SetClientWidth(181);
    SetClientHeight(116);
    OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
    OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };

    Image1 = Create<TImage>(this);
    Image1->SetName("Image1");
    Image1->SetParent(this);
    Image1->SetBounds(0, 0, 181, 116);
    Image1->SetStretch(true);
    Image1->SetPicture(TPicture(":/kestrova/notice.png"));

    TFont font;
    font.Name = "Sans Serif";
    font.Size = 8;
    font.Bold = true;

    Titre = Create<TLabel>(this);
    Titre->SetName("Titre");
    Titre->SetParent(this);
    // Both texts break into lines at the window's width (the title short of the close
    // button): with this platform's fonts the longest of them run wider than one line.
    Titre->SetBounds(7, 6, 148, 13);
    Titre->SetWordWrap(true);
    font.Color = cl3DDkShadow;
    Titre->SetFont(font);
    Titre->SetColor(clMenu);
    Titre->SetTransparent(true);

    Texte = Create<TLabel>(this);
    Texte->SetName("Texte");
    Texte->SetParent(this);
    Texte->SetBounds(7, 32, 168, 13);
    Texte->SetWordWrap(true);
    font.Color = clMenuHighlight;
    Texte->SetFont(font);
    Texte->SetColor(clCaptionText);
    Texte->SetTransparent(true);

    SpeedButton1 = Create<TSpeedButton>(this);
    SpeedButton1->SetName("SpeedButton1");
    SpeedButton1->SetParent(this);
    SpeedButton1->SetBounds(158, 4, 18, 18);
    SpeedButton1->SetFlat(true);
    SpeedButton1->SetGlyph(TPicture(":/kestrova/close.png"));
    SpeedButton1->OnClick = [this](TObject* Sender) { SpeedButton1Click(Sender); };

    Timer1 = Create<TTimer>(this);
    Timer1->SetName("Timer1");
    Timer1->SetEnabled(false);
    Timer1->SetInterval(30000);
    Timer1->OnTimer = [this](TObject* Sender) { Timer1Timer(Sender); };

    Timer2 = Create<TTimer>(this);
    Timer2->SetName("Timer2");
    Timer2->SetEnabled(false);
    Timer2->SetInterval(100);
    Timer2->OnTimer = [this](TObject* Sender) { Timer2Timer(Sender); };
}

TForm2::~TForm2() {
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::FormCreate(TObject*) {
    // Painting is double-buffered by the widget layer already.
    HauteurInitiale = ClientHeight();
    Hide();
}

void TForm2::AfficheMessage(const std::string& ATitre, const std::string& ATexte) {
    Texte->SetCaption(ATexte);
    Titre->SetCaption(ATitre);
    Hide();
    // Enabling a running timer leaves it alone: a notice that follows another one goes
    // away with the first one's time.
    Timer1->SetEnabled(true);
    Timer2->SetEnabled(true);
    Show();
}

void TForm2::Timer2Timer(TObject*) {
    Timer2->SetEnabled(false);
    SetFormStyle(TFormStyle::fsStayOnTop);
    // Bottom right of the work area: a panel at either edge keeps the notice in full view.
    const TRect area = Screen().WorkAreaRect();
    int left = area.Right - ClientWidth();
    int top = area.Bottom - 1;
    int height = 1;
    SetBounds(left, top, ClientWidth(), height);
    Show();
    // The program's task-bar button has no counterpart here: nothing to hide.
    Beep();
    for (int step = 0; step < HauteurInitiale + 1; ++step) {
        ++height;
        --top;
        SetBounds(left, top, ClientWidth(), height);
        Repaint();
        Application().ProcessMessages();
        Sleep(kStepMilliseconds);
    }
}

void TForm2::Timer1Timer(TObject*) {
    int left = Left();
    int top = Top();
    int height = ClientHeight();
    for (int step = 0; step < HauteurInitiale + 1; ++step) {
        --height;
        ++top;
        // A slide out that starts before the slide in has ended stops at one pixel.
        SetBounds(left, top, ClientWidth(), std::max(height, 1));
        Repaint();
        Application().ProcessMessages();
        Sleep(kStepMilliseconds);
    }
    Close();
}

void TForm2::FormClose(TObject*, TCloseAction&) {
    // The program's task-bar button has no counterpart here: nothing to show again.
    Timer1->SetEnabled(false);
    Timer2->SetEnabled(false);
}

void TForm2::SpeedButton1Click(TObject*) {
    Close();
}

} // namespace ipwatch
