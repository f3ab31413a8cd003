// Tamrel: brings the installed Kestrova up to date from the release server.
#include "updater/Unit1.h"

#include <clocale>

int main(int argc, char** argv) {
    // The regional short-date format of the version page comes from the user's locale.
    std::setlocale(LC_ALL, "");
    vcl::TApplication Application(argc, argv);
    Application.Title = "Mise à jour";
    Application.SetIcon(vcl::TPicture(":/tamrel/tamrel.png"));
    Application.CreateForm<updater::TForm1>();
    Application.Run();
    return 0;
}
