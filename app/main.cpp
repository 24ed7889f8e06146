// cryoweaver: the window for melting and freezing the statics of a UOX3 world.
#include "MainWindow.h"
#include "SettingsStore.h"
#include "Version.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered without a display, as packagers and scripts expect.
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf("cryoweaver %s\nThe window for melting and freezing the statics of a UOX3 world; "
                    "cryoweaver-cli does the same without one.\n",
            cryo::VersionText);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cryoweaver"));
    QApplication::setOrganizationName(QStringLiteral("Quellmar"));
    QApplication::setApplicationVersion(QString::fromUtf8(cryo::VersionText));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/cryoweaver.png")));

    const std::unique_ptr<cryo::settings::SettingsStore> store = cryo::settings::UserSettingsStore();
    cryo::app::MainWindow window(*store);
    window.show();
    return application.exec();
}
