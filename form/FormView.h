#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cryo::form {

// The window's controls that the logic reads or changes, named by role and kind.
enum class Control {
    StaIdxEdit,
    StaticsEdit,
    WSCEdit,
    StaIdxBrowseButton,
    StaticsBrowseButton,
    WSCBrowseButton,
    GetStaticIndexButton,
    XBlockEdit,
    XBlockUpDown,
    YBlockEdit,
    YBlockUpDown,
    GetStaticBlockButton,
    MeltBlockButton,
    FreezeWorldButton,
    NormalModeRadioButton,
    SimpleModeRadioButton,
    PositionEdit, // a /where position in tiles, "X,Y"
    DryRunCheckBox, // "Only show what would change"
    CancelButton, // beside the progress bar, open while an operation runs
    ModeNoteLabel, // beneath the mode buttons: the mode the next start brings
};
inline constexpr Control LastControl = Control::ModeNoteLabel;

// The items of the menu bar that the logic handles (File, Exit closes the
// window itself). A new item goes before About, which stays last.
enum class MenuItem {
    OpenServerFolder, // File, "Open server folder..."
    ServerMap, // File, "Server's map...": another map of the open server's folder
    ChangeFiles, // File, "Change files..."
    UndoLastOperation, // Tools, "Undo last operation..."
    History, // Tools, "History..."
    CheckFiles, // Tools, "Check files"
    CompactStatics, // Tools, "Compact statics"
    MakePatch, // Tools, "Make players' patch..."
    ApplyPatch, // Tools, "Apply patch..."
    About, // Help, "About"
};
inline constexpr MenuItem LastMenuItem = MenuItem::About;

// Until its first check a file-name edit keeps the window's default colour.
enum class EditColor { Default, Green, Red };

// What a window does for the logic. Every text is UTF-8. Nothing the logic sets
// here is reported back as a user's change. Every call comes on the window's
// own thread.
class FormView {
public:
    virtual ~FormView() = default;

    virtual std::string Text(Control control) const = 0;
    // Edits and labels.
    virtual void SetText(Control control, const std::string& text) = 0;
    // tip says why an edit is red; it is empty otherwise.
    virtual void SetEditColor(Control edit, EditColor color, const std::string& tip) = 0;
    virtual void SetEnabled(Control control, bool enabled) = 0;
    virtual void SetMenuEnabled(MenuItem item, bool enabled) = 0;
    virtual bool IsChecked(Control checkBox) const = 0;
    virtual void SetChecked(Control button, bool checked) = 0;
    virtual void SetFocus(Control control) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // The up-down spinners' ranges, from 0.
    virtual void SetBlockRanges(int xMaximum, int yMaximum) = 0;

    virtual void ReplaceMainList(const std::vector<std::string>& lines) = 0;
    // Appends lines to the log and shows the last; a few calls a second at most.
    virtual void AddLogLines(const std::vector<std::string>& lines) = 0;
    virtual void SetProgress(int position) = 0;

    // Runs work on a thread of its own and returns at once. Meanwhile the
    // window keeps answering and calls tick a few times a second; once work
    // has returned it calls done. tick and done come on the window's thread,
    // like every event (a message box's own loop included).
    virtual void RunInBackground(std::function<void()> work, std::function<void()> tick, std::function<void()> done)
        = 0;
    // Closes the window, as File, Exit does.
    virtual void CloseWindow() = 0;

    // Modal message boxes; the error box is titled "Cryoweaver" and shows the
    // detail (the file, the place in it) beneath the text.
    virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
    // A question whether to go on despite a danger it names: a warning box
    // whose default answer is No.
    virtual bool AskToOverride(const std::string& caption, const std::string& text) = 0;
    virtual void ShowNotice(const std::string& caption, const std::string& text) = 0;
    virtual void ShowError(const std::string& text, const std::string& detail) = 0;
    // A file chosen in the system's open dialog, or a folder in its folder
    // dialog, starting in folder; nothing when the user cancels.
    virtual std::optional<std::string> AskFileName(const std::string& title, const std::string& folder) = 0;
    virtual std::optional<std::string> AskFolderName(const std::string& title, const std::string& folder) = 0;
    // A file to write, chosen in the system's save dialog starting in folder
    // with name filled in; the dialog asks before it names an existing file.
    virtual std::optional<std::string> AskSaveFileName(
        const std::string& title, const std::string& folder, const std::string& name)
        = 0;
    // One of the items of a menu that drops down from the control; nothing
    // when the user closes it.
    virtual std::optional<std::size_t> ChooseFromMenu(Control anchor, const std::vector<std::string>& items) = 0;

    // The map pane beside the lists, in normal mode only. The window composes
    // it with TMainForm::Pane().Paint when it paints, and again when asked.
    virtual void ShowMapPane(bool shown) = 0;
    virtual void RedrawMapPane() = 0;
};

} // namespace cryo::form
