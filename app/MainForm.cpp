#include "MainForm.h"

#include "Actions.h"
#include "Convert.h"
#include "File.h"
#include "PanelSplitter.h"
#include "Text.h"
#include "UpDown.h"
#include "Version.h"

#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include <exception>
#include <string>

namespace cryo::app {

namespace {

const QColor ValidColor(0, 128, 0);
const QColor InvalidColor(255, 0, 0);

// The running mode stays as loaded at start-up.
const QString ModeChangedText = QStringLiteral("The new mode will be active the next time you start Cryoweaver.");

constexpr int ButtonWidth = 77;
constexpr int ButtonHeight = 25;

const char* const WelcomeLines[] = {
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
    "Cryoweaver is made by Quellmar for UOX3 shard operators and their players.",
    "Questions, ideas and bug reports are welcome on the project's issue tracker.",
    "The same actions are available without a window: run cryoweaver-cli --help.",
    "",
};

const char* const UpdateLines[] = {
    "Updates:",
    "Version 1: melting a block into the wsc-file and freezing TYPE 255 items back.",
    "Version 2: listing the items of a block with the \"GetStaticBlock\"-button.",
    "Version 3: the filenames are remembered between runs.",
    "Version 3.1: items outside the map are refused before any file is changed.",
    "Version 3.2: simple mode with step by step instructions for patching.",
};

struct GuideStep {
    const char* Lines[3];
};

const GuideStep GuideSteps[] = {
    {{"Please enter the path of your Staidx0.mul file in", "the left box. It will turn green when Cryoweaver",
        "found the file."}},
    {{"Please enter the path of your Statics0.mul file in", "the middle box. It will turn green when Cryoweaver",
        "found the file."}},
    {{"Please enter the path of the file you got from", "the server operator in the right box. It will",
        "turn green when Cryoweaver found the file."}},
    {{"Click on the \"GetStaticIndex\"-button to the right.", "This can take up to 30 seconds! Please wait until",
        "Cryoweaver has finished."}},
    {{"Click on the \"Freeze\"-button to the right.", "This can take up to some minutes! Please wait until",
        "Cryoweaver has finished."}},
    {{"Finished! You can now close Cryoweaver and connect to", "the server. Enjoy!", nullptr}},
};

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

// The colour of an edit is the only record of whether its file was found.
void SetValid(QLineEdit* edit, bool valid)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, valid ? ValidColor : InvalidColor);
    palette.setColor(QPalette::Text, Qt::white);
    edit->setPalette(palette);
}

bool IsGreen(const QLineEdit* edit)
{
    return edit->palette().color(QPalette::Base) == ValidColor;
}

bool IsRed(const QLineEdit* edit)
{
    return edit->palette().color(QPalette::Base) == InvalidColor;
}

// The name after the last folder separator (or drive colon on Windows).
std::string FileNamePart(const std::string& path)
{
#ifdef Q_OS_WIN
    const std::size_t cut = path.find_last_of("\\/:");
#else
    const std::size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool IsExistingFileNamed(const QString& path, const char* lowerCaseName)
{
    const std::string file = Utf8(path);
    return FileExists(file) && LowerCase(FileNamePart(file)) == lowerCaseName;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int x, int y)
{
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(QString::fromUtf8(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

template <typename Edit> Edit* MakeEdit(QWidget* parent, const char* name, const char* text, int x, int y, int width)
{
    auto* edit = new Edit(QString::fromUtf8(text), parent);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setGeometry(x, y, width, 21);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int x, int y)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(x, y, ButtonWidth, ButtonHeight);
    button->setEnabled(false);
    return button;
}

QListWidget* MakeListBox(QWidget* parent, const char* name)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromUtf8(name));
    list->setUniformItemSizes(true);
    return list;
}

} // namespace

void BlockEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit Exited();
}

// Log and progress of the core's work, shown in the window.
class TMainForm::WindowReporter final : public Reporter {
public:
    explicit WindowReporter(TMainForm& form)
        : form_(form)
    {
    }

    void Log(std::string_view line) override
    {
        form_.Log(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    }

    void SetProgress(int position) override { form_.SetProgress(position); }
    void SetProgressRepeated(int position, int) override { form_.SetProgress(position); }

    // The work after a warning line keeps the event loop from painting, so the
    // line is brought into view and painted here.
    void Flush() override
    {
        form_.LogListBox->scrollToBottom();
        form_.LogListBox->viewport()->repaint();
    }

private:
    TMainForm& form_;
};

const QString TMainForm::Caption = QStringLiteral("Cryoweaver (Version %1)").arg(QString::fromUtf8(VersionText));

TMainForm::TMainForm(settings::SettingsStore& store, UserDialogs& dialogs, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , store_(store)
    , dialogs_(dialogs)
    , reporter_(std::make_unique<WindowReporter>(*this))
    , staIdx_(std::make_unique<StaIdx>())
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Caption);
    // A small sans-serif face: the captions must fit buttons of 77 pixels.
    QFont windowFont = font();
    windowFont.setFamilies({QStringLiteral("Segoe UI"), QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
        QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    windowFont.setPixelSize(11);
    setFont(windowFont);
    setFixedSize(597, 425);
    BuildControls();
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildControls()
{
    FileNamePanel = new QWidget(this);
    FileNamePanel->setObjectName(QStringLiteral("FileNamePanel"));
    FileNamePanel->setGeometry(0, height() - 29, width(), 29);
    StaIdxLabel = MakeLabel(FileNamePanel, "StaIdxLabel", "StaIdx0.mul", 4, 8);
    StaIdxEdit = MakeEdit<QLineEdit>(FileNamePanel, "StaIdxEdit", "StaIdxEdit", 64, 4, 121);
    StaticsLabel = MakeLabel(FileNamePanel, "StaticsLabel", "Statics0.mul", 192, 8);
    StaticsEdit = MakeEdit<QLineEdit>(FileNamePanel, "StaticsEdit", "StaticsEdit", 256, 4, 121);
    WSCLabel = MakeLabel(FileNamePanel, "WSCLabel", "UOX3.wsc", 416, 8);
    WSCEdit = MakeEdit<QLineEdit>(FileNamePanel, "WSCEdit", "WSCEdit", 472, 4, 121);

    ButtonPanel = new QWidget(this);
    ButtonPanel->setObjectName(QStringLiteral("ButtonPanel"));
    ButtonPanel->setGeometry(width() - 85, 0, 85, height() - 29);
    XBlockLabel = MakeLabel(ButtonPanel, "XBlockLabel", "X", 5, 40);
    YBlockLabel = MakeLabel(ButtonPanel, "YBlockLabel", "Y", 4, 64);
    GetStaticIndexButton = MakeButton(ButtonPanel, "GetStaticIndexButton", "GetStaticIndex", 4, 4);
    GetStaticBlockButton = MakeButton(ButtonPanel, "GetStaticBlockButton", "GetStaticBlock", 4, 84);
    XBlockEdit = MakeEdit<BlockEdit>(ButtonPanel, "XBlockEdit", "0", 16, 36, 49);
    YBlockEdit = MakeEdit<BlockEdit>(ButtonPanel, "YBlockEdit", "0", 16, 60, 49);
    MeltBlockButton = MakeButton(ButtonPanel, "MeltBlockButton", "Melt!", 4, 112);
    FreezeWorldButton = MakeButton(ButtonPanel, "FreezeWorldButton", "Freeze!", 4, 144);
    XBlockUpDown = new UpDown(XBlockEdit, 0, MapXBlocks - 1, ButtonPanel);
    XBlockUpDown->setObjectName(QStringLiteral("XBlockUpDown"));
    XBlockUpDown->setGeometry(65, 36, 15, 21);
    YBlockUpDown = new UpDown(YBlockEdit, 0, MapYBlocks - 1, ButtonPanel);
    YBlockUpDown->setObjectName(QStringLiteral("YBlockUpDown"));
    YBlockUpDown->setGeometry(65, 60, 15, 21);
    SetBlockControlsEnabled(false);

    ModeGroupBox = new QGroupBox(QStringLiteral("Mode"), ButtonPanel);
    ModeGroupBox->setObjectName(QStringLiteral("ModeGroupBox"));
    ModeGroupBox->setGeometry(4, 344, 77, 49);
    // The frame starts at the middle of the caption, leaving room for both buttons.
    ModeGroupBox->setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
    NormalModeRadioButton = new QRadioButton(QStringLiteral("Normal"), ModeGroupBox);
    NormalModeRadioButton->setObjectName(QStringLiteral("NormalModeRadioButton"));
    NormalModeRadioButton->setGeometry(4, 12, 65, 17);
    NormalModeRadioButton->setChecked(true);
    SimpleModeRadioButton = new QRadioButton(QStringLiteral("Simple"), ModeGroupBox);
    SimpleModeRadioButton->setObjectName(QStringLiteral("SimpleModeRadioButton"));
    SimpleModeRadioButton->setGeometry(4, 28, 65, 17);

    // From the top: MainListBox, the splitter, LogListBox, ProgressBar.
    MainPanel = new QWidget(this);
    MainPanel->setObjectName(QStringLiteral("MainPanel"));
    MainPanel->setGeometry(0, 0, width() - 85, height() - 29);
    const int panelWidth = MainPanel->width();
    const int panelHeight = MainPanel->height();
    ProgressBar = new QProgressBar(MainPanel);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(0, panelHeight - 16, panelWidth, 16);
    LogListBox = MakeListBox(MainPanel, "LogListBox");
    LogListBox->setGeometry(0, ProgressBar->y() - 113, panelWidth, 113);
    MainListBox = MakeListBox(MainPanel, "MainListBox");
    MainListBox->setGeometry(0, 0, panelWidth, LogListBox->y() - 3);
    MainPanelSplitter = new PanelSplitter(MainListBox, LogListBox, 50, MainPanel);
    MainPanelSplitter->setObjectName(QStringLiteral("MainPanelSplitter"));
    MainPanelSplitter->setGeometry(0, LogListBox->y() - 3, panelWidth, 3);

    for (const char* line : WelcomeLines)
        MainListBox->addItem(QString::fromUtf8(line));
    MainListBox->addItem(QString(138, QLatin1Char('-')));
    for (const char* line : UpdateLines)
        MainListBox->addItem(QString::fromUtf8(line));

    setTabOrder(StaIdxEdit, StaticsEdit);
    setTabOrder(StaticsEdit, WSCEdit);
    setTabOrder(WSCEdit, GetStaticIndexButton);
    setTabOrder(GetStaticIndexButton, XBlockEdit);
    setTabOrder(XBlockEdit, YBlockEdit);
    setTabOrder(YBlockEdit, GetStaticBlockButton);
    setTabOrder(GetStaticBlockButton, MeltBlockButton);
    setTabOrder(MeltBlockButton, FreezeWorldButton);
    setTabOrder(FreezeWorldButton, NormalModeRadioButton);
    setTabOrder(NormalModeRadioButton, SimpleModeRadioButton);
    setTabOrder(SimpleModeRadioButton, LogListBox);
    setTabOrder(LogListBox, MainListBox);

    // The initial texts above are set before the checks are connected, so the
    // edits keep their default colour until the stored names arrive.
    connect(StaIdxEdit, &QLineEdit::textChanged, this, [this] { Guarded([this] { StaIdxEditChange(); }); });
    connect(StaticsEdit, &QLineEdit::textChanged, this, [this] { Guarded([this] { StaticsEditChange(); }); });
    connect(WSCEdit, &QLineEdit::textChanged, this, [this] { Guarded([this] { WSCEditChange(); }); });
    connect(GetStaticIndexButton, &QPushButton::clicked, this,
        [this] { Guarded([this] { GetStaticIndexButtonClick(); }); });
    connect(GetStaticBlockButton, &QPushButton::clicked, this,
        [this] { Guarded([this] { GetStaticBlockButtonClick(); }); });
    connect(MeltBlockButton, &QPushButton::clicked, this, [this] { Guarded([this] { MeltBlockButtonClick(); }); });
    connect(FreezeWorldButton, &QPushButton::clicked, this, [this] { Guarded([this] { FreezeWorldButtonClick(); }); });
    connect(XBlockEdit, &BlockEdit::Exited, this, [this] { Guarded([this] { XBlockEditExit(); }); });
    connect(YBlockEdit, &BlockEdit::Exited, this, [this] { Guarded([this] { YBlockEditExit(); }); });
    // Checking a button from the program reports as a click too; ModeLoading
    // tells the two apart.
    connect(NormalModeRadioButton, &QRadioButton::toggled, this,
        [this] { Guarded([this] { NormalModeRadioButtonClick(); }); });
    connect(SimpleModeRadioButton, &QRadioButton::toggled, this,
        [this] { Guarded([this] { SimpleModeRadioButtonClick(); }); });
}

void TMainForm::Log(const QString& line)
{
    LogListBox->addItem(line);
}

void TMainForm::SetProgress(int position)
{
    // Loading the index reports every record; the bar only hears of changes.
    if (position != ProgressBar->value())
        ProgressBar->setValue(position);
}

void TMainForm::Guarded(const std::function<void()>& handler)
{
    const int logLines = LogListBox->count();
    try {
        handler();
    } catch (const std::exception& error) {
        ShowError(error.what());
    }
    if (LogListBox->count() != logLines)
        LogListBox->scrollToBottom();
}

void TMainForm::ShowError(const char* message)
{
    dialogs_.ShowError(QString::fromStdString(WithFullStop(message)));
}

WorldFiles TMainForm::Files() const
{
    return WorldFiles{Utf8(StaIdxEdit->text()), Utf8(StaticsEdit->text()), Utf8(WSCEdit->text())};
}

void TMainForm::SetBlockControlsEnabled(bool enabled)
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             XBlockEdit, XBlockUpDown, YBlockEdit, YBlockUpDown, GetStaticBlockButton, MeltBlockButton})
        control->setEnabled(enabled);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous() && !shown_) {
        shown_ = true;
        Guarded([this] { FormShow(); });
    }
}

void TMainForm::FormShow()
{
    ModeLoading = true;
    // Even when loading fails the buttons answer clicks afterwards.
    struct LoadingDone {
        bool& flag;
        ~LoadingDone() { flag = false; }
    } loadingDone{ModeLoading};

    const settings::FileNames names = settings::LoadFileNames(store_);
    SimpleMode = settings::LoadMode(
        store_, [this](const QString& caption, const QString& text) { return dialogs_.AskYesNo(caption, text); });
    if (SimpleMode == 0) {
        NormalModeRadioButton->setChecked(true);
        setWindowTitle(Caption + QStringLiteral(" (Normal mode)"));
    } else if (SimpleMode == 1) {
        SimpleModeRadioButton->setChecked(true);
        setWindowTitle(Caption + QStringLiteral(" (Simple mode)"));
    }
    StaIdxEdit->setText(names.StaIdx);
    StaticsEdit->setText(names.Statics);
    WSCEdit->setText(names.Wsc);
}

void TMainForm::StaIdxEditChange()
{
    SetValid(StaIdxEdit, IsExistingFileNamed(StaIdxEdit->text(), "staidx0.mul"));
    UpdateButtons();
    UpdateSimpleModeHelp();
}

void TMainForm::StaticsEditChange()
{
    SetValid(StaticsEdit, IsExistingFileNamed(StaticsEdit->text(), "statics0.mul"));
    UpdateButtons();
    UpdateSimpleModeHelp();
}

void TMainForm::WSCEditChange()
{
    SetValid(WSCEdit, FileExists(Utf8(WSCEdit->text())));
    UpdateButtons();
    UpdateSimpleModeHelp();
}

void TMainForm::UpdateButtons()
{
    if (IsGreen(StaIdxEdit) && IsGreen(StaticsEdit) && IsGreen(WSCEdit)) {
        settings::SaveFileNames(store_, {StaIdxEdit->text(), StaticsEdit->text(), WSCEdit->text()});
        const bool loaded = staIdx_->StaIdxLoaded;
        GetStaticIndexButton->setEnabled(!loaded);
        SetBlockControlsEnabled(loaded);
        FreezeWorldButton->setEnabled(loaded);
    } else {
        GetStaticIndexButton->setEnabled(false);
        SetBlockControlsEnabled(false);
        FreezeWorldButton->setEnabled(false);
    }
    if (SimpleMode == 1) {
        SetBlockControlsEnabled(false);
        if (WorldFrozen)
            FreezeWorldButton->setEnabled(false);
    }
}

void TMainForm::UpdateSimpleModeHelp()
{
    if (SimpleMode != 1)
        return;
    int step = 5;
    if (IsRed(StaIdxEdit))
        step = 0;
    else if (IsRed(StaticsEdit))
        step = 1;
    else if (IsRed(WSCEdit))
        step = 2;
    else if (!staIdx_->StaIdxLoaded)
        step = 3;
    else if (!WorldFrozen)
        step = 4;
    MainListBox->clear();
    for (const char* line : GuideSteps[step].Lines) {
        if (line)
            MainListBox->addItem(QString::fromUtf8(line));
    }
}

void TMainForm::GetStaticIndexButtonClick()
{
    LogInitStart(*reporter_);
    LoadStaIdx(Utf8(StaIdxEdit->text()), *staIdx_, *reporter_);
    // The index in memory belongs to these two files from now on.
    StaIdxEdit->setEnabled(false);
    StaticsEdit->setEnabled(false);
    UpdateButtons();
    UpdateSimpleModeHelp();
    LogInitDone(*reporter_);
}

void TMainForm::GetStaticBlockButtonClick()
{
    const std::vector<std::string> lines = ListStaticBlock(
        Utf8(StaticsEdit->text()), *staIdx_, Utf8(XBlockEdit->text()), Utf8(YBlockEdit->text()), *reporter_);
    MainListBox->clear();
    for (const std::string& line : lines)
        MainListBox->addItem(QString::fromStdString(line));
}

void TMainForm::MeltBlockButtonClick()
{
    RunMelt(Files(), Utf8(XBlockEdit->text()), Utf8(YBlockEdit->text()), *staIdx_, *reporter_);
}

void TMainForm::FreezeWorldButtonClick()
{
    RunFreeze(Files(), *staIdx_, *reporter_);
    // Takes effect at the next change of a file-name edit.
    WorldFrozen = true;
}

namespace {

void ClampToRange(QLineEdit* edit, const UpDown* upDown)
{
    const int value = StrToInt(Utf8(edit->text()));
    if (value > upDown->Maximum())
        edit->setText(QString::number(upDown->Maximum()));
    if (value < upDown->Minimum())
        edit->setText(QString::number(upDown->Minimum()));
}

} // namespace

void TMainForm::XBlockEditExit()
{
    ClampToRange(XBlockEdit, XBlockUpDown);
}

void TMainForm::YBlockEditExit()
{
    ClampToRange(YBlockEdit, YBlockUpDown);
}

void TMainForm::NormalModeRadioButtonClick()
{
    if (NormalModeRadioButton->isChecked() && !ModeLoading) {
        settings::SaveMode(store_, 0);
        dialogs_.ShowNotice(QStringLiteral("Normal mode selected"), ModeChangedText);
    }
}

void TMainForm::SimpleModeRadioButtonClick()
{
    if (SimpleModeRadioButton->isChecked() && !ModeLoading) {
        settings::SaveMode(store_, 1);
        dialogs_.ShowNotice(QStringLiteral("Simple mode selected"), ModeChangedText);
    }
}

} // namespace cryo::app
