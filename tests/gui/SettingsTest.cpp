// The stored file names and mode in a settings file of a temporary folder.
#include "JsonSettingsStore.h"
#include "StoredSettings.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace cryo::settings;

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

template <typename Fn> QString ErrorOf(Fn&& fn)
{
    try {
        fn();
    } catch (const SettingsError& error) {
        return QString::fromStdString(error.what());
    }
    return QString();
}

// Answers the mode question and counts how often it was asked.
struct Asker {
    bool Answer = false;
    int Asked = 0;
    QString Caption;
    QString Text;

    AskYesNo Fn()
    {
        return [this](const QString& caption, const QString& text) {
            ++Asked;
            Caption = caption;
            Text = text;
            return Answer;
        };
    }
};

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QString Path() const { return folder_.filePath(QStringLiteral("Quellmar/Cryoweaver.json")); }

private slots:
    void init()
    {
        QFile::remove(Path());
        QDir(folder_.path()).removeRecursively();
        QDir().mkpath(folder_.path());
    }

    void missingFileGivesEmptyNamesAndCreatesNothing()
    {
        JsonSettingsStore store(Path());
        const FileNames names = LoadFileNames(store);
        QVERIFY(names.StaIdx.isEmpty() && names.Statics.isEmpty() && names.Wsc.isEmpty());
        QVERIFY(!QFileInfo::exists(Path()));
        QVERIFY(!QFileInfo::exists(QFileInfo(Path()).absolutePath()));
    }

    void namesAreStoredAsStrings()
    {
        JsonSettingsStore store(Path());
        SaveFileNames(store,
            {QStringLiteral("/w/StaIdx0.mul"), QStringLiteral("/w/Statics0.mul"), QStringLiteral("/w/Grüße.wsc")});
        const QJsonObject stored = QJsonDocument::fromJson(ReadFile(Path())).object();
        QCOMPARE(stored.keys(), (QStringList{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
        QVERIFY(stored.value("UOX3.wsc").isString());

        JsonSettingsStore again(Path());
        const FileNames names = LoadFileNames(again);
        QCOMPARE(names.StaIdx, QStringLiteral("/w/StaIdx0.mul"));
        QCOMPARE(names.Statics, QStringLiteral("/w/Statics0.mul"));
        QCOMPARE(names.Wsc, QStringLiteral("/w/Grüße.wsc"));
    }

    void missingValuesAreEmpty()
    {
        WriteFile(Path(), R"({"Statics0.mul": "/s", "Mode": 1})");
        JsonSettingsStore store(Path());
        const FileNames names = LoadFileNames(store);
        QCOMPARE(names.StaIdx, QString());
        QCOMPARE(names.Statics, QStringLiteral("/s"));
        QCOMPARE(names.Wsc, QString());
    }

    void firstLoadModeAsksAndStoresTheAnswer_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("mode");
        QTest::newRow("Yes: simple") << true << 1;
        QTest::newRow("No: normal") << false << 0;
    }

    void firstLoadModeAsksAndStoresTheAnswer()
    {
        QFETCH(bool, yes);
        QFETCH(int, mode);
        JsonSettingsStore store(Path());
        Asker asker;
        asker.Answer = yes;
        QCOMPARE(int(LoadMode(store, asker.Fn())), mode);
        QCOMPARE(asker.Asked, 1);
        QCOMPARE(asker.Caption, QStringLiteral("Simple mode?"));
        QCOMPARE(asker.Text,
            QStringLiteral("You have not yet selected a mode. If you only want to use Cryoweaver for patching "
                           "your files, you should select \"Yes\" (Simple mode). If you want all features, "
                           "select \"No\" (Normal mode). In \"Simple mode\" you get step by step instructions "
                           "on patching."));
        const QJsonValue stored = QJsonDocument::fromJson(ReadFile(Path())).object().value("Mode");
        QVERIFY(stored.isDouble());
        QCOMPARE(stored.toInt(), mode);

        // Later runs read it silently.
        JsonSettingsStore again(Path());
        asker.Answer = !yes;
        QCOMPARE(int(LoadMode(again, asker.Fn())), mode);
        QCOMPARE(asker.Asked, 1);
    }

    void storedModeIsTruncatedToItsLowByte_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("mode");
        QTest::newRow("2") << QByteArray("2") << 2;
        QTest::newRow("258") << QByteArray("258") << 2;
        QTest::newRow("256") << QByteArray("256") << 0;
        QTest::newRow("-1") << QByteArray("-1") << 255;
    }

    void storedModeIsTruncatedToItsLowByte()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, mode);
        WriteFile(Path(), "{\"Mode\": " + stored + "}");
        JsonSettingsStore store(Path());
        Asker asker;
        QCOMPARE(int(LoadMode(store, asker.Fn())), mode);
        QCOMPARE(asker.Asked, 0);
        QCOMPARE(ReadFile(Path()), "{\"Mode\": " + stored + "}");
    }

    void wrongValueTypesAreNamed_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");
        QTest::newRow("Mode as text") << QByteArray(R"({"Mode": "1"})") << "Invalid data type for 'Mode'";
        QTest::newRow("Mode as fraction") << QByteArray(R"({"Mode": 1.5})") << "Invalid data type for 'Mode'";
        QTest::newRow("Mode as boolean") << QByteArray(R"({"Mode": true})") << "Invalid data type for 'Mode'";
        QTest::newRow("Mode beyond 32 bits") << QByteArray(R"({"Mode": 4294967296})") << "Invalid data type for 'Mode'";
        QTest::newRow("path as number") << QByteArray(R"({"Statics0.mul": 7, "Mode": 0})")
                                        << "Invalid data type for 'Statics0.mul'";
        QTest::newRow("path as list") << QByteArray(R"({"UOX3.wsc": ["a"], "Mode": 0})")
                                      << "Invalid data type for 'UOX3.wsc'";
    }

    void wrongValueTypesAreNamed()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        WriteFile(Path(), json);
        JsonSettingsStore store(Path());
        Asker asker;
        const QString failure = ErrorOf([&] {
            LoadFileNames(store);
            LoadMode(store, asker.Fn());
        });
        QCOMPARE(failure, error);
        QCOMPARE(asker.Asked, 0);
        QCOMPARE(ReadFile(Path()), json);
    }

    void damagedFileIsReportedAndNeverOverwritten_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("StaIdx0.mul=/w/StaIdx0.mul\n");
        QTest::newRow("cut short") << QByteArray("{\"Mode\": 1, \"StaIdx0.mul\": \"/w/");
        QTest::newRow("not an object") << QByteArray(R"(["Mode", 1])");
    }

    void damagedFileIsReportedAndNeverOverwritten()
    {
        QFETCH(QByteArray, content);
        WriteFile(Path(), content);
        JsonSettingsStore store(Path());
        Asker asker;
        const QString expectedStart = QStringLiteral("The settings file '%1' is damaged (").arg(Path());
        for (const auto& action : std::initializer_list<std::function<void()>>{[&] { LoadFileNames(store); },
                 [&] { LoadMode(store, asker.Fn()); },
                 [&] {
                     SaveFileNames(store, {"/a/StaIdx0.mul", "/a/Statics0.mul", "/a/UOX3.wsc"});
                 },
                 [&] { SaveMode(store, 1); }}) {
            const QString failure = ErrorOf(action);
            QVERIFY2(failure.startsWith(expectedStart), qPrintable(failure));
            QVERIFY(failure.contains(QStringLiteral("leaves it as it is")));
        }
        QCOMPARE(asker.Asked, 0);
        QCOMPARE(ReadFile(Path()), content);
        QCOMPARE(QDir(QFileInfo(Path()).absolutePath()).entryList(QDir::Files), QStringList{"Cryoweaver.json"});
    }

    void failedWriteNamesTheValue()
    {
        // The settings folder cannot be made where a file is in the way, even for root.
        WriteFile(folder_.filePath("Quellmar"), "in the way");
        JsonSettingsStore store(Path());
        QCOMPARE(ErrorOf([&] {
            SaveFileNames(store, {"/a/StaIdx0.mul", "/a/Statics0.mul", "/a/UOX3.wsc"});
        }),
            QStringLiteral("Failed to set data for 'StaIdx0.mul'"));
        Asker asker;
        QCOMPARE(ErrorOf([&] { LoadMode(store, asker.Fn()); }), QStringLiteral("Failed to set data for 'Mode'"));
        QCOMPARE(asker.Asked, 1);
        QCOMPARE(ErrorOf([&] { SaveMode(store, 0); }), QStringLiteral("Failed to set data for 'Mode'"));
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
