#include "MainForm.h"

#include "Actions.h"
#include "ApplyPatch.h"
#include "ClientFolder.h"
#include "Commit.h"
#include "Convert.h"
#include "Error.h"
#include "File.h"
#include "Freeze.h"
#include "FreezeMarks.h"
#include "History.h"
#include "Interrupt.h"
#include "ItemSaveFiles.h"
#include "MakePatch.h"
#include "MapPicture.h"
#include "MapSizes.h"
#include "PatchFormat.h"
#include "StoredSettings.h"
#include "Text.h"
#include "Undo.h"
#include "Version.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <set>

namespace cryo::form {

namespace {

const char* const ModeChangedText = "The new mode will be active the next time you start Cryoweaver.";
// Why the window's operation stopped, as "Stopped by ...; no file was changed".
const char* const CancelReason = "the Cancel button";

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

// What the world-save box's browse button offers.
const std::vector<std::string> WorldSaveChoices
    = {"A world-save file (UOX3.wsc)...", "The shared folder of today's UOX3..."};
const char* const SharedFolderTitle = "Where is the server's shared folder?";
const char* const PatchInNormalMode = "This is a players' patch: apply it with Tools, Apply patch...";

// The index's map: the server's, or the number in the files' names.
IndexMap MapFor(const WorldFiles& files, const std::optional<IndexMap>& server)
{
    return server ? *server : IndexMap{MapOfStaticsFiles(files.StaIdx, files.Statics), std::nullopt};
}

bool NameFits(const std::string& path, const FileBox& box)
{
    return box.Kind && StaticsMapNumber(path, *box.Kind).has_value();
}

// The controls that pick a block and act on it.
const Control BlockControls[] = {Control::PositionEdit, Control::XBlockEdit, Control::XBlockUpDown, Control::YBlockEdit,
    Control::YBlockUpDown, Control::GetStaticBlockButton, Control::MeltBlockButton};

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

// "2026-12-07T06:40:12Z" as the user's clock showed it: "2026-12-07 07:40".
std::string LocalTimeOf(const std::string& utc)
{
    std::tm when{};
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &when.tm_year, &when.tm_mon, &when.tm_mday, &when.tm_hour,
            &when.tm_min, &when.tm_sec)
        != 6)
        return utc;
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    std::tm local{};
#ifdef _WIN32
    const std::time_t time = ::_mkgmtime(&when);
    const bool converted = time != -1 && ::localtime_s(&local, &time) == 0;
#else
    const std::time_t time = ::timegm(&when);
    const bool converted = time != -1 && ::localtime_r(&time, &local) != nullptr;
#endif
    char text[32] = {};
    if (!converted || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0)
        return utc;
    return text;
}

std::string NothingToUndo(const WorldFiles& files)
{
    return "No melt, freeze, compact or apply of " + files.StaIdx + " can be undone.";
}

// The files an operation replaced or appended to, which its undo puts back.
std::vector<std::string> FilesOf(const HistoryEntry& operation)
{
    std::vector<std::string> files;
    for (const HistoryFile& file : operation.Files)
        files.push_back(file.Target);
    if (!operation.Statics.empty() && std::find(files.begin(), files.end(), operation.Statics) == files.end())
        files.push_back(operation.Statics);
    return files;
}

// "X,Y" as /where shows it; "X, Y", "X Y" and a third number (Z) do as well.
TilePosition PositionOf(const std::string& text)
{
    std::vector<std::string> numbers;
    std::string number;
    for (const char c : text + " ") {
        if (c == ',' || static_cast<unsigned char>(c) <= 32) {
            if (!number.empty())
                numbers.push_back(number);
            number.clear();
        } else {
            number += c;
        }
    }
    if (numbers.size() == 2 || numbers.size() == 3) {
        try {
            return ParsePosition(numbers[0] + "," + numbers[1]);
        } catch (const Error&) {
        }
    }
    // Raises the error about the text as it was given.
    return ParsePosition(text);
}

// The world save's files, each with its identity: what the marks of the
// items to freeze were found in. Empty when there is none to be read.
std::vector<std::pair<std::string, FileIdentity>> WorldSaveStamp(const std::string& path)
{
    std::vector<std::pair<std::string, FileIdentity>> stamp;
    if (path.empty())
        return stamp;
    try {
        for (const std::string& file : FolderExists(path) ? FreezeFiles(path) : std::vector<std::string>{path})
            if (FileExists(file))
                stamp.emplace_back(file, IdentityOf(file));
    } catch (const std::exception&) {
    }
    return stamp;
}

} // namespace

// After an operation's work, under its locks, whether it succeeded or not:
// notes the statics file as it is now, and reads the block the main list
// shows again where the work changed its entry.
class TMainForm::KeepingUpToDate {
public:
    KeepingUpToDate(TMainForm& form, const WorldFiles& files)
        : form_(form)
        , files_(files)
    {
        if (form_.staIdx_->StaIdxLoaded)
            before_ = *form_.staIdx_;
    }
    ~KeepingUpToDate()
    {
        // A stop asked for meanwhile has stopped the operation already.
        const interrupt::Deferral deferral;
        try {
            if (!form_.staIdx_->StaIdxLoaded)
                return;
            form_.staticsSeen_ = IdentityOf(files_.Statics);
            NoteChangedBlocks();
            const StaIdx& table = *form_.staIdx_;
            // Quietly: the bar shows the operation's end.
            if (form_.watchedArea_ && AreaChanged(*form_.watchedArea_))
                form_.relisted_ = ListStaticArea(files_.Statics, table, *form_.watchedArea_, quiet_);
            if (!form_.watched_)
                return;
            const auto [x, y] = *form_.watched_;
            if (x < table.Width() && y < table.Height() && (table.At(x, y) != form_.watchedEntry_ || form_.changedAll_))
                form_.relisted_ = ListStaticBlock(files_.Statics, table, std::to_string(x), std::to_string(y), quiet_);
        } catch (...) {
            // Nothing here is the user's operation; the next one checks again.
        }
    }
    KeepingUpToDate(const KeepingUpToDate&) = delete;
    KeepingUpToDate& operator=(const KeepingUpToDate&) = delete;

private:
    // Whether the operation changed an entry of a block the area touches, or
    // may have changed any block.
    bool AreaChanged(const TileArea& area) const
    {
        const StaIdx& table = *form_.staIdx_;
        if (form_.changedAll_)
            return true;
        const BlockArea blocks = BlocksTouching(area, table.Size());
        for (int x = blocks.X; x < blocks.X + blocks.Width; ++x)
            for (int y = blocks.Y; y < blocks.Y + blocks.Height; ++y)
                if (table.Entries[table.Number(x, y)] != before_->Entries[table.Number(x, y)])
                    return true;
        return false;
    }

    // The map pane draws again the tiles whose blocks changed, and marks the
    // items a freeze would take as they are now: after a change of blocks, or
    // of the world save (by this operation, or another program before it).
    void NoteChangedBlocks()
    {
        const StaIdx& table = *form_.staIdx_;
        if (!before_ || before_->Size() != table.Size()) {
            form_.changedAll_ = true;
        } else {
            std::set<std::pair<int, int>> tiles;
            for (std::size_t i = 0; i < table.Entries.size(); ++i) {
                if (table.Entries[i] != before_->Entries[i])
                    tiles.emplace(static_cast<int>(i) / table.Height() / MapPane::TileBlocks,
                        static_cast<int>(i) % table.Height() / MapPane::TileBlocks);
            }
            for (const auto& [column, row] : tiles)
                form_.changedTiles_.push_back({column * MapPane::TileBlocks, row * MapPane::TileBlocks,
                    MapPane::TileBlocks, MapPane::TileBlocks});
        }
        if (form_.changedAll_ || !form_.changedTiles_.empty()
            || (!files_.Wsc.empty() && WorldSaveStamp(files_.Wsc) != form_.marksFrom_))
            form_.FindPaneData(files_, table, false);
    }

    TMainForm& form_;
    const WorldFiles& files_;
    NullReporter quiet_;
    std::optional<StaIdx> before_;
};

TMainForm::TMainForm(FormView& view, settings::SettingsStore& store)
    : view_(view)
    , store_(store)
    , staIdx_(std::make_unique<StaIdx>())
    , mapSize_(staIdx_->Size())
{
    pane_.SetSource([this](const std::vector<MapPane::TileRequest>& tiles) { return DrawPaneTiles(tiles); });
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
    view_.SetBlockRanges(mapSize_.Width - 1, mapSize_.Height - 1);
    // Empty until the stored names arrive: a box never shows a control's name.
    for (const FileBox& box : FileBoxes) {
        view_.SetText(box.Edit, "");
        view_.SetEditColor(box.Edit, EditColor::Default, {});
    }
    view_.SetText(Control::PositionEdit, "");
    view_.SetText(Control::XBlockEdit, "0");
    view_.SetText(Control::YBlockEdit, "0");
    view_.SetText(Control::ModeNoteLabel, "");
    view_.SetChecked(Control::NormalModeRadioButton, true);
    view_.SetChecked(Control::SimpleModeRadioButton, false);
    view_.SetChecked(Control::DryRunCheckBox, false);
    UpdateControls();
    ReplaceMainList(WelcomeLines());
    view_.SetProgress(0);
}

EditColor TMainForm::ColorOf(Control edit) const
{
    const int box = BoxNumber(edit);
    return box < 0 ? EditColor::Default : colors_[static_cast<std::size_t>(box)];
}

void TMainForm::ReportError(const std::exception& error)
{
    // A stop the user asked for is no error: the log says what became of the files.
    if (dynamic_cast<const StopError*>(&error) != nullptr) {
        view_.AddLogLines({ErrorLine(error)});
        return;
    }
    view_.AddLogLines({"Error: " + ErrorLine(error)});
    view_.ShowError(WithFullStop(error.what()), ErrorDetail(error));
}

void TMainForm::Guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        ReportError(error);
    }
}

void TMainForm::Start(Job job)
{
    if (running_)
        return;
    // A stop asked for before this run, or after the last one had ended, is
    // no request to stop this one.
    interrupt::Clear();
    running_ = true;
    cancelled_ = false;
    failure_ = nullptr;
    relisted_.reset();
    foundMarks_.reset();
    changedTiles_.clear();
    changedAll_ = false;
    watched_ = listed_;
    watchedEntry_ = listedEntry_;
    watchedArea_ = listedArea_;
    UpdateControls();
    auto shared = std::make_shared<Job>(std::move(job));
    view_.RunInBackground(
        [this, shared] {
            try {
                shared->Work(reporter_);
            } catch (...) {
                failure_ = std::current_exception();
            }
        },
        [this] { DeliverBatch(); }, [this, shared] { Finished(*shared); });
}

void TMainForm::Finished(const Job& job)
{
    DeliverBatch();
    running_ = false;
    // A Cancel that came too late to stop the work must not stop what the
    // window does next.
    interrupt::Clear();
    mapSize_ = staIdx_->Size();
    view_.SetBlockRanges(mapSize_.Width - 1, mapSize_.Height - 1);
    // The window is open again before it shows how the operation ended.
    UpdateControls();
    if (relisted_ && watched_)
        Guarded([this] { ShowListing(watched_->first, watched_->second, *std::exchange(relisted_, std::nullopt)); });
    if (relisted_ && watchedArea_)
        ShowAreaListing(*watchedArea_, *std::exchange(relisted_, std::nullopt));
    if (failure_) {
        if (job.Failed)
            job.Failed();
        try {
            std::rethrow_exception(std::exchange(failure_, nullptr));
        } catch (const std::exception& error) {
            ReportError(error);
        }
    } else {
        if (cancelled_)
            view_.AddLogLines({"Cancel came after the operation's last step: it completed."});
        if (job.Finish)
            Guarded(job.Finish);
    }
    UpdatePane();
    UpdateControls();
    if (closeWhenDone_ && !running_)
        view_.CloseWindow();
}

void TMainForm::DeliverBatch()
{
    BatchedReporter::Batch batch = reporter_.Take();
    if (!batch.Lines.empty())
        view_.AddLogLines(batch.Lines);
    if (batch.Progress)
        view_.SetProgress(*batch.Progress);
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
        storedMode_ = simpleMode_;
        ShowRunningMode();
        view_.ShowMapPane(simpleMode_ != 1);
        if (simpleMode_ == 0)
            view_.SetCaption(Caption() + " (Normal mode)");
        else if (simpleMode_ == 1)
            view_.SetCaption(Caption() + " (Simple mode)");
        // Before the boxes: a server's map may give its files names of its own.
        // Whatever became of it, the stored paths still fill the boxes.
        Guarded([this] {
            const settings::ServerChoice server = settings::LoadServerChoice(store_);
            if (server.Folder.empty())
                return;
            try {
                server_ = OpenServer{server.Folder, server.Map, ResolveServerWorld({server.Folder, server.Map})};
            } catch (const std::exception& error) {
                view_.AddLogLines({"The server's folder of the last run cannot be used: " + ErrorLine(error)});
            }
        });
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
    case Control::CancelButton:
        return CancelButtonClick();
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
    else if (control == Control::PositionEdit && !view_.Text(control).empty())
        Guarded([this] { SetBlockFromPosition(); });
}

void TMainForm::Entered(Control control)
{
    // Enter in a block's box lists that block, where listing is open.
    if (control == Control::PositionEdit) {
        bool set = false;
        Guarded([&] {
            SetBlockFromPosition();
            set = true;
        });
        if (!set)
            return;
    } else if (control == Control::XBlockEdit || control == Control::YBlockEdit) {
        Exited(control);
    } else {
        return;
    }
    if (!running_ && loaded_ && simpleMode_ != 1 && IsGreen(Control::StaIdxEdit) && IsGreen(Control::StaticsEdit)
        && IsGreen(Control::WSCEdit))
        ListBlock();
}

void TMainForm::SetBlockFromPosition()
{
    const TilePosition position = PositionOf(view_.Text(Control::PositionEdit));
    if (position.X / 8 >= mapSize_.Width || position.Y / 8 >= mapSize_.Height)
        throw Error("Position " + std::to_string(position.X) + "," + std::to_string(position.Y)
            + " lies outside the map, which is " + std::to_string(mapSize_.Width * 8) + " x "
            + std::to_string(mapSize_.Height * 8) + " tiles");
    view_.SetText(Control::XBlockEdit, std::to_string(position.X / 8));
    view_.SetText(Control::YBlockEdit, std::to_string(position.Y / 8));
}

void TMainForm::CheckFileName(Control edit)
{
    const FileBox& box = FileBoxes[BoxNumber(edit)];
    const std::string path = view_.Text(edit);
    // A server's map names its files as it likes.
    const bool serversFile = server_ && FileExists(path)
        && path == (edit == Control::StaIdxEdit ? server_->World.StaIdx : server_->World.Statics);
    std::string complaint = serversFile ? "" : Complaint(path, box);
    if (edit == Control::WSCEdit) {
        wscIsPatch_ = complaint.empty() && FileExists(path) && IsPatchFile(path);
        if (wscIsPatch_ && simpleMode_ != 1)
            complaint = PatchInNormalMode;
    }
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
    if (IsGreen(Control::StaIdxEdit) && IsGreen(Control::StaticsEdit) && IsGreen(Control::WSCEdit))
        settings::SaveFileNames(
            store_, {view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), view_.Text(Control::WSCEdit)});
    UpdateControls();
}

void TMainForm::UpdateControls()
{
    const bool staIdx = IsGreen(Control::StaIdxEdit);
    const bool statics = IsGreen(Control::StaticsEdit);
    const bool allGreen = staIdx && statics && IsGreen(Control::WSCEdit);
    const bool open = !running_;
    bool blocks = open && allGreen && loaded_;
    bool freeze = blocks;
    if (simpleMode_ == 1) {
        blocks = false;
        if (worldFrozen_)
            freeze = false;
    }
    view_.SetEnabled(Control::GetStaticIndexButton, open && allGreen && !loaded_);
    SetBlockControlsEnabled(blocks);
    view_.SetEnabled(Control::FreezeWorldButton, freeze);
    view_.SetEnabled(Control::DryRunCheckBox, blocks || freeze);
    view_.SetEnabled(Control::CancelButton, running_ && !cancelled_);
    pane_.SetSelectable(blocks);
    for (const FileBox& box : FileBoxes) {
        const bool editable = open && !(indexFilesLocked_ && box.Edit != Control::WSCEdit);
        view_.SetEnabled(box.Edit, editable);
        view_.SetEnabled(box.Browse, editable);
    }
    view_.SetMenuEnabled(MenuItem::OpenServerFolder, open);
    view_.SetMenuEnabled(MenuItem::ServerMap, open && server_.has_value());
    view_.SetMenuEnabled(MenuItem::ChangeFiles, open && indexFilesLocked_);
    view_.SetMenuEnabled(MenuItem::UndoLastOperation, open && allGreen);
    view_.SetMenuEnabled(MenuItem::History, open && staIdx);
    view_.SetMenuEnabled(MenuItem::CheckFiles, open && staIdx && statics);
    view_.SetMenuEnabled(MenuItem::CompactStatics, open && staIdx && statics);
    view_.SetMenuEnabled(MenuItem::MakePatch, open && staIdx && statics);
    view_.SetMenuEnabled(MenuItem::ApplyPatch, open && staIdx && statics);
    view_.SetMenuEnabled(MenuItem::About, true);
}

void TMainForm::ReplaceMainList(const std::vector<std::string>& lines)
{
    listed_.reset();
    listedArea_.reset();
    view_.ReplaceMainList(lines);
}

void TMainForm::ShowAreaListing(const TileArea& area, const std::vector<std::string>& lines)
{
    ReplaceMainList(
        lines.empty() ? std::vector<std::string>{"The area " + AreaText(area) + " holds no objects."} : lines);
    listedArea_ = area;
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
    else if (!loaded_)
        step = 3;
    else if (!worldFrozen_)
        step = 4;
    std::vector<std::string> lines;
    for (const char* line : GuideSteps[step]) {
        if (line != nullptr)
            lines.emplace_back(line);
    }
    ReplaceMainList(lines);
}

void TMainForm::SetIndexFilesLocked(bool locked)
{
    // The index in memory belongs to these two files while it is loaded.
    indexFilesLocked_ = locked;
    UpdateControls();
}

WorldFiles TMainForm::Files() const
{
    return {view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), view_.Text(Control::WSCEdit)};
}

void TMainForm::BringUpToDate(const WorldFiles& files, Reporter& reporter)
{
    const std::optional<FileIdentity> loadedFrom = staIdx_->Source;
    ReloadIfChanged(files, *staIdx_, reporter);
    if (staIdx_->Source != loadedFrom || !staticsSeen_)
        return;
    const FileIdentity statics = IdentityOf(files.Statics);
    if (statics.SameFile(*staticsSeen_) && statics.Modified == staticsSeen_->Modified)
        return;
    // The index belongs to the statics file: another one, or one another
    // program compacted, needs its own index.
    reporter.Log("The statics file changed since the index was loaded; loading the index again from " + files.StaIdx);
    // Changed in place, a block keeps its entry: any may look different now.
    changedAll_ = true;
    auto fresh = std::make_unique<StaIdx>();
    LoadStaIdx(files.StaIdx, *fresh, reporter, staIdx_->LoadedAs);
    staIdx_ = std::move(fresh);
    staticsSeen_ = statics;
}

void TMainForm::GetStaticIndexButtonClick()
{
    Guarded([this] {
        const WorldFiles files = Files();
        const IndexMap map = MapFor(files, ServerMapOf(files));
        auto loaded = std::make_shared<std::unique_ptr<StaIdx>>();
        auto seen = std::make_shared<FileIdentity>();
        Start({[this, files, map, loaded, seen](Reporter& reporter) {
                   LogInitStart(reporter);
                   const LockedWorld locked(files, reporter);
                   auto table = std::make_unique<StaIdx>();
                   LoadStaIdx(files.StaIdx, *table, reporter, map);
                   *seen = IdentityOf(files.Statics);
                   FindPaneData(files, *table, true);
                   *loaded = std::move(table);
               },
            [this, loaded, seen] {
                staIdx_ = std::move(*loaded);
                staticsSeen_ = *seen;
                loaded_ = true;
                mapSize_ = staIdx_->Size();
                view_.SetBlockRanges(mapSize_.Width - 1, mapSize_.Height - 1);
                pane_.SetMap(mapSize_);
                SetIndexFilesLocked(true);
                UpdateButtons();
                UpdateSimpleModeHelp();
                LogInitDone(reporter_);
                DeliverBatch();
                // The focus leaves the button that is now disabled, and never
                // for the mode buttons, where an arrow key would switch the mode.
                view_.SetFocus(simpleMode_ == 1 ? Control::FreezeWorldButton : Control::XBlockEdit);
            }});
    });
}

void TMainForm::ShowListing(std::uint16_t xBlock, std::uint16_t yBlock, const std::vector<std::string>& lines)
{
    ReplaceMainList(lines.empty() ? std::vector<std::string>{"Block " + std::to_string(xBlock) + ", "
                        + std::to_string(yBlock) + " holds no objects."}
                                  : lines);
    listed_ = {xBlock, yBlock};
    listedEntry_ = staIdx_->At(xBlock, yBlock);
    // The pane outlines the listed block, unless it lies in the selected area.
    const std::optional<TileArea> selected = pane_.Selection();
    if (!selected || xBlock < selected->X1 / 8 || xBlock > selected->X2 / 8 || yBlock < selected->Y1 / 8
        || yBlock > selected->Y2 / 8) {
        const auto x = static_cast<std::uint16_t>(xBlock * 8);
        const auto y = static_cast<std::uint16_t>(yBlock * 8);
        pane_.Select(TileArea{x, y, static_cast<std::uint16_t>(x + 7), static_cast<std::uint16_t>(y + 7)});
        view_.RedrawMapPane();
    }
}

void TMainForm::FindPaneData(const WorldFiles& files, const StaIdx& table, bool findClient)
{
    // Without them the pane still shows the statics; nothing here is the user's operation.
    if (findClient) {
        client_.reset();
        try {
            const int map = table.LoadedAs.Map;
            const std::string folder = FolderPart(files.Statics);
            const ClientFiles found = FindClientFiles(folder.empty() ? "." : folder, map);
            if (found.Complete())
                client_ = std::make_shared<const ClientMap>(
                    ClientMap{found.Terrain, map, RadarColours::Read(found.RadarColours)});
        } catch (const std::exception&) {
        }
    }
    // An operation on the statics alone (compact, apply) leaves the items,
    // and so their marks, as they are.
    if (files.Wsc.empty() && !findClient)
        return;
    foundMarks_ = std::vector<TilePosition>{};
    marksFrom_ = WorldSaveStamp(files.Wsc);
    if (files.Wsc.empty())
        return;
    try {
        NullReporter quiet;
        foundMarks_ = FindFreezeMarks(files.Wsc, FreezeMapOf(table), quiet).Tiles;
    } catch (const std::exception&) {
    }
}

bool TMainForm::DrawPaneTiles(const std::vector<MapPane::TileRequest>& tiles)
{
    // The index and the files belong to a running operation.
    if (running_ || !loaded_)
        return false;
    // Each error once, not at every paint.
    auto log = [this](const std::exception& error) {
        std::string line = "Error: " + ErrorLine(error);
        if (line != paneError_)
            view_.AddLogLines({line});
        paneError_ = std::move(line);
    };
    std::optional<MapPainter> painter;
    try {
        painter.emplace(*staIdx_, view_.Text(Control::StaticsEdit), client_.get());
    } catch (const std::exception& error) {
        log(error);
        return false;
    }
    // A tile that fails is drawn block by block: only the blocks that cannot
    // be read show as such, and the tile is not read again at every paint.
    for (const MapPane::TileRequest& tile : tiles) {
        try {
            painter->Draw(tile.Blocks, tile.Scale, tile.Out);
            continue;
        } catch (const std::exception& error) {
            log(error);
        }
        const int side = 8 / tile.Scale;
        for (int x = 0; x < tile.Blocks.Width; ++x) {
            for (int y = 0; y < tile.Blocks.Height; ++y) {
                const PictureView block{
                    tile.Out.Pixels + std::size_t(y * side) * tile.Out.Stride + std::size_t(x * side) * 3, side, side,
                    tile.Out.Stride};
                try {
                    painter->Draw({tile.Blocks.X + x, tile.Blocks.Y + y, 1, 1}, tile.Scale, block);
                } catch (const std::exception&) {
                    FillPicture(block, MapPane::UnreadableColour);
                }
            }
        }
    }
    return true;
}

void TMainForm::UpdatePane()
{
    if (!loaded_)
        return;
    if (pane_.Map() != mapSize_)
        pane_.SetMap(mapSize_);
    if (changedAll_)
        pane_.Invalidate();
    for (const BlockArea& tile : changedTiles_)
        pane_.Invalidate(tile);
    changedTiles_.clear();
    changedAll_ = false;
    if (foundMarks_)
        pane_.SetMarks(std::move(*std::exchange(foundMarks_, std::nullopt)));
    view_.RedrawMapPane();
}

void TMainForm::MapPaneAction(MapPane::Action action)
{
    if (action == MapPane::Action::None)
        return;
    const std::optional<TileArea> selected = pane_.Selection();
    if ((action == MapPane::Action::PickBlock || action == MapPane::Action::SelectArea) && selected) {
        // The position typed before names another place now.
        view_.SetText(Control::PositionEdit, "");
        view_.SetText(Control::XBlockEdit, std::to_string(selected->X1 / 8));
        view_.SetText(Control::YBlockEdit, std::to_string(selected->Y1 / 8));
        if (action == MapPane::Action::PickBlock)
            ListBlock();
    }
    view_.RedrawMapPane();
}

std::optional<TileArea> TMainForm::SelectedArea() const
{
    // An area dragged on the map, while X and Y still name its first block.
    const std::optional<TileArea> area = pane_.Selection();
    if (!area || pane_.SelectionIsBlock() || view_.Text(Control::XBlockEdit) != std::to_string(area->X1 / 8)
        || view_.Text(Control::YBlockEdit) != std::to_string(area->Y1 / 8))
        return std::nullopt;
    return area;
}

void TMainForm::ListBlock()
{
    Guarded([this] {
        const WorldFiles files = Files();
        const std::string xText = view_.Text(Control::XBlockEdit);
        const std::string yText = view_.Text(Control::YBlockEdit);
        const std::uint16_t xBlock = ParseBlockNumber(xText);
        const std::uint16_t yBlock = ParseBlockNumber(yText);
        const std::optional<TileArea> area = SelectedArea();
        auto lines = std::make_shared<std::vector<std::string>>();
        Start({[this, files, xText, yText, area, lines](Reporter& reporter) {
                   // Nobody replaces the files between the check and the read.
                   FileLocks locks({files.StaIdx, files.Statics}, reporter, false);
                   RecoverInterruptedCommits(locks, reporter);
                   const KeepingUpToDate upToDate(*this, files);
                   BringUpToDate(files, reporter);
                   *lines = area ? ListStaticArea(files.Statics, *staIdx_, *area, reporter)
                                 : ListStaticBlock(files.Statics, *staIdx_, xText, yText, reporter);
               },
            [this, xBlock, yBlock, area, lines] {
                if (!area)
                    return ShowListing(xBlock, yBlock, *lines);
                ShowAreaListing(*area, *lines);
            },
            // The objects of another block must not stand under these numbers.
            [this] {
                if (listed_ || listedArea_)
                    ReplaceMainList({});
            }});
    });
}

void TMainForm::GetStaticBlockButtonClick()
{
    ListBlock();
}

void TMainForm::MeltBlockButtonClick()
{
    const WorldFiles files = Files();
    const std::string xText = view_.Text(Control::XBlockEdit);
    const std::string yText = view_.Text(Control::YBlockEdit);
    const bool dryRun = view_.IsChecked(Control::DryRunCheckBox);
    const std::optional<TileArea> area = SelectedArea();
    if (!dryRun && !ServerLetsRun())
        return;
    Start({[this, files, xText, yText, area, dryRun](Reporter& reporter) {
               const LockedWorld locked(files, reporter);
               const KeepingUpToDate upToDate(*this, files);
               BringUpToDate(files, reporter);
               if (area)
                   RunMelt(files, *area, *staIdx_, reporter, dryRun);
               else
                   RunMelt(files, xText, yText, *staIdx_, reporter, dryRun);
           },
        {}});
}

void TMainForm::FreezeWorldButtonClick()
{
    const WorldFiles files = Files();
    const bool dryRun = view_.IsChecked(Control::DryRunCheckBox);
    if (!dryRun && !ServerLetsRun())
        return;
    // A players' patch in the box is applied: it replaces blocks.
    if (IsPatchFile(files.Wsc))
        return StartApply({files.StaIdx, files.Statics, {}}, files.Wsc, false, dryRun);
    // With an area dragged on the map, only the items inside it.
    const std::optional<TileArea> area = SelectedArea();
    Start({[this, files, dryRun, area](Reporter& reporter) {
               const LockedWorld locked(files, reporter);
               const KeepingUpToDate upToDate(*this, files);
               BringUpToDate(files, reporter);
               RunFreeze(files, *staIdx_, reporter, dryRun, area);
           },
        [this, dryRun] {
            if (dryRun)
                return;
            // The guide's last step shows at once, as after a patch applied.
            worldFrozen_ = true;
            UpdateControls();
            UpdateSimpleModeHelp();
        }});
}

void TMainForm::CancelButtonClick()
{
    if (!running_ || cancelled_)
        return;
    cancelled_ = true;
    interrupt::Request(CancelReason);
    view_.AddLogLines({"Cancelling: the operation stops at its next safe step..."});
    UpdateControls();
}

bool TMainForm::CloseQuery()
{
    if (!running_)
        return true;
    if (view_.AskYesNo(
            ApplicationTitle, "An operation is still running. Stop it, and close Cryoweaver once it has stopped?")) {
        // It may have ended while the question was open.
        if (!running_)
            return true;
        closeWhenDone_ = true;
        CancelButtonClick();
    }
    return false;
}

void TMainForm::MenuChosen(MenuItem item)
{
    switch (item) {
    case MenuItem::OpenServerFolder:
        return OnOpenServerFolder();
    case MenuItem::ServerMap:
        return OnServerMap();
    case MenuItem::MakePatch:
        return OnMakePatch();
    case MenuItem::ApplyPatch:
        return OnApplyPatch();
    case MenuItem::ChangeFiles:
        return OnChangeFiles();
    case MenuItem::UndoLastOperation:
        return OnUndo();
    case MenuItem::History:
        return OnHistory();
    case MenuItem::CheckFiles:
        return OnCheckFiles();
    case MenuItem::CompactStatics:
        return OnCompactStatics();
    case MenuItem::About:
        return OnAbout();
    }
}

void TMainForm::OnChangeFiles()
{
    if (running_ || !indexFilesLocked_)
        return;
    UnloadIndex();
    view_.SetFocus(Control::StaIdxEdit);
}

void TMainForm::UnloadIndex()
{
    staIdx_ = std::make_unique<StaIdx>();
    staticsSeen_.reset();
    loaded_ = false;
    worldFrozen_ = false;
    client_.reset();
    pane_.SetMap(std::nullopt);
    view_.RedrawMapPane();
    mapSize_ = staIdx_->Size();
    view_.SetBlockRanges(mapSize_.Width - 1, mapSize_.Height - 1);
    if (listed_)
        ReplaceMainList(WelcomeLines());
    SetIndexFilesLocked(false);
    view_.AddLogLines({"The index is unloaded: choose the files, then press GetStaticIndex."});
    Guarded([this] {
        UpdateButtons();
        UpdateSimpleModeHelp();
    });
}

void TMainForm::OnUndo()
{
    if (running_)
        return;
    const WorldFiles files = Files();
    auto operations = std::make_shared<std::vector<HistoryEntry>>();
    // First what there is to undo, then the question, then the undo.
    Start({[files, operations](Reporter&) { *operations = UndoableOperations(files); },
        [this, files, operations] {
            if (operations->empty()) {
                view_.ShowNotice(ApplicationTitle, NothingToUndo(files));
                return;
            }
            const HistoryEntry& last = operations->front();
            std::string question = "Undo the " + last.What + " of " + LocalTimeOf(last.When)
                + "?\n\nThese files go back to what they held before it:";
            // A few names, so that the question fits on the screen after a melt into many files.
            constexpr std::size_t Named = 10;
            const std::vector<std::string> changed = FilesOf(last);
            for (std::size_t i = 0; i < changed.size() && i < Named; ++i)
                question += "\n" + changed[i];
            if (changed.size() > Named)
                question += "\nand " + std::to_string(changed.size() - Named) + " more";
            if (!view_.AskYesNo(ApplicationTitle, question) || !ServerLetsRun())
                return;
            Start({[this, files, asked = last.Id](Reporter& reporter) {
                       const std::vector<HistoryEntry> now = UndoableOperations(files);
                       if (now.empty() || now.front().Id != asked) {
                           Error error("Another run changed the history while you were asked; nothing was undone");
                           error.SetFile(files.StaIdx);
                           throw error;
                       }
                       UndoLastOperation(files, reporter);
                       if (!staIdx_->StaIdxLoaded)
                           return;
                       const LockedWorld locked(files, reporter);
                       const KeepingUpToDate upToDate(*this, files);
                       // The files the undo put back, loaded without the note
                       // meant for another program's changes.
                       NullReporter quiet;
                       BringUpToDate(files, quiet);
                   },
                [this] {
                    // What was frozen or applied is so no longer: the guide
                    // goes back to its Freeze step.
                    worldFrozen_ = false;
                    UpdateControls();
                    UpdateSimpleModeHelp();
                }});
        }});
}

void TMainForm::OnHistory()
{
    if (running_)
        return;
    const WorldFiles files = Files();
    auto operations = std::make_shared<std::vector<HistoryEntry>>();
    Start({[files, operations](Reporter&) { *operations = UndoableOperations(files); },
        [this, files, operations] {
            if (operations->empty()) {
                ReplaceMainList({NothingToUndo(files)});
                return;
            }
            std::vector<std::string> lines{"What undo takes back from " + files.StaIdx + ", newest first:"};
            for (const HistoryEntry& operation : *operations)
                lines.push_back(LocalTimeOf(operation.When) + "  " + operation.What);
            ReplaceMainList(lines);
        }});
}

void TMainForm::OnAbout()
{
    view_.ShowNotice("About " + std::string(ApplicationTitle),
        Caption() + "\nMoves the fixed objects of a UOX3 world between the statics files and the world save.");
}

void TMainForm::OnCheckFiles()
{
    if (running_)
        return;
    // The world save is checked too where its box names one.
    const WorldFiles files{view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit),
        IsGreen(Control::WSCEdit) && !wscIsPatch_ ? view_.Text(Control::WSCEdit) : ""};
    const std::optional<IndexMap> server = ServerMapOf(files);
    Start({[files, server](Reporter& reporter) {
               RecoverBeforeReading(files, reporter);
               auto table = std::make_unique<StaIdx>();
               LoadStaIdx(files.StaIdx, *table, reporter, MapFor(files, server));
               RunCheck(files, *table, reporter);
           },
        {}});
}

void TMainForm::OnCompactStatics()
{
    if (running_)
        return;
    const WorldFiles files{view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), {}};
    Guarded([&] {
        if (!view_.AskYesNo(ApplicationTitle,
                "Compact " + files.Statics + " and " + files.StaIdx
                    + "? Both are rewritten without the room that old copies of blocks take.")
            || !ServerLetsRun())
            return;
        // The loaded index follows the files it belongs to.
        const bool useLoaded = loaded_;
        const std::optional<IndexMap> server = ServerMapOf(files);
        Start({[this, files, useLoaded, server](Reporter& reporter) {
                   const LockedWorld locked(files, reporter);
                   if (useLoaded) {
                       const KeepingUpToDate upToDate(*this, files);
                       BringUpToDate(files, reporter);
                       RunCompact(files, *staIdx_, reporter);
                       return;
                   }
                   auto table = std::make_unique<StaIdx>();
                   LoadStaIdx(files.StaIdx, *table, reporter, MapFor(files, server));
                   RunCompact(files, *table, reporter);
               },
            {}});
    });
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
    ClampToRange(Control::XBlockEdit, mapSize_.Width - 1);
}

void TMainForm::YBlockEditExit()
{
    ClampToRange(Control::YBlockEdit, mapSize_.Height - 1);
}

void TMainForm::ShowRunningMode()
{
    // The buttons show the mode this run has; a choice for the next start shows beneath them.
    view_.SetChecked(Control::NormalModeRadioButton, simpleMode_ == 0);
    view_.SetChecked(Control::SimpleModeRadioButton, simpleMode_ == 1);
    std::string note;
    if (storedMode_ != simpleMode_ && storedMode_ <= 1)
        note = storedMode_ == 1 ? "Next start: Simple mode" : "Next start: Normal mode";
    view_.SetText(Control::ModeNoteLabel, note);
}

void TMainForm::ModeChosen(std::uint8_t mode, const char* caption)
{
    // While the window starts, a click is no choice; so is the mode already chosen.
    if (modeLoading_ || mode == storedMode_) {
        if (!modeLoading_)
            ShowRunningMode();
        return;
    }
    Guarded([&] {
        settings::SaveMode(store_, mode);
        storedMode_ = mode;
        view_.ShowNotice(caption, ModeChangedText);
    });
    ShowRunningMode();
}

void TMainForm::NormalModeRadioButtonClick()
{
    ModeChosen(0, "Normal mode selected");
}

void TMainForm::SimpleModeRadioButtonClick()
{
    ModeChosen(1, "Simple mode selected");
}

void TMainForm::SetFileName(Control edit, const std::string& path)
{
    view_.SetText(edit, path);
    Changed(edit);
}

std::string TMainForm::StartFolder(Control edit) const
{
    // The box's own file first, then the others': the files lie together.
    std::vector<Control> order{edit};
    for (const FileBox& box : FileBoxes) {
        if (box.Edit != edit)
            order.push_back(box.Edit);
    }
    for (const Control box : order) {
        const std::string path = view_.Text(box);
        if (path.empty())
            continue;
        if (FolderExists(path))
            return path;
        const std::string folder = FolderPart(path);
        if (!folder.empty() && FolderExists(folder))
            return folder;
    }
    return {};
}

void TMainForm::BrowseButtonClick(Control edit)
{
    const int box = BoxNumber(edit);
    if (box < 0 || running_ || (indexFilesLocked_ && edit != Control::WSCEdit))
        return;
    const std::string folder = StartFolder(edit);
    std::optional<std::string> path;
    if (FileBoxes[box].TakesFolder && simpleMode_ == 1) {
        // A player's file from the operator: a players' patch or a world save.
        path = view_.AskFileName("Where is the file you got from the server operator?", folder);
    } else if (FileBoxes[box].TakesFolder) {
        const std::optional<std::size_t> choice = view_.ChooseFromMenu(FileBoxes[box].Browse, WorldSaveChoices);
        if (!choice)
            return;
        path = *choice == 0 ? view_.AskFileName(FileBoxes[box].BrowseTitle, folder)
                            : view_.AskFolderName(SharedFolderTitle, folder);
    } else {
        path = view_.AskFileName(FileBoxes[box].BrowseTitle, folder);
    }
    if (path)
        SetFileName(edit, *path);
}

void TMainForm::FilesDropped(const std::vector<std::string>& paths, std::optional<Control> target)
{
    if (running_)
        return;
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

std::optional<IndexMap> TMainForm::ServerMapOf(const WorldFiles& files) const
{
    if (server_ && files.StaIdx == server_->World.StaIdx && files.Statics == server_->World.Statics)
        return server_->World.Map;
    return std::nullopt;
}

WorldPlace TMainForm::Place() const
{
    const WorldFiles files = Files();
    WorldPlace place;
    if (ServerMapOf(files))
        place.ServerFolder = server_->Folder;
    if (IsGreen(Control::WSCEdit) && !wscIsPatch_)
        place.WorldSave = files.Wsc;
    return place;
}

bool TMainForm::ServerLetsRun()
{
    bool run = false;
    Guarded([&] {
        try {
            CheckRunningServer(Place(), true);
            run = true;
        } catch (const ServerRunningError& error) {
            // The question the command line's --server-running-ok answers.
            view_.AddLogLines({"Error: " + ErrorLine(error)});
            run = view_.AskToOverride(ApplicationTitle,
                WithFullStop(ErrorLine(error))
                    + "\n\nRun it all the same? Only where the server does not save to these files, as one that "
                      "loads its world from another copy.");
            if (run)
                view_.AddLogLines({"Running all the same, as asked, while the server runs."});
        }
    });
    return run;
}

void TMainForm::OnOpenServerFolder()
{
    if (running_)
        return;
    Guarded([this] {
        const std::string start = server_ ? server_->Folder : StartFolder(Control::WSCEdit);
        if (const auto folder = view_.AskFolderName("Where is the server's folder, the one with uox.ini?", start))
            ChooseServerMap(*folder);
    });
}

void TMainForm::OnServerMap()
{
    if (running_ || !server_)
        return;
    Guarded([this] { ChooseServerMap(server_->Folder); });
}

void TMainForm::ChooseServerMap(const std::string& folder)
{
    const ServerFolder server = ReadServerFolder(folder);
    const ServerMaps maps = ReadServerMaps(server);
    if (maps.Maps.empty()) {
        Error error("No map is defined here: there is no [MAP n] section");
        error.SetFile(maps.Path);
        throw error;
    }
    std::vector<std::string> items;
    for (const ServerMap& map : maps.Maps) {
        std::string item = "Map " + std::to_string(map.Number) + ": "
            + (map.Fault.empty() ? std::to_string(map.Size.Width * 8) + " x " + std::to_string(map.Size.Height * 8)
                        + " tiles, " + map.StaIdx.Value + " and " + map.Statics.Value
                                 : map.Fault);
        // Open while the boxes still hold its files.
        if (server_ && server_->Folder == folder && server_->Map == map.Number && ServerMapOf(Files()))
            item += " (open)";
        items.push_back(item);
    }
    std::size_t chosen = 0;
    if (items.size() > 1) {
        const std::optional<std::size_t> choice = view_.ChooseFromMenu(Control::StaIdxEdit, items);
        if (!choice)
            return;
        chosen = *choice;
    }
    OpenServerMap(folder, maps.Maps.at(chosen).Number);
}

void TMainForm::OpenServerMap(const std::string& folder, int map)
{
    // Whatever is wrong with the map's files is said before anything changes.
    const ServerWorld world = ResolveServerWorld({folder, map});
    if (indexFilesLocked_)
        UnloadIndex();
    server_ = OpenServer{folder, map, world};
    settings::SaveServerChoice(store_, {folder, map});
    view_.AddLogLines({"Map " + std::to_string(map) + " of the server in " + folder + ": " + world.StaIdx + ", "
        + world.Statics + ", world save " + world.Wsc});
    SetFileName(Control::StaIdxEdit, world.StaIdx);
    SetFileName(Control::StaticsEdit, world.Statics);
    SetFileName(Control::WSCEdit, world.Wsc);
    UpdateControls();
}

void TMainForm::OnMakePatch()
{
    if (running_)
        return;
    Guarded([this] {
        const WorldFiles files{view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), {}};
        const IndexMap map = MapFor(files, ServerMapOf(files));
        const auto releaseIndex = view_.AskFileName(
            "Where is the release's index, the players' StaIdx0.mul?", StartFolder(Control::StaIdxEdit));
        if (!releaseIndex)
            return;
        const auto releaseStatics = view_.AskFileName(
            "Where is the release's statics file, the players' Statics0.mul?", FolderPart(*releaseIndex));
        if (!releaseStatics)
            return;
        const auto out = view_.AskSaveFileName("Where does the players' patch go?", StartFolder(Control::StaIdxEdit),
            "map" + std::to_string(map.Map) + ".patch");
        if (!out)
            return;
        if (!view_.AskYesNo(ApplicationTitle,
                "Make a players' patch from the release " + *releaseIndex + " and " + *releaseStatics
                    + " to the current " + files.StaIdx + " and " + files.Statics + ", into " + *out + "?"))
            return;
        const StaticsPair release{*releaseIndex, *releaseStatics};
        const StaticsPair current{files.StaIdx, files.Statics};
        Start({[release, current, out = *out, size = map.Size](Reporter& reporter) {
                   reporter.Log("Making the players' patch... Cryoweaver may look crashed, do not interrupt!");
                   MakePatch(release, current, out, reporter, size);
               },
            {}});
    });
}

void TMainForm::OnApplyPatch()
{
    if (running_)
        return;
    Guarded([this] {
        const WorldFiles files{view_.Text(Control::StaIdxEdit), view_.Text(Control::StaticsEdit), {}};
        const auto patch
            = view_.AskFileName("Which players' patch is to be applied?", StartFolder(Control::StaIdxEdit));
        if (!patch)
            return;
        if (!IsPatchFile(*patch)) {
            Error error("This is no players' patch: it does not begin as one");
            error.SetFile(*patch);
            throw error;
        }
        const bool dryRun = view_.IsChecked(Control::DryRunCheckBox);
        const std::string on = *patch + " to " + files.StaIdx + " and " + files.Statics;
        if (!view_.AskYesNo(ApplicationTitle,
                dryRun ? "Show what applying the patch " + on + " would change? No file is changed."
                       : "Apply the patch " + on
                        + "? Each block it holds becomes what the operator's block is; undo takes it back."))
            return;
        if (!dryRun && !ServerLetsRun())
            return;
        StartApply(files, *patch, false, dryRun);
    });
}

void TMainForm::StartApply(const WorldFiles& files, const std::string& patch, bool force, bool dryRun)
{
    // The loaded index follows the files it belongs to.
    const bool useLoaded = loaded_;
    const std::optional<IndexMap> server = ServerMapOf(files);
    auto differing = std::make_shared<std::optional<DifferingBlocksError>>();
    Start({[this, files, patch, force, dryRun, useLoaded, server, differing](Reporter& reporter) {
               const LockedWorld locked(files, reporter);
               std::optional<KeepingUpToDate> upToDate;
               std::unique_ptr<StaIdx> own;
               if (useLoaded) {
                   upToDate.emplace(*this, files);
                   BringUpToDate(files, reporter);
               } else {
                   own = std::make_unique<StaIdx>();
                   LoadStaIdx(files.StaIdx, *own, reporter, MapFor(files, server));
               }
               try {
                   RunApplyPatch(files.StaIdx, files.Statics, patch, own ? *own : *staIdx_, reporter,
                       {.Force = force, .DryRun = dryRun});
               } catch (const DifferingBlocksError& error) {
                   differing->emplace(error);
               }
           },
        [this, files, patch, dryRun, differing] {
            if (*differing) {
                const DifferingBlocksError& error = **differing;
                const bool one = error.Count() == 1;
                const std::string blocks = std::to_string(error.Count()) + (one ? " block of " : " blocks of ")
                    + files.Statics + (one ? " differs" : " differ") + " from the release the patch " + patch
                    + " was made from: " + error.Blocks() + ". Nothing was changed.";
                view_.AddLogLines({blocks});
                if (view_.AskToOverride(ApplicationTitle,
                        blocks
                            + "\n\nReplace them all the same? Each then holds what the operator's block holds; undo "
                              "takes the apply back."))
                    StartApply(files, patch, true, dryRun);
                return;
            }
            if (dryRun)
                return;
            // The player's files are patched: simple mode's guide ends.
            worldFrozen_ = true;
            UpdateControls();
            UpdateSimpleModeHelp();
        }});
}

} // namespace cryo::form
