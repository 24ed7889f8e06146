#pragma once

#include "FormView.h"
#include "MainForm.h"

#include <QLineEdit>
#include <QWidget>

#include <functional>
#include <map>
#include <thread>

class QAction;
class QListWidget;
class QMenuBar;
class QProgressBar;
class QTimer;

namespace cryo::settings {
class SettingsStore;
}

namespace cryo::app {

class MapPaneWidget;
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

// The Qt window: builds the controls and forwards their events to the logic.
class MainWindow final : public QWidget, public form::FormView {
    Q_OBJECT

public:
    explicit MainWindow(settings::SettingsStore& store, QWidget* parent = nullptr);
    ~MainWindow() override;

    form::TMainForm& Form() { return form_; }
    QWidget* Widget(form::Control control) const { return controls_.at(control); }
    QAction* MenuAction(form::MenuItem item) const { return menuItems_.at(item); }

    std::string Text(form::Control control) const override;
    void SetText(form::Control control, const std::string& text) override;
    void SetEditColor(form::Control edit, form::EditColor color, const std::string& tip) override;
    void SetEnabled(form::Control control, bool enabled) override;
    void SetMenuEnabled(form::MenuItem item, bool enabled) override;
    bool IsChecked(form::Control checkBox) const override;
    void SetChecked(form::Control button, bool checked) override;
    void SetFocus(form::Control control) override;
    void SetCaption(const std::string& caption) override;
    void SetBlockRanges(int xMaximum, int yMaximum) override;
    void ReplaceMainList(const std::vector<std::string>& lines) override;
    void AddLogLines(const std::vector<std::string>& lines) override;
    void SetProgress(int position) override;
    void RunInBackground(std::function<void()> work, std::function<void()> tick, std::function<void()> done) override;
    void CloseWindow() override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;
    bool AskToOverride(const std::string& caption, const std::string& text) override;
    void ShowNotice(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& text, const std::string& detail) override;
    std::optional<std::string> AskFileName(const std::string& title, const std::string& folder) override;
    std::optional<std::string> AskFolderName(const std::string& title, const std::string& folder) override;
    std::optional<std::string> AskSaveFileName(
        const std::string& title, const std::string& folder, const std::string& name) override;
    std::optional<std::size_t> ChooseFromMenu(form::Control anchor, const std::vector<std::string>& items) override;
    void ShowMapPane(bool shown) override;
    void RedrawMapPane() override;
    MapPaneWidget* MapPane() const { return mapPane_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    // File, Tools and Help; their items but Exit go to the logic.
    QMenuBar* BuildMenuBar();
    QLineEdit* Edit(form::Control control) const;
    void WorkDone();

    form::TMainForm form_;
    std::map<form::Control, QWidget*> controls_;
    std::map<form::MenuItem, QAction*> menuItems_;
    QListWidget* MainListBox = nullptr;
    QListWidget* LogListBox = nullptr;
    QProgressBar* ProgressBar = nullptr;
    UpDown* XBlockUpDown = nullptr;
    UpDown* YBlockUpDown = nullptr;
    MapPaneWidget* mapPane_ = nullptr;
    bool shown_ = false;
    // The running operation: its thread, and the window's calls meanwhile and after.
    std::thread worker_;
    QTimer* tickTimer_ = nullptr;
    std::function<void()> tick_;
    std::function<void()> done_;
};

} // namespace cryo::app
