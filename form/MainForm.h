#pragma once

#include "Actions.h"
#include "FormView.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cryo::settings {
class SettingsStore;
}

namespace cryo::form {

// The title of the program and of its error boxes.
inline constexpr const char* ApplicationTitle = "Cryoweaver";

// Everything the window decides, without a toolkit: which controls are
// enabled, what an edit's colour means, what the guide says, what each event
// does. A window builds its controls, calls Initialize once, FormShow when it
// is first shown, and forwards the user's events to the handlers below.
class TMainForm {
public:
    TMainForm(FormView& view, settings::SettingsStore& store);
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // The caption without the mode, e.g. "Cryoweaver (Version 3.2)".
    static std::string Caption();
    static const std::vector<std::string>& WelcomeLines();

    // Puts the controls in their first state: texts, enabled states, the welcome text.
    void Initialize();
    void FormShow();

    // Events by control: a user's change of an edit's text, a click, leaving an edit.
    void Changed(Control control);
    void Clicked(Control control);
    void Exited(Control control);
    // Files dropped on an edit, or on the window (target empty): each goes to
    // the box its name fits.
    void FilesDropped(const std::vector<std::string>& paths, std::optional<Control> target);

    void StaIdxEditChange();
    void StaticsEditChange();
    void WSCEditChange();
    void GetStaticIndexButtonClick();
    void GetStaticBlockButtonClick();
    void MeltBlockButtonClick();
    void FreezeWorldButtonClick();
    void XBlockEditExit();
    void YBlockEditExit();
    void NormalModeRadioButtonClick();
    void SimpleModeRadioButtonClick();
    void BrowseButtonClick(Control edit);
    void MenuChosen(MenuItem item);
    // Asks whether to take back the newest operation on the three files,
    // naming it and its time, then undoes it.
    void OnUndo();
    void OnAbout();

    // Menu actions. Check files logs the report of the files' health, the
    // world save included when its box names one, changing nothing. Compact
    // statics asks first, then rewrites the statics files without the bytes no
    // block refers to.
    void OnCheckFiles();
    void OnCompactStatics();

    bool StaIdxLoaded() const { return staIdx_->StaIdxLoaded; }
    bool WorldFrozen() const { return worldFrozen_; }
    std::uint8_t SimpleMode() const { return simpleMode_; }
    bool ModeLoading() const { return modeLoading_; }
    EditColor ColorOf(Control edit) const;

private:
    class ViewReporter;

    // Runs a handler; an error ends it and is shown in a message box.
    void Guarded(const std::function<void()>& handler);
    // The same for an operation: while it runs, further operations are refused,
    // and the input that queued meanwhile is dropped at its end.
    void Operation(const std::function<void()>& work);

    // The three paths as the boxes hold them. Every operation locks them for
    // its length, so that no other run changes them meanwhile.
    WorldFiles Files() const;
    void CheckFileName(Control edit);
    void UpdateButtons();
    void UpdateSimpleModeHelp();
    void SetBlockControlsEnabled(bool enabled);
    void LockIndexFiles();
    void ClampToRange(Control edit, int maximum);
    void ModeChosen(Control radioButton, std::uint8_t mode, const char* caption);
    void SetFileName(Control edit, const std::string& path);
    bool IsGreen(Control edit) const { return ColorOf(edit) == EditColor::Green; }
    bool IsRed(Control edit) const { return ColorOf(edit) == EditColor::Red; }

    FormView& view_;
    settings::SettingsStore& store_;
    std::unique_ptr<ViewReporter> reporter_;
    std::unique_ptr<StaIdx> staIdx_;
    std::array<EditColor, 3> colors_{EditColor::Default, EditColor::Default, EditColor::Default};
    bool indexFilesLocked_ = false;
    bool running_ = false;
    Control checkedMode_ = Control::NormalModeRadioButton;

    bool worldFrozen_ = false;
    std::uint8_t simpleMode_ = 0;
    bool modeLoading_ = true;
};

} // namespace cryo::form
