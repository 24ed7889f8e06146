// The window driven as a user drives it, on worlds and settings in temporary folders.
#include "GuiTestSupport.h"

#include "Actions.h"
#include "StaIdx.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace cryo;
using namespace cryo::guitest;

#define QCOMPARE_COLOR(edit, name) QCOMPARE(QString(ColorName(ColorOf(edit))), QStringLiteral(name))

namespace {

const QStringList WelcomeText = {
    "Welcome to Cryoweaver!",
    "",
    "Here's a short manual:",
    "1. To start first enter the filenames at the bottom. If they are valid, the ",
    "  background will turn green.",
    "2. If all files are entered, you must press the \"GetStaticIndex\"-button.",
    "  Please wait untill the other buttons become pressable.",
    "",
    "Some things you need to know:",
    "The X and Y fields are used to select a block. Each block contains 8x8 tiles. ",
    "  If you divide a /where coordinate by 8 you'll get the block (the block number",
    "  is not like \"123.75\", but \"123\").",
    "The \"GetStaticBlock\"-button displays the items in the selected block.",
    "The \"Melt!\"-button is used to remove the selected block form the statics-file",
    "  and to insert the data into the wsc-file.",
    "The \"Freeze!\"-button is used to put the items from the wsc back to",
    "  the statics-file. You do not need to select a specific block for this,",
    "  because all items in the wsc with TYPE 255 are \"freezed\".",
    "  The items form the wsc-file do not replace items which were in",
    "  the static-block before.",
    "  If you freeze containers, you can't open them when they are static.",
    "  You can only freeze items which are not in containers or worn by players.",
    "",
    "To select items in the wsc-file set their \"TYPE\" to 255.",
    "All items exported from the statics-file automatically have TYPE 255.",
    "",
    "If you freeze items all infomation except the position, the item-ID and the color",
    "are lost!",
    "The name will be the same as when you use \"#\" in UOX3.",
    "",
    "That's it!",
    "",
};

const QList<QStringList> GuideSteps = {
    {"Please enter the path of your Staidx0.mul file in", "the left box. It will turn green when Cryoweaver",
        "found the file."},
    {"Please enter the path of your Statics0.mul file in", "the middle box. It will turn green when Cryoweaver",
        "found the file."},
    {"Please enter the path of the file you got from", "the server operator in the right box. It will",
        "turn green when Cryoweaver found the file."},
    {"Click on the \"GetStaticIndex\"-button to the right.", "This can take up to 30 seconds! Please wait until",
        "Cryoweaver has finished."},
    {"Click on the \"Freeze\"-button to the right.", "This can take up to some minutes! Please wait until",
        "Cryoweaver has finished."},
    {"Finished! You can now close Cryoweaver and connect to", "the server. Enjoy!"},
};

const char* const BlockControls[]
    = {"XBlockEdit", "XBlockUpDown", "YBlockEdit", "YBlockUpDown", "GetStaticBlockButton", "MeltBlockButton"};

const QString ModeChanged = QStringLiteral("The new mode will be active the next time you start Cryoweaver.");

QStringList EnabledOf(const Window& window)
{
    QStringList enabled;
    for (const char* name : {"GetStaticIndexButton", "XBlockEdit", "XBlockUpDown", "YBlockEdit", "YBlockUpDown",
             "GetStaticBlockButton", "MeltBlockButton", "FreezeWorldButton"}) {
        if (window.Enabled(name))
            enabled << QString::fromUtf8(name);
    }
    return enabled;
}

const QStringList OnlyGetStaticIndex = {"GetStaticIndexButton"};
const QStringList AfterLoading = {"XBlockEdit", "XBlockUpDown", "YBlockEdit", "YBlockUpDown", "GetStaticBlockButton",
    "MeltBlockButton", "FreezeWorldButton"};

// The lines the core logs for the same action on a copy of the world, to
// compare with what the window shows.
QStringList CoreLog(const QString& folder, const std::function<void(const WorldFiles&, StaIdx&, Reporter&)>& run)
{
    const WorldFiles files{(folder + "/StaIdx0.mul").toStdString(), (folder + "/Statics0.mul").toStdString(),
        (folder + "/UOX3.wsc").toStdString()};
    auto table = std::make_unique<StaIdx>();
    NullReporter quiet;
    LoadStaIdx(files.StaIdx, *table, quiet);
    RecordingReporter reporter;
    run(files, *table, reporter);
    return reporter.Lines;
}

QByteArray Wsc(const QList<QByteArray>& sections)
{
    QByteArray text;
    for (const QByteArray& section : sections)
        text += section;
    return text + "EOF\r\n";
}

QByteArray Item(int number, int x, int y, int type)
{
    return "SECTION WORLDITEM " + QByteArray::number(number) + "\r\n{\r\nSERIAL "
        + QByteArray::number(0x40000000 + number) + "\r\nNAME #\r\nID 3821\r\nX " + QByteArray::number(x) + "\r\nY "
        + QByteArray::number(y) + "\r\nZ 0\r\nCOLOR 0\r\nCONT -1\r\nTYPE " + QByteArray::number(type) + "\r\n}\r\n\r\n";
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Nothing here may reach the real user's settings.
        QVERIFY(configHome_.isValid());
        qputenv("XDG_CONFIG_HOME", configHome_.path().toUtf8());
    }

    void cleanupTestCase()
    {
        QCOMPARE(QDir(configHome_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    void startsWithTheWelcomeTextAndItsControls()
    {
        Workspace workspace;
        Window window(workspace);
        QCOMPARE(window.form().windowTitle(), QStringLiteral("Cryoweaver (Version 3.2)"));
        QCOMPARE(window.form().size(), QSize(597, 425));
        QCOMPARE(window.form().minimumSize(), window.form().maximumSize());

        const QStringList lines = window.MainLines();
        QCOMPARE(lines.mid(0, 32), WelcomeText);
        QVERIFY(lines.contains(QString(138, '-')));
        QVERIFY(lines.indexOf("Updates:") > lines.indexOf(QString(138, '-')));

        QCOMPARE(window.Edit("StaIdxEdit")->text(), QStringLiteral("StaIdxEdit"));
        QCOMPARE(window.Edit("StaticsEdit")->text(), QStringLiteral("StaticsEdit"));
        QCOMPARE(window.Edit("WSCEdit")->text(), QStringLiteral("WSCEdit"));
        QCOMPARE(window.Edit("XBlockEdit")->text(), QStringLiteral("0"));
        QCOMPARE(window.Edit("YBlockEdit")->text(), QStringLiteral("0"));
        QCOMPARE_COLOR(window.Edit("StaIdxEdit"), "default");
        QCOMPARE(EnabledOf(window), QStringList());

        const std::pair<const char*, const char*> captions[] = {{"GetStaticIndexButton", "GetStaticIndex"},
            {"GetStaticBlockButton", "GetStaticBlock"}, {"MeltBlockButton", "Melt!"}, {"FreezeWorldButton", "Freeze!"}};
        for (const auto& [name, caption] : captions) {
            QCOMPARE(window.Get<QPushButton>(name)->text(), QString(caption));
            QCOMPARE(window.Get<QPushButton>(name)->size(), QSize(77, 25));
        }
        const std::pair<const char*, const char*> labels[] = {{"StaIdxLabel", "StaIdx0.mul"},
            {"StaticsLabel", "Statics0.mul"}, {"WSCLabel", "UOX3.wsc"}, {"XBlockLabel", "X"}, {"YBlockLabel", "Y"}};
        for (const auto& [name, caption] : labels)
            QCOMPARE(window.Get<QLabel>(name)->text(), QString(caption));
        QCOMPARE(window.Get<QGroupBox>("ModeGroupBox")->title(), QStringLiteral("Mode"));
        QVERIFY(window.Get<QRadioButton>("NormalModeRadioButton")->isChecked());
        QVERIFY(!window.Get<QRadioButton>("SimpleModeRadioButton")->isChecked());

        // Docked layout: file names at the bottom, buttons on the right, lists and bar in the rest.
        QCOMPARE(window.Get<QWidget>("FileNamePanel")->geometry(), QRect(0, 396, 597, 29));
        QCOMPARE(window.Get<QWidget>("ButtonPanel")->geometry(), QRect(512, 0, 85, 396));
        QCOMPARE(window.Get<QWidget>("MainPanel")->geometry(), QRect(0, 0, 512, 396));
        QCOMPARE(window.Get<QWidget>("ProgressBar")->geometry(), QRect(0, 380, 512, 16));
        QCOMPARE(window.Get<QWidget>("LogListBox")->geometry(), QRect(0, 267, 512, 113));
        QCOMPARE(window.Get<QWidget>("MainPanelSplitter")->geometry(), QRect(0, 264, 512, 3));
        QCOMPARE(window.Get<QWidget>("MainListBox")->geometry(), QRect(0, 0, 512, 264));
        QCOMPARE(window.Get<QProgressBar>("ProgressBar")->minimum(), 0);
        QCOMPARE(window.Get<QProgressBar>("ProgressBar")->maximum(), 100);
        QCOMPARE(window.Get<QWidget>("XBlockUpDown")->geometry(), QRect(65, 36, 15, 21));
        QCOMPARE(window.Get<QWidget>("StaIdxEdit")->parentWidget()->objectName(), QStringLiteral("FileNamePanel"));
        QCOMPARE(
            window.Get<QWidget>("NormalModeRadioButton")->parentWidget()->objectName(), QStringLiteral("ModeGroupBox"));
    }

    void tabOrderFollowsTheFileNamesThenTheButtons()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        workspace.StoreWorld(world, 0);
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        window.Edit("WSCEdit")->setFocus();
        QStringList order;
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order,
            (QStringList{"XBlockEdit", "YBlockEdit", "GetStaticBlockButton", "MeltBlockButton", "FreezeWorldButton",
                "NormalModeRadioButton", "LogListBox", "MainListBox", "WSCEdit"}));
    }

    void firstRunAsksForTheModeAndStoresTheAnswer_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Yes") << true << 1 << "Cryoweaver (Version 3.2) (Simple mode)";
        QTest::newRow("No") << false << 0 << "Cryoweaver (Version 3.2) (Normal mode)";
    }

    void firstRunAsksForTheModeAndStoresTheAnswer()
    {
        QFETCH(bool, yes);
        QFETCH(int, mode);
        QFETCH(QString, caption);
        Workspace workspace;
        Window window(workspace, yes);
        window.Show();

        QCOMPARE(window.dialogs.Questions.size(), 1);
        QCOMPARE(window.dialogs.Questions[0].Caption, QStringLiteral("Simple mode?"));
        QVERIFY(window.dialogs.Questions[0].Text.startsWith("You have not yet selected a mode."));
        QCOMPARE(window.form().windowTitle(), caption);
        QCOMPARE(window.Get<QRadioButton>("SimpleModeRadioButton")->isChecked(), yes);
        QCOMPARE(window.Get<QRadioButton>("NormalModeRadioButton")->isChecked(), !yes);
        // Only the answer is stored; checking the radio button at start-up stores and shows nothing.
        QCOMPARE(workspace.Config(), QJsonObject({{"Mode", mode}}));
        QVERIFY(window.dialogs.Notices.isEmpty());
        QVERIFY(window.dialogs.Errors.isEmpty());

        // No stored names: all three edits start red.
        for (const char* name : {"StaIdxEdit", "StaticsEdit", "WSCEdit"}) {
            QCOMPARE(window.Edit(name)->text(), QString());
            QCOMPARE_COLOR(window.Edit(name), "red");
        }
        if (yes)
            QCOMPARE(window.MainLines(), GuideSteps[0]);
        else
            QCOMPARE(window.MainLines().mid(0, 32), WelcomeText);
    }

    void fileNamesTurnGreenOnlyForTheirFiles()
    {
        Workspace workspace;
        workspace.WriteConfig(R"({"Mode": 0})");
        const QString dir = workspace.Path("files");
        WriteFile(dir + "/StaIdx0.MUL", "x");
        WriteFile(dir + "/staidx1.mul", "x");
        WriteFile(dir + "/STATICS0.mul", "x");
        WriteFile(dir + "/patch.txt", "x");
        QDir().mkpath(dir + "/sub/staidx0.mul");
        Window window(workspace);
        window.Show();

        const struct {
            const char* edit;
            QString path;
            const char* color;
        } cases[] = {
            {"StaIdxEdit", dir + "/StaIdx0.MUL", "green"},
            {"StaIdxEdit", dir + "/staidx1.mul", "red"},
            {"StaIdxEdit", dir + "/staidx0.mul", "red"}, // not there: names are compared, files found exactly
            {"StaIdxEdit", dir + "/sub/staidx0.mul", "red"}, // a folder
            {"StaIdxEdit", dir + "/STATICS0.mul", "red"},
            {"StaticsEdit", dir + "/STATICS0.mul", "green"},
            {"StaticsEdit", dir + "/StaIdx0.MUL", "red"},
            {"WSCEdit", dir + "/patch.txt", "green"}, // any existing file will do
            {"WSCEdit", dir + "/StaIdx0.MUL", "green"},
            {"WSCEdit", dir + "/missing.wsc", "red"},
            {"WSCEdit", dir, "red"},
        };
        for (const auto& c : cases) {
            window.Type(c.edit, c.path);
            QVERIFY2(QString(ColorName(ColorOf(window.Edit(c.edit)))) == c.color, qPrintable(c.edit + (": " + c.path)));
        }
    }

    void namesAreStoredOnlyWhenAllThreeAreGreen()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        workspace.WriteConfig(R"({"Mode": 0})");
        Window window(workspace);
        window.Show();

        window.Type("StaIdxEdit", world + "/StaIdx0.mul");
        window.Type("StaticsEdit", world + "/Statics0.mul");
        QCOMPARE(workspace.Config(), QJsonObject({{"Mode", 0}}));
        QCOMPARE(EnabledOf(window), QStringList());

        // Every keystroke is checked; the path of the world save is a file only at its last key.
        QLineEdit* wsc = window.Edit("WSCEdit");
        window.Type("WSCEdit", world + "/UOX3.ws");
        QCOMPARE_COLOR(wsc, "red");
        QCOMPARE(workspace.Config(), QJsonObject({{"Mode", 0}}));
        QTest::keyClick(wsc, Qt::Key_C);
        QCOMPARE_COLOR(wsc, "green");
        QCOMPARE(workspace.Config(),
            QJsonObject({{"Mode", 0}, {"StaIdx0.mul", world + "/StaIdx0.mul"},
                {"Statics0.mul", world + "/Statics0.mul"}, {"UOX3.wsc", world + "/UOX3.wsc"}}));
        QCOMPARE(EnabledOf(window), OnlyGetStaticIndex);

        // A red edit stores nothing and keeps the last valid set.
        QTest::keyClick(wsc, Qt::Key_X);
        QCOMPARE(EnabledOf(window), QStringList());
        QCOMPARE(workspace.Config().value("UOX3.wsc").toString(), world + "/UOX3.wsc");

        // The next start restores the names, and with them the colours.
        Window again(workspace);
        again.Show();
        QCOMPARE(again.Edit("WSCEdit")->text(), world + "/UOX3.wsc");
        QCOMPARE_COLOR(again.Edit("StaIdxEdit"), "green");
        QCOMPARE(EnabledOf(again), OnlyGetStaticIndex);
        QVERIFY(again.dialogs.Questions.isEmpty());
    }

    void loadingTheIndexLocksItsFilesAndEnablesTheBlockControls()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        workspace.StoreWorld(world, 0);
        Window window(workspace);
        window.Show();
        QCOMPARE(EnabledOf(window), OnlyGetStaticIndex);

        window.Click("GetStaticIndexButton");
        QCOMPARE(window.LogLines(),
            (QStringList{"Init in progress... Cryoweaver may look crashed, do not interrupt!", "Init completed!"}));
        QCOMPARE(window.Progress(), 100);
        QCOMPARE(EnabledOf(window), AfterLoading);
        QVERIFY(!window.Enabled("StaIdxEdit"));
        QVERIFY(!window.Enabled("StaticsEdit"));
        QVERIFY(window.Enabled("WSCEdit"));
        QCOMPARE(window.MainLines().mid(0, 32), WelcomeText);

        window.Type("WSCEdit", world + "/gone.wsc");
        QCOMPARE(EnabledOf(window), QStringList());
        window.Type("WSCEdit", world + "/UOX3.wsc");
        QCOMPARE(EnabledOf(window), AfterLoading);
    }

    void failedLoadLeavesTheFilesEditable()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        WriteFile(world + "/StaIdx0.mul", QByteArray(100, '\0'));
        workspace.StoreWorld(world, 0);
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        QCOMPARE(window.dialogs.Errors, QStringList{"Read beyond end of file."});
        QCOMPARE(window.LogLines(), QStringList{"Init in progress... Cryoweaver may look crashed, do not interrupt!"});
        QVERIFY(window.Enabled("StaIdxEdit"));
        QVERIFY(window.Enabled("StaticsEdit"));
        QCOMPARE(EnabledOf(window), OnlyGetStaticIndex);
    }

    void simpleModeGuidesStepByStep()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        workspace.WriteConfig(R"({"Mode": 1})");
        Window window(workspace);
        window.Show();
        QCOMPARE(window.form().windowTitle(), QStringLiteral("Cryoweaver (Version 3.2) (Simple mode)"));
        QCOMPARE(window.MainLines(), GuideSteps[0]);

        window.Type("StaIdxEdit", world + "/StaIdx0.mul");
        QCOMPARE(window.MainLines(), GuideSteps[1]);
        window.Type("StaticsEdit", world + "/Statics0.mul");
        QCOMPARE(window.MainLines(), GuideSteps[2]);
        window.Type("WSCEdit", world + "/UOX3.wsc");
        QCOMPARE(window.MainLines(), GuideSteps[3]);
        QCOMPARE(EnabledOf(window), OnlyGetStaticIndex);

        window.Click("GetStaticIndexButton");
        QCOMPARE(window.MainLines(), GuideSteps[4]);
        QCOMPARE(EnabledOf(window), QStringList{"FreezeWorldButton"});

        // A completed freeze shows only at the next change of the world-save edit.
        window.Click("FreezeWorldButton");
        QVERIFY(window.dialogs.Errors.isEmpty());
        QCOMPARE(window.LogLines().last(), QStringLiteral("Freezing completed!"));
        QCOMPARE(window.MainLines(), GuideSteps[4]);
        QCOMPARE(EnabledOf(window), QStringList{"FreezeWorldButton"});

        QLineEdit* wsc = window.Edit("WSCEdit");
        QTest::keyClick(wsc, Qt::Key_End);
        QTest::keyClick(wsc, Qt::Key_Backspace);
        QCOMPARE(window.MainLines(), GuideSteps[2]);
        QTest::keyClick(wsc, Qt::Key_C);
        QCOMPARE(window.MainLines(), GuideSteps[5]);
        QCOMPARE(EnabledOf(window), QStringList());

        // Going back to an earlier step is still possible.
        window.Type("WSCEdit", world + "/none");
        QCOMPARE(window.MainLines(), GuideSteps[2]);
    }

    void storedModeTwoChecksNoButtonAndWorksAsNormalMode()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        workspace.StoreWorld(world, 2);
        const QByteArray stored = workspace.ConfigBytes();
        Window window(workspace);
        window.Show();
        QCOMPARE(window.form().windowTitle(), QStringLiteral("Cryoweaver (Version 3.2)"));
        QVERIFY(!window.Get<QRadioButton>("SimpleModeRadioButton")->isChecked());
        // The start-up checks neither; the normal button keeps the state it was built with.
        QVERIFY(window.Get<QRadioButton>("NormalModeRadioButton")->isChecked());
        QVERIFY(window.dialogs.Questions.isEmpty());

        window.Click("GetStaticIndexButton");
        QCOMPARE(EnabledOf(window), AfterLoading);
        QCOMPARE(window.MainLines().mid(0, 32), WelcomeText);
        QCOMPARE(workspace.ConfigBytes(), stored);
    }

    void choosingTheOtherModeTakesEffectAtTheNextStart()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        workspace.StoreWorld(world, 0);
        Window window(workspace);
        window.Show();

        QTest::mouseClick(window.Get<QRadioButton>("SimpleModeRadioButton"), Qt::LeftButton);
        QCOMPARE(window.dialogs.Notices.size(), 1);
        QCOMPARE(window.dialogs.Notices[0].Caption, QStringLiteral("Simple mode selected"));
        QCOMPARE(window.dialogs.Notices[0].Text, ModeChanged);
        QCOMPARE(workspace.Config().value("Mode"), QJsonValue(1));
        QCOMPARE(window.form().windowTitle(), QStringLiteral("Cryoweaver (Version 3.2) (Normal mode)"));
        window.Click("GetStaticIndexButton");
        QCOMPARE(EnabledOf(window), AfterLoading);

        QTest::mouseClick(window.Get<QRadioButton>("NormalModeRadioButton"), Qt::LeftButton);
        QCOMPARE(window.dialogs.Notices.size(), 2);
        QCOMPARE(window.dialogs.Notices[1].Caption, QStringLiteral("Normal mode selected"));
        QCOMPARE(window.dialogs.Notices[1].Text, ModeChanged);
        QCOMPARE(workspace.Config().value("Mode"), QJsonValue(0));

        // Clicking the button that is already checked changes nothing.
        QTest::mouseClick(window.Get<QRadioButton>("NormalModeRadioButton"), Qt::LeftButton);
        QCOMPARE(window.dialogs.Notices.size(), 2);
    }

    void blockEditsAreClampedWhenLeft_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("X 900") << "XBlockEdit"
                               << "900"
                               << "767";
        QTest::newRow("X -5") << "XBlockEdit"
                              << "-5"
                              << "0";
        QTest::newRow("X 767") << "XBlockEdit"
                               << "767"
                               << "767";
        QTest::newRow("X hex") << "XBlockEdit"
                               << "$300"
                               << "767";
        QTest::newRow("Y 512") << "YBlockEdit"
                               << "512"
                               << "511";
        QTest::newRow("Y 70000") << "YBlockEdit"
                                 << "70000"
                                 << "511";
        QTest::newRow("Y 5") << "YBlockEdit"
                             << "5"
                             << "5";
    }

    void blockEditsAreClampedWhenLeft()
    {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        Workspace workspace;
        workspace.StoreWorld(workspace.SampleWorld(), 0);
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        const QByteArray name = edit.toUtf8();
        window.Type(name.constData(), typed);
        QCOMPARE(window.Edit(name.constData())->text(), typed);
        QTest::keyClick(window.Edit(name.constData()), Qt::Key_Tab);
        QCOMPARE(window.Edit(name.constData())->text(), shown);
        QVERIFY(window.dialogs.Errors.isEmpty());
    }

    void leavingABlockEditWithTextShowsTheConversionError()
    {
        Workspace workspace;
        workspace.StoreWorld(workspace.SampleWorld(), 0);
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        window.EnterBlock("XBlockEdit", "abc");
        QCOMPARE(window.dialogs.Errors, QStringList{"'abc' is not a valid integer value."});
        QCOMPARE(window.Edit("XBlockEdit")->text(), QStringLiteral("abc"));
    }

    void arrowsStepWithinTheRange()
    {
        Workspace workspace;
        workspace.StoreWorld(workspace.SampleWorld(), 0);
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        auto* up = window.Get<QWidget>("XBlockUpDown")->findChild<QWidget*>("UpArrow");
        auto* down = window.Get<QWidget>("XBlockUpDown")->findChild<QWidget*>("DownArrow");
        QTest::mouseClick(down, Qt::LeftButton);
        QCOMPARE(window.Edit("XBlockEdit")->text(), QStringLiteral("0"));
        QTest::mouseClick(up, Qt::LeftButton);
        QCOMPARE(window.Edit("XBlockEdit")->text(), QStringLiteral("1"));
        // Typed text is where the next step starts, and the ends do not wrap.
        window.Type("XBlockEdit", "766");
        QTest::mouseClick(up, Qt::LeftButton);
        QTest::mouseClick(up, Qt::LeftButton);
        QCOMPARE(window.Edit("XBlockEdit")->text(), QStringLiteral("767"));
        QTest::keyClick(window.Edit("YBlockEdit"), Qt::Key_Up);
        QCOMPARE(window.Edit("YBlockEdit")->text(), QStringLiteral("1"));
        QTest::keyClick(window.Edit("YBlockEdit"), Qt::Key_Down);
        QTest::keyClick(window.Edit("YBlockEdit"), Qt::Key_Down);
        QCOMPARE(window.Edit("YBlockEdit")->text(), QStringLiteral("0"));
    }

    void listingShowsEveryObjectOfTheBlock()
    {
        Workspace workspace;
        const QString world = workspace.Path("listing");
        WriteWorld(world,
            {{{767, 511},
                 {TStaticItem{0x1234, 7, 7, -5, 0x0481}, TStaticItem{0x0EED, 0, 3, 127, 0},
                     TStaticItem{0xFFFF, 2, 0, -128, 0xFFFF}}},
                {{0, 0}, {TStaticItem{0x0001, 0, 0, 0, 0x0002}}}},
            Wsc({}));
        workspace.StoreWorld(world, 0);
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");

        window.EnterBlock("XBlockEdit", "767");
        window.EnterBlock("YBlockEdit", "511");
        window.Click("GetStaticBlockButton");
        QCOMPARE(window.MainLines(),
            (QStringList{"Item #1: Item ID = 12 34, X = 6143, Y = 4095, Z = -5, Color = 04 81",
                "Item #2: Item ID = 0E ED, X = 6136, Y = 4091, Z = 127, Color = 00 00",
                "Item #3: Item ID = FF FF, X = 6138, Y = 4088, Z = -128, Color = FF FF"}));
        QCOMPARE(window.Progress(), 45);
        QVERIFY(window.dialogs.Errors.isEmpty());

        window.EnterBlock("XBlockEdit", "0");
        window.EnterBlock("YBlockEdit", "0");
        window.Click("GetStaticBlockButton");
        QCOMPARE(window.MainLines(), QStringList{"Item #1: Item ID = 00 01, X = 0, Y = 0, Z = 0, Color = 00 02"});

        // An empty block empties the list and leaves the bar where it was.
        window.form().SetProgress(17);
        window.EnterBlock("YBlockEdit", "1");
        window.Click("GetStaticBlockButton");
        QCOMPARE(window.MainLines(), QStringList());
        QCOMPARE(window.Progress(), 17);
    }

    void failedListingKeepsTheList()
    {
        Workspace workspace;
        const QString world = workspace.Path("listing");
        WriteWorld(world, {{{3, 4}, {TStaticItem{0x1234, 1, 2, 3, 4}}}}, Wsc({}));
        workspace.StoreWorld(world, 0);
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        const QStringList before = window.MainLines();

        // Block numbers beyond the map reach the button only when typed without leaving the edit.
        const struct {
            QString x;
            QString y;
            QString error;
        } cases[] = {
            {"768", "0", "Range check error."},
            {"0", "512", "Range check error."},
            {"65536", "0", "Range check error."},
            {"x1", "0", "'x1' is not a valid integer value."},
        };
        for (const auto& c : cases) {
            window.dialogs.Errors.clear();
            window.Edit("XBlockEdit")->setText(c.x);
            window.Edit("YBlockEdit")->setText(c.y);
            window.Get<QPushButton>("GetStaticBlockButton")->click();
            QCOMPARE(window.dialogs.Errors, QStringList{c.error});
            QCOMPARE(window.MainLines(), before);
        }

        // A statics file that has lost the block's bytes.
        window.dialogs.Errors.clear();
        WriteFile(world + "/Statics0.mul", "");
        window.Edit("XBlockEdit")->setText("3");
        window.Edit("YBlockEdit")->setText("4");
        window.Get<QPushButton>("GetStaticBlockButton")->click();
        QCOMPARE(window.dialogs.Errors, QStringList{"Read beyond end of file."});
        QCOMPARE(window.MainLines(), before);
    }

    void meltThroughTheButton()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        const QString copy = workspace.SampleWorld("copy");
        workspace.StoreWorld(world, 0);
        const QStringList expected = CoreLog(copy, [](const WorldFiles& files, StaIdx& table, Reporter& reporter) {
            RunMelt(files, "100", "200", table, reporter);
        });
        QVERIFY(expected.size() > 4);

        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        window.EnterBlock("XBlockEdit", "100");
        window.EnterBlock("YBlockEdit", "200");
        window.Click("GetStaticBlockButton");
        QVERIFY(!window.MainLines().isEmpty());
        window.Click("MeltBlockButton");

        QVERIFY(window.dialogs.Errors.isEmpty());
        QCOMPARE(window.LogLines().mid(2), expected);
        QCOMPARE(
            expected.first(), QStringLiteral("Melting in progress... Cryoweaver may look crashed, do not interrupt!"));
        QCOMPARE(expected.last(), QStringLiteral("Melting completed!"));
        QCOMPARE(window.Progress(), 100);
        QCOMPARE(ReadFile(world + "/UOX3.wsc"), ReadFile(copy + "/UOX3.wsc"));
        QCOMPARE(ReadFile(world + "/StaIdx0.mul"), ReadFile(copy + "/StaIdx0.mul"));

        // The block is empty now, in memory as on disk.
        window.Click("GetStaticBlockButton");
        QCOMPARE(window.MainLines(), QStringList());

        // The newest line is in view once the action ends, also when the log is
        // longer than the list.
        window.Click("MeltBlockButton");
        QCOMPARE(window.LogLines().last(), QStringLiteral("Melting completed!"));
        QListWidget* log = window.Get<QListWidget>("LogListBox");
        QVERIFY(log->count() > 8);
        QVERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(log->count() - 1))));
    }

    void meltWithABadBlockNumberChangesNothing()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        workspace.StoreWorld(world, 0);
        const QByteArray wsc = ReadFile(world + "/UOX3.wsc");
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        window.Edit("XBlockEdit")->setText("768");
        window.Get<QPushButton>("MeltBlockButton")->click();
        QCOMPARE(window.dialogs.Errors, QStringList{"Range check error."});
        QCOMPARE(window.LogLines().last(),
            QStringLiteral("Melting in progress... Cryoweaver may look crashed, do not interrupt!"));
        QCOMPARE(window.Progress(), 0);
        QCOMPARE(ReadFile(world + "/UOX3.wsc"), wsc);
    }

    void freezeThroughTheButton()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        const QString copy = workspace.SampleWorld("copy");
        workspace.StoreWorld(world, 0);
        const QStringList expected = CoreLog(copy,
            [](const WorldFiles& files, StaIdx& table, Reporter& reporter) { RunFreeze(files, table, reporter); });
        QVERIFY(expected.size() > 3);
        QVERIFY(ReadFile(world + "/UOX3.wsc").contains("TYPE 255"));

        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        window.Click("FreezeWorldButton");
        QVERIFY(window.dialogs.Errors.isEmpty());
        QCOMPARE(window.LogLines().mid(2), expected);
        QCOMPARE(
            expected.first(), QStringLiteral("Freezing in progress... Cryoweaver may look crashed, do not interrupt!"));
        QCOMPARE(expected.last(), QStringLiteral("Freezing completed!"));
        QCOMPARE(window.Progress(), 100);
        QVERIFY(!ReadFile(world + "/UOX3.wsc").contains("TYPE 255"));
        QCOMPARE(ReadFile(world + "/Statics0.mul"), ReadFile(copy + "/Statics0.mul"));
        // Normal mode keeps the button after a freeze.
        QVERIFY(window.Enabled("FreezeWorldButton"));
    }

    void errorTextsEndingInABracketGetNoFullStop()
    {
        Workspace workspace;
        const QString world = workspace.Path("bad");
        WriteWorld(world, {}, Wsc({Item(3, 100, 100, 255), Item(7, 6144, 10, 255), Item(9, 10, 4096, 255)}));
        workspace.StoreWorld(world, 1);
        const QByteArray wsc = ReadFile(world + "/UOX3.wsc");
        Window window(workspace);
        window.Show();
        window.Click("GetStaticIndexButton");
        window.Click("FreezeWorldButton");
        QCOMPARE(window.dialogs.Errors, QStringList{"Invalid item in patch file! (Item#: 7)"});
        QCOMPARE(ReadFile(world + "/UOX3.wsc"), wsc);
        QVERIFY(!window.LogLines().contains("Freezing completed!"));

        // A failed freeze is no finished one.
        window.Type("WSCEdit", world + "/UOX3.wsc");
        QCOMPARE(window.MainLines(), GuideSteps[4]);
        QVERIFY(window.Enabled("FreezeWorldButton"));
    }

    void wrongValueTypesAreShownAtStart_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");
        QTest::newRow("Mode") << QByteArray(R"({"Mode": "1"})") << "Invalid data type for 'Mode'";
        QTest::newRow("path") << QByteArray(R"({"StaIdx0.mul": 12, "Mode": 1})")
                              << "Invalid data type for 'StaIdx0.mul'";
    }

    void wrongValueTypesAreShownAtStart()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        Workspace workspace;
        workspace.WriteConfig(json);
        Window window(workspace);
        window.Show();
        QCOMPARE(window.dialogs.Errors, QStringList{error});
        QVERIFY(window.dialogs.Questions.isEmpty());
        QCOMPARE(window.form().windowTitle(), QStringLiteral("Cryoweaver (Version 3.2)"));
        QCOMPARE(workspace.ConfigBytes(), json);

        // The window still answers: choosing a mode stores it.
        QTest::mouseClick(window.Get<QRadioButton>("SimpleModeRadioButton"), Qt::LeftButton);
        QCOMPARE(window.dialogs.Notices.size(), 1);
        QCOMPARE(workspace.Config().value("Mode"), QJsonValue(1));
    }

    void damagedSettingsAreReportedAndKept()
    {
        Workspace workspace;
        const QString world = workspace.SampleWorld();
        const QByteArray damaged = "{\"Mode\": 0, \"StaIdx0.mul\": ";
        workspace.WriteConfig(damaged);
        Window window(workspace);
        window.Show();
        QCOMPARE(window.dialogs.Errors.size(), 1);
        QVERIFY2(window.dialogs.Errors[0].startsWith("The settings file '" + workspace.ConfigPath() + "' is damaged"),
            qPrintable(window.dialogs.Errors[0]));
        QVERIFY(window.dialogs.Errors[0].endsWith("Correct or delete it."));

        window.Type("StaIdxEdit", world + "/StaIdx0.mul");
        window.Type("StaticsEdit", world + "/Statics0.mul");
        window.Type("WSCEdit", world + "/UOX3.wsc");
        QVERIFY(window.dialogs.Errors.size() > 1);
        QTest::mouseClick(window.Get<QRadioButton>("SimpleModeRadioButton"), Qt::LeftButton);
        QVERIFY(window.dialogs.Notices.isEmpty());
        QCOMPARE(workspace.ConfigBytes(), damaged);
    }

    void unwritableSettingsAreReported()
    {
        Workspace workspace;
        WriteFile(workspace.Path("config/Quellmar"), "a file where the folder belongs");
        Window window(workspace, true);
        window.Show();
        QCOMPARE(window.dialogs.Questions.size(), 1);
        QCOMPARE(window.dialogs.Errors, QStringList{"Failed to set data for 'Mode'"});
    }

    void splitterTradesHeightBetweenTheLists()
    {
        Workspace workspace;
        workspace.WriteConfig(R"({"Mode": 0})");
        Window window(workspace);
        window.Show();
        QWidget* splitter = window.Get<QWidget>("MainPanelSplitter");
        QWidget* main = window.Get<QWidget>("MainListBox");
        QWidget* log = window.Get<QWidget>("LogListBox");
        QCOMPARE(splitter->cursor().shape(), Qt::SizeVerCursor);

        // The bar follows the mouse, so the release is where the bar is now.
        QTest::mousePress(splitter, Qt::LeftButton, {}, QPoint(100, 1));
        QTest::mouseMove(splitter, QPoint(100, -39));
        QCOMPARE(log->height(), 153);
        QTest::mouseRelease(splitter, Qt::LeftButton, {}, QPoint(100, 1));
        QCOMPARE(log->height(), 153);
        QCOMPARE(main->height(), 224);
        QCOMPARE(log->geometry().bottom() + 1, 380);

        // Neither list gets smaller than 50 pixels.
        QTest::mousePress(splitter, Qt::LeftButton, {}, QPoint(100, 1));
        QTest::mouseRelease(splitter, Qt::LeftButton, {}, QPoint(100, -400));
        QCOMPARE(main->height(), 50);
        QCOMPARE(log->height(), 380 - 50 - 3);
        QTest::mousePress(splitter, Qt::LeftButton, {}, QPoint(100, 1));
        QTest::mouseRelease(splitter, Qt::LeftButton, {}, QPoint(100, 500));
        QCOMPARE(log->height(), 50);
        QCOMPARE(splitter->geometry().bottom() + 1, log->y());
    }

    void progressIsCheapForEveryRecord()
    {
        Workspace workspace;
        workspace.WriteConfig(R"({"Mode": 0})");
        Window window(workspace);
        window.Show();
        QProgressBar* bar = window.Get<QProgressBar>("ProgressBar");
        int changes = 0;
        connect(bar, &QProgressBar::valueChanged, this, [&] { ++changes; });
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 400000; ++i)
            window.form().SetProgress(i / 4000);
        QCOMPARE(changes, 99);
        QCOMPARE(bar->value(), 99);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    void messageBoxesShowTheirTitlesAndButtons()
    {
        app::MessageBoxDialogs dialogs;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString text;
        int buttons = 0;
        // Reads the box that is open and presses its default button.
        auto answer = [&](QMessageBox::StandardButton press) {
            QTimer::singleShot(0, [&, press] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                title = box->windowTitle();
                icon = box->icon();
                text = box->text();
                buttons = int(box->standardButtons());
                box->button(press)->click();
            });
        };
        answer(QMessageBox::Ok);
        dialogs.ShowError("Range check error.");
        QCOMPARE(title, QStringLiteral("Cryoweaver"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(text, QStringLiteral("Range check error."));
        QCOMPARE(buttons, int(QMessageBox::Ok));

        answer(QMessageBox::Yes);
        QVERIFY(dialogs.AskYesNo("Simple mode?", "Question"));
        QCOMPARE(title, QStringLiteral("Simple mode?"));
        QCOMPARE(buttons, int(QMessageBox::Yes | QMessageBox::No));
        answer(QMessageBox::No);
        QVERIFY(!dialogs.AskYesNo("Simple mode?", "Question"));

        answer(QMessageBox::Ok);
        dialogs.ShowNotice("Normal mode selected", ModeChanged);
        QCOMPARE(title, QStringLiteral("Normal mode selected"));
        QCOMPARE(text, ModeChanged);
        QCOMPARE(buttons, int(QMessageBox::Ok));
    }

private:
    QTemporaryDir configHome_;
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
