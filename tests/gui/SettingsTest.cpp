#include <QTest>
class SettingsTest : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
