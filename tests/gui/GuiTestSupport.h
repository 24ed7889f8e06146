#pragma once

#include "JsonSettingsStore.h"
#include "MainForm.h"
#include "Reporter.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "UserDialogs.h"

#include <QJsonObject>
#include <QLineEdit>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <utility>
#include <vector>

namespace cryo::guitest {

// Answers every message box and remembers what it showed.
class RecordingDialogs final : public app::UserDialogs {
public:
    struct Shown {
        QString Caption;
        QString Text;
    };

    void ShowError(const QString& text) override { Errors << text; }
    bool AskYesNo(const QString& caption, const QString& text) override
    {
        Questions << Shown{caption, text};
        return Answer;
    }
    void ShowNotice(const QString& caption, const QString& text) override { Notices << Shown{caption, text}; }

    bool Answer = false;
    QStringList Errors;
    QList<Shown> Questions;
    QList<Shown> Notices;
};

class RecordingReporter final : public Reporter {
public:
    void Log(std::string_view line) override { Lines << QString::fromUtf8(line.data(), qsizetype(line.size())); }
    void SetProgress(int) override { }

    QStringList Lines;
};

// A temporary folder with the settings file and the worlds of one test.
class Workspace {
public:
    Workspace();

    QString Path(const QString& name) const { return dir_.filePath(name); }
    QString ConfigPath() const { return Path(QStringLiteral("config/Quellmar/Cryoweaver.json")); }
    void WriteConfig(const QByteArray& json) const;
    QByteArray ConfigBytes() const;
    QJsonObject Config() const;

    // A sample world in a new subfolder; returns the folder.
    QString SampleWorld(const QString& name = QStringLiteral("world")) const;
    // Settings that name the three files of folder, with the given mode.
    void StoreWorld(const QString& folder, int mode) const;

private:
    QTemporaryDir dir_;
};

// A world whose blocks hold exactly the given objects; every other block is empty.
using BlockItems = std::map<std::pair<int, int>, std::vector<TStaticItem>>;
void WriteWorld(const QString& folder, const BlockItems& blocks, const QByteArray& wsc);
void WriteFile(const QString& path, const QByteArray& data);
QByteArray ReadFile(const QString& path);

// The window over a workspace's settings, with its controls by name.
class Window {
public:
    explicit Window(const Workspace& workspace, bool answerYes = false);

    // Shows the window (which loads the settings) and makes it the active one.
    void Show();

    template <typename T> T* Get(const char* name) const { return form_.findChild<T*>(QString::fromUtf8(name)); }
    QLineEdit* Edit(const char* name) const { return Get<QLineEdit>(name); }
    bool Enabled(const char* name) const;

    // Replaces the text as a user would, key by key.
    void Type(const char* editName, const QString& text) const;
    void Click(const char* buttonName) const;
    // Types into a block edit and leaves it with the Tab key.
    void EnterBlock(const char* editName, const QString& text) const;

    QStringList MainLines() const;
    QStringList LogLines() const;
    int Progress() const;

    app::TMainForm& form() { return form_; }
    settings::JsonSettingsStore store;
    RecordingDialogs dialogs;

private:
    app::TMainForm form_;
};

enum class EditColor { Default, Green, Red, Other };
EditColor ColorOf(const QLineEdit* edit);
const char* ColorName(EditColor color);

} // namespace cryo::guitest
