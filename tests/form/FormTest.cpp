// The window's logic against a recording fake window and a settings store in
// memory, on sample worlds in temporary folders.
#include "MainForm.h"

#include "Actions.h"
#include "Bytes.h"
#include "FaultInjection.h"
#include "History.h"
#include "MakePatch.h"
#include "MapSizes.h"
#include "ServerFolders.h"
#include "StoredSettings.h"
#include "TestSupport.h"
#include "Undo.h"
#include "Version.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <tuple>

using namespace cryo;
using namespace cryo::form;
using cryo::test::TempFolder;
using cryo::test::operator+;
using C = cryo::form::Control;

namespace {

// Records what the logic sets and answers its questions. Operations run at
// once on the test's thread, or, while Hold is set, wait for the test to step
// them: Work(), Tick(), Done().
class FakeView final : public FormView {
public:
    std::string Text(Control control) const override { return Texts.at(control); }
    void SetText(Control control, const std::string& text) override { Texts[control] = text; }
    void SetEditColor(Control edit, EditColor color, const std::string& tip) override
    {
        Colors[edit] = color;
        Tips[edit] = tip;
    }
    void SetEnabled(Control control, bool enabled) override { Enabled[control] = enabled; }
    void SetMenuEnabled(MenuItem item, bool enabled) override { MenuEnabled[item] = enabled; }
    bool IsChecked(Control control) const override { return Checked.contains(control) && Checked.at(control); }
    void SetChecked(Control control, bool checked) override { Checked[control] = checked; }
    void SetFocus(Control control) override { Focus = control; }
    void SetCaption(const std::string& caption) override { Caption = caption; }
    void SetBlockRanges(int x, int y) override { Ranges = {x, y}; }
    void ReplaceMainList(const std::vector<std::string>& lines) override { MainList = lines; }
    void AddLogLines(const std::vector<std::string>& lines) override
    {
        Log.insert(Log.end(), lines.begin(), lines.end());
        ++Deliveries;
    }
    void SetProgress(int position) override { Progress = position; }
    void RunInBackground(std::function<void()> work, std::function<void()> tick, std::function<void()> done) override
    {
        EXPECT_FALSE(PendingDone) << "a second operation while one runs";
        std::tie(PendingWork, PendingTick, PendingDone) = std::tie(work, tick, done);
        if (!Hold)
            Finish();
    }
    void CloseWindow() override { Closed = true; }
    bool AskYesNo(const std::string& caption, const std::string& text) override
    {
        Boxes.push_back("question " + caption + ": " + text);
        if (OnQuestion)
            OnQuestion();
        return Answer;
    }
    bool AskToOverride(const std::string& caption, const std::string& text) override
    {
        Boxes.push_back("warning " + caption + ": " + text);
        return Answer;
    }
    void ShowNotice(const std::string& caption, const std::string& text) override
    {
        Boxes.push_back("notice " + caption + ": " + text);
    }
    void ShowError(const std::string& text, const std::string& detail) override
    {
        Boxes.push_back("error " + text + (detail.empty() ? "" : " | " + detail));
    }
    std::optional<std::string> AskFileName(const std::string& title, const std::string& folder) override
    {
        Boxes.push_back("browse " + title + " in " + folder);
        return NextBrowseAnswer();
    }
    std::optional<std::string> AskFolderName(const std::string& title, const std::string& folder) override
    {
        Boxes.push_back("folder " + title + " in " + folder);
        return NextBrowseAnswer();
    }
    std::optional<std::string> AskSaveFileName(
        const std::string& title, const std::string& folder, const std::string& name) override
    {
        Boxes.push_back("save " + title + " in " + folder + " as " + name);
        return NextBrowseAnswer();
    }
    // The dialogs' answers: those queued, one each, then BrowseAnswer.
    std::optional<std::string> NextBrowseAnswer()
    {
        if (BrowseAnswers.empty())
            return BrowseAnswer;
        std::string answer = BrowseAnswers.front();
        BrowseAnswers.pop_front();
        return answer;
    }
    std::optional<std::size_t> ChooseFromMenu(Control, const std::vector<std::string>& items) override
    {
        Boxes.push_back("menu " + items.at(0) + " | " + items.at(1));
        return MenuAnswer;
    }

    void ShowMapPane(bool shown) override { MapShown = shown; }
    void RedrawMapPane() override { ++MapRedraws; }

    // The steps of the operation that waits.
    void Work() { std::exchange(PendingWork, nullptr)(); }
    void Tick() { PendingTick(); }
    void Done() { std::exchange(PendingDone, nullptr)(); }
    void Finish()
    {
        if (PendingWork)
            Work();
        Done();
    }

    std::vector<Control> EnabledButtons() const
    {
        std::vector<Control> enabled;
        for (const Control c : {C::GetStaticIndexButton, C::XBlockEdit, C::XBlockUpDown, C::YBlockEdit, C::YBlockUpDown,
                 C::GetStaticBlockButton, C::MeltBlockButton, C::FreezeWorldButton}) {
            if (Enabled.at(c))
                enabled.push_back(c);
        }
        return enabled;
    }
    std::vector<MenuItem> EnabledMenuItems() const
    {
        std::vector<MenuItem> enabled;
        for (const auto& [item, on] : MenuEnabled) {
            if (on)
                enabled.push_back(item);
        }
        return enabled;
    }

    std::map<Control, std::string> Texts;
    std::map<Control, EditColor> Colors;
    std::map<Control, std::string> Tips;
    std::map<Control, bool> Enabled;
    std::map<MenuItem, bool> MenuEnabled;
    std::map<Control, bool> Checked;
    std::optional<Control> Focus;
    std::string Caption;
    std::pair<int, int> Ranges;
    std::vector<std::string> MainList;
    std::vector<std::string> Log;
    int Deliveries = 0;
    int Progress = -1;
    std::vector<std::string> Boxes;
    bool Answer = false;
    std::optional<std::string> BrowseAnswer;
    std::deque<std::string> BrowseAnswers;
    std::optional<std::size_t> MenuAnswer;
    std::function<void()> OnQuestion;
    bool Hold = false;
    std::function<void()> PendingWork, PendingTick, PendingDone;
    bool Closed = false;
    std::optional<bool> MapShown;
    int MapRedraws = 0;
};

class MemoryStore final : public settings::SettingsStore {
public:
    bool Open(bool create) override
    {
        if (OpenError)
            throw *OpenError;
        Exists = Exists || create;
        return Exists;
    }
    void Close() override { }
    settings::StoredValue Value(const std::string& name) const override
    {
        return Values.contains(name) ? Values.at(name) : settings::StoredValue{};
    }
    bool SetValue(const std::string& name, const std::variant<std::string, std::int32_t>& value) override
    {
        if (!Writable)
            return false;
        Values[name] = std::visit([](const auto& v) { return settings::StoredValue{v}; }, value);
        return true;
    }

    bool Exists = false;
    bool Writable = true;
    std::optional<settings::SettingsError> OpenError;
    std::map<std::string, settings::StoredValue> Values;
};

const std::vector<Control> Nothing;
const std::vector<Control> OnlyGetStaticIndex = {C::GetStaticIndexButton};
const std::vector<Control> AfterLoading = {C::XBlockEdit, C::XBlockUpDown, C::YBlockEdit, C::YBlockUpDown,
    C::GetStaticBlockButton, C::MeltBlockButton, C::FreezeWorldButton};

const std::vector<std::vector<std::string>> GuideSteps = {
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
    {"Finished! You can now close Cryoweaver and connect to", "the server. Enjoy!"},
};

const std::string InitStart = "Init in progress... Cryoweaver may look crashed, do not interrupt!";

// The index of the files as they are now.
std::unique_ptr<StaIdx> IndexOf(const WorldFiles& files)
{
    auto table = std::make_unique<StaIdx>();
    NullReporter quiet;
    LoadStaIdx(files.StaIdx, *table, quiet, {MapOfStaticsFiles(files.StaIdx, files.Statics), std::nullopt});
    return table;
}

// The bytes of a world's three files.
std::vector<test::Bytes> Contents(const std::string& world)
{
    std::vector<test::Bytes> bytes;
    for (const char* name : {"/StaIdx0.mul", "/Statics0.mul", "/UOX3.wsc"})
        bytes.push_back(test::ReadBytes(world + name));
    return bytes;
}

Reporter& Quiet()
{
    static NullReporter quiet;
    return quiet;
}

// A window over a store, initialized as a window does.
struct Harness {
    Harness() { form.Initialize(); }
    FakeView view;
    MemoryStore store;
    TMainForm form{view, store};
};

class FormTest : public testing::Test, protected Harness {
protected:
    // A sample world in a new folder of the test's folder.
    std::string World(const std::string& name = "world")
    {
        const std::string folder = dir / name;
        std::filesystem::create_directories(folder);
        worldgen::WriteSampleWorld(folder);
        return folder;
    }

    void Store(const std::string& world, int mode)
    {
        store.Exists = true;
        store.Values = {{"StaIdx0.mul", world + "/StaIdx0.mul"}, {"Statics0.mul", world + "/Statics0.mul"},
            {"UOX3.wsc", world + "/UOX3.wsc"}, {"Mode", mode}};
    }

    // Shows the window over a stored world and loads its index.
    void Loaded(int mode = 0)
    {
        Store(World(), mode);
        form.FormShow();
        form.Clicked(C::GetStaticIndexButton);
    }

    // Another window over a world of its own, shown and loaded at block 100, 200.
    void Loaded(Harness& h, const std::string& world)
    {
        Store(world, 0);
        h.store.Exists = true;
        h.store.Values = store.Values;
        h.form.FormShow();
        h.form.Clicked(C::GetStaticIndexButton);
        h.view.Texts[C::XBlockEdit] = "100";
        h.view.Texts[C::YBlockEdit] = "200";
    }

    void Type(Control edit, const std::string& text)
    {
        view.Texts[edit] = text;
        form.Changed(edit);
    }

    void Leave(Control edit, const std::string& text)
    {
        view.Texts[edit] = text;
        form.Exited(edit);
    }

    TempFolder dir;
};

TEST_F(FormTest, StartsWithTheWelcomeTextAndOnlyTheFileBoxesOpen)
{
    EXPECT_EQ(view.Caption, std::string("Cryoweaver (Version ") + VersionText + ")");
    const std::vector<std::string> welcome = {
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
    };
    ASSERT_GT(view.MainList.size(), welcome.size());
    EXPECT_EQ(std::vector(view.MainList.begin(), view.MainList.begin() + 32), welcome);
    EXPECT_NE(std::find(view.MainList.begin(), view.MainList.end(), std::string(138, '-')), view.MainList.end());
    // Empty boxes, never the names of the controls, until the stored names arrive.
    for (const Control edit : {C::StaIdxEdit, C::StaticsEdit, C::WSCEdit, C::PositionEdit, C::ModeNoteLabel})
        EXPECT_EQ(view.Texts[edit], "");
    EXPECT_EQ(view.Texts[C::XBlockEdit], "0");
    EXPECT_EQ(view.Colors[C::StaIdxEdit], EditColor::Default);
    EXPECT_EQ(view.EnabledButtons(), Nothing);
    EXPECT_FALSE(view.Enabled[C::CancelButton] || view.Enabled[C::DryRunCheckBox] || view.Enabled[C::PositionEdit]);
    EXPECT_EQ(view.EnabledMenuItems(), (std::vector{MenuItem::OpenServerFolder, MenuItem::About}));
    EXPECT_TRUE(view.Enabled[C::StaIdxEdit] && view.Enabled[C::StaIdxBrowseButton]);
    EXPECT_TRUE(view.Checked[C::NormalModeRadioButton] && !view.Checked[C::SimpleModeRadioButton]);
    EXPECT_EQ(view.Ranges, std::pair(767, 511));
    EXPECT_EQ(view.Progress, 0);
}

TEST_F(FormTest, FirstRunAsksForTheModeAndStoresTheAnswer)
{
    for (const bool yes : {true, false}) {
        Harness h;
        auto& [view, store, form] = h;
        view.Answer = yes;
        // A radio button clicked while the question is open is no choice.
        view.OnQuestion = [&] { form.Clicked(yes ? C::NormalModeRadioButton : C::SimpleModeRadioButton); };
        form.FormShow();

        EXPECT_EQ(view.Boxes,
            std::vector<std::string>{"question Simple mode?: You have not yet selected a mode. If you only want to "
                                     "use Cryoweaver for patching your files, you should select \"Yes\" (Simple "
                                     "mode). If you want all features, select \"No\" (Normal mode). In \"Simple "
                                     "mode\" you get step by step instructions on patching."});
        EXPECT_EQ(store.Values, (std::map<std::string, settings::StoredValue>{{"Mode", yes ? 1 : 0}}));
        EXPECT_EQ(view.Caption, TMainForm::Caption() + (yes ? " (Simple mode)" : " (Normal mode)"));
        EXPECT_EQ(view.Checked[C::SimpleModeRadioButton], yes);
        EXPECT_FALSE(form.ModeLoading());
        for (const Control edit : {C::StaIdxEdit, C::StaticsEdit, C::WSCEdit}) {
            EXPECT_EQ(view.Texts[edit], "");
            EXPECT_EQ(view.Colors[edit], EditColor::Red);
            EXPECT_EQ(view.Tips[edit], "No file given.");
        }
        if (yes)
            EXPECT_EQ(view.MainList, GuideSteps[0]);
        else
            EXPECT_EQ(view.MainList, TMainForm::WelcomeLines());
    }
}

TEST_F(FormTest, FileNamesTurnGreenOnlyForTheirFiles)
{
    store.Exists = true;
    store.Values = {{"Mode", 0}};
    form.FormShow();
    for (const char* name : {"StaIdx0.MUL", "staidx5.mul", "staidx6.mul", "STATICS0.mul", "statics2.mul", "patch.txt"})
        test::WriteText(dir / name, "x");
    test::WriteText(dir / "from the operator.dat", "CWPATCH\x1A");
    std::filesystem::create_directories(dir / "sub/staidx0.mul");
    const std::string staIdxNames = "The name must be StaIdx0.mul to StaIdx5.mul.";
    const struct {
        Control Edit;
        std::string Path;
        std::string Tip; // empty: green
    } cases[] = {
        {C::StaIdxEdit, dir / "StaIdx0.MUL", ""},
        {C::StaIdxEdit, dir / "staidx5.mul", ""},
        {C::StaIdxEdit, dir / "staidx6.mul", staIdxNames},
        {C::StaIdxEdit, dir / "gone/StaIdx0.mul", "No such file."},
        {C::StaIdxEdit, dir / "sub/staidx0.mul", "This is a folder, not a file."},
        {C::StaIdxEdit, dir / "STATICS0.mul", staIdxNames},
        {C::StaticsEdit, dir / "STATICS0.mul", ""},
        {C::StaticsEdit, dir / "statics2.mul", ""},
        {C::StaticsEdit, dir / "StaIdx0.MUL", "The name must be Statics0.mul to Statics5.mul."},
        {C::WSCEdit, dir / "patch.txt", ""},
        // Normal mode melts into a world save, never into a players' patch.
        {C::WSCEdit, dir / "from the operator.dat", "This is a players' patch: apply it with Tools, Apply patch..."},
        {C::WSCEdit, dir / "sub", ""},
        {C::WSCEdit, dir / "missing.wsc", "No such file."},
        {C::WSCEdit, "", "No file given."},
    };
    for (const auto& c : cases) {
        Type(c.Edit, c.Path);
        EXPECT_EQ(view.Colors[c.Edit], c.Tip.empty() ? EditColor::Green : EditColor::Red) << c.Path;
        EXPECT_EQ(view.Tips[c.Edit], c.Tip) << c.Path;
    }
}

TEST_F(FormTest, NormalModeStoresNamesOnlyWhenAllAreGreenAndLoadsTheIndex)
{
    const std::string world = World();
    store.Exists = true;
    store.Values = {{"Mode", 0}};
    form.FormShow();
    Type(C::StaIdxEdit, world + "/StaIdx0.mul");
    Type(C::StaticsEdit, world + "/Statics0.mul");
    Type(C::WSCEdit, world + "/UOX3.ws");
    EXPECT_EQ(store.Values.size(), 1u);
    EXPECT_EQ(view.EnabledButtons(), Nothing);
    Type(C::WSCEdit, world + "/UOX3.wsc");
    EXPECT_EQ(store.Values["UOX3.wsc"], settings::StoredValue(world + "/UOX3.wsc"));
    EXPECT_EQ(store.Values["StaIdx0.mul"], settings::StoredValue(world + "/StaIdx0.mul"));
    EXPECT_EQ(view.EnabledButtons(), OnlyGetStaticIndex);

    form.Clicked(C::GetStaticIndexButton);
    EXPECT_EQ(view.Log, (std::vector<std::string>{InitStart, "Init completed!"}));
    EXPECT_EQ(view.Progress, 100);
    EXPECT_EQ(view.EnabledButtons(), AfterLoading);
    EXPECT_EQ(view.Focus, C::XBlockEdit);
    for (const Control locked : {C::StaIdxEdit, C::StaIdxBrowseButton, C::StaticsEdit, C::StaticsBrowseButton})
        EXPECT_FALSE(view.Enabled[locked]);
    EXPECT_TRUE(view.Enabled[C::WSCEdit] && view.Enabled[C::WSCBrowseButton]);
    EXPECT_EQ(view.MainList, TMainForm::WelcomeLines());

    // A red box stores nothing and locks the buttons until it is green again.
    Type(C::WSCEdit, world + "/gone.wsc");
    EXPECT_EQ(view.EnabledButtons(), Nothing);
    EXPECT_EQ(store.Values["UOX3.wsc"], settings::StoredValue(world + "/UOX3.wsc"));
    Type(C::WSCEdit, world + "/UOX3.wsc");
    EXPECT_EQ(view.EnabledButtons(), AfterLoading);
    EXPECT_TRUE(view.Boxes.empty());
}

TEST_F(FormTest, SimpleModeGuidesStepByStep)
{
    const std::string world = World();
    store.Exists = true;
    store.Values = {{"Mode", 1}};
    form.FormShow();
    EXPECT_EQ(view.MapShown, false);
    const struct {
        std::function<void()> Action;
        std::size_t Step;
        std::vector<Control> Enabled;
    } walk[] = {
        {[] {}, 0, Nothing},
        {[&] { Type(C::StaIdxEdit, world + "/StaIdx0.mul"); }, 1, Nothing},
        {[&] { Type(C::StaticsEdit, world + "/Statics0.mul"); }, 2, Nothing},
        {[&] { Type(C::WSCEdit, world + "/UOX3.wsc"); }, 3, OnlyGetStaticIndex},
        {[&] { form.Clicked(C::GetStaticIndexButton); }, 4, {C::FreezeWorldButton}},
        // A dry run is no freeze; a completed freeze shows the last step at once.
        {[&] {
             view.Checked[C::DryRunCheckBox] = true;
             form.Clicked(C::FreezeWorldButton);
             view.Checked[C::DryRunCheckBox] = false;
         },
            4, {C::FreezeWorldButton}},
        {[&] { form.Clicked(C::FreezeWorldButton); }, 5, Nothing},
        {[&] { Type(C::WSCEdit, world + "/UOX3.ws"); }, 2, Nothing},
        {[&] { Type(C::WSCEdit, world + "/UOX3.wsc"); }, 5, Nothing},
    };
    for (std::size_t i = 0; i < std::size(walk); ++i) {
        walk[i].Action();
        EXPECT_EQ(view.MainList, GuideSteps[walk[i].Step]) << "step " << i;
        EXPECT_EQ(view.EnabledButtons(), walk[i].Enabled) << "step " << i;
    }
    EXPECT_EQ(view.Focus, C::FreezeWorldButton);
    EXPECT_EQ(std::count(view.Log.begin(), view.Log.end(), "Freezing completed!"), 1);
    EXPECT_EQ(view.Log.back(), "3 items frozen into 2 blocks");
    EXPECT_TRUE(view.Boxes.empty());
}

TEST_F(FormTest, ChoosingTheOtherModeTakesEffectAtTheNextStartAndSaysSo)
{
    const std::string changed = ": The new mode will be active the next time you start Cryoweaver.";
    const std::string toSimple = "notice Simple mode selected" + changed;
    const std::string toNormal = "notice Normal mode selected" + changed;
    const struct {
        int Running;
        std::vector<Control> Clicks;
        std::vector<std::string> Boxes;
        int Stored;
        std::string Note;
    } cases[] = {
        {0, {C::SimpleModeRadioButton, C::SimpleModeRadioButton}, {toSimple}, 1, "Next start: Simple mode"},
        {1, {C::SimpleModeRadioButton, C::NormalModeRadioButton, C::SimpleModeRadioButton}, {toNormal, toSimple}, 1,
            ""},
        // A stored mode of 2 checks neither button and works as normal mode.
        {2, {C::SimpleModeRadioButton, C::NormalModeRadioButton}, {toSimple, toNormal}, 0, "Next start: Normal mode"},
    };
    for (const auto& c : cases) {
        Harness h;
        auto& [view, store, form] = h;
        store.Exists = true;
        store.Values = {{"Mode", c.Running}};
        form.FormShow();
        const std::string caption = view.Caption;
        for (const Control click : c.Clicks) {
            // The toolkit checks the button that was clicked.
            view.Checked[click] = true;
            form.Clicked(click);
        }
        EXPECT_EQ(view.Boxes, c.Boxes) << c.Running;
        EXPECT_EQ(store.Values["Mode"], settings::StoredValue(c.Stored)) << c.Running;
        // The buttons and the caption stay those of the running mode.
        EXPECT_EQ(std::pair(view.Checked[C::NormalModeRadioButton], view.Checked[C::SimpleModeRadioButton]),
            std::pair(c.Running == 0, c.Running == 1));
        EXPECT_EQ(view.Texts[C::ModeNoteLabel], c.Note) << c.Running;
        EXPECT_EQ(view.Caption, caption);
    }
}

TEST_F(FormTest, BlockEditsAreClampedWhenLeft)
{
    Loaded();
    const struct {
        Control Edit;
        std::string Typed;
        std::string Shown;
    } cases[] = {
        {C::XBlockEdit, "900", "767"},
        {C::XBlockEdit, "-5", "0"},
        {C::XBlockEdit, "767", "767"},
        {C::XBlockEdit, "$300", "767"},
        {C::YBlockEdit, "512", "511"},
        {C::YBlockEdit, "70000", "511"},
        {C::YBlockEdit, "5", "5"},
    };
    for (const auto& c : cases) {
        Leave(c.Edit, c.Typed);
        EXPECT_EQ(view.Texts[c.Edit], c.Shown) << c.Typed;
    }
    EXPECT_TRUE(view.Boxes.empty());
}

TEST_F(FormTest, TheBlockRangesFollowTheLoadedMap)
{
    const struct {
        std::string StaIdx;
        std::string Statics;
        MapBlocks Size;
        std::pair<int, int> Ranges;
        std::string Error;
    } cases[] = {
        {"StaIdx0.mul", "Statics0.mul", {896, 512}, {895, 511}, ""},
        {"staidx2.mul", "statics2.mul", {288, 200}, {287, 199}, ""},
        {"StaIdx0.mul", "statics2.mul", {896, 512}, {767, 511},
            "error The index '" + dir / "StaIdx0.mul" + "' belongs to map 0 but the statics file '"
                + dir / "statics2.mul"
                + "' to map 2: give the two files of one map (staidxN.mul with staticsN.mul; a name without a map "
                  "number is map 0)"},
    };
    for (const auto& c : cases) {
        Harness h;
        auto& [view, store, form] = h;
        test::WriteBytes(dir / c.StaIdx, test::IndexBytes(worldgen::EmptyIndex(c.Size)));
        test::WriteText(dir / c.Statics, "");
        test::WriteText(dir / "UOX3.wsc", "EOF\r\n");
        store.Exists = true;
        store.Values = {{"StaIdx0.mul", dir / c.StaIdx}, {"Statics0.mul", dir / c.Statics},
            {"UOX3.wsc", dir / "UOX3.wsc"}, {"Mode", 0}};
        form.FormShow();
        form.Clicked(C::GetStaticIndexButton);
        EXPECT_EQ(view.Boxes, c.Error.empty() ? std::vector<std::string>{} : std::vector{c.Error});
        EXPECT_EQ(form.StaIdxLoaded(), c.Error.empty());
        EXPECT_EQ(view.Ranges, c.Ranges) << c.StaIdx;
        // Leaving an edit clamps it to the same ranges.
        view.Texts[C::XBlockEdit] = "900";
        view.Texts[C::YBlockEdit] = "600";
        form.Exited(C::XBlockEdit);
        form.Exited(C::YBlockEdit);
        EXPECT_EQ(std::pair(view.Texts[C::XBlockEdit], view.Texts[C::YBlockEdit]),
            std::pair(std::to_string(c.Ranges.first), std::to_string(c.Ranges.second)));
    }
}

TEST_F(FormTest, ErrorsShowTheirTextWithTheFullStopRuleAndNameTheFile)
{
    Loaded();
    // The box's text; what the core names beneath it is its own business.
    const auto errorOf = [&](const std::function<void()>& action) {
        view.Boxes.clear();
        action();
        return view.Boxes.size() == 1 ? view.Boxes[0].substr(0, view.Boxes[0].find(" | "))
                                      : "boxes: " + std::to_string(view.Boxes.size());
    };
    EXPECT_EQ(errorOf([&] { Leave(C::XBlockEdit, "abc"); }), "error 'abc' is not a valid integer value.");
    EXPECT_EQ(view.Texts[C::XBlockEdit], "abc");
    EXPECT_EQ(errorOf([&] { form.Clicked(C::MeltBlockButton); }), "error 'abc' is not a valid integer value.");
    for (const char* x : {"768", "65536"}) {
        view.Texts[C::XBlockEdit] = x;
        EXPECT_EQ(errorOf([&] { form.Clicked(C::GetStaticBlockButton); }), "error Range check error.");
    }
    EXPECT_EQ(view.MainList, TMainForm::WelcomeLines());

    // A text ending in a bracket gets no full stop.
    test::WriteText(view.Texts[C::WSCEdit],
        test::CrLfLines(
            {"SECTION WORLDITEM 7", "{", "SERIAL 1", "ID 3821", "X 6144", "Y 10", "Z 0", "TYPE 255", "}", "EOF"}));
    EXPECT_EQ(errorOf([&] { form.Clicked(C::FreezeWorldButton); }), "error Invalid item in patch file! (Item#: 7)");
    EXPECT_FALSE(form.WorldFrozen());
    // Every error is logged too, with its file.
    EXPECT_EQ(view.Log.back(), "Error: " + view.Texts[C::WSCEdit] + ": Invalid item in patch file! (Item#: 7)");
    EXPECT_EQ(std::count(view.Log.begin(), view.Log.end(), "Error: 'abc' is not a valid integer value."), 2);
    EXPECT_EQ(std::count(view.Log.begin(), view.Log.end(), "Error: Range check error."), 2);

    // Where an error names its file and place, both are shown beneath the text.
    settings::SettingsError damaged("The settings file is damaged");
    damaged.SetFile("/home/me/.config/Quellmar/Cryoweaver.json");
    damaged.SetPlace("byte 12");
    store.OpenError = damaged;
    form.Clicked(C::SimpleModeRadioButton);
    EXPECT_EQ(
        view.Boxes.back(), "error The settings file is damaged. | /home/me/.config/Quellmar/Cryoweaver.json\nbyte 12");
}

TEST_F(FormTest, SettingsErrorsAtStartLeaveAWindowThatAnswers)
{
    const struct {
        std::map<std::string, settings::StoredValue> Values;
        bool Writable;
        std::string Error;
    } cases[] = {
        {{{"Mode", "1"}}, true, "error Invalid data type for 'Mode'"},
        {{{"StaIdx0.mul", 12}, {"Mode", 1}}, true, "error Invalid data type for 'StaIdx0.mul'"},
        {{}, false, "error Failed to set data for 'Mode'"},
    };
    for (const auto& c : cases) {
        Harness h;
        h.store.Exists = !c.Values.empty();
        h.store.Values = c.Values;
        h.store.Writable = c.Writable;
        h.form.FormShow();
        ASSERT_FALSE(h.view.Boxes.empty());
        EXPECT_EQ(h.view.Boxes.back(), c.Error);
        EXPECT_EQ(h.view.Caption, TMainForm::Caption());
        EXPECT_FALSE(h.form.ModeLoading());
    } // A server's folder stored wrongly leaves the paths as they were stored.
    Harness h;
    h.store.Exists = true;
    h.store.Values = {{"ServerMap", "2"}, {"Mode", 0}, {"UOX3.wsc", "/x"}};
    h.form.FormShow();
    EXPECT_EQ(h.view.Boxes, std::vector<std::string>{"error Invalid data type for 'ServerMap'"});
    EXPECT_EQ(h.view.Texts[C::WSCEdit], "/x");
}

TEST_F(FormTest, ListingMeltAndFreezeLogAndWriteWhatTheCoreDoes)
{
    Loaded();
    const std::string copy = World("copy");
    const WorldFiles files{copy + "/StaIdx0.mul", copy + "/Statics0.mul", copy + "/UOX3.wsc"};
    auto table = std::make_unique<StaIdx>();
    NullReporter quiet;
    LoadStaIdx(files.StaIdx, *table, quiet);
    test::RecordingReporter core;
    const std::vector<std::string> listing = ListStaticBlock(files.Statics, *table, "100", "200", quiet);
    RunMelt(files, "100", "200", *table, core);
    RunFreeze(files, *table, core);
    ASSERT_FALSE(listing.empty());

    Leave(C::XBlockEdit, "100");
    Leave(C::YBlockEdit, "200");
    form.Clicked(C::GetStaticBlockButton);
    EXPECT_EQ(view.MainList, listing);
    view.Log.clear();
    // The listing follows the block it shows: empty after the melt, and its
    // objects back after the freeze.
    form.Clicked(C::MeltBlockButton);
    EXPECT_EQ(view.MainList, std::vector<std::string>{"Block 100, 200 holds no objects."});
    form.Clicked(C::FreezeWorldButton);
    EXPECT_EQ(view.MainList, listing);
    EXPECT_EQ(view.Log, core.Lines);
    EXPECT_EQ(view.Progress, 100);
    for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"})
        EXPECT_EQ(test::ReadBytes(dir / ("world/" + std::string(name))), test::ReadBytes(copy + "/" + name)) << name;
    EXPECT_TRUE(view.Boxes.empty());
}

// The map pane shows the loaded map whole; a click lists the block under the
// mouse, a Shift drag sets X and Y to the area's first block; a melt marks its
// objects and draws the tile of its block again.
TEST_F(FormTest, TheMapPaneListsTheBlockClickedAndFollowsAMelt)
{
    Loaded();
    EXPECT_EQ(view.MapShown, true);
    MapPane& pane = form.Pane();
    pane.Resize(768, 512);
    ASSERT_EQ(pane.Map(), (MapBlocks{768, 512}));
    std::vector<unsigned char> pixels(768 * 512 * 3);
    const PictureView picture{pixels.data(), 768, 512, 768 * 3};
    const auto colourAt = [&](int x, int y) {
        const unsigned char* at = &pixels[(std::size_t(y) * 768 + std::size_t(x)) * 3];
        return PackedRgb(at[0]) << 16 | PackedRgb(at[1]) << 8 | at[2];
    };
    pane.Paint(picture);
    EXPECT_EQ(pane.CachedTiles(), 24u * 16u);
    EXPECT_NE(colourAt(100, 200), GroundColour);
    const std::vector<std::string> listing = ListStaticBlock(view.Texts[C::StaticsEdit],
        *IndexOf({view.Texts[C::StaIdxEdit], view.Texts[C::StaticsEdit], {}}), "100", "200", Quiet());

    // An area dragged with Shift: GetStaticBlock lists its blocks. The
    // position typed before no longer says where X and Y are.
    Leave(C::PositionEdit, "1432,1696");
    form.MapPaneAction(pane.Press(101, 201, true));
    form.MapPaneAction(pane.Move(100, 200));
    form.MapPaneAction(pane.Release(99, 199));
    EXPECT_EQ(std::tie(view.Texts[C::XBlockEdit], view.Texts[C::YBlockEdit]), std::tie("99", "199"));
    EXPECT_EQ(view.Texts[C::PositionEdit], "");
    const TileArea area = *pane.Selection();
    form.Clicked(C::GetStaticBlockButton);
    EXPECT_EQ(view.MainList,
        ListStaticArea(view.Texts[C::StaticsEdit],
            *IndexOf({view.Texts[C::StaIdxEdit], view.Texts[C::StaticsEdit], {}}), area, Quiet()));
    EXPECT_GT(view.MainList.size(), listing.size());
    form.MapPaneAction(pane.Press(100, 200, false));
    form.MapPaneAction(pane.Release(100, 200));
    EXPECT_EQ(std::tie(view.Texts[C::XBlockEdit], view.Texts[C::YBlockEdit]), std::tie("100", "200"));
    EXPECT_EQ(view.MainList, listing);
    EXPECT_EQ(AreaText(*pane.Selection()), "800,1600,807,1607");

    const int redraws = view.MapRedraws;
    form.Clicked(C::MeltBlockButton);
    EXPECT_GT(view.MapRedraws, redraws);
    EXPECT_EQ(pane.CachedTiles(), 24u * 16u - 1);
    pane.Select(std::nullopt);
    pane.Paint(picture);
    EXPECT_EQ(colourAt(100, 200), MarkColour);

    // A compact rewrites the statics alone: the items to freeze stay marked.
    view.Answer = true;
    form.OnCompactStatics();
    pane.Paint(picture);
    EXPECT_EQ(colourAt(100, 200), MarkColour);
    const std::string wsc = view.Texts[C::WSCEdit];
    const test::Bytes melted = test::ReadBytes(wsc);

    // Freeze! with an area takes only the items inside it.
    for (const auto& [x, y, marked] : {std::tuple{40, 150, true}, std::tuple{99, 199, false}}) {
        form.MapPaneAction(pane.Press(x, y, true));
        form.MapPaneAction(pane.Release(x + 2, y + 2));
        form.Clicked(C::FreezeWorldButton);
        pane.Select(std::nullopt);
        pane.Paint(picture);
        EXPECT_EQ(colourAt(100, 200) == MarkColour, marked) << x;
    }
    // A world save another program wrote (the server's next save) is marked
    // as it now is at the next listing.
    test::WriteBytes(wsc, melted);
    form.Clicked(C::GetStaticBlockButton);
    pane.Select(std::nullopt);
    pane.Paint(picture);
    EXPECT_EQ(colourAt(100, 200), MarkColour);
}

// A block whose entry is damaged shows in its own colour, the rest of the map
// around it, with the error logged once; a statics file another program
// changed in place is drawn again once an operation notices it.
TEST_F(FormTest, TheMapPaneDrawsAroundABlockItCannotReadAndRedrawsStaticsChangedInPlace)
{
    Loaded();
    const std::string index = view.Texts[C::StaIdxEdit];
    const std::string statics = view.Texts[C::StaticsEdit];
    test::Bytes entries = test::ReadBytes(index);
    const std::size_t damaged = (std::size_t{300} * 512 + 300) * 12;
    const unsigned char far[] = {0xF0, 0xFF, 0xFF, 0x7F, 70, 0, 0, 0};
    std::copy(std::begin(far), std::end(far), entries.begin() + static_cast<std::ptrdiff_t>(damaged));
    test::WriteBytes(index, entries);
    form.Clicked(C::GetStaticIndexButton);

    MapPane& pane = form.Pane();
    pane.Resize(768, 512);
    std::vector<unsigned char> pixels(768 * 512 * 3);
    const PictureView picture{pixels.data(), 768, 512, 768 * 3};
    const auto colourAt = [&](int x, int y) {
        const unsigned char* at = &pixels[(std::size_t(y) * 768 + std::size_t(x)) * 3];
        return PackedRgb(at[0]) << 16 | PackedRgb(at[1]) << 8 | at[2];
    };
    view.Log.clear();
    for (int paint = 0; paint < 3; ++paint)
        pane.Paint(picture);
    EXPECT_EQ(view.Log, std::vector<std::string>{"Error: " + statics + ": block 300, 300: Read beyond end of file."});
    EXPECT_EQ(colourAt(300, 300), MapPane::UnreadableColour);
    const PackedRgb before = colourAt(100, 200);
    EXPECT_NE(before, GroundColour);

    // The block's objects raised high in place: the index stays as it was.
    const std::size_t entry = le::GetU32(&entries[(std::size_t{100} * 512 + 200) * 12]);
    test::Bytes objects = test::ReadBytes(statics);
    for (std::size_t at = entry; at < entry + 6 * 7; at += 7)
        objects[at + 4] = 100;
    test::WriteBytes(statics, objects);
    std::filesystem::last_write_time(statics, std::filesystem::last_write_time(statics) + std::chrono::seconds(2));
    Type(C::XBlockEdit, "100");
    Type(C::YBlockEdit, "200");
    form.Clicked(C::GetStaticBlockButton);
    pane.Select(std::nullopt);
    pane.Paint(picture);
    EXPECT_NE(colourAt(100, 200), before);
    EXPECT_EQ(colourAt(300, 300), MapPane::UnreadableColour);

    // A block that cannot be listed leaves no other block's objects in the list.
    ASSERT_FALSE(view.MainList.empty());
    Type(C::XBlockEdit, "300");
    Type(C::YBlockEdit, "300");
    form.Clicked(C::GetStaticBlockButton);
    EXPECT_EQ(view.MainList, std::vector<std::string>{});

    // A listed area is listed again once an operation changed its blocks.
    form.MapPaneAction(pane.Press(99, 199, true));
    form.MapPaneAction(pane.Release(101, 201));
    form.Clicked(C::GetStaticBlockButton);
    ASSERT_FALSE(view.MainList.empty());
    form.Clicked(C::MeltBlockButton);
    EXPECT_EQ(view.MainList, std::vector<std::string>{"The area 796,1596,812,1612 holds no objects."});
}

// Sets the local time zone (nothing: as it was) for the test's run.
void SetTimeZone(const char* zone)
{
#ifdef _WIN32
    ::_putenv_s("TZ", zone != nullptr ? zone : "");
    ::_tzset();
#else
    zone != nullptr ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
    ::tzset();
#endif
}

// Gives the operations recorded beside the index the time when (UTC).
void RecordedAt(const std::string& index, const std::string& when)
{
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             std::filesystem::path(index).parent_path() / ".cryoweaver-history")) {
        if (entry.path().filename() != "manifest")
            continue;
        std::string text = test::ReadText(entry.path().string());
        const std::size_t at = text.find("\nwhen\t") + 6;
        text.replace(at, text.find('\n', at) - at, when);
        test::WriteText(entry.path().string(), text);
    }
}

TEST_F(FormTest, UndoSaysWhatItTakesBackInLocalTimeAndUndoesItOnlyWhenConfirmed)
{
    SetTimeZone("UTC-2"); // two hours ahead
    Loaded();
    const WorldFiles files{dir / "world/StaIdx0.mul", dir / "world/Statics0.mul", dir / "world/UOX3.wsc"};
    auto contents = [&] {
        return std::vector<std::string>{
            test::ReadText(files.StaIdx), test::ReadText(files.Statics), test::ReadText(files.Wsc)};
    };
    const std::vector<std::string> original = contents();
    form.Clicked(C::FreezeWorldButton);
    const std::vector<std::string> frozen = contents();
    RecordedAt(files.StaIdx, "2026-12-31T23:40:12Z");
    // The files as the history names them: the index and the world save it
    // replaced, then the statics file it appended to.
    const HistoryEntry freeze = UndoableOperations(files).at(0);
    const std::string question = "question Cryoweaver: Undo the freeze of 3 items into 2 blocks of 2027-01-01 "
                                 "01:40?\n\nThese files go back to what they held before it:\n"
        + freeze.Files[0].Target + "\n" + freeze.Files[1].Target + "\n" + freeze.Statics;

    // What undo takes back, listed.
    form.MenuChosen(MenuItem::History);
    EXPECT_EQ(view.MainList,
        (std::vector<std::string>{"What undo takes back from " + files.StaIdx + ", newest first:",
            "2027-01-01 01:40  freeze of 3 items into 2 blocks"}));
    view.Log.clear();
    form.MenuChosen(MenuItem::UndoLastOperation);
    EXPECT_EQ(view.Boxes, std::vector<std::string>{question});
    EXPECT_EQ(contents(), frozen);
    view.Answer = true;
    form.MenuChosen(MenuItem::UndoLastOperation);
    EXPECT_EQ(contents(), original);
    EXPECT_EQ(view.Log,
        (std::vector<std::string>{"Undoing the freeze of 3 items into 2 blocks of 2026-12-31 23:40...",
            "Cut the 35 bytes it appended off the statics file: " + files.Statics, "Undo completed!"}));
    form.MenuChosen(MenuItem::UndoLastOperation);
    const std::string none = "No melt, freeze, compact or apply of " + files.StaIdx + " can be undone.";
    EXPECT_EQ(view.Boxes, (std::vector<std::string>{question, question, "notice Cryoweaver: " + none}));
    form.MenuChosen(MenuItem::History);
    EXPECT_EQ(view.MainList, std::vector{none});
    SetTimeZone(nullptr);
}

// A melt and a freeze of the sample leave 56 of its 140 statics bytes unreferenced.
TEST_F(FormTest, CheckFilesLogsTheReportAndCompactStaticsAsksFirst)
{
    Loaded();
    Leave(C::XBlockEdit, "100");
    Leave(C::YBlockEdit, "200");
    form.Clicked(C::MeltBlockButton);
    form.Clicked(C::FreezeWorldButton);
    form.Clicked(C::GetStaticBlockButton);
    const std::vector<std::string> listing = view.MainList;
    form.OnCheckFiles();
    EXPECT_EQ(std::vector<std::string>(view.Log.end() - 2, view.Log.end()),
        (std::vector<std::string>{
            "Unreferenced bytes in the statics file: 56 of 140 (40.0%); compact reclaims them", "No problems found"}));

    const std::string world = dir / "world/";
    const test::Bytes statics = test::ReadBytes(world + "Statics0.mul");
    form.OnCompactStatics();
    EXPECT_EQ(test::ReadBytes(world + "Statics0.mul"), statics);
    view.Answer = true;
    form.OnCompactStatics();
    EXPECT_EQ(view.Boxes,
        std::vector<std::string>(2,
            "question Cryoweaver: Compact " + world + "Statics0.mul and " + world
                + "StaIdx0.mul? Both are rewritten without the room that "
                  "old copies of blocks take."));
    EXPECT_EQ(view.Log.back(), "Compacting completed!");
    EXPECT_EQ(test::ReadBytes(world + "Statics0.mul").size(), 84u);
    // The loaded index follows the new file.
    form.Clicked(C::GetStaticBlockButton);
    EXPECT_EQ(view.MainList, listing);
}

TEST_F(FormTest, WhileAnOperationRunsOnlyCancelAnswersAndItsLogArrivesInBatches)
{
    Loaded();
    const std::vector<MenuItem> allMenuItems = view.EnabledMenuItems();
    view.Hold = true;
    view.Log.clear();
    const int deliveries = view.Deliveries;
    form.Clicked(C::FreezeWorldButton);
    EXPECT_EQ(view.EnabledButtons(), Nothing);
    EXPECT_EQ(view.EnabledMenuItems(), std::vector{MenuItem::About});
    EXPECT_TRUE(view.Enabled[C::CancelButton] && !view.Enabled[C::WSCEdit] && !view.Enabled[C::DryRunCheckBox]);
    // Clicks, keys and files meanwhile come to nothing.
    form.Clicked(C::MeltBlockButton);
    form.MenuChosen(MenuItem::CheckFiles);
    form.Entered(C::XBlockEdit);
    form.FilesDropped({dir / "world/UOX3.wsc"}, C::WSCEdit);
    EXPECT_TRUE(view.Boxes.empty() && view.Log.empty());

    // The work's lines reach the window at the next tick, all in one; a
    // Cancel after the work has ended changes nothing.
    view.Work();
    form.Clicked(C::CancelButton);
    view.Tick();
    EXPECT_EQ(view.Deliveries, deliveries + 2);
    EXPECT_EQ(view.Log.back(), "3 items frozen into 2 blocks");
    view.Done();
    EXPECT_EQ(view.Log.back(), "Cancel came after the operation's last step: it completed.");
    EXPECT_EQ(view.EnabledButtons(), AfterLoading);
    EXPECT_EQ(view.EnabledMenuItems(), allMenuItems);
    EXPECT_FALSE(view.Enabled[C::CancelButton]);

    // Closing while one runs stops it first, once asked.
    form.Clicked(C::MeltBlockButton);
    EXPECT_FALSE(form.CloseQuery());
    view.Answer = true;
    EXPECT_FALSE(form.CloseQuery());
    view.Finish();
    EXPECT_TRUE(view.Closed);
    EXPECT_EQ(view.Boxes,
        std::vector<std::string>(2,
            "question Cryoweaver: An operation is still running. Stop it, and close Cryoweaver once it has stopped?"));
    EXPECT_EQ(view.Log.back(), "Stopped by the Cancel button; no file was changed.");
}

// Cancel pressed before the k-th step of the file layer, for every k: the
// files are either as they were, or, where the commit had begun to put the
// new files in place, as the whole operation leaves them.
TEST_F(FormTest, CancelStopsTheOperationLeavingEveryFileAsItWasOrWhole)
{
    class CancelAt final : public fault::Injector {
    public:
        CancelAt(int step, TMainForm& form)
            : step_(step)
            , form_(form)
        {
        }
        void Before(fault::Operation, const std::string&) override
        {
            if (++steps == step_)
                form_.Clicked(C::CancelButton);
        }
        int steps = 0;

    private:
        int step_;
        TMainForm& form_;
    };
    const std::string whole = World("whole");
    const WorldFiles wholeFiles{whole + "/StaIdx0.mul", whole + "/Statics0.mul", whole + "/UOX3.wsc"};
    for (const Control button : {C::MeltBlockButton, C::FreezeWorldButton}) {
        const bool melt = button == C::MeltBlockButton;
        melt ? RunMelt(wholeFiles, "100", "200", *IndexOf(wholeFiles), Quiet())
             : RunFreeze(wholeFiles, *IndexOf(wholeFiles), Quiet());
        const std::string summary
            = melt ? "6 objects of block 100, 200 melted into UOX3.wsc" : "3 items frozen into 2 blocks";
        int stopped = 0;
        for (int step = 1;; ++step) {
            Harness h;
            const std::string world = World("cancel" + std::to_string(step));
            Loaded(h, world);
            const std::vector<test::Bytes> before = Contents(world);
            h.view.Log.clear();
            CancelAt cancel(step, h.form);
            fault::Install(&cancel);
            h.form.Clicked(button);
            fault::Install(nullptr);
            if (cancel.steps < step)
                break;
            // A Cancel too late to stop it says so after the operation's own last line.
            const bool late = h.view.Log.back() == "Cancel came after the operation's last step: it completed.";
            const std::string end = h.view.Log.at(h.view.Log.size() - (late ? 2 : 1));
            EXPECT_TRUE(!late || end == summary) << step;
            stopped += end == "Stopped by the Cancel button; no file was changed.";
            EXPECT_EQ(Contents(world), end == summary ? Contents(whole) : before) << step << " " << end;
            EXPECT_TRUE(end == summary || end.starts_with("Stopped")) << step << " " << end;
            EXPECT_TRUE(h.view.Boxes.empty() && !h.view.Enabled[C::CancelButton]) << step;
            EXPECT_EQ(
                TempFolder::EntriesOf(world), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
            // The next operation runs as if nothing had been asked, and finds nothing changed.
            const std::size_t logged = h.view.Log.size();
            h.form.Clicked(C::GetStaticBlockButton);
            EXPECT_EQ(h.view.MainList.size(), melt && end == summary ? 1u : 6u) << step;
            EXPECT_EQ(h.view.Log.size(), logged) << step << " " << h.view.Log.back();
        }
        EXPECT_GT(stopped, 5);
        World("whole"); // as it was, for the next button
    }
}

TEST_F(FormTest, AnIndexThatAnotherRunChangedIsLoadedAgainBeforeAMelt)
{
    Loaded();
    const WorldFiles files{dir / "world/StaIdx0.mul", dir / "world/Statics0.mul", dir / "world/UOX3.wsc"};
    // Another run melts the block meanwhile.
    auto other = std::make_unique<StaIdx>();
    NullReporter quiet;
    LoadStaIdx(files.StaIdx, *other, quiet);
    RunMelt(files, "100", "200", *other, quiet);
    const std::string melted = test::ReadText(files.Wsc);

    Leave(C::XBlockEdit, "100");
    Leave(C::YBlockEdit, "200");
    view.Log.clear();
    form.Clicked(C::MeltBlockButton);
    EXPECT_EQ(view.Log,
        (std::vector<std::string>{"The index changed since it was loaded; loading it again from " + files.StaIdx,
            "Melting in progress... Cryoweaver may look crashed, do not interrupt!", "Nothing to do!",
            "Writing StaIdx file...", "Done!", "Melting completed!", "No object of block 100, 200 was melted"}));
    EXPECT_EQ(test::ReadText(files.Wsc), melted);
}

TEST_F(FormTest, TheListingNeverShowsWhatTheFilesNoLongerHold)
{
    const struct {
        const char* Name;
        std::function<void(const WorldFiles&)> Meanwhile; // another program's work
        std::string Logged;
    } cases[] = {
        {"melt", [](const WorldFiles& files) { RunMelt(files, "100", "200", *IndexOf(files), Quiet()); },
            "The index changed since it was loaded; loading it again from "},
        {"freeze and compact",
            [](const WorldFiles& files) {
                auto table = IndexOf(files);
                RunMelt(files, "100", "201", *table, Quiet());
                RunFreeze(files, *table, Quiet());
                RunCompact(files, *table, Quiet());
            },
            "The index changed since it was loaded; loading it again from "},
        {"statics file grown",
            [](const WorldFiles& files) {
                test::WriteBytes(files.Statics, test::ReadBytes(files.Statics) + test::Bytes(7, 1));
            },
            "The statics file changed since the index was loaded; loading the index again from "},
    };
    for (const auto& c : cases) {
        Harness h;
        auto& view = h.view;
        const std::string world = World(c.Name);
        const WorldFiles files{world + "/StaIdx0.mul", world + "/Statics0.mul", world + "/UOX3.wsc"};
        Loaded(h, world);
        h.form.Clicked(C::GetStaticBlockButton);
        c.Meanwhile(files);
        view.Log.clear();
        for (const auto& [x, y] : {std::pair{"100", "200"}, {"100", "201"}}) {
            view.Texts[C::XBlockEdit] = x;
            view.Texts[C::YBlockEdit] = y;
            h.form.Clicked(C::GetStaticBlockButton);
            auto fresh = ListStaticBlock(files.Statics, *IndexOf(files), x, y, Quiet());
            if (fresh.empty())
                fresh = {"Block " + std::string(x) + ", " + y + " holds no objects."};
            EXPECT_EQ(view.MainList, fresh) << c.Name << " " << x << "," << y;
        }
        EXPECT_EQ(view.Log, std::vector{c.Logged + files.StaIdx}) << c.Name;
        EXPECT_TRUE(view.Boxes.empty()) << c.Name;
    }
}

TEST_F(FormTest, GetStaticIndexCompletesWhatAnInterruptedRunBegan)
{
    const std::string world = World();
    const WorldFiles files{world + "/StaIdx0.mul", world + "/Statics0.mul", world + "/UOX3.wsc"};
    // A melt whose index cannot take its new file's name, and whose world
    // save then cannot get its old one back: its journal is left.
    class FailLaterRenames final : public fault::Injector {
    public:
        void Before(fault::Operation op, const std::string& path) override
        {
            if (op == fault::Operation::Rename && !path.ends_with(".journal") && ++renames_ > 1)
                throw FileError(FileError::Kind::Other, 5);
        }

    private:
        int renames_ = 0;
    } failLaterRenames;
    auto table = std::make_unique<StaIdx>();
    NullReporter quiet;
    LoadStaIdx(files.StaIdx, *table, quiet);
    fault::Install(&failLaterRenames);
    EXPECT_EQ(test::ErrorText([&] { RunMelt(files, "100", "200", *table, quiet); }), "I/O error 5");
    fault::Install(nullptr);

    Store(world, 0);
    form.FormShow();
    form.Clicked(C::GetStaticIndexButton);
    ASSERT_EQ(view.Log.size(), 3u);
    std::string recovered = view.Log[1];
    std::replace(recovered.begin(), recovered.end(), '\\', '/');
    EXPECT_TRUE(recovered.starts_with("Completed what an interrupted run had begun: ")) << recovered;
    EXPECT_TRUE(recovered.ends_with("/UOX3.wsc, " + std::filesystem::absolute(files.StaIdx).generic_string()))
        << recovered;
    // The melt is complete: the block is in the world save and no longer in the index.
    Leave(C::XBlockEdit, "100");
    Leave(C::YBlockEdit, "200");
    form.Clicked(C::GetStaticBlockButton);
    EXPECT_EQ(view.MainList, std::vector<std::string>{"Block 100, 200 holds no objects."});
    EXPECT_NE(test::ReadText(files.Wsc).find("TYPE 255"), std::string::npos);
    EXPECT_EQ(TempFolder::EntriesOf(world), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
}

TEST_F(FormTest, DroppedAndBrowsedFilesFillTheBoxTheyFit)
{
    const std::string world = World();
    store.Exists = true;
    store.Values = {{"Mode", 0}};
    form.FormShow();
    form.FilesDropped({world + "/UOX3.wsc", world + "/Statics0.mul", world + "/StaIdx0.mul"}, std::nullopt);
    EXPECT_EQ(view.Texts[C::StaIdxEdit], world + "/StaIdx0.mul");
    EXPECT_EQ(view.Texts[C::StaticsEdit], world + "/Statics0.mul");
    EXPECT_EQ(view.Texts[C::WSCEdit], world + "/UOX3.wsc");
    EXPECT_EQ(view.EnabledButtons(), OnlyGetStaticIndex);

    // Dropped on a box, the file goes there, whatever its name.
    form.FilesDropped({world + "/UOX3.wsc", world + "/StaIdx0.mul"}, C::StaticsEdit);
    EXPECT_EQ(view.Texts[C::StaticsEdit], world + "/UOX3.wsc");
    EXPECT_EQ(view.Colors[C::StaticsEdit], EditColor::Red);

    view.BrowseAnswer = world + "/Statics0.mul";
    form.Clicked(C::StaticsBrowseButton);
    EXPECT_EQ(view.Colors[C::StaticsEdit], EditColor::Green);
    // The world save is a file or a shared folder; each dialog opens where
    // the files already chosen are.
    std::filesystem::create_directories(world + "/shared");
    view.BrowseAnswer = world + "/shared";
    view.MenuAnswer = 1;
    form.Clicked(C::WSCBrowseButton);
    EXPECT_EQ(view.Colors[C::WSCEdit], EditColor::Green);
    view.BrowseAnswer.reset();
    view.MenuAnswer = 0;
    form.Clicked(C::WSCBrowseButton);
    view.MenuAnswer.reset();
    form.Clicked(C::WSCBrowseButton);
    EXPECT_EQ(view.Texts[C::WSCEdit], world + "/shared");
    const std::string choices = "menu A world-save file (UOX3.wsc)... | The shared folder of today's UOX3...";
    EXPECT_EQ(view.Boxes,
        (std::vector<std::string>{"browse Where is Statics0.mul? in " + world + "/", choices,
            "folder Where is the server's shared folder? in " + world + "/", choices,
            "browse Where is the world save (UOX3.wsc)? in " + world + "/shared", choices}));
    Type(C::WSCEdit, world + "/UOX3.wsc");

    // Locked boxes take nothing.
    form.Clicked(C::GetStaticIndexButton);
    form.FilesDropped({dir / "StaIdx0.mul"}, std::nullopt);
    form.FilesDropped({dir / "x"}, C::StaticsEdit);
    form.Clicked(C::StaIdxBrowseButton);
    EXPECT_EQ(view.Texts[C::StaIdxEdit], world + "/StaIdx0.mul");
    EXPECT_EQ(view.Texts[C::StaticsEdit], world + "/Statics0.mul");
    EXPECT_EQ(view.Boxes.size(), 6u);
}

TEST_F(FormTest, ToolsWaitForTheirFilesAndChangeFilesUnloadsTheIndex)
{
    store.Exists = true;
    store.Values = {{"Mode", 0}};
    form.FormShow();
    const std::string world = World();
    const std::string other = World("other");
    test::WriteBytes(other + "/staidx2.mul", test::IndexBytes(worldgen::EmptyIndex({288, 200})));
    test::WriteText(other + "/statics2.mul", "");
    using M = MenuItem;
    const struct {
        std::string StaIdx, Statics, Wsc;
        std::vector<MenuItem> Open;
    } cases[] = {
        {"", "", "", {M::OpenServerFolder, M::About}},
        {world + "/StaIdx0.mul", "", "", {M::OpenServerFolder, M::History, M::About}},
        {world + "/StaIdx0.mul", world + "/Statics0.mul", "",
            {M::OpenServerFolder, M::History, M::CheckFiles, M::CompactStatics, M::MakePatch, M::ApplyPatch, M::About}},
        {world + "/StaIdx0.mul", world + "/Statics0.mul", world + "/UOX3.wsc",
            {M::OpenServerFolder, M::UndoLastOperation, M::History, M::CheckFiles, M::CompactStatics, M::MakePatch,
                M::ApplyPatch, M::About}},
    };
    for (const auto& c : cases) {
        Type(C::StaIdxEdit, c.StaIdx);
        Type(C::StaticsEdit, c.Statics);
        Type(C::WSCEdit, c.Wsc);
        EXPECT_EQ(view.EnabledMenuItems(), c.Open) << c.StaIdx << " " << c.Statics << " " << c.Wsc;
    }

    // Loaded, the index boxes are locked until File, Change files...
    form.Clicked(C::GetStaticIndexButton);
    EXPECT_EQ(view.EnabledMenuItems().at(1), M::ChangeFiles);
    view.Log.clear();
    form.MenuChosen(M::ChangeFiles);
    EXPECT_EQ(
        view.Log, std::vector<std::string>{"The index is unloaded: choose the files, then press GetStaticIndex."});
    EXPECT_EQ(view.EnabledButtons(), OnlyGetStaticIndex);
    EXPECT_TRUE(view.Enabled[C::StaIdxEdit] && view.Enabled[C::StaticsBrowseButton]);

    // Other files load without a restart, at their own map's size.
    Type(C::StaIdxEdit, other + "/staidx2.mul");
    Type(C::StaticsEdit, other + "/statics2.mul");
    form.Clicked(C::GetStaticIndexButton);
    EXPECT_EQ(view.Ranges, std::pair(287, 199));
    Leave(C::XBlockEdit, "100");
    Leave(C::YBlockEdit, "200");
    form.Clicked(C::GetStaticBlockButton);
    EXPECT_EQ(view.MainList, std::vector<std::string>{"Block 100, 199 holds no objects."});
    EXPECT_TRUE(view.Boxes.empty());
}

TEST_F(FormTest, APositionSetsTheBlockAndEnterListsIt)
{
    Loaded();
    const struct {
        std::string Typed;
        std::string X, Y; // the pickers afterwards
        std::string Error;
    } cases[] = {
        {" 6143 , 4095 ", "767", "511", ""}, {"1432 1696 5", "179", "212", ""},
        {"6144,0", "179", "212", "error Position 6144,0 lies outside the map, which is 6144 x 4096 tiles."},
        {"a,b", "179", "212", "error Invalid position 'a,b': give X,Y in tiles, such as 1432,1696."},
        {"", "179", "212", ""}, // an empty box is no error
    };
    for (const auto& c : cases) {
        view.Boxes.clear();
        Leave(C::PositionEdit, c.Typed);
        EXPECT_EQ(view.Boxes, c.Error.empty() ? std::vector<std::string>{} : std::vector{c.Error}) << c.Typed;
        EXPECT_EQ(std::pair(view.Texts[C::XBlockEdit], view.Texts[C::YBlockEdit]), std::pair(c.X, c.Y)) << c.Typed;
    }
    const WorldFiles files{dir / "world/StaIdx0.mul", dir / "world/Statics0.mul", dir / "world/UOX3.wsc"};
    view.Texts[C::PositionEdit] = "803,1605";
    form.Entered(C::PositionEdit);
    EXPECT_EQ(view.MainList, ListStaticBlock(files.Statics, *IndexOf(files), "100", "200", Quiet()));
    // Enter in X or Y lists the block too, once the box is clamped.
    view.Texts[C::XBlockEdit] = "5000";
    view.Texts[C::YBlockEdit] = "5";
    form.Entered(C::XBlockEdit);
    EXPECT_EQ(view.Texts[C::XBlockEdit], "767");
    EXPECT_EQ(view.MainList, std::vector<std::string>{"Block 767, 5 holds no objects."});
    EXPECT_EQ(view.Focus, C::XBlockEdit);
}

// The operator's files after a melt of block 100, 200 and a freeze, and a
// patch to them from a copy of the files as they were, the release.
struct OperatorsPatch {
    std::string Patch;
    WorldFiles Operator;
};

// Whether the player's files hold exactly the operator's blocks: a patch
// between them is empty.
std::uint32_t BlocksThatDiffer(const WorldFiles& player, const WorldFiles& operatorFiles, const std::string& out)
{
    return MakePatch({player.StaIdx, player.Statics}, {operatorFiles.StaIdx, operatorFiles.Statics}, out, Quiet())
        .Blocks;
}

class PatchFormTest : public FormTest {
protected:
    OperatorsPatch Patch()
    {
        const std::string release = World("release");
        const std::string edited = World("operator");
        const WorldFiles operatorFiles{edited + "/StaIdx0.mul", edited + "/Statics0.mul", edited + "/UOX3.wsc"};
        RunFreeze(operatorFiles, *IndexOf(operatorFiles), Quiet());
        RunMelt(operatorFiles, "100", "200", *IndexOf(operatorFiles), Quiet());
        // Whatever its name: the window knows a patch by its content.
        const std::string patch = dir / "from the operator.dat";
        MakePatch({release + "/StaIdx0.mul", release + "/Statics0.mul"}, {operatorFiles.StaIdx, operatorFiles.Statics},
            patch, Quiet());
        return {patch, operatorFiles};
    }
};

TEST_F(PatchFormTest, SimpleModeAppliesAPatchAndEndsItsGuideOrAsksToForceBlocksThatDiffer)
{
    const auto [patch, operatorFiles] = Patch();
    for (const bool differs : {false, true}) {
        Harness h;
        auto& [view, store, form] = h;
        const std::string world = World(differs ? "differs" : "player");
        const WorldFiles files{world + "/StaIdx0.mul", world + "/Statics0.mul", patch};
        if (differs) {
            // The player's block 100, 200 holds another colour than the release's.
            test::Bytes statics = test::ReadBytes(files.Statics);
            statics.at(static_cast<std::size_t>(IndexOf(files)->At(100, 200).Offset) + 5) ^= 1;
            test::WriteBytes(files.Statics, statics);
        }
        store.Exists = true;
        store.Values = {{"StaIdx0.mul", files.StaIdx}, {"Statics0.mul", files.Statics}, {"Mode", 1}};
        form.FormShow();
        EXPECT_EQ(view.MainList, GuideSteps[2]);
        // A player browses for the operator's file, whatever it is.
        view.BrowseAnswer = patch;
        form.Clicked(C::WSCBrowseButton);
        EXPECT_EQ(view.Boxes,
            std::vector<std::string>{"browse Where is the file you got from the server operator? in " + world + "/"});
        view.Boxes.clear();
        EXPECT_EQ(view.MainList, GuideSteps[3]);
        form.Clicked(C::GetStaticIndexButton);
        const std::vector<test::Bytes> before = {test::ReadBytes(files.StaIdx), test::ReadBytes(files.Statics)};
        form.Clicked(C::FreezeWorldButton);
        const std::string question = "warning Cryoweaver: 1 block of " + files.Statics
            + " differs from the release the patch " + patch
            + " was made from: block 100,200. Nothing was changed.\n\nReplace them all the same? Each then holds "
              "what the operator's block holds; undo takes the apply back.";
        if (differs) {
            // Refused: every file as it was, and the guide still at the Freeze button.
            EXPECT_EQ(view.Boxes, std::vector{question});
            EXPECT_EQ(view.MainList, GuideSteps[4]);
            EXPECT_EQ(view.EnabledButtons(), std::vector{C::FreezeWorldButton});
            EXPECT_EQ((std::vector{test::ReadBytes(files.StaIdx), test::ReadBytes(files.Statics)}), before);
            view.Answer = true;
            form.Clicked(C::FreezeWorldButton);
            EXPECT_EQ(view.Boxes, std::vector(2, question));
        } else {
            EXPECT_TRUE(view.Boxes.empty()) << view.Boxes.at(0);
        }
        EXPECT_EQ(view.Log.back(), "Applying completed!");
        EXPECT_EQ(view.MainList, GuideSteps[5]);
        EXPECT_EQ(view.EnabledButtons(), Nothing);
        EXPECT_EQ(BlocksThatDiffer(files, operatorFiles, dir / "check.patch"), 0u) << differs;
        // Undo takes the apply back, and the guide with it: Freeze! again.
        view.Answer = true;
        form.MenuChosen(MenuItem::UndoLastOperation);
        EXPECT_EQ((std::vector{test::ReadBytes(files.StaIdx), test::ReadBytes(files.Statics)}), before) << differs;
        EXPECT_EQ(view.MainList, GuideSteps[4]);
        EXPECT_EQ(view.EnabledButtons(), std::vector{C::FreezeWorldButton});
    }
}

TEST_F(PatchFormTest, ToolsMakeAPatchAndApplyItAskingWithTheFilesNames)
{
    const std::string release = World("release");
    const std::string edited = World("operator");
    const std::string player = World("player");
    Store(edited, 0);
    form.FormShow();
    RunMelt({edited + "/StaIdx0.mul", edited + "/Statics0.mul", edited + "/UOX3.wsc"}, "100", "200",
        *IndexOf({edited + "/StaIdx0.mul", edited + "/Statics0.mul", ""}), Quiet());
    const std::string patch = dir / "map0.patch";
    view.BrowseAnswers = {release + "/StaIdx0.mul", release + "/Statics0.mul", patch};
    view.Answer = true;
    form.MenuChosen(MenuItem::MakePatch);
    EXPECT_EQ(view.Log.back(), "Patch written to " + patch + ": 1 block changed, 0 objects added, 6 removed");

    Type(C::StaIdxEdit, player + "/StaIdx0.mul");
    Type(C::StaticsEdit, player + "/Statics0.mul");
    view.BrowseAnswers = {player + "/UOX3.wsc", patch};
    form.MenuChosen(MenuItem::ApplyPatch);
    form.MenuChosen(MenuItem::ApplyPatch);
    EXPECT_EQ(view.Log.back(), "Applying completed!");
    EXPECT_EQ(view.Boxes,
        (std::vector<std::string>{"browse Where is the release's index, the players' StaIdx0.mul? in " + edited + "/",
            "browse Where is the release's statics file, the players' Statics0.mul? in " + release + "/",
            "save Where does the players' patch go? in " + edited + "/ as map0.patch",
            "question Cryoweaver: Make a players' patch from the release " + release + "/StaIdx0.mul and " + release
                + "/Statics0.mul to the current " + edited + "/StaIdx0.mul and " + edited + "/Statics0.mul, into "
                + patch + "?",
            "browse Which players' patch is to be applied? in " + player + "/",
            "error This is no players' patch: it does not begin as one. | " + player + "/UOX3.wsc",
            "browse Which players' patch is to be applied? in " + player + "/",
            "question Cryoweaver: Apply the patch " + patch + " to " + player + "/StaIdx0.mul and " + player
                + "/Statics0.mul? Each block it holds becomes what the operator's block is; undo takes it back."}));
    EXPECT_EQ(BlocksThatDiffer({player + "/StaIdx0.mul", player + "/Statics0.mul", ""},
                  {edited + "/StaIdx0.mul", edited + "/Statics0.mul", ""}, dir / "check.patch"),
        0u);
}

TEST_F(FormTest, AServersFolderFillsTheBoxesWithTheChosenMapAndIsRemembered)
{
    const test::TestServer server;
    store.Exists = true;
    store.Values = {{"Mode", 0}};
    form.FormShow();
    view.BrowseAnswer = server.Folder();
    view.MenuAnswer = 1;
    form.MenuChosen(MenuItem::OpenServerFolder);
    const std::string client = server.Client();
    // A custom map's files turn green whatever their names, and load at its size.
    EXPECT_EQ(view.Texts[C::StaIdxEdit], client + "/custom-index.mul");
    EXPECT_EQ(view.Texts[C::StaticsEdit], client + "/custom-statics.mul");
    EXPECT_EQ(view.Texts[C::WSCEdit], server.Shared());
    EXPECT_EQ(view.EnabledButtons(), OnlyGetStaticIndex);
    form.Clicked(C::GetStaticIndexButton);
    EXPECT_EQ(view.Ranges, std::pair(63, 31));
    EXPECT_EQ(store.Values["ServerFolder"], settings::StoredValue(server.Folder()));
    EXPECT_EQ(store.Values["ServerMap"], settings::StoredValue(2));

    // Another map unloads the index.
    view.MenuAnswer = 0;
    form.MenuChosen(MenuItem::ServerMap);
    EXPECT_EQ(view.Texts[C::StaIdxEdit], client + "/staidx0.mul");
    EXPECT_EQ(view.EnabledButtons(), OnlyGetStaticIndex);
    const std::string maps = "menu Map 0: 6144 x 4096 tiles, staidx0.mul and statics0.mul | Map 2: 512 x 256 tiles, "
                             "custom-index.mul and custom-statics.mul";
    EXPECT_EQ(view.Boxes,
        (std::vector<std::string>{
            "folder Where is the server's folder, the one with uox.ini? in ", maps, maps + " (open)"}));
    // Other files typed into a box: none of the server's maps is open.
    Leave(C::StaIdxEdit, client + "/custom-index.mul");
    view.Boxes.clear();
    view.MenuAnswer = std::nullopt;
    form.MenuChosen(MenuItem::ServerMap);
    EXPECT_EQ(view.Boxes, std::vector<std::string>{maps});
    view.MenuAnswer = 0;
    form.MenuChosen(MenuItem::ServerMap);

    // The next start knows the folder and its map.
    Harness next;
    next.store.Exists = true;
    next.store.Values = store.Values;
    next.store.Values["ServerMap"] = 2;
    next.store.Values["StaIdx0.mul"] = client + "/custom-index.mul";
    next.store.Values["Statics0.mul"] = client + "/custom-statics.mul";
    next.form.FormShow();
    EXPECT_EQ(next.view.Colors[C::StaIdxEdit], EditColor::Green);
    EXPECT_TRUE(next.view.MenuEnabled[MenuItem::ServerMap]);
    next.form.Clicked(C::GetStaticIndexButton);
    EXPECT_EQ(next.view.Ranges, std::pair(63, 31));
}

#ifndef _WIN32
TEST_F(FormTest, ARunningServerStopsEveryChangeUnlessTheUserLetsItRun)
{
    const test::TestServer server;
    store.Exists = true;
    store.Values = {{"Mode", 0}};
    form.FormShow();
    view.BrowseAnswer = server.Folder();
    view.MenuAnswer = 0;
    form.MenuChosen(MenuItem::OpenServerFolder);
    form.Clicked(C::GetStaticIndexButton);
    const test::RunningProgram other("uox3d", server.Folder());
    view.Boxes.clear();
    form.Clicked(C::MeltBlockButton);
    EXPECT_TRUE(view.Boxes.empty());
    const auto files = server.Files();

    const test::RunningProgram uox3("uox3", server.Folder());
    const std::string text = std::filesystem::canonical(server.Folder()).string()
        + ": A UOX3 server runs from this folder (process " + std::to_string(uox3.Id())
        + ", uox3) and would overwrite the change at its next save: stop it first; no file was changed";
    view.Log.clear();
    for (const Control button : {C::MeltBlockButton, C::FreezeWorldButton})
        form.Clicked(button);
    EXPECT_EQ(view.Boxes,
        std::vector(2,
            "warning Cryoweaver: " + text
                + ".\n\nRun it all the same? Only where the server does not save to these files, as one that "
                  "loads its world from another copy."));
    EXPECT_EQ(view.Log, std::vector(2, "Error: " + text + "."));
    EXPECT_EQ(server.Files(), files);
    view.Answer = true;
    form.Clicked(C::FreezeWorldButton);
    EXPECT_EQ(view.Log.at(3), "Running all the same, as asked, while the server runs.");
    EXPECT_EQ(view.Log.back(), "No TYPE 255 item was frozen");
}
#endif

} // namespace
