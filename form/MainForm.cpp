#include "MainForm.h"

#include "Actions.h"
#include "Convert.h"
#include "File.h"
#include "MapSizes.h"
#include "StoredSettings.h"
#include "Text.h"
#include "Undo.h"
#include "Version.h"

#include <exception>

namespace cryo::form {

namespace {

const char* const ModeChangedText = "The new mode will be active the next time you start Cryoweaver.";

const char* const GuideSteps[][3] = {
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
    {"Finished! You can now close Cryoweaver and connect to", "the server. Enjoy!", nullptr},
};

// The three file-name edits, their browse buttons and what each expects.
struct FileBox {
    Control Edit;
    Control Browse;
    std::optional<StaticsFileKind> Kind; // a statics file of map 0 to 5, or any name
    const char* NameRule;
    const char* BrowseTitle;
    bool TakesFolder = false; // the server's shared folder is a world save too
};

const FileBox FileBoxes[] = {
    {Control::StaIdxEdit, Control::StaIdxBrowseButton, StaticsFileKind::Index,
        "The name must be StaIdx0.mul to StaIdx5.mul.", "Where is StaIdx0.mul?"},
    {Control::StaticsEdit, Control::StaticsBrowseButton, StaticsFileKind::Data,
        "The name must be Statics0.mul to Statics5.mul.", "Where is Statics0.mul?"},
    {Control::WSCEdit, Control::WSCBrowseButton, std::nullopt, "", "Where is the world save (UOX3.wsc)?", true},
};

bool NameFits(const std::string& path, const FileBox& box)
{
    return box.Kind && StaticsMapNumber(path, *box.Kind).has_value();
}

const Control BlockControls[] = {Control::XBlockEdit, Control::XBlockUpDown, Control::YBlockEdit, Control::YBlockUpDown,
    Control::GetStaticBlockButton, Control::MeltBlockButton};

int BoxNumber(Control edit)
{
    switch (edit) {
    case Control::StaIdxEdit:
        return 0;
    case Control::StaticsEdit:
        return 1;
    case Control::WSCEdit:
        return 2;
    default:
        return -1;
    }
}

// The name after the last folder separator (or drive colon on Windows).
std::string FileNamePart(const std::string& path)
{
#ifdef _WIN32
    const std::size_t cut = path.find_last_of("\\/:");
#else
    const std::size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FolderPart(const std::string& path)
{
    const std::string name = FileNamePart(path);
    return path.substr(0, path.size() - name.size());
}

// Why the path does not do for the box; empty when it does.
std::string Complaint(const std::string& path, const FileBox& box)
{
    if (path.empty())
        return "No file given.";
    if (box.TakesFolder && FolderExists(path))
        return {};
    if (!FileExists(path))
        return PathExists(path) ? "This is a folder, not a file." : "No such file.";
    if (box.Kind && !NameFits(path, box))
        return box.NameRule;
    return {};
}

} // namespace

// Log and progress of the core's work, shown in the window.
class TMainForm::ViewReporter final : public Reporter {
public:
    explicit ViewReporter(FormView& view)
        : view_(view)
    {
    }

    void Log(std::string_view line) override { view_.AddLogLine(std::string(line)); }

    // Loading the index reports every record; the window hears only of changes.
    void SetProgress(int position) override
    {
        if (position != position_) {
            position_ = position;
            view_.SetProgress(position);
        }
    }
    void SetProgressRepeated(int position, int times) override
    {
        if (times > 0)
            SetProgress(position);
    }
    void Flush() override { view_.RepaintLog(); }

    void Reset()
    {
        position_ = 0;
        view_.SetProgress(0);
    }

private:
    FormView& view_;
    int position_ = 0;
};

TMainForm::TMainForm(FormView& view, settings::SettingsStore& store)
    : view_(view)
    , store_(store)
    , reporter_(std::make_unique<ViewReporter>(view))
    , staIdx_(std::make_unique<StaIdx>())
{
}

TMainForm::~TMainForm() = default;

std::string TMainForm::Caption()
{
    return std::string("Cryoweaver (Version ") + VersionText + ")";
}

const std::vector<std::string>& TMainForm::WelcomeLines()
{
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> text = {
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
            "Paths can also be chosen with the buttons beside the boxes, or by dropping files on the window.",
            "",
            std::string(138, '-'),
            "Updates:",
            "Version 1: melting a block into the wsc-file and freezing TYPE 255 items back.",
            "Version 2: listing the items of a block with the \"GetStaticBlock\"-button.",
            "Version 3: the filenames are remembered between runs.",
            "Version 3.1: items outside the map are refused before any file is changed.",
            "Version 3.2: simple mode with step by step instructions for patching.",
        };
        return text;
    }();
    return lines;
}

void TMainForm::Initialize()
{
    view_.SetCaption(Caption());
    view_.SetBlockRanges(staIdx_->Width() - 1, staIdx_->Height() - 1);
    view_.SetText(Control::StaIdxEdit, "StaIdxEdit");
    view_.SetText(Control::StaticsEdit, "StaticsEdit");
    view_.SetText(Control::WSCEdit, "WSCEdit");
    view_.SetText(Control::XBlockEdit, "0");
    view_.SetText(Control::YBlockEdit, "0");
    for (const FileBox& box : FileBoxes) {
        view_.SetEditColor(box.Edit, EditColor::Default, {});
        view_.SetEnabled(box.Edit, true);
        view_.SetEnabled(box.Browse, true);
    }
    view_.SetEnabled(Control::GetStaticIndexButton, false);
    SetBlockControlsEnabled(false);
    view_.SetEnabled(Control::FreezeWorldButton, false);
    view_.SetChecked(Control::NormalModeRadioButton, true);
    view_.SetChecked(Control::SimpleModeRadioButton, false);
    view_.ReplaceMainList(WelcomeLines());
    reporter_->Reset();
}

EditColor TMainForm::ColorOf(Control edit) const
{
    const int box = BoxNumber(edit);
    return box < 0 ? EditColor::Default : colors_[static_cast<std::size_t>(box)];
}

void TMainForm::Guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        view_.ShowError(WithFullStop(error.what()), ErrorDetail(error));
    }
}

void TMainForm::Operation(const std::function<void()>& work)
{
    // A click that waited in the queue while the last operation ran is no
    // request for a second one.
    if (running_)
        return;
    running_ = true;
    Guarded(work);
    view_.DiscardQueuedInput();
    running_ = false;
}

void TMainForm::FormShow()
{
    Guarded([this] {
        modeLoading_ = true;
        // Even when loading fails the radio buttons answer clicks afterwards.
        struct LoadingDone {
            bool& flag;
            ~LoadingDone() { flag = false; }
        } loadingDone{modeLoading_};

        const settings::FileNames names = settings::LoadFileNames(store_);
        simpleMode_ = settings::LoadMode(store_,
            [this](const std::string& caption, const std::string& text) { return view_.AskYesNo(caption, text); });
        if (simpleMode_ == 0) {
            view_.SetChecked(Control::NormalModeRadioButton, true);
            view_.SetChecked(Control::SimpleModeRadioButton, false);
            checkedMode_ = Control::NormalModeRadioButton;
            view_.SetCaption(Caption() + " (Normal mode)");
        } else if (simpleMode_ == 1) {
            view_.SetChecked(Control::SimpleModeRadioButton, true);
            view_.SetChecked(Control::NormalModeRadioButton, false);
            checkedMode_ = Control::SimpleModeRadioButton;
            view_.SetCaption(Caption() + " (Simple mode)");
        }
        view_.SetText(Control::StaIdxEdit, names.StaIdx);
        StaIdxEditChange();
        view_.SetText(Control::StaticsEdit, names.Statics);
        StaticsEditChange();
        view_.SetText(Control::WSCEdit, names.Wsc);
        WSCEditChange();
    });
}

void TMainForm::Changed(Control control)
{
    switch (control) {
    case Control::StaIdxEdit:
        return Guarded([this] { StaIdxEditChange(); });
    case Control::StaticsEdit:
        return Guarded([this] { StaticsEditChange(); });
    case Control::WSCEdit:
        return Guarded([this] { WSCEditChange(); });
    default:
        return;
    }
}

void TMainForm::Clicked(Control control)
{
    switch (control) {
    case Control::GetStaticIndexButton:
        return GetStaticIndexButtonClick();
    case Control::GetStaticBlockButton:
        return GetStaticBlockButtonClick();
    case Control::MeltBlockButton:
        return MeltBlockButtonClick();
    case Control::FreezeWorldButton:
        return FreezeWorldButtonClick();
    case Control::NormalModeRadioButton:
        return NormalModeRadioButtonClick();
    case Control::SimpleModeRadioButton:
        return SimpleModeRadioButtonClick();
    case Control::StaIdxBrowseButton:
        return BrowseButtonClick(Control::StaIdxEdit);
    case Control::StaticsBrowseButton:
        return BrowseButtonClick(Control::StaticsEdit);
    case Control::WSCBrowseButton:
        return BrowseButtonClick(Control::WSCEdit);
    default:
        return;
    }
}

void TMainForm::Exited(Control control)
{
    if (control == Control::XBlockEdit)
        XBlockEditExit();
    else if (control == Control::YBlockEdit)
        YBlockEditExit();
}

void TMainForm::CheckFileName(Control edit)
{
    const FileBox& box = FileBoxes[BoxNumber(edit)];
    const std::string complaint = Complaint(view_.Text(edit), box);
    const EditColor color = complaint.empty() ? EditColor::Green : EditColor::Red;
    colors_[static_cast<std::size_t>(BoxNumber(edit))] = color;
    view_.SetEditColor(edit, color, complaint);
}

void TMainForm::StaIdxEditChange()
{
    CheckFileName(Control::StaIdxEdit);
    UpdateButtons();
    UpdateSimpleModeHelp();
}

void TMainForm::StaticsEditChange()
{
    CheckFileName(Control::StaticsEdit);
    UpdateButtons();
    UpdateSimpleModeHelp();
}

void TMainForm::WSCEditChange()
{
    CheckFileName(Control::WSCEdit);
    UpdateButtons();
    UpdateSimpleModeHelp();
}

void TMainForm::SetBlockControlsEnabled(bool enabled)
{
    for (const Control control : BlockControls)
        view_.SetEnabled(control, enabled);
}

void TMainForm::UpdateButtons()
{
    if (IsGreen(Control::StaIdxEdit) && IsGreen(Control::StaticsEdit) && IsGreen(Control::WSCEdit)) {
        settings::SaveFileNames(
            store_, {view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), view_.Text(Control::WSCEdit)});
        const bool loaded = staIdx_->StaIdxLoaded;
        view_.SetEnabled(Control::GetStaticIndexButton, !loaded);
        SetBlockControlsEnabled(loaded);
        view_.SetEnabled(Control::FreezeWorldButton, loaded);
    } else {
        view_.SetEnabled(Control::GetStaticIndexButton, false);
        SetBlockControlsEnabled(false);
        view_.SetEnabled(Control::FreezeWorldButton, false);
    }
    if (simpleMode_ == 1) {
        SetBlockControlsEnabled(false);
        if (worldFrozen_)
            view_.SetEnabled(Control::FreezeWorldButton, false);
    }
}

void TMainForm::UpdateSimpleModeHelp()
{
    if (simpleMode_ != 1)
        return;
    int step = 5;
    if (IsRed(Control::StaIdxEdit))
        step = 0;
    else if (IsRed(Control::StaticsEdit))
        step = 1;
    else if (IsRed(Control::WSCEdit))
        step = 2;
    else if (!staIdx_->StaIdxLoaded)
        step = 3;
    else if (!worldFrozen_)
        step = 4;
    std::vector<std::string> lines;
    for (const char* line : GuideSteps[step]) {
        if (line != nullptr)
            lines.emplace_back(line);
    }
    view_.ReplaceMainList(lines);
}

void TMainForm::LockIndexFiles()
{
    // The index in memory belongs to these two files from now on.
    indexFilesLocked_ = true;
    for (const Control control :
        {Control::StaIdxEdit, Control::StaIdxBrowseButton, Control::StaticsEdit, Control::StaticsBrowseButton})
        view_.SetEnabled(control, false);
}

void TMainForm::GetStaticIndexButtonClick()
{
    Operation([this] {
        const std::string staIdxPath = view_.Text(Control::StaIdxEdit);
        const int map = MapOfStaticsFiles(staIdxPath, view_.Text(Control::StaticsEdit));
        LogInitStart(*reporter_);
        {
            const LockedWorld locked(Files(), *reporter_);
            LoadStaIdx(staIdxPath, *staIdx_, *reporter_, {map, std::nullopt});
        }
        view_.SetBlockRanges(staIdx_->Width() - 1, staIdx_->Height() - 1);
        LockIndexFiles();
        UpdateButtons();
        UpdateSimpleModeHelp();
        LogInitDone(*reporter_);
        // The focus leaves the button that is now disabled, and never for the
        // mode buttons, where an arrow key would switch the mode.
        view_.SetFocus(simpleMode_ == 1 ? Control::FreezeWorldButton : Control::XBlockEdit);
    });
}

void TMainForm::GetStaticBlockButtonClick()
{
    Operation([this] {
        const std::vector<std::string> lines = ListStaticBlock(view_.Text(Control::StaticsEdit), *staIdx_,
            view_.Text(Control::XBlockEdit), view_.Text(Control::YBlockEdit), *reporter_);
        view_.ReplaceMainList(lines);
    });
}

void TMainForm::MeltBlockButtonClick()
{
    Operation([this] {
        const WorldFiles files = Files();
        const LockedWorld locked(files, *reporter_);
        ReloadIfChanged(files, *staIdx_, *reporter_);
        RunMelt(files, view_.Text(Control::XBlockEdit), view_.Text(Control::YBlockEdit), *staIdx_, *reporter_);
    });
}

void TMainForm::FreezeWorldButtonClick()
{
    Operation([this] {
        const WorldFiles files = Files();
        const LockedWorld locked(files, *reporter_);
        ReloadIfChanged(files, *staIdx_, *reporter_);
        RunFreeze(files, *staIdx_, *reporter_);
        // Takes effect at the next change of a file-name edit.
        worldFrozen_ = true;
    });
}

void TMainForm::MenuChosen(MenuItem item)
{
    switch (item) {
    case MenuItem::UndoLastOperation:
        return OnUndo();
    case MenuItem::CheckFiles:
        return OnCheckFiles();
    case MenuItem::CompactStatics:
        return OnCompactStatics();
    case MenuItem::About:
        return OnAbout();
    }
}

void TMainForm::OnUndo()
{
    Operation([this] {
        const WorldFiles files = Files();
        const std::vector<HistoryEntry> operations = UndoableOperations(files);
        if (operations.empty()) {
            view_.ShowNotice(ApplicationTitle, "No melt, freeze or compact of these files can be undone.");
            return;
        }
        if (!view_.AskYesNo(ApplicationTitle, "Undo " + Described(operations.front()) + "?"))
            return;
        UndoLastOperation(files, *reporter_);
        ReloadIfChanged(files, *staIdx_, *reporter_);
    });
}

void TMainForm::OnAbout()
{
    view_.ShowNotice("About " + std::string(ApplicationTitle),
        Caption() + "\nMoves the fixed objects of a UOX3 world between the statics files and the world save.");
}

void TMainForm::OnCheckFiles()
{
    Operation([this] {
        const WorldFiles files = Files();
        RecoverBeforeReading(files, *reporter_);
        auto table = std::make_unique<StaIdx>();
        LoadStaIdx(files.StaIdx, *table, *reporter_, {MapOfStaticsFiles(files.StaIdx, files.Statics), std::nullopt});
        RunCheck(files, *table, *reporter_);
    });
}

void TMainForm::OnCompactStatics()
{
    Operation([this] {
        const WorldFiles files{view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), {}};
        if (!view_.AskYesNo(ApplicationTitle,
                "Compact " + files.Statics + " and " + files.StaIdx
                    + "? Both are rewritten without the room that old copies of blocks take."))
            return;
        const LockedWorld locked(files, *reporter_);
        // The loaded index follows the files it belongs to.
        if (staIdx_->StaIdxLoaded) {
            ReloadIfChanged(files, *staIdx_, *reporter_);
            RunCompact(files, *staIdx_, *reporter_);
            return;
        }
        auto table = std::make_unique<StaIdx>();
        LoadStaIdx(files.StaIdx, *table, *reporter_, {MapOfStaticsFiles(files.StaIdx, files.Statics), std::nullopt});
        RunCompact(files, *table, *reporter_);
    });
}

WorldFiles TMainForm::Files() const
{
    return {view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), view_.Text(Control::WSCEdit)};
}

void TMainForm::ClampToRange(Control edit, int maximum)
{
    Guarded([&] {
        const int value = StrToInt(view_.Text(edit));
        if (value > maximum)
            view_.SetText(edit, std::to_string(maximum));
        if (value < 0)
            view_.SetText(edit, "0");
    });
}

void TMainForm::XBlockEditExit()
{
    ClampToRange(Control::XBlockEdit, staIdx_->Width() - 1);
}

void TMainForm::YBlockEditExit()
{
    ClampToRange(Control::YBlockEdit, staIdx_->Height() - 1);
}

void TMainForm::ModeChosen(Control radioButton, std::uint8_t mode, const char* caption)
{
    // Clicking the button that is checked already changes nothing.
    if (checkedMode_ == radioButton)
        return;
    checkedMode_ = radioButton;
    if (modeLoading_)
        return;
    Guarded([&] {
        settings::SaveMode(store_, mode);
        view_.ShowNotice(caption, ModeChangedText);
    });
}

void TMainForm::NormalModeRadioButtonClick()
{
    ModeChosen(Control::NormalModeRadioButton, 0, "Normal mode selected");
}

void TMainForm::SimpleModeRadioButtonClick()
{
    ModeChosen(Control::SimpleModeRadioButton, 1, "Simple mode selected");
}

void TMainForm::SetFileName(Control edit, const std::string& path)
{
    view_.SetText(edit, path);
    Changed(edit);
}

void TMainForm::BrowseButtonClick(Control edit)
{
    const int box = BoxNumber(edit);
    if (box < 0 || (indexFilesLocked_ && edit != Control::WSCEdit))
        return;
    const std::optional<std::string> path = view_.AskFileName(FileBoxes[box].BrowseTitle, FolderPart(view_.Text(edit)));
    if (path)
        SetFileName(edit, *path);
}

void TMainForm::FilesDropped(const std::vector<std::string>& paths, std::optional<Control> target)
{
    for (const std::string& path : paths) {
        Control edit = Control::WSCEdit;
        if (target) {
            edit = *target;
        } else {
            for (const FileBox& box : FileBoxes) {
                if (NameFits(path, box))
                    edit = box.Edit;
            }
        }
        if (BoxNumber(edit) >= 0 && !(indexFilesLocked_ && edit != Control::WSCEdit))
            SetFileName(edit, path);
        // A box takes one file.
        if (target)
            return;
    }
}

} // namespace cryo::form
