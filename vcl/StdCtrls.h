// The standard controls: label, button, edit box, check box, radio button, group box, memo,
// combo box and list box, each over its Qt widget.
#pragma once

#include "vcl/Controls.h"

#include <memory>

class QLabel;
class QPushButton;
class QLineEdit;
class QCheckBox;
class QRadioButton;
class QPlainTextEdit;
class QComboBox;
class QGroupBox;
class QListWidget;

namespace vcl {

// A carriage return alone breaks the caption's line on screen, as on the original system.
class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner);
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    // A transparent label (the default) shows what lies behind it instead of its colour.
    void SetTransparent(bool transparent);
    // A word-wrapped label keeps its width and breaks its caption into lines there, growing
    // downwards; otherwise it takes the width of its caption.
    void SetWordWrap(bool wordWrap);

private:
    void FitCaption();
    QLabel* label_;
    std::string caption_;
};

class TButton : public TControl {
public:
    explicit TButton(TComponent* owner);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // Runs OnClick as a click of the user would.
    void Click();
    TNotifyEvent OnClick;

protected:
    TButton(TComponent* owner, QPushButton* button);

private:
    void Wire();
    QPushButton* button_;
};

class TEdit : public TControl {
public:
    explicit TEdit(TComponent* owner);
    std::string Text() const;
    void SetText(const std::string& text);
    TNotifyEvent OnChange;

private:
    QLineEdit* edit_;
};

class TCheckBox : public TControl {
public:
    explicit TCheckBox(TComponent* owner);
    bool Checked() const;
    void SetChecked(bool checked);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    TNotifyEvent OnClick;

private:
    QCheckBox* box_;
};

class TRadioButton : public TControl {
public:
    explicit TRadioButton(TComponent* owner);
    bool Checked() const;
    // Checking one unchecks its siblings; unchecking leaves them alone.
    void SetChecked(bool checked);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    TNotifyEvent OnClick;

private:
    QRadioButton* button_;
};

// A framed, captioned group; the controls inside take it as their parent.
class TGroupBox : public TControl {
public:
    explicit TGroupBox(TComponent* owner);
    std::string Caption() const;
    void SetCaption(const std::string& caption);

private:
    QGroupBox* box_;
};

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// The lines of a multi-line text widget: a line break ends a line, so the text of n lines
// is each line followed by "\n".
class TTextLines : public TStrings {
public:
    using Getter = std::function<std::string()>;
    using Setter = std::function<void(const std::string&)>;
    TTextLines(Getter get, Setter set) : get_(std::move(get)), set_(std::move(set)) {}

    int Count() const override { return static_cast<int>(Split().size()); }
    std::string Get(int index) const override;
    void Put(int index, std::string text) override;
    void Insert(int index, std::string text) override;
    void Delete(int index) override;
    void Clear() override { set_({}); }
    using TStrings::Assign;
    void Assign(const std::vector<std::string>& lines) override { Join(lines); }
    std::vector<std::string> Lines() const override { return Split(); }

private:
    std::vector<std::string> Split() const;
    void Join(const std::vector<std::string>& lines);
    Getter get_;
    Setter set_;
};

class TMemo : public TControl {
public:
    explicit TMemo(TComponent* owner);
    TStrings& Lines() { return *lines_; }
    std::string Text() const;
    void SetText(const std::string& text);
    void SetScrollBars(TScrollStyle style);
    void SetReadOnly(bool readOnly);

private:
    QPlainTextEdit* memo_;
    std::unique_ptr<TTextLines> lines_;
};

// The items of a combo box or a list box, kept in the widget itself.
class TItemStrings;

class TComboBox : public TControl {
public:
    explicit TComboBox(TComponent* owner);
    ~TComboBox() override;
    TStrings& Items();
    int ItemIndex() const;
    // -1, or any index that names no item, clears the selection.
    void SetItemIndex(int index);
    std::string Text() const;
    TNotifyEvent OnChange;

private:
    QComboBox* combo_;
    std::unique_ptr<TItemStrings> items_;
};

class TListBox : public TControl {
public:
    explicit TListBox(TComponent* owner);
    ~TListBox() override;
    TStrings& Items();
    int ItemIndex() const;
    void SetItemIndex(int index);

private:
    QListWidget* list_;
    std::unique_ptr<TItemStrings> items_;
};

} // namespace vcl
