#include "formstate/SvgEditIni.h"

#include "formstate/SettingsSections.h"
#include "platform/SpecialFolders.h"
#include "vcl/ComCtrls.h"
#include "vcl/DateUtils.h"
#include "vcl/Grids.h"
#include "vcl/IniFiles.h"
#include "vcl/Spin.h"
#include "vcl/StdCtrls.h"

#include <cstring>
#include <utility>

namespace formstate {

using namespace vcl;

namespace {

// Stored as the default of an edit-box read: getting it back means the key is missing.
const std::string kSentinel = "%ù@à*£";

// Runs one step of a load or a save; whatever goes wrong in it stays there.
template <class F> void Trap(F step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

template <class T> T* As(TComponent* c) {
    return dynamic_cast<T*>(c);
}

} // namespace

TSvgEditIni::TSvgEditIni(TComponent* AOwner)
    : TComponent(AOwner), SauveEdit(true), SauveDateTimePicker(true), SauveCheckBox(true),
      SauveRadioButton(true), SauveSpinEdit(true), SauveMemo(false), SauveRichEdit(false),
      SauveComboBox(false), SauveListBox(false), SauveStringGrid(false) {
    // Only the first form created (the future main form) gets its close hooked: the form's
    // own OnClose is already set, so the hook wraps it.
    auto* form = dynamic_cast<TForm*>(AOwner);
    if (form && HasApplication() && !Application().MainForm()) {
        FForm = form;
        FOldOnClose = form->OnClose;
        form->OnClose = [this](TObject* Sender, TCloseAction& Action) {
            FormCloseSvg(Sender, Action);
        };
    }
}

void TSvgEditIni::Loaded() {
    Charge();
    TComponent::Loaded();
    FLoaded = true;
}

std::string TSvgEditIni::DossierSpecial(int Dossier) {
    return platform::SpecialFolderPath(Dossier);
}

std::string TSvgEditIni::SettingsFile() {
    std::string folder = DossierSpecial(platform::CSIDL_APPDATA) + "/" + NomDossier;
    // One level only, and private: the file holds the user's passwords.
    if (!DirectoryExists(folder))
        CreateDir(folder, 0700);
    return folder + "/serie.ini";
}

void TSvgEditIni::FormCloseSvg(TObject* Sender, TCloseAction& Action) {
    if (FOldOnClose)
        FOldOnClose(Sender, Action);
    FClosing = true;
    Sauve();
    FClosing = false;
}

TSvgEditIni* TSvgEditIni::TrouveSvgEditIni(const TForm& Form) {
    TSvgEditIni* found = nullptr;
    for (int i = 0; i < Form.ComponentCount(); ++i)
        if (auto* s = dynamic_cast<TSvgEditIni*>(Form.Components(i)))
            found = s;
    return found;
}

bool TSvgEditIni::ContientSvgEditIni(const TForm& Form) {
    return TrouveSvgEditIni(Form) != nullptr;
}

template <class Step> void TSvgEditIni::Walk(TIniFile& File, Step step) {
    TApplication& app = Application();
    for (int f = 0; f < app.ComponentCount(); ++f) {
        auto* form = dynamic_cast<TForm*>(app.Components(f));
        if (!form || !ContientSvgEditIni(*form))
            continue;
        // The switches of the last component on that form govern it.
        const TSvgEditIni& k = *TrouveSvgEditIni(*form);
        for (int i = 0; i < form->ComponentCount(); ++i)
            step(File, k, *form, form->Components(i));
    }
}

// The values go to memory, and the file is replaced once at the end: a crash or a full disk
// during a save leaves the whole previous file, never a mix of old and new values.
void TSvgEditIni::Sauve() {
    if (!HasApplication())
        return;
    TMemIniFile File(SettingsFile());
    Walk(File, [](TIniFile& Ini, const TSvgEditIni& k, TForm& form, TComponent* C) {
        Trap([&] {
            if (C->Name().find('_') == std::string::npos)
                return;
            const std::string& S = form.Name();
            const std::string& N = C->Name();
            const std::string list = S + N;
            if (auto* e = As<TEdit>(C); e && k.SauveEdit)
                Ini.WriteString(S, N, e->Text());
            if (auto* d = As<TDateTimePicker>(C); d && k.SauveDateTimePicker)
                Ini.WriteString(S, N, DateTimeToStr(d->DateTime()));
            if (auto* c = As<TCheckBox>(C); c && k.SauveCheckBox)
                Ini.WriteBool(S, N, c->Checked());
            if (auto* r = As<TRadioButton>(C); r && k.SauveRadioButton)
                Ini.WriteBool(S, N, r->Checked());
            if (auto* s = As<TSpinEdit>(C); s && k.SauveSpinEdit)
                Ini.WriteInteger(S, N, s->Value());
            if (auto* m = As<TMemo>(C); m && k.SauveMemo)
                SauveListe(Ini, list, m->Lines(), 0);
            if (auto* re = As<TRichEdit>(C); re && k.SauveRichEdit)
                SauveListe(Ini, list, re->Lines(), 0);
            if (auto* cb = As<TComboBox>(C); cb && k.SauveComboBox)
                SauveListe(Ini, list, cb->Items(), cb->ItemIndex());
            if (auto* lb = As<TListBox>(C); lb && k.SauveListBox)
                SauveListe(Ini, list, lb->Items(), lb->ItemIndex());
            if (auto* g = As<TStringGrid>(C); g && k.SauveStringGrid)
                SauveGrille(Ini, list, *g);
        });
    });
    try {
        File.UpdateFile();
    } catch (const EIniFileException& e) {
        std::string text = "Vos paramètres n'ont pas été enregistrés.\r" + e.Message();
        if (e.ErrorCode() != 0)
            text += " :\r" + std::string(std::strerror(e.ErrorCode()));
        ReportSaveFailure(text + ".");
    } catch (const std::exception&) {
        // Anything else stays where the walk's errors stay.
    }
}

void TSvgEditIni::Charge() {
    if (!HasApplication())
        return;
    TIniFile File(SettingsFile());
    Walk(File, [](TIniFile& Ini, const TSvgEditIni& k, TForm& form, TComponent* C) {
        const std::string& S = form.Name();
        const std::string& N = C->Name();
        const std::string list = S + N;
        // A list's stored selection applies only when it names an item or none.
        auto loadItems = [&](TStrings& items, auto select) {
            int index = 0;
            ChargeListe(Ini, list, items, index);
            if (index <= items.Count() - 1)
                select(index);
        };
        if (auto* e = As<TEdit>(C); e && k.SauveEdit)
            Trap([&] {
                if (Ini.ReadString(S, N, kSentinel) != kSentinel)
                    e->SetText(Ini.ReadString(S, N, ""));
            });
        if (auto* d = As<TDateTimePicker>(C); d && k.SauveDateTimePicker)
            Trap([&] {
                if (Ini.ReadString(S, N, kSentinel) != kSentinel)
                    d->SetDateTime(StrToDateTime(Ini.ReadString(S, N, "")));
            });
        if (auto* c = As<TCheckBox>(C); c && k.SauveCheckBox)
            Trap([&] { c->SetChecked(Ini.ReadBool(S, N, true)); });
        if (auto* r = As<TRadioButton>(C); r && k.SauveRadioButton)
            Trap([&] { r->SetChecked(Ini.ReadBool(S, N, true)); });
        if (auto* s = As<TSpinEdit>(C); s && k.SauveSpinEdit)
            Trap([&] { s->SetValue(Ini.ReadInteger(S, N, 0)); });
        if (auto* m = As<TMemo>(C); m && k.SauveMemo)
            Trap([&] {
                int ignored = 0;
                ChargeListe(Ini, list, m->Lines(), ignored);
            });
        if (auto* re = As<TRichEdit>(C); re && k.SauveRichEdit)
            Trap([&] {
                int ignored = 0;
                ChargeListe(Ini, list, re->Lines(), ignored);
            });
        if (auto* g = As<TStringGrid>(C); g && k.SauveStringGrid)
            Trap([&] { ChargeGrille(Ini, list, *g); });
        if (auto* cb = As<TComboBox>(C); cb && k.SauveComboBox)
            Trap([&] { loadItems(cb->Items(), [cb](int i) { cb->SetItemIndex(i); }); });
        if (auto* lb = As<TListBox>(C); lb && k.SauveListBox)
            Trap([&] { loadItems(lb->Items(), [lb](int i) { lb->SetItemIndex(i); }); });
    });
}

void TSvgEditIni::ReportSaveFailure(const std::string& text) {
    auto show = [](const std::string& message) {
        Application().MessageBox(message, Application().Title, MB_OK | MB_ICONSTOP);
    };
    // The program ends after this save: there is no later moment to tell it. A failure
    // still waiting to be told is this one.
    if (FClosing || Application().Terminated()) {
        FSaveFailure->clear();
        show(text);
        return;
    }
    // One call is posted for the failures of one handler: the last one's text is told.
    const bool posted = !FSaveFailure->empty();
    *FSaveFailure = text;
    if (posted)
        return;
    Application().QueueCall([failure = std::weak_ptr<std::string>(FSaveFailure), show] {
        if (auto waiting = failure.lock(); waiting && !waiting->empty())
            show(std::exchange(*waiting, {}));
    });
}

} // namespace formstate
