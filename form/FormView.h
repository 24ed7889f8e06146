#pragma once

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
};

// The items of the menu bar that the logic handles (File, Exit closes the
// window itself).
enum class MenuItem {
    UndoLastOperation, // Tools, "Undo last operation..."
    CheckFiles, // Tools, "Check files"
    CompactStatics, // Tools, "Compact statics"
    About, // Help, "About"
};

// Until its first check a file-name edit keeps the window's default colour.
enum class EditColor { Default, Green, Red };

// What a window does for the logic. Every text is UTF-8. Nothing the logic sets
// here is reported back as a user's change.
class FormView {
public:
    virtual ~FormView() = default;

    virtual std::string Text(Control control) const = 0;
    virtual void SetText(Control control, const std::string& text) = 0;
    // tip says why an edit is red; it is empty otherwise.
    virtual void SetEditColor(Control edit, EditColor color, const std::string& tip) = 0;
    virtual void SetEnabled(Control control, bool enabled) = 0;
    virtual void SetChecked(Control radioButton, bool checked) = 0;
    virtual void SetFocus(Control control) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // The up-down spinners' ranges, from 0.
    virtual void SetBlockRanges(int xMaximum, int yMaximum) = 0;

    virtual void ReplaceMainList(const std::vector<std::string>& lines) = 0;
    virtual void AddLogLine(const std::string& line) = 0;
    virtual void SetProgress(int position) = 0;
    // Paints the log now: the work that follows lets the window paint nothing.
    virtual void RepaintLog() = 0;
    // Drops the clicks and keys that reached the window while an operation ran.
    virtual void DiscardQueuedInput() = 0;

    // Modal message boxes; the error box is titled "Cryoweaver" and shows the
    // detail (the file, the place in it) beneath the text.
    virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
    virtual void ShowNotice(const std::string& caption, const std::string& text) = 0;
    virtual void ShowError(const std::string& text, const std::string& detail) = 0;
    // A file chosen in the system's open dialog, starting in folder; nothing
    // when the user cancels.
    virtual std::optional<std::string> AskFileName(const std::string& title, const std::string& folder) = 0;
};

} // namespace cryo::form
