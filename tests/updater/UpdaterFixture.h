// A fresh Tamrel for each test: a new application object titled as the program titles it,
// and the window made on an installation folder of the test's own. The message loop is not
// entered; tests press the buttons and answer the message boxes through scripted dialogs.
#pragma once

#include "support/TempDir.h"

#include "updater/Unit1.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"

#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

class UpdaterTest : public ::testing::Test {
protected:
    void TearDown() override { app.reset(); }

    // The installation folder lies one level down, so that a write outside it stays in the
    // test's folder where the test can see it.
    std::string Installation() const { return root / "inst"; }

    void Start(const std::string& releaseHost) {
        vcl::CreateDir(Installation());
        app.reset();
        app = std::make_unique<vcl::TApplication>();
        app->Title = "Mise à jour";
        form =
            app->CreateForm<updater::TForm1>(updater::TUpdaterPlace{Installation(), releaseHost});
    }

    TempDir root;
    vcl::TScriptedDialogs dialogs;
    std::unique_ptr<vcl::TApplication> app;
    updater::TForm1* form = nullptr;
};

} // namespace testsupport
