#include "vcl/StdCtrls.h"

#include "vcl/Forms.h"
#include "vcl/SysUtils.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace vcl {

TLabel::TLabel(TComponent* owner)
    : TControl(owner, new QLabel), label_(static_cast<QLabel*>(Widget())) {
    // A caption is text as it stands, as the framework's labels show it: a server's answer
    // shown in a status line must not turn into a heading or a link.
    label_->setTextFormat(Qt::PlainText);
}
void TLabel::SetCaption(const std::string& caption) {
    caption_ = caption;
    label_->setText(ToQString(ShownLineBreaks(caption)));
    FitCaption();
}
void TLabel::SetWordWrap(bool wordWrap) {
    label_->setWordWrap(wordWrap);
    FitCaption();
}
void TLabel::FitCaption() {
    if (label_->wordWrap())
        label_->resize(label_->width(), label_->heightForWidth(label_->width()));
    else
        label_->adjustSize();
}
void TLabel::SetTransparent(bool transparent) {
    label_->setAutoFillBackground(!transparent);
}

TGroupBox::TGroupBox(TComponent* owner)
    : TControl(owner, new QGroupBox), box_(static_cast<QGroupBox*>(Widget())) {
}
std::string TGroupBox::Caption() const {
    return FromQString(box_->title());
}
void TGroupBox::SetCaption(const std::string& caption) {
    box_->setTitle(ToQString(caption));
}

TButton::TButton(TComponent* owner) : TButton(owner, new QPushButton) {
}
TButton::TButton(TComponent* owner, QPushButton* button)
    : TControl(owner, button), button_(button) {
    Wire();
}
void TButton::Wire() {
    QObject::connect(button_, &QPushButton::clicked, [this] { SafeCall(OnClick, this); });
}
std::string TButton::Caption() const {
    return FromQString(button_->text());
}
void TButton::SetCaption(const std::string& caption) {
    button_->setText(ToQString(caption));
}
void TButton::Click() {
    SafeCall(OnClick, this);
}

TEdit::TEdit(TComponent* owner)
    : TControl(owner, new QLineEdit), edit_(static_cast<QLineEdit*>(Widget())) {
    QObject::connect(edit_, &QLineEdit::textChanged, [this] { SafeCall(OnChange, this); });
}
std::string TEdit::Text() const {
    return FromQString(edit_->text());
}
void TEdit::SetText(const std::string& text) {
    edit_->setText(ToQString(text));
}

TCheckBox::TCheckBox(TComponent* owner)
    : TControl(owner, new QCheckBox), box_(static_cast<QCheckBox*>(Widget())) {
    QObject::connect(box_, &QCheckBox::clicked, [this] { SafeCall(OnClick, this); });
}
bool TCheckBox::Checked() const {
    return box_->isChecked();
}
void TCheckBox::SetChecked(bool checked) {
    box_->setChecked(checked);
}
std::string TCheckBox::Caption() const {
    return FromQString(box_->text());
}
void TCheckBox::SetCaption(const std::string& caption) {
    box_->setText(ToQString(caption));
}

TRadioButton::TRadioButton(TComponent* owner)
    : TControl(owner, new QRadioButton), button_(static_cast<QRadioButton*>(Widget())) {
    QObject::connect(button_, &QRadioButton::clicked, [this] { SafeCall(OnClick, this); });
}
bool TRadioButton::Checked() const {
    return button_->isChecked();
}
void TRadioButton::SetChecked(bool checked) {
    if (checked) {
        button_->setChecked(true);
        return;
    }
    // Qt refuses to uncheck an exclusive radio button by itself.
    button_->setAutoExclusive(false);
    button_->setChecked(false);
    button_->setAutoExclusive(true);
}
std::string TRadioButton::Caption() const {
    return FromQString(button_->text());
}
void TRadioButton::SetCaption(const std::string& caption) {
    button_->setText(ToQString(caption));
}

// Lines of a text widget.

std::vector<std::string> TTextLines::Split() const {
    std::string text = get_();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void TTextLines::Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += '\n';
    }
    set_(text);
}

std::string TTextLines::Get(int index) const {
    auto lines = Split();
    CheckIndex(index, static_cast<int>(lines.size()));
    return lines[static_cast<std::size_t>(index)];
}

void TTextLines::Put(int index, std::string text) {
    auto lines = Split();
    CheckIndex(index, static_cast<int>(lines.size()));
    lines[static_cast<std::size_t>(index)] = std::move(text);
    Join(lines);
}

void TTextLines::Insert(int index, std::string text) {
    auto lines = Split();
    CheckIndex(index, static_cast<int>(lines.size()) + 1);
    // A line holding a break becomes several lines, as in a real memo.
    auto parts = SplitLines(text);
    if (parts.empty())
        parts.emplace_back();
    lines.insert(lines.begin() + index, parts.begin(), parts.end());
    Join(lines);
}

void TTextLines::Delete(int index) {
    auto lines = Split();
    CheckIndex(index, static_cast<int>(lines.size()));
    lines.erase(lines.begin() + index);
    Join(lines);
}

TMemo::TMemo(TComponent* owner)
    : TControl(owner, new QPlainTextEdit), memo_(static_cast<QPlainTextEdit*>(Widget())),
      lines_(std::make_unique<TTextLines>(
          [this] { return FromQString(memo_->toPlainText()); },
          [this](const std::string& text) { memo_->setPlainText(ToQString(text)); })) {
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
}
std::string TMemo::Text() const {
    return FromQString(memo_->toPlainText());
}
void TMemo::SetText(const std::string& text) {
    memo_->setPlainText(ToQString(text));
}
void TMemo::SetReadOnly(bool readOnly) {
    memo_->setReadOnly(readOnly);
}
void TMemo::SetScrollBars(TScrollStyle style) {
    bool h = style == TScrollStyle::ssHorizontal || style == TScrollStyle::ssBoth;
    bool v = style == TScrollStyle::ssVertical || style == TScrollStyle::ssBoth;
    memo_->setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    memo_->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

// Items of a combo box or list box.

class TItemStrings : public TStrings {
public:
    struct Access {
        std::function<int()> count;
        std::function<std::string(int)> get;
        std::function<void(int, const std::string&)> put;
        std::function<void(int, const std::string&)> insert;
        std::function<void(int)> remove;
        std::function<void()> clear;
    };
    explicit TItemStrings(Access access) : a_(std::move(access)) {}
    int Count() const override { return a_.count(); }
    std::string Get(int index) const override {
        CheckIndex(index, Count());
        return a_.get(index);
    }
    void Put(int index, std::string text) override {
        CheckIndex(index, Count());
        a_.put(index, text);
    }
    void Insert(int index, std::string text) override {
        CheckIndex(index, Count() + 1);
        a_.insert(index, text);
    }
    void Delete(int index) override {
        CheckIndex(index, Count());
        a_.remove(index);
    }
    void Clear() override { a_.clear(); }

private:
    Access a_;
};

TComboBox::TComboBox(TComponent* owner)
    : TControl(owner, new QComboBox), combo_(static_cast<QComboBox*>(Widget())) {
    combo_->setEditable(true);
    items_ = std::make_unique<TItemStrings>(TItemStrings::Access{
        [this] { return combo_->count(); },
        [this](int i) { return FromQString(combo_->itemText(i)); },
        [this](int i, const std::string& s) { combo_->setItemText(i, ToQString(s)); },
        [this](int i, const std::string& s) {
            // Qt selects the first item put into an empty box; the framework selects none.
            int current = combo_->currentIndex();
            combo_->insertItem(i, ToQString(s));
            if (current < 0)
                combo_->setCurrentIndex(-1);
        },
        [this](int i) { combo_->removeItem(i); }, [this] { combo_->clear(); }});
    QObject::connect(combo_, &QComboBox::currentTextChanged, [this] { SafeCall(OnChange, this); });
}
TComboBox::~TComboBox() = default;
TStrings& TComboBox::Items() {
    return *items_;
}
int TComboBox::ItemIndex() const {
    return combo_->currentIndex();
}
void TComboBox::SetItemIndex(int index) {
    // As with the native control, an index that names no item clears the selection.
    combo_->setCurrentIndex(index >= 0 && index < combo_->count() ? index : -1);
}
std::string TComboBox::Text() const {
    return FromQString(combo_->currentText());
}

TListBox::TListBox(TComponent* owner)
    : TControl(owner, new QListWidget), list_(static_cast<QListWidget*>(Widget())) {
    items_ = std::make_unique<TItemStrings>(TItemStrings::Access{
        [this] { return list_->count(); },
        [this](int i) { return FromQString(list_->item(i)->text()); },
        [this](int i, const std::string& s) { list_->item(i)->setText(ToQString(s)); },
        [this](int i, const std::string& s) { list_->insertItem(i, ToQString(s)); },
        [this](int i) { delete list_->takeItem(i); }, [this] { list_->clear(); }});
}
TListBox::~TListBox() = default;
TStrings& TListBox::Items() {
    return *items_;
}
int TListBox::ItemIndex() const {
    return list_->currentRow();
}
void TListBox::SetItemIndex(int index) {
    list_->setCurrentRow(index >= 0 && index < list_->count() ? index : -1);
}

} // namespace vcl
