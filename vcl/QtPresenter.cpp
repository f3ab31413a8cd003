#include "vcl/QtPresenter.h"

#include "vcl/Controls.h"

#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <utility>
#include <vector>

namespace vcl {

namespace {

TDialogAnswer PresentInputBox(const TDialogRequest& request) {
    QInputDialog box;
    box.setWindowTitle(ToQString(request.caption));
    box.setLabelText(ToQString(ShownLineBreaks(request.text)));
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    box.setTextEchoMode(QLineEdit::Normal);
    box.setTextValue(ToQString(request.value));
    // The framework's own button texts, not Qt's untranslated ones.
    if (request.buttons.size() > 0)
        box.setOkButtonText(ToQString(request.buttons[0].caption));
    if (request.buttons.size() > 1)
        box.setCancelButtonText(ToQString(request.buttons[1].caption));
    if (box.exec() != QDialog::Accepted)
        return {mrCancel, request.value};
    return {mrOk, FromQString(box.textValue())};
}

QMessageBox::Icon BoxIcon(TDialogIcon icon) {
    switch (icon) {
    case TDialogIcon::Stop:
        return QMessageBox::Critical;
    case TDialogIcon::Question:
        return QMessageBox::Question;
    case TDialogIcon::Warning:
        return QMessageBox::Warning;
    case TDialogIcon::Information:
        return QMessageBox::Information;
    case TDialogIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

TDialogAnswer TQtPresenter::Present(const TDialogRequest& request) {
    if (request.kind == TDialogRequest::Kind::InputBox)
        return PresentInputBox(request);
    QMessageBox box;
    box.setWindowTitle(ToQString(request.caption));
    // The text as it stands, as the system's boxes show it: a message that quotes a server's
    // answer ("<h1>Maintenance</h1>") is no markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(ShownLineBreaks(request.text)));
    if (request.icon != TDialogIcon::None)
        box.setIcon(BoxIcon(request.icon));
    std::vector<std::pair<QAbstractButton*, int>> buttons;
    for (const auto& b : request.buttons)
        buttons.emplace_back(box.addButton(ToQString(b.caption), QMessageBox::ActionRole),
                             b.result);
    // Qt refuses to close a box that has no escape button; the framework's dialogs close
    // from their window frame (or Esc) with an answer of their own.
    QAbstractButton* closer = box.addButton(QString(), QMessageBox::RejectRole);
    closer->hide();
    box.setEscapeButton(closer);
    box.exec();
    for (auto& [button, result] : buttons)
        if (box.clickedButton() == button)
            return {result, {}};
    return {request.closeResult, {}};
}

} // namespace vcl
