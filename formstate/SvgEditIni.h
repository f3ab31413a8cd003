// TSvgEditIni: dropped on a form, it makes the contents of the form's input controls survive
// a restart. It restores them from "serie.ini" while the form loads (before OnCreate) and
// writes them back on Sauve and when the main window closes.
#pragma once

#include "vcl/Forms.h"
#include "vcl/IniFiles.h"

#include <memory>
#include <string>

namespace formstate {

// The settings folder under the user's application-data folder.
inline constexpr const char* NomDossier = "Kestrova";

class TSvgEditIni : public vcl::TComponent {
public:
    explicit TSvgEditIni(vcl::TComponent* AOwner);

    // Which kinds of control are saved and restored.
    bool SauveEdit;
    bool SauveDateTimePicker;
    bool SauveCheckBox;
    bool SauveRadioButton;
    bool SauveSpinEdit;
    bool SauveMemo;
    bool SauveRichEdit;
    bool SauveComboBox;
    bool SauveListBox;
    bool SauveStringGrid;

    void Loaded() override;

    // Restores every form of the application that carries a TSvgEditIni.
    void Charge();
    // Writes every form of the application that carries a TSvgEditIni; only controls whose
    // name contains "_" are written. A file that cannot be written is told in a message box
    // that names it and the system's reason, once the handler that saved has returned (a
    // click that saves twice tells it once); a save while the main form closes tells it at
    // once. The previous file stays whole.
    void Sauve();
    std::string DossierSpecial(int Dossier);
    void FormCloseSvg(vcl::TObject* Sender, vcl::TCloseAction& Action);

    // The last TSvgEditIni among the form's components, or none.
    static TSvgEditIni* TrouveSvgEditIni(const vcl::TForm& Form);
    static bool ContientSvgEditIni(const vcl::TForm& Form);

private:
    std::string SettingsFile();
    void ReportSaveFailure(const std::string& text);
    template <class Step> void Walk(vcl::TIniFile& Ini, Step step);

    vcl::TForm* FForm = nullptr;
    vcl::TCloseEvent FOldOnClose;
    bool FLoaded = false;
    bool FClosing = false;
    // The failure still to be told, empty when none waits; shared with the posted call that
    // tells it, which may outlive the component.
    std::shared_ptr<std::string> FSaveFailure = std::make_shared<std::string>();
};

} // namespace formstate
