// Takes pictures of Kestrova's windows: the main window on each of its pages, and the
// notice window once it has slid in. Usage: kestrova_screenshots <folder>.
#include "ipwatch/Unit1.h"
#include "ipwatch/Unit2.h"

#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    // A settings folder of its own: the pictures show a first start.
    char config[] = "/tmp/kestrova-shots-XXXXXX";
    if (!mkdtemp(config))
        return 1;
    setenv("XDG_CONFIG_HOME", config, 1);

    vcl::TApplication app(argc, argv);
    app.Title = "Kestrova";
    auto* form1 = app.CreateForm<ipwatch::TForm1>();
    auto* form2 = app.CreateForm<ipwatch::TForm2>();
    form1->memo1->Lines().Add("192.0.2.7");
    int failures = 0;
    for (int i = 0; i < form1->PageControl1->PageCount(); ++i) {
        vcl::TTabSheet* page = form1->PageControl1->Pages(i);
        form1->PageControl1->SetActivePage(page);
        app.ProcessMessages();
        std::string name =
            folder + "/main-" + std::to_string(i + 1) + "-" + page->Caption() + ".png";
        if (!form1->Widget()->grab().save(vcl::ToQString(name)))
            ++failures;
    }
    // Every notice the program shows, the longest texts among them.
    const char* notices[][3] = {
        {"notice", "12/05/2024 10:00:00", "Votre IP : 255.255.255.255"},
        {"notice-error", "Erreur : Pas de réponse !", "Vérifier la connexion Internet"},
        {"notice-mail", "E-mail : Pas de réponse !", "Vérifier la connexion Internet"},
    };
    for (const auto& notice : notices) {
        form2->AfficheMessage(notice[1], notice[2]);
        form2->Timer2Timer(form2->Timer2);
        if (!form2->Widget()->grab().save(vcl::ToQString(folder + "/" + notice[0] + ".png")))
            ++failures;
    }
    std::string cleanup = std::string("rm -rf ") + config;
    (void)std::system(cleanup.c_str());
    return failures == 0 ? 0 : 1;
}
