// A form with one control of every kind the form-state component knows, built like a form
// read from its resource: own properties first, then its components in creation order.
#pragma once

#include "formstate/SvgEditIni.h"
#include "vcl/ComCtrls.h"
#include "vcl/Grids.h"
#include "vcl/Spin.h"
#include "vcl/StdCtrls.h"

#include <functional>
#include <vector>

namespace testsupport {

class TTestForm : public vcl::TForm {
public:
    using Configure = std::function<void(formstate::TSvgEditIni&)>;
    explicit TTestForm(vcl::TComponent* owner, std::string name = "Form1", Configure configure = {})
        : TForm(owner) {
        SetName(std::move(name));
        OnClose = [this](vcl::TObject*, vcl::TCloseAction& action) {
            ++closeCalls;
            action = designedAction;
        };
        user_name = Make<vcl::TEdit>("user_name");
        user_name->SetText("designed");
        Edit1 = Make<vcl::TEdit>("Edit1");
        Edit1->SetText("no underscore");
        qv_box = Make<vcl::TCheckBox>("qv_box");
        qv_box->SetChecked(false);
        qv_radio = Make<vcl::TRadioButton>("qv_radio");
        qv_spin = Make<vcl::TSpinEdit>("qv_spin");
        qv_spin->SetValue(5);
        Message_qv = Make<vcl::TMemo>("Message_qv");
        Message_qv->Lines().Add("designed line");
        memo1 = Make<vcl::TMemo>("memo1");
        memo1->Lines().Add("designed result");
        qv_date = Make<vcl::TDateTimePicker>("qv_date");
        qv_date->SetDateTime(vcl::EncodeDate(2001, 2, 3));
        qv_rich = Make<vcl::TRichEdit>("qv_rich");
        qv_combo = Make<vcl::TComboBox>("qv_combo");
        qv_combo->Items().Add("designed item");
        qv_list = Make<vcl::TListBox>("qv_list");
        qv_grid = Make<vcl::TStringGrid>("qv_grid");
        qv_grid->SetCells(1, 1, "designed cell");
        SvgEditIni1 = vcl::Create<formstate::TSvgEditIni>(this);
        SvgEditIni1->SetName("SvgEditIni1");
        for (bool* s : Switches(*SvgEditIni1))
            *s = true;
        if (configure)
            configure(*SvgEditIni1);
    }

    static std::vector<bool*> Switches(formstate::TSvgEditIni& c) {
        return {&c.SauveEdit,     &c.SauveDateTimePicker, &c.SauveCheckBox, &c.SauveRadioButton,
                &c.SauveSpinEdit, &c.SauveMemo,           &c.SauveRichEdit, &c.SauveComboBox,
                &c.SauveListBox,  &c.SauveStringGrid};
    }

    vcl::TEdit* user_name;
    vcl::TEdit* Edit1;
    vcl::TCheckBox* qv_box;
    vcl::TRadioButton* qv_radio;
    vcl::TSpinEdit* qv_spin;
    vcl::TMemo* Message_qv;
    vcl::TMemo* memo1;
    vcl::TDateTimePicker* qv_date;
    vcl::TRichEdit* qv_rich;
    vcl::TComboBox* qv_combo;
    vcl::TListBox* qv_list;
    vcl::TStringGrid* qv_grid;
    formstate::TSvgEditIni* SvgEditIni1;

    int closeCalls = 0;
    vcl::TCloseAction designedAction = vcl::TCloseAction::caHide;

private:
    template <class T> T* Make(const std::string& name) {
        T* c = vcl::Create<T>(this);
        c->SetName(name);
        c->SetParent(this);
        return c;
    }
};

} // namespace testsupport
