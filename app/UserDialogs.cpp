#include "UserDialogs.h"

#include <QMessageBox>

namespace cryo::app {

namespace {

int Run(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    box.setObjectName(QStringLiteral("MessageBox"));
    return box.exec();
}

} // namespace

void MessageBoxDialogs::ShowError(const QString& text)
{
    Run(parent_, QMessageBox::Critical, QStringLiteral("Cryoweaver"), text, QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBoxDialogs::AskYesNo(const QString& caption, const QString& text)
{
    return Run(parent_, QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

void MessageBoxDialogs::ShowNotice(const QString& caption, const QString& text)
{
    Run(parent_, QMessageBox::Information, caption, text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace cryo::app
