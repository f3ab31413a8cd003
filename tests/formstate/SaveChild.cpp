// A program that saves a test form once and ends, for tests that kill it during the save:
//     save_child LOGIN [MESSAGE LINE]...
// The form's login box gets LOGIN and its message memo the lines; everything else keeps
// what the settings file gave it.
#include "TestForm.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    vcl::TApplication app(argc, argv);
    auto* form = app.CreateForm<testsupport::TTestForm>();
    form->user_name->SetText(argv[1]);
    form->Message_qv->Lines().Clear();
    for (int i = 2; i < argc; ++i)
        form->Message_qv->Lines().Add(argv[i]);
    form->SvgEditIni1->Sauve();
    return 0;
}
