// The Qt window driven as a user drives it: its events reach the logic and
// what the logic decides shows. The decisions themselves are tested in
// tests/form.
#include "FileSettingsStore.h"
#include "MainWindow.h"
#include "UpDown.h"
#include "WorldGen.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

using namespace cryo;
using form::Control;

namespace {

QStringList Lines(const QWidget* list)
{
    QStringList lines;
    const auto* widget = static_cast<const QListWidget*>(list);
    for (int row = 0; row < widget->count(); ++row)
        lines << widget->item(row)->text();
    return lines;
}

QColor BaseOf(const QWidget* edit, QPalette::ColorGroup group = QPalette::Active)
{
    return edit->palette().color(group, QPalette::Base);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString world_;

    QString Config() const { return dir_.filePath(QStringLiteral("Cryoweaver.json")); }
    void WriteConfig(const QByteArray& json) const
    {
        QFile file(Config());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(json);
    }

    // Reads the message box that opens next, then presses its default button.
    void AnswerNextBox(QString& seen)
    {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [&seen, poll] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            poll->deleteLater();
            seen = box->windowTitle() + "|" + QString::number(box->icon()) + "|" + box->text() + "|"
                + box->informativeText();
            box->buttons().first()->click();
        });
        poll->start(10);
    }

    // Operations run off the window's thread: the test waits as a user would.
    static void WaitForTheOperation(app::MainWindow& window)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!window.Form().Running(), 60000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        world_ = dir_.filePath(QStringLiteral("world"));
        QDir().mkpath(world_);
        worldgen::WriteSampleWorld(world_.toStdString());
        WriteConfig("{\"Mode\": 0, \"StaIdx0.mul\": \"" + world_.toUtf8() + "/StaIdx0.mul\", \"Statics0.mul\": \""
            + world_.toUtf8() + "/Statics0.mul\", \"UOX3.wsc\": \"" + world_.toUtf8() + "/UOX3.wsc\"}");
    }

    void eventsReachTheLogicAndItsDecisionsShow()
    {
        settings::FileSettingsStore store(Config().toStdString());
        app::MainWindow window(store);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget* wsc = window.Widget(Control::WSCEdit);
        QCOMPARE(BaseOf(wsc), QColor(0, 128, 0));
        QCOMPARE(window.windowTitle(), QStringLiteral("Cryoweaver (Version 3.2) (Normal mode)"));

        QTest::mouseClick(window.Widget(Control::GetStaticIndexButton), Qt::LeftButton);
        WaitForTheOperation(window);
        QCOMPARE(Lines(window.findChild<QListWidget*>("LogListBox")),
            (QStringList{"Init in progress... Cryoweaver may look crashed, do not interrupt!", "Init completed!"}));
        QWidget* staIdx = window.Widget(Control::StaIdxEdit);
        QVERIFY(!staIdx->isEnabled());
        QVERIFY(BaseOf(staIdx, QPalette::Disabled) != QColor(0, 128, 0));
        QCOMPARE(QApplication::focusWidget(), window.Widget(Control::XBlockEdit));

        // Typing checks every key; a red box says why.
        QTest::keyClick(wsc, Qt::Key_X);
        QCOMPARE(BaseOf(wsc), QColor(255, 0, 0));
        QCOMPARE(wsc->toolTip(), QStringLiteral("No such file."));
        QVERIFY(!window.Widget(Control::MeltBlockButton)->isEnabled());
        QTest::keyClick(wsc, Qt::Key_Backspace);
        QVERIFY(window.Widget(Control::MeltBlockButton)->isEnabled());

        // Leaving a block edit clamps it; Enter presses the focused button.
        window.Widget(Control::XBlockEdit)->setFocus();
        static_cast<QLineEdit*>(window.Widget(Control::XBlockEdit))->clear();
        QTest::keyClicks(window.Widget(Control::XBlockEdit), QStringLiteral("900"));
        QTest::keyClick(window.Widget(Control::XBlockEdit), Qt::Key_Tab);
        QCOMPARE(static_cast<QLineEdit*>(window.Widget(Control::XBlockEdit))->text(), QStringLiteral("767"));
        static_cast<QLineEdit*>(window.Widget(Control::XBlockEdit))->setText(QStringLiteral("100"));
        static_cast<QLineEdit*>(window.Widget(Control::YBlockEdit))->setText(QStringLiteral("200"));
        window.Widget(Control::GetStaticBlockButton)->setFocus();
        QTest::keyClick(window.Widget(Control::GetStaticBlockButton), Qt::Key_Return);
        WaitForTheOperation(window);
        const QStringList listing = Lines(window.findChild<QListWidget*>("MainListBox"));
        QCOMPARE(listing.size(), 6);
        QVERIFY(listing[0].startsWith("Item #1: Item ID = "));
        // Enter in the position's box lists its block.
        static_cast<QLineEdit*>(window.Widget(Control::PositionEdit))->setText(QStringLiteral("6143,4095"));
        QTest::keyClick(window.Widget(Control::PositionEdit), Qt::Key_Return);
        WaitForTheOperation(window);
        QCOMPARE(Lines(window.findChild<QListWidget*>("MainListBox")), QStringList{"Block 767, 511 holds no objects."});
        // A click on the map lists the block under the mouse, once the wheel
        // has zoomed in far enough for a block to have pixels of its own.
        auto* map = window.findChild<QWidget*>("MapPane");
        QVERIFY(map->isVisible());
        const auto nearest = [&] {
            QPoint best;
            int distance = 1 << 30;
            for (int x = 0; x < map->width(); ++x)
                for (int y = 0; y < map->height(); ++y)
                    if (const auto tile = window.Form().Pane().TileAt(x, y);
                        tile && std::abs(tile->X - 804) + std::abs(tile->Y - 1604) < distance) {
                        distance = std::abs(tile->X - 804) + std::abs(tile->Y - 1604);
                        best = QPoint(x, y);
                    }
            return best;
        };
        QWheelEvent wheel(nearest(), map->mapToGlobal(QPointF(nearest())), QPoint(), QPoint(0, 4 * 120), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(map, &wheel);
        QCOMPARE(window.Form().Pane().PixelsPerTile(), 1.0);
        QTest::mouseClick(map, Qt::LeftButton, {}, nearest());
        WaitForTheOperation(window);
        QCOMPARE(Lines(window.findChild<QListWidget*>("MainListBox")), listing);

        // Tools, Undo last operation...: nothing was melted or frozen yet.
        auto* menuBar = window.findChild<QMenuBar*>("MenuBar");
        QCOMPARE(menuBar->actions().size(), 3);
        QVERIFY(window.MenuAction(form::MenuItem::ChangeFiles)->isEnabled());
        QString seen;
        AnswerNextBox(seen);
        menuBar->actions()[1]->menu()->actions()[0]->trigger();
        QTRY_VERIFY(!seen.isEmpty());
        QCOMPARE(seen,
            "Cryoweaver|" + QString::number(QMessageBox::Information) + "|No melt, freeze, compact or apply of "
                + world_ + "/StaIdx0.mul can be undone.|");

        if (const QByteArray folder = qgetenv("CRYOWEAVER_SCREENSHOTS"); !folder.isEmpty()) {
            window.resize(1100, 600);
            static_cast<QLineEdit*>(window.Widget(Control::XBlockEdit))->setText(QStringLiteral("100"));
            static_cast<QLineEdit*>(window.Widget(Control::YBlockEdit))->setText(QStringLiteral("200"));
            QTest::mouseClick(window.Widget(Control::GetStaticBlockButton), Qt::LeftButton);
            WaitForTheOperation(window);
            // With the Tools menu open, which is a window of its own.
            QMenu* tools = menuBar->actions()[1]->menu();
            const QPoint under = menuBar->actionGeometry(menuBar->actions()[1]).bottomLeft() + menuBar->pos();
            tools->popup(window.mapToGlobal(under));
            QPixmap shot = window.grab();
            QPainter(&shot).drawPixmap(under, tools->grab());
            tools->hide();
            QVERIFY(shot.save(QString::fromUtf8(folder) + "/qt-window.png"));
        }
    }

    void errorsShowTheirTextAndBeneathItTheFile()
    {
        const QString damaged = dir_.filePath(QStringLiteral("damaged.json"));
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"Mode\": ");
        file.close();
        settings::FileSettingsStore store(damaged.toStdString());
        app::MainWindow window(store);
        QString seen;
        AnswerNextBox(seen);
        window.show();
        QCOMPARE(seen,
            "Cryoweaver|" + QString::number(QMessageBox::Critical)
                + "|The settings file is damaged (not valid JSON at line 1, column 10); Cryoweaver leaves it as it is. "
                  "Correct or delete it.|"
                + damaged);
    }

    void filesDroppedAndLogLinesCopied()
    {
        WriteConfig(R"({"Mode": 0})");
        settings::FileSettingsStore store(Config().toStdString());
        app::MainWindow window(store);
        window.show();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(world_ + "/StaIdx0.mul"), QUrl::fromLocalFile(world_ + "/UOX3.wsc")});
        QDropEvent onWindow(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragEnterEvent enterWindow(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enterWindow);
        QApplication::sendEvent(&window, &onWindow);
        QMimeData statics;
        statics.setUrls({QUrl::fromLocalFile(world_ + "/Statics0.mul")});
        QDragEnterEvent enterBox(QPoint(5, 5), Qt::CopyAction, &statics, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.Widget(Control::StaticsEdit), &enterBox);
        QDropEvent onBox(QPointF(5, 5), Qt::CopyAction, &statics, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.Widget(Control::StaticsEdit), &onBox);
        QCOMPARE(static_cast<QLineEdit*>(window.Widget(Control::StaticsEdit))->text(), world_ + "/Statics0.mul");
        QVERIFY(window.Widget(Control::GetStaticIndexButton)->isEnabled());

        QTest::mouseClick(window.Widget(Control::GetStaticIndexButton), Qt::LeftButton);
        WaitForTheOperation(window);
        auto* log = window.findChild<QListWidget*>("LogListBox");
        log->selectAll();
        log->findChild<QAction*>("CopyAction")->trigger();
        QCOMPARE(QApplication::clipboard()->text(),
            QStringLiteral("Init in progress... Cryoweaver may look crashed, do not interrupt!\nInit completed!"));

        // The arrows beside a block edit step within the map, without wrapping.
        auto* up = window.Widget(Control::YBlockUpDown)->findChild<QToolButton*>("UpArrow");
        static_cast<QLineEdit*>(window.Widget(Control::YBlockEdit))->setText(QStringLiteral("510"));
        QTest::mouseClick(up, Qt::LeftButton);
        QTest::mouseClick(up, Qt::LeftButton);
        QCOMPARE(static_cast<QLineEdit*>(window.Widget(Control::YBlockEdit))->text(), QStringLiteral("511"));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
