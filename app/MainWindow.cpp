#include "MainWindow.h"

#include "MapPaneWidget.h"
#include "UpDown.h"

#include "Interrupt.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace cryo::app {

using form::Control;
using form::MenuItem;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// The local files among dropped data.
std::vector<std::string> DroppedFiles(const QMimeData* data)
{
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths.push_back(url.toLocalFile().toStdString());
    }
    return paths;
}

// Copy (Ctrl+C) and Select all in the list's context menu; copying gives the
// selected lines in list order.
void MakeCopyable(QListWidget* list)
{
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QAction(QObject::tr("&Copy"), list);
    copy->setObjectName(QStringLiteral("CopyAction"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(copy, &QAction::triggered, list, [list] {
        QStringList lines;
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->isSelected())
                lines << list->item(row)->text();
        }
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    });
    auto* all = new QAction(QObject::tr("Select &all"), list);
    all->setShortcut(QKeySequence::SelectAll);
    all->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(all, &QAction::triggered, list, &QListWidget::selectAll);
    list->addAction(copy);
    list->addAction(all);
}

} // namespace

void BlockEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit Exited();
}

MainWindow::MainWindow(settings::SettingsStore& store, QWidget* parent)
    : QWidget(parent)
    , form_(*this, store)
{
    setObjectName(QStringLiteral("MainForm"));
    setAcceptDrops(true);
    BuildControls();
    form_.Initialize();
}

MainWindow::~MainWindow()
{
    // A window closed from outside (a test, the session's end) stops its operation first.
    if (worker_.joinable()) {
        interrupt::Request("closing the window");
        worker_.join();
    }
}

void MainWindow::BuildControls()
{
    auto button = [this](Control control, const char* name, const QString& caption, QWidget* parent) {
        auto* pushButton = new QPushButton(caption, parent);
        pushButton->setObjectName(QString::fromUtf8(name));
        // Enter presses the button that has the focus.
        pushButton->setAutoDefault(true);
        connect(pushButton, &QPushButton::clicked, this, [this, control] { form_.Clicked(control); });
        controls_[control] = pushButton;
        return pushButton;
    };

    // From the top: the lists with the splitter between them, and the bar.
    auto* mainPanel = new QWidget(this);
    mainPanel->setObjectName(QStringLiteral("MainPanel"));
    auto* splitter = new QSplitter(Qt::Vertical, mainPanel);
    splitter->setObjectName(QStringLiteral("MainPanelSplitter"));
    splitter->setChildrenCollapsible(false);
    MainListBox = new QListWidget(splitter);
    MainListBox->setObjectName(QStringLiteral("MainListBox"));
    LogListBox = new QListWidget(splitter);
    LogListBox->setObjectName(QStringLiteral("LogListBox"));
    for (QListWidget* list : {MainListBox, LogListBox}) {
        // One height for every line: a long log is laid out in no time.
        list->setUniformItemSizes(true);
        list->setMinimumHeight(50);
        list->viewport()->installEventFilter(this);
        MakeCopyable(list);
    }
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({264, 113});
    // Beneath the lists: what the next melt or freeze does, how far the running one is, and its Cancel.
    auto* dryRun = new QCheckBox(tr("Only show what would change"), mainPanel);
    dryRun->setObjectName(QStringLiteral("DryRunCheckBox"));
    controls_[Control::DryRunCheckBox] = dryRun;
    ProgressBar = new QProgressBar(mainPanel);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    ProgressBar->setMaximumHeight(fontMetrics().height());
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(dryRun);
    progressRow->addWidget(ProgressBar, 1);
    progressRow->addWidget(button(Control::CancelButton, "CancelButton", tr("Cancel"), mainPanel));
    auto* mainLayout = new QVBoxLayout(mainPanel);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(2);
    mainLayout->addWidget(splitter, 1);
    mainLayout->addLayout(progressRow);

    auto* buttonPanel = new QWidget(this);
    buttonPanel->setObjectName(QStringLiteral("ButtonPanel"));
    auto* buttons = new QVBoxLayout(buttonPanel);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(
        button(Control::GetStaticIndexButton, "GetStaticIndexButton", tr("GetStaticIndex"), buttonPanel));
    // Leaving a block's box, or Enter in it, goes to the logic.
    auto blockEdit = [this, buttonPanel](Control control, const char* name) {
        auto* edit = new BlockEdit(buttonPanel);
        edit->setObjectName(QString::fromUtf8(name));
        connect(edit, &BlockEdit::Exited, this, [this, control] { form_.Exited(control); });
        connect(edit, &QLineEdit::returnPressed, this, [this, control] { form_.Entered(control); });
        controls_[control] = edit;
        return edit;
    };
    auto* positionLabel = new QLabel(tr("Position"), buttonPanel);
    BlockEdit* position = blockEdit(Control::PositionEdit, "PositionEdit");
    position->setToolTip(tr("A position X,Y in tiles, as /where shows it; Enter lists its block"));
    positionLabel->setBuddy(position);
    buttons->addWidget(positionLabel);
    buttons->addWidget(position);
    auto* blocks = new QGridLayout;
    auto blockRow
        = [&](int row, Control edit, Control upDown, const char* label, const char* editName, const char* upDownName) {
              BlockEdit* numberEdit = blockEdit(edit, editName);
              auto* spinner = new UpDown(numberEdit, 0, 0, buttonPanel);
              spinner->setObjectName(QString::fromUtf8(upDownName));
              blocks->addWidget(new QLabel(QString::fromUtf8(label), buttonPanel), row, 0);
              blocks->addWidget(numberEdit, row, 1);
              blocks->addWidget(spinner, row, 2);
              controls_[upDown] = spinner;
              return spinner;
          };
    XBlockUpDown = blockRow(0, Control::XBlockEdit, Control::XBlockUpDown, "X", "XBlockEdit", "XBlockUpDown");
    YBlockUpDown = blockRow(1, Control::YBlockEdit, Control::YBlockUpDown, "Y", "YBlockEdit", "YBlockUpDown");
    buttons->addLayout(blocks);
    buttons->addWidget(
        button(Control::GetStaticBlockButton, "GetStaticBlockButton", tr("GetStaticBlock"), buttonPanel));
    buttons->addWidget(button(Control::MeltBlockButton, "MeltBlockButton", tr("Melt!"), buttonPanel));
    buttons->addWidget(button(Control::FreezeWorldButton, "FreezeWorldButton", tr("Freeze!"), buttonPanel));
    buttons->addStretch(1);
    auto* modeGroupBox = new QGroupBox(tr("Mode"), buttonPanel);
    modeGroupBox->setObjectName(QStringLiteral("ModeGroupBox"));
    auto* modes = new QVBoxLayout(modeGroupBox);
    for (const auto& [control, name, caption] :
        {std::tuple{Control::NormalModeRadioButton, "NormalModeRadioButton", tr("Normal")},
            std::tuple{Control::SimpleModeRadioButton, "SimpleModeRadioButton", tr("Simple")}}) {
        auto* radio = new QRadioButton(caption, modeGroupBox);
        radio->setObjectName(QString::fromUtf8(name));
        // A click on the checked button, or checking one from the program, is no choice.
        connect(radio, &QRadioButton::clicked, this, [this, control = control] { form_.Clicked(control); });
        modes->addWidget(radio);
        controls_[control] = radio;
    }
    auto* modeNote = new QLabel(modeGroupBox);
    modeNote->setObjectName(QStringLiteral("ModeNoteLabel"));
    modeNote->setWordWrap(true);
    modes->addWidget(modeNote);
    controls_[Control::ModeNoteLabel] = modeNote;
    buttons->addWidget(modeGroupBox);

    auto* fileNamePanel = new QWidget(this);
    fileNamePanel->setObjectName(QStringLiteral("FileNamePanel"));
    auto* files = new QHBoxLayout(fileNamePanel);
    files->setContentsMargins(0, 0, 0, 0);
    for (const auto& [edit, browse, name, caption] :
        {std::tuple{Control::StaIdxEdit, Control::StaIdxBrowseButton, "StaIdxEdit", "StaIdx0.mul"},
            std::tuple{Control::StaticsEdit, Control::StaticsBrowseButton, "StaticsEdit", "Statics0.mul"},
            std::tuple{Control::WSCEdit, Control::WSCBrowseButton, "WSCEdit", "UOX3.wsc"}}) {
        auto* lineEdit = new QLineEdit(fileNamePanel);
        lineEdit->setObjectName(QString::fromUtf8(name));
        lineEdit->installEventFilter(this);
        // Only the user's changes: the logic checks what it sets itself.
        connect(lineEdit, &QLineEdit::textEdited, this, [this, control = edit] { form_.Changed(control); });
        controls_[edit] = lineEdit;
        auto* label = new QLabel(QString::fromUtf8(caption), fileNamePanel);
        label->setBuddy(lineEdit);
        QPushButton* browseButton = button(browse, "", QStringLiteral("…"), fileNamePanel);
        browseButton->setObjectName(QString::fromUtf8(name).replace(QStringLiteral("Edit"), QStringLiteral("Browse")));
        browseButton->setToolTip(tr("Choose the file"));
        browseButton->setMaximumWidth(browseButton->fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3);
        files->addWidget(label);
        files->addWidget(lineEdit, 1);
        files->addWidget(browseButton);
    }

    // The map beside the lists, in normal mode.
    mapPane_ = new MapPaneWidget(form_, this);
    mapPane_->hide();
    auto* top = new QHBoxLayout;
    top->addWidget(mainPanel, 2);
    top->addWidget(mapPane_, 3);
    top->addWidget(buttonPanel);
    auto* root = new QVBoxLayout(this);
    root->setMenuBar(BuildMenuBar());
    root->setContentsMargins(4, 4, 4, 4);
    root->addLayout(top, 1);
    root->addWidget(fileNamePanel);
    resize(700, 460);

    setTabOrder(Edit(Control::StaIdxEdit), controls_[Control::StaIdxBrowseButton]);
    setTabOrder(controls_[Control::StaIdxBrowseButton], Edit(Control::StaticsEdit));
    setTabOrder(Edit(Control::StaticsEdit), controls_[Control::StaticsBrowseButton]);
    setTabOrder(controls_[Control::StaticsBrowseButton], Edit(Control::WSCEdit));
    setTabOrder(Edit(Control::WSCEdit), controls_[Control::WSCBrowseButton]);
    setTabOrder(controls_[Control::WSCBrowseButton], controls_[Control::GetStaticIndexButton]);
}

QMenuBar* MainWindow::BuildMenuBar()
{
    auto* menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("MenuBar"));
    QMenu* file = menuBar->addMenu(tr("&File"));
    QMenu* tools = menuBar->addMenu(tr("&Tools"));
    QMenu* help = menuBar->addMenu(tr("&Help"));
    for (const auto& [menu, item, text] : {std::tuple{file, MenuItem::OpenServerFolder, tr("&Open server folder...")},
             std::tuple{file, MenuItem::ServerMap, tr("Server's &map...")},
             std::tuple{file, MenuItem::ChangeFiles, tr("&Change files...")},
             std::tuple{tools, MenuItem::UndoLastOperation, tr("&Undo last operation...")},
             std::tuple{tools, MenuItem::History, tr("&History...")},
             std::tuple{tools, MenuItem::CheckFiles, tr("&Check files")},
             std::tuple{tools, MenuItem::CompactStatics, tr("C&ompact statics")},
             std::tuple{tools, MenuItem::MakePatch, tr("&Make players' patch...")},
             std::tuple{tools, MenuItem::ApplyPatch, tr("&Apply patch...")},
             std::tuple{help, MenuItem::About, tr("&About")}}) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, [this, item = item] { form_.MenuChosen(item); });
        menuItems_[item] = action;
    }
    file->addSeparator();
    connect(file->addAction(tr("E&xit")), &QAction::triggered, this, &QWidget::close);
    return menuBar;
}

QLineEdit* MainWindow::Edit(Control control) const
{
    return static_cast<QLineEdit*>(controls_.at(control));
}

std::string MainWindow::Text(Control control) const
{
    if (const auto* label = qobject_cast<const QLabel*>(controls_.at(control)))
        return label->text().toStdString();
    return Edit(control)->text().toStdString();
}

void MainWindow::SetText(Control control, const std::string& text)
{
    if (auto* label = qobject_cast<QLabel*>(controls_.at(control)))
        label->setText(Q(text));
    else
        Edit(control)->setText(Q(text));
}

void MainWindow::SetEditColor(Control edit, form::EditColor color, const std::string& tip)
{
    QLineEdit* lineEdit = Edit(edit);
    // Only the enabled look changes: a locked edit looks disabled.
    QPalette palette = QApplication::palette(lineEdit);
    if (color != form::EditColor::Default) {
        const QColor base = color == form::EditColor::Green ? QColor(0, 128, 0) : QColor(255, 0, 0);
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::Base, base);
            palette.setColor(group, QPalette::Text, Qt::white);
        }
    }
    lineEdit->setPalette(palette);
    lineEdit->setToolTip(Q(tip));
}

void MainWindow::SetEnabled(Control control, bool enabled)
{
    controls_.at(control)->setEnabled(enabled);
}

void MainWindow::SetMenuEnabled(MenuItem item, bool enabled)
{
    menuItems_.at(item)->setEnabled(enabled);
}

bool MainWindow::IsChecked(Control checkBox) const
{
    return static_cast<const QAbstractButton*>(controls_.at(checkBox))->isChecked();
}

void MainWindow::SetChecked(Control button, bool checked)
{
    auto* widget = static_cast<QAbstractButton*>(controls_.at(button));
    // The only checked button of an exclusive pair unchecks only outside it.
    const bool exclusive = widget->autoExclusive();
    widget->setAutoExclusive(false);
    widget->setChecked(checked);
    widget->setAutoExclusive(exclusive);
}

void MainWindow::SetFocus(Control control)
{
    controls_.at(control)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::SetCaption(const std::string& caption)
{
    setWindowTitle(Q(caption));
}

void MainWindow::SetBlockRanges(int xMaximum, int yMaximum)
{
    XBlockUpDown->SetRange(0, xMaximum);
    YBlockUpDown->SetRange(0, yMaximum);
}

void MainWindow::ReplaceMainList(const std::vector<std::string>& lines)
{
    MainListBox->clear();
    for (const std::string& line : lines)
        MainListBox->addItem(Q(line));
}

void MainWindow::AddLogLines(const std::vector<std::string>& lines)
{
    QStringList items;
    items.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        items << Q(line);
    LogListBox->addItems(items);
    LogListBox->scrollToBottom();
}

void MainWindow::SetProgress(int position)
{
    ProgressBar->setValue(position);
}

void MainWindow::RunInBackground(std::function<void()> work, std::function<void()> tick, std::function<void()> done)
{
    tick_ = std::move(tick);
    done_ = std::move(done);
    if (tickTimer_ == nullptr) {
        tickTimer_ = new QTimer(this);
        // A few times a second: enough to follow, little enough to cost nothing.
        tickTimer_->setInterval(200);
        connect(tickTimer_, &QTimer::timeout, this, [this] {
            if (tick_)
                tick_();
        });
    }
    tickTimer_->start();
    worker_ = std::thread([this, work = std::move(work)] {
        work();
        QMetaObject::invokeMethod(this, &MainWindow::WorkDone, Qt::QueuedConnection);
    });
}

void MainWindow::WorkDone()
{
    tickTimer_->stop();
    worker_.join();
    tick_ = nullptr;
    std::exchange(done_, nullptr)();
}

void MainWindow::CloseWindow()
{
    close();
}

bool MainWindow::AskYesNo(const std::string& caption, const std::string& text)
{
    QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool MainWindow::AskToOverride(const std::string& caption, const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::ShowNotice(const std::string& caption, const std::string& text)
{
    QMessageBox(QMessageBox::Information, Q(caption), Q(text), QMessageBox::Ok, this).exec();
}

void MainWindow::ShowError(const std::string& text, const std::string& detail)
{
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(form::ApplicationTitle), Q(text), QMessageBox::Ok, this);
    box.setInformativeText(Q(detail));
    box.exec();
}

std::optional<std::string> MainWindow::AskFileName(const std::string& title, const std::string& folder)
{
    const QString path = QFileDialog::getOpenFileName(this, Q(title), Q(folder));
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

std::optional<std::string> MainWindow::AskFolderName(const std::string& title, const std::string& folder)
{
    const QString path = QFileDialog::getExistingDirectory(this, Q(title), Q(folder));
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

std::optional<std::string> MainWindow::AskSaveFileName(
    const std::string& title, const std::string& folder, const std::string& name)
{
    const QString start = folder.empty() ? Q(name) : Q(folder) + QLatin1Char('/') + Q(name);
    const QString path = QFileDialog::getSaveFileName(this, Q(title), start);
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

std::optional<std::size_t> MainWindow::ChooseFromMenu(Control anchor, const std::vector<std::string>& items)
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("ChoiceMenu"));
    std::vector<QAction*> actions;
    for (const std::string& item : items)
        actions.push_back(menu.addAction(Q(item)));
    QWidget* below = controls_.at(anchor);
    const QAction* chosen = menu.exec(below->mapToGlobal(QPoint(0, below->height())));
    const auto found = std::find(actions.begin(), actions.end(), chosen);
    if (chosen == nullptr || found == actions.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - actions.begin());
}

void MainWindow::ShowMapPane(bool shown)
{
    if (shown == !mapPane_->isHidden())
        return;
    mapPane_->setVisible(shown);
    // Room for the map beside the lists.
    if (shown)
        resize(std::max(width(), 1100), std::max(height(), 600));
}

void MainWindow::RedrawMapPane()
{
    mapPane_->update();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        form_.FormShow();
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (form_.CloseQuery())
        event->accept();
    else
        event->ignore();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFiles(event->mimeData()).empty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    form_.FilesDropped(DroppedFiles(event->mimeData()), std::nullopt);
    event->acceptProposedAction();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A line wider than its list shows whole where the mouse rests on it.
    if (event->type() == QEvent::ToolTip) {
        for (QListWidget* list : {MainListBox, LogListBox}) {
            if (watched != list->viewport())
                continue;
            const QPoint at = static_cast<QHelpEvent*>(event)->pos();
            const QListWidgetItem* item = list->itemAt(at);
            if (item != nullptr && list->fontMetrics().horizontalAdvance(item->text()) > list->viewport()->width())
                QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), item->text(), list);
            else
                QToolTip::hideText();
            return true;
        }
    }
    // A file dropped on a path box fills it with the path, not with a URL.
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::vector<std::string> paths = DroppedFiles(drop->mimeData());
        if (!paths.empty()) {
            drop->acceptProposedAction();
            if (event->type() == QEvent::Drop) {
                for (const auto& [control, widget] : controls_) {
                    if (widget == watched)
                        form_.FilesDropped(paths, control);
                }
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace cryo::app
