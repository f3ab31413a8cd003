// Kestrova: watches the machine's external address from the tray.
#include "ipwatch/Unit1.h"
#include "ipwatch/Unit2.h"

#include <clocale>

int main(int argc, char** argv) {
    // The regional date and time formats come from the user's locale.
    std::setlocale(LC_ALL, "");
    vcl::TApplication Application(argc, argv);
    Application.Title = "Kestrova";
    Application.SetIcon(vcl::TPicture(":/kestrova/kestrova.png"));
    Application.CreateForm<ipwatch::TForm1>();
    Application.CreateForm<ipwatch::TForm2>();
    Application.Run();
    return 0;
}
