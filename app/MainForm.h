#pragma once

#include "StaIdx.h"
#include "StoredSettings.h"
#include "UserDialogs.h"

#include <QLineEdit>
#include <QWidget>

#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace cryo {
struct WorldFiles;
}

namespace cryo::app {

class PanelSplitter;
class UpDown;

// A number edit that reports leaving it, after it has handled losing the focus
// itself. Focus lost to another window or a popup is no leaving.
class BlockEdit final : public QLineEdit {
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

signals:
    void Exited();

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// The program's one window.
class TMainForm final : public QWidget {
    Q_OBJECT

public:
    TMainForm(settings::SettingsStore& store, UserDialogs& dialogs, QWidget* parent = nullptr);
    ~TMainForm() override;

    static const QString Caption;

    // Feedback of the core's work.
    void Log(const QString& line);
    void SetProgress(int position);

protected:
    void showEvent(QShowEvent* event) override;

private:
    class WindowReporter;

    void BuildControls();

    // Runs an event handler; an error ends it and is shown in a message box.
    void Guarded(const std::function<void()>& handler);
    void ShowError(const char* message);
    WorldFiles Files() const;
    void SetBlockControlsEnabled(bool enabled);

    void FormShow();
    void StaIdxEditChange();
    void StaticsEditChange();
    void WSCEditChange();
    void UpdateButtons();
    void UpdateSimpleModeHelp();
    void GetStaticIndexButtonClick();
    void GetStaticBlockButtonClick();
    void MeltBlockButtonClick();
    void FreezeWorldButtonClick();
    void XBlockEditExit();
    void YBlockEditExit();
    void NormalModeRadioButtonClick();
    void SimpleModeRadioButtonClick();

    settings::SettingsStore& store_;
    UserDialogs& dialogs_;
    std::unique_ptr<WindowReporter> reporter_;
    std::unique_ptr<StaIdx> staIdx_;
    bool shown_ = false;

    bool WorldFrozen = false;
    quint8 SimpleMode = 0;
    bool ModeLoading = true;

    QWidget* FileNamePanel = nullptr;
    QLabel* StaIdxLabel = nullptr;
    QLineEdit* StaIdxEdit = nullptr;
    QLabel* StaticsLabel = nullptr;
    QLineEdit* StaticsEdit = nullptr;
    QLabel* WSCLabel = nullptr;
    QLineEdit* WSCEdit = nullptr;
    QWidget* ButtonPanel = nullptr;
    QLabel* XBlockLabel = nullptr;
    QLabel* YBlockLabel = nullptr;
    QPushButton* GetStaticIndexButton = nullptr;
    QPushButton* GetStaticBlockButton = nullptr;
    BlockEdit* XBlockEdit = nullptr;
    BlockEdit* YBlockEdit = nullptr;
    QPushButton* MeltBlockButton = nullptr;
    QPushButton* FreezeWorldButton = nullptr;
    UpDown* XBlockUpDown = nullptr;
    UpDown* YBlockUpDown = nullptr;
    QWidget* MainPanel = nullptr;
    QListWidget* LogListBox = nullptr;
    QListWidget* MainListBox = nullptr;
    PanelSplitter* MainPanelSplitter = nullptr;
    QGroupBox* ModeGroupBox = nullptr;
    QRadioButton* NormalModeRadioButton = nullptr;
    QRadioButton* SimpleModeRadioButton = nullptr;
    QProgressBar* ProgressBar = nullptr;
};

} // namespace cryo::app
