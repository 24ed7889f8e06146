#pragma once

#include "Actions.h"
#include "BatchedReporter.h"
#include "FormView.h"
#include "MapPane.h"
#include "RunningServer.h"
#include "ServerFolder.h"
#include "StaIdx.h"

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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
//
// Operations that touch files run off the window's thread, in three steps:
// what needs the user (a question, the texts of the boxes) on the window's
// thread, the files' work on the worker, which logs through a batched
// reporter, and the finish (the listing, the guide, the buttons) on the
// window's thread again. While one runs only Cancel and About are open.
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

    // Events by control: a user's change of an edit's text, a click, leaving
    // an edit, Enter in an edit.
    void Changed(Control control);
    void Clicked(Control control);
    void Exited(Control control);
    void Entered(Control control);
    // Files dropped on an edit, or on the window (target empty): each goes to
    // the box its name fits.
    void FilesDropped(const std::vector<std::string>& paths, std::optional<Control> target);
    void MenuChosen(MenuItem item);
    // Whether the window may close now. While an operation runs the user is
    // asked whether to stop it; the window then closes once it has stopped.
    bool CloseQuery();
    // What the map pane's mouse event asked for (MapPane's Press, Move, ...):
    // a click picks the block under the mouse and lists it, a drag with
    // Shift selects an area, which Melt!, GetStaticBlock and Freeze! then
    // take; both set X and Y to its (first) block.
    void MapPaneAction(MapPane::Action action);
    MapPane& Pane() { return pane_; }

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
    // Stops the running operation at its next safe step, as Ctrl+C stops the
    // command line: the files stay as they were, and the log says so.
    void CancelButtonClick();

    // Menu actions. Change files unloads the index and opens the index and
    // statics boxes again. Undo asks whether to take back the newest operation
    // on the three files, naming it, its local time and its files. History
    // lists what undo takes back. Check files logs the report of the files'
    // health, the world save included when its box is green, changing
    // nothing. Compact statics asks first, then rewrites the statics files
    // without the bytes no block refers to.
    void OnChangeFiles();
    void OnUndo();
    void OnHistory();
    void OnCheckFiles();
    void OnCompactStatics();
    void OnAbout();
    // Open server folder fills the boxes from the uox.ini and maps.dfn of a
    // server's folder, with the map the user chooses from those found;
    // Server's map switches to another of its maps. Make players' patch asks
    // for the release's two files and the patch file to write; the boxes'
    // files are the current ones. Apply patch asks for the patch and applies
    // it to the boxes' files, offering to replace blocks that differ from
    // the release all the same.
    void OnOpenServerFolder();
    void OnServerMap();
    void OnMakePatch();
    void OnApplyPatch();

    bool StaIdxLoaded() const { return loaded_; }
    bool WorldFrozen() const { return worldFrozen_; }
    std::uint8_t SimpleMode() const { return simpleMode_; }
    bool ModeLoading() const { return modeLoading_; }
    bool Running() const { return running_; }
    EditColor ColorOf(Control edit) const;

private:
    // One operation: Work runs on the worker and sees only what it captured
    // and the loaded index, which nothing else touches meanwhile; Finish runs
    // on the window's thread once Work has succeeded.
    struct Job {
        std::function<void(Reporter&)> Work;
        std::function<void()> Finish;
        std::function<void()> Failed = nullptr; // before the error is shown
    };
    class KeepingUpToDate;

    // Runs a handler; an error ends it, is logged and shown in a message box.
    void Guarded(const std::function<void()>& handler);
    void ReportError(const std::exception& error);
    // Starts an operation unless one runs: the controls wait meanwhile.
    void Start(Job job);
    void Finished(const Job& job);
    void DeliverBatch();

    // The three paths as the boxes hold them. Every operation locks them for
    // its length, so that no other run changes them meanwhile.
    WorldFiles Files() const;
    // On the worker, under the files' locks: loads the index again where its
    // file, or the statics file, is no longer the one it was loaded with.
    void BringUpToDate(const WorldFiles& files, Reporter& reporter);
    // On the worker: the client's files that colour the map, and the items a
    // freeze would take, marked on it.
    void FindPaneData(const WorldFiles& files, const StaIdx& table, bool findClient);
    // Draws tiles of the map pane from the loaded index, on the window's thread.
    bool DrawPaneTiles(const std::vector<MapPane::TileRequest>& tiles);
    // Takes what the worker found for the pane, drops the tiles it changed.
    void UpdatePane();
    void ShowListing(std::uint16_t xBlock, std::uint16_t yBlock, const std::vector<std::string>& lines);
    void ShowAreaListing(const TileArea& area, const std::vector<std::string>& lines);
    // The area dragged on the map, which Melt!, GetStaticBlock and Freeze!
    // take while X and Y name its first block.
    std::optional<TileArea> SelectedArea() const;
    void ListBlock();
    void SetBlockFromPosition();
    std::string StartFolder(Control edit) const;

    // The server's map when the index and statics boxes hold its files.
    std::optional<IndexMap> ServerMapOf(const WorldFiles& files) const;
    // Where a server that would overwrite the boxes' files runs from.
    WorldPlace Place() const;
    // Whether an operation that changes files may start: no UOX3 server runs
    // on the world, or the user lets it run all the same.
    bool ServerLetsRun();
    void ChooseServerMap(const std::string& folder);
    void OpenServerMap(const std::string& folder, int map);
    // Applies the patch to the files; blocks that differ from the release
    // make it ask whether to force them.
    void StartApply(const WorldFiles& files, const std::string& patch, bool force, bool dryRun);
    void UnloadIndex();

    void CheckFileName(Control edit);
    // Stores the names when all three are green, then UpdateControls.
    void UpdateButtons();
    // The enabled state of every control and menu item.
    void UpdateControls();
    void UpdateSimpleModeHelp();
    void ReplaceMainList(const std::vector<std::string>& lines);
    void SetBlockControlsEnabled(bool enabled);
    void SetIndexFilesLocked(bool locked);
    void ClampToRange(Control edit, int maximum);
    void ModeChosen(std::uint8_t mode, const char* caption);
    void ShowRunningMode();
    void SetFileName(Control edit, const std::string& path);
    bool IsGreen(Control edit) const { return ColorOf(edit) == EditColor::Green; }
    bool IsRed(Control edit) const { return ColorOf(edit) == EditColor::Red; }

    FormView& view_;
    settings::SettingsStore& store_;
    BatchedReporter reporter_;
    // Owned by the worker while an operation runs.
    std::unique_ptr<StaIdx> staIdx_;
    std::optional<FileIdentity> staticsSeen_;
    std::exception_ptr failure_;
    // The listed block as the operation began, and its objects read again
    // where the operation changed its entry.
    std::optional<std::pair<std::uint16_t, std::uint16_t>> watched_;
    TStaIdxEntry watchedEntry_{};
    std::optional<TileArea> watchedArea_; // the listed area as the operation began
    std::optional<std::vector<std::string>> relisted_;
    // For the map pane: the client's files, the marks found after an
    // operation, the blocks whose entries it changed, whether all changed.
    std::shared_ptr<const ClientMap> client_;
    std::optional<std::vector<TilePosition>> foundMarks_;
    // The world save's files as the marks were found in them, so that a
    // change by another program (the server's next save) marks them anew.
    std::vector<std::pair<std::string, FileIdentity>> marksFrom_;
    std::vector<BlockArea> changedTiles_;
    bool changedAll_ = false;

    // The window's own state, read and changed on its thread only.
    std::array<EditColor, 3> colors_{EditColor::Default, EditColor::Default, EditColor::Default};
    bool loaded_ = false;
    MapBlocks mapSize_;
    bool indexFilesLocked_ = false;
    bool running_ = false;
    bool cancelled_ = false;
    bool closeWhenDone_ = false;
    // The block whose objects the main list shows, and its entry then.
    std::optional<std::pair<std::uint16_t, std::uint16_t>> listed_;
    TStaIdxEntry listedEntry_{};
    std::optional<TileArea> listedArea_; // or the area whose objects it shows

    // The server's folder the boxes were filled from, and its map.
    struct OpenServer {
        std::string Folder;
        int Map = 0;
        ServerWorld World;
    };
    std::optional<OpenServer> server_;
    // The world-save box holds a players' patch, which simple mode applies.
    bool wscIsPatch_ = false;

    bool worldFrozen_ = false;
    std::uint8_t simpleMode_ = 0;
    std::uint8_t storedMode_ = 0;
    bool modeLoading_ = true;
    MapPane pane_;
    std::string paneError_; // the last error the pane's drawing logged
};

} // namespace cryo::form
