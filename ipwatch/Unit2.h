// The notice window: a small borderless window that slides up out of the bottom of the work
// area at the right edge of the screen, beeps, shows a title and a text for 30000 ms, then
// slides down and closes. Made once at start and reused for every notice.
#pragma once

#include "vcl/Buttons.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

#include <string>

namespace ipwatch {

class TForm2 : public vcl::TForm {
public:
    explicit TForm2(vcl::TComponent* AOwner);
    ~TForm2() override;

    vcl::TImage* Image1;
    vcl::TLabel* Titre;
    vcl::TLabel* Texte;
    vcl::TSpeedButton* SpeedButton1;
    vcl::TTimer* Timer1; // shown time: its tick slides the window out
    vcl::TTimer* Timer2; // the short wait before the slide in

    // Shows a notice with these texts.
    void AfficheMessage(const std::string& ATitre, const std::string& ATexte);

    void FormCreate(vcl::TObject* Sender);
    void Timer2Timer(vcl::TObject* Sender);
    void Timer1Timer(vcl::TObject* Sender);
    void FormClose(vcl::TObject* Sender, vcl::TCloseAction& Action);
    void SpeedButton1Click(vcl::TObject* Sender);
};

// The notice window of the program.
extern TForm2* Form2;
// The window's designed client height, taken when it is made; a slide takes one step more.
extern int HauteurInitiale;

} // namespace ipwatch
