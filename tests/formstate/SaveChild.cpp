// A program that saves a test form once and ends, for tests that kill it during the save or
// make its disk refuse the save:
//     save_child LOGIN [MESSAGE LINE]...
// The form's login box gets LOGIN and its message memo the lines; everything else keeps
// what the settings file gave it. Each message box the save shows is written to standard
// output, a line each.
#include "TestForm.h"

#include "vcl/Dialogs.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    vcl::TApplication app(argc, argv);
    vcl::TScriptedDialogs dialogs;
    auto* form = app.CreateForm<testsupport::TTestForm>();
    form->user_name->SetText(argv[1]);
    form->Message_qv->Lines().Clear();
    for (int i = 2; i < argc; ++i)
        form->Message_qv->Lines().Add(argv[i]);
    form->SvgEditIni1->Sauve();
    app.ProcessMessages();
    for (const vcl::TDialogRequest& box : dialogs->shown)
        std::printf("%s\n", box.text.c_str());
    return 0;
}
