// cryoweaver: the window for melting and freezing the statics of a UOX3 world.
#include "MainForm.h"
#include "SettingsStore.h"
#include "UserDialogs.h"
#include "Version.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cryoweaver"));
    QApplication::setOrganizationName(QStringLiteral("Quellmar"));
    QApplication::setApplicationVersion(QString::fromUtf8(cryo::VersionText));

    const std::unique_ptr<cryo::settings::SettingsStore> store = cryo::settings::UserSettingsStore();
    cryo::app::MessageBoxDialogs dialogs;
    cryo::app::TMainForm form(*store, dialogs);
    dialogs.SetParent(&form);
    form.show();
    return application.exec();
}
