// A fresh Tamrel for each test: a new application object titled as the program titles it,
// and the window made on an installation folder of the test's own. The message loop is not
// entered; tests press the buttons and answer the message boxes through scripted dialogs.
#pragma once

#include "support/TempDir.h"

#include "platform/Processes.h"
#include "updater/Unit1.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>

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
        updater::TUpdaterPlace place;
        place.Folder = Installation();
        place.ReleaseHost = releaseHost;
        place.Processes = [this] { return OwnProcesses(); };
        place.Stopper = stopper;
        form = app->CreateForm<updater::TForm1>(place);
    }

    // The processes the updater may stop: only the test's own children, so that a test never
    // stops another program of the machine named like the main program.
    std::vector<platform::ProcessEntry> OwnProcesses() const {
        std::vector<platform::ProcessEntry> own = platform::ProcessSnapshot();
        std::erase_if(own,
                      [this](const platform::ProcessEntry& p) { return !children_.count(p.Pid); });
        return own;
    }
    void Adopt(pid_t child) { children_.insert(child); }
    std::set<pid_t> children_;
    // How the window stops the main program; tests that make it fail set it before Start.
    updater::TStopper stopper;

    TempDir root;
    vcl::TScriptedDialogs dialogs;
    std::unique_ptr<vcl::TApplication> app;
    updater::TForm1* form = nullptr;
};

} // namespace testsupport
