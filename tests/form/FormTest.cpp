// The window's logic against a recording fake window and a settings store in
// memory, on sample worlds in temporary folders.
#include "MainForm.h"

#include "Actions.h"
#include "FaultInjection.h"
#include "StoredSettings.h"
#include "TestSupport.h"
#include "Undo.h"
#include "Version.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <map>

using namespace cryo;
using namespace cryo::form;
using cryo::test::TempFolder;
using C = cryo::form::Control;

namespace {

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
    void SetChecked(Control control, bool checked) override { Checked[control] = checked; }
    void SetFocus(Control control) override { Focus = control; }
    void SetCaption(const std::string& caption) override { Caption = caption; }
    void SetBlockRanges(int x, int y) override { Ranges = {x, y}; }
    void ReplaceMainList(const std::vector<std::string>& lines) override { MainList = lines; }
    void AddLogLine(const std::string& line) override { Log.push_back(line); }
    void SetProgress(int position) override { Progress = position; }
    void RepaintLog() override { ++Repaints; }
    void DiscardQueuedInput() override
    {
        if (OnDiscard)
            std::exchange(OnDiscard, nullptr)();
    }
    bool AskYesNo(const std::string& caption, const std::string& text) override
    {
        Boxes.push_back("question " + caption + ": " + text);
        if (OnQuestion)
            OnQuestion();
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
        return BrowseAnswer;
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

    std::map<Control, std::string> Texts;
    std::map<Control, EditColor> Colors;
    std::map<Control, std::string> Tips;
    std::map<Control, bool> Enabled;
    std::map<Control, bool> Checked;
    std::optional<Control> Focus;
    std::string Caption;
    std::pair<int, int> Ranges;
    std::vector<std::string> MainList;
    std::vector<std::string> Log;
    int Progress = -1;
    int Repaints = 0;
    std::vector<std::string> Boxes;
    bool Answer = false;
    std::optional<std::string> BrowseAnswer;
    std::function<void()> OnQuestion;
    std::function<void()> OnDiscard;
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
    EXPECT_EQ(view.Texts[C::StaIdxEdit], "StaIdxEdit");
    EXPECT_EQ(view.Texts[C::StaticsEdit], "StaticsEdit");
    EXPECT_EQ(view.Texts[C::WSCEdit], "WSCEdit");
    EXPECT_EQ(view.Texts[C::XBlockEdit], "0");
    EXPECT_EQ(view.Colors[C::StaIdxEdit], EditColor::Default);
    EXPECT_EQ(view.EnabledButtons(), Nothing);
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
    EXPECT_EQ(view.Repaints, 1);
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
        // A completed freeze shows only at the next change of the world-save box.
        {[&] { form.Clicked(C::FreezeWorldButton); }, 4, {C::FreezeWorldButton}},
        {[&] { Type(C::WSCEdit, world + "/UOX3.ws"); }, 2, Nothing},
        {[&] { Type(C::WSCEdit, world + "/UOX3.wsc"); }, 5, Nothing},
    };
    for (std::size_t i = 0; i < std::size(walk); ++i) {
        walk[i].Action();
        EXPECT_EQ(view.MainList, GuideSteps[walk[i].Step]) << "step " << i;
        EXPECT_EQ(view.EnabledButtons(), walk[i].Enabled) << "step " << i;
    }
    EXPECT_EQ(view.Focus, C::FreezeWorldButton);
    EXPECT_EQ(view.Log.back(), "Freezing completed!");
    EXPECT_TRUE(view.Boxes.empty());
}

TEST_F(FormTest, ChoosingTheOtherModeTakesEffectAtTheNextStart)
{
    // A stored mode of 2 checks neither button and works as normal mode.
    Loaded(2);
    EXPECT_EQ(view.Caption, TMainForm::Caption());
    EXPECT_EQ(view.EnabledButtons(), AfterLoading);
    EXPECT_EQ(view.MainList, TMainForm::WelcomeLines());
    form.Clicked(C::SimpleModeRadioButton);
    form.Clicked(C::SimpleModeRadioButton); // already checked: nothing
    form.Clicked(C::NormalModeRadioButton);
    const std::string changed = ": The new mode will be active the next time you start Cryoweaver.";
    EXPECT_EQ(view.Boxes,
        (std::vector<std::string>{"notice Simple mode selected" + changed, "notice Normal mode selected" + changed}));
    EXPECT_EQ(store.Values["Mode"], settings::StoredValue(0));
    EXPECT_EQ(view.Caption, TMainForm::Caption());
    EXPECT_EQ(view.EnabledButtons(), AfterLoading);
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
    }
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
    form.Clicked(C::MeltBlockButton);
    form.Clicked(C::FreezeWorldButton);
    EXPECT_EQ(view.Log, core.Lines);
    EXPECT_EQ(view.Progress, 100);
    EXPECT_EQ(view.Repaints, 3);
    for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"})
        EXPECT_EQ(test::ReadBytes(dir / ("world/" + std::string(name))), test::ReadBytes(copy + "/" + name)) << name;
    EXPECT_TRUE(view.Boxes.empty());
}

TEST_F(FormTest, UndoSaysWhatItTakesBackAndUndoesItOnlyWhenConfirmed)
{
    Loaded();
    const WorldFiles files{dir / "world/StaIdx0.mul", dir / "world/Statics0.mul", dir / "world/UOX3.wsc"};
    auto contents = [&] {
        return std::vector<std::string>{
            test::ReadText(files.StaIdx), test::ReadText(files.Statics), test::ReadText(files.Wsc)};
    };
    const std::vector<std::string> original = contents();
    form.Clicked(C::FreezeWorldButton);
    const std::vector<std::string> frozen = contents();
    const std::string when = UndoableOperations(files).at(0).When;
    const std::string question = "question Cryoweaver: Undo the freeze of 3 items into 2 blocks of "
        + when.substr(0, 10) + " " + when.substr(11, 5) + "?";

    view.Log.clear();
    form.MenuChosen(MenuItem::UndoLastOperation);
    EXPECT_EQ(view.Boxes, std::vector<std::string>{question});
    EXPECT_EQ(contents(), frozen);
    view.Answer = true;
    form.MenuChosen(MenuItem::UndoLastOperation);
    EXPECT_EQ(contents(), original);
    EXPECT_EQ(view.Log,
        (std::vector<std::string>{"Undoing" + question.substr(25, question.size() - 26) + "...",
            "Cut the 35 bytes it appended off the statics file: " + files.Statics, "Undo completed!",
            "The index changed since it was loaded; loading it again from " + files.StaIdx}));
    form.MenuChosen(MenuItem::UndoLastOperation);
    EXPECT_EQ(view.Boxes,
        (std::vector<std::string>{
            question, question, "notice Cryoweaver: No melt, freeze or compact of these files can be undone."}));
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

TEST_F(FormTest, ClicksQueuedDuringAnOperationComeToNothing)
{
    Loaded();
    view.OnDiscard = [&] {
        form.Clicked(C::FreezeWorldButton);
        form.Clicked(C::MeltBlockButton);
    };
    form.Clicked(C::FreezeWorldButton);
    EXPECT_EQ(std::count(view.Log.begin(), view.Log.end(), "Freezing completed!"), 1);
    EXPECT_EQ(std::count(view.Log.begin(), view.Log.end(), "Melting completed!"), 0);
    // Once it has ended the buttons work again.
    form.Clicked(C::MeltBlockButton);
    EXPECT_EQ(view.Log.back(), "Melting completed!");
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
            "Writing StaIdx file...", "Done!", "Melting completed!"}));
    EXPECT_EQ(test::ReadText(files.Wsc), melted);
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
    EXPECT_TRUE(view.MainList.empty());
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
    view.BrowseAnswer.reset();
    form.Clicked(C::WSCBrowseButton);
    EXPECT_EQ(view.Texts[C::WSCEdit], world + "/UOX3.wsc");
    EXPECT_EQ(view.Boxes,
        (std::vector<std::string>{"browse Where is Statics0.mul? in " + world + "/",
            "browse Where is the world save (UOX3.wsc)? in " + world + "/"}));

    // Locked boxes take nothing.
    form.Clicked(C::GetStaticIndexButton);
    form.FilesDropped({dir / "StaIdx0.mul"}, std::nullopt);
    form.FilesDropped({dir / "x"}, C::StaticsEdit);
    form.Clicked(C::StaIdxBrowseButton);
    EXPECT_EQ(view.Texts[C::StaIdxEdit], world + "/StaIdx0.mul");
    EXPECT_EQ(view.Texts[C::StaticsEdit], world + "/Statics0.mul");
    EXPECT_EQ(view.Boxes.size(), 2u);
}

TEST_F(FormTest, FailedLoadLeavesTheFilesEditable)
{
    const std::string world = World();
    test::WriteBytes(world + "/StaIdx0.mul", test::Bytes(100, 0));
    Store(world, 0);
    form.FormShow();
    form.Clicked(C::GetStaticIndexButton);
    ASSERT_EQ(view.Boxes.size(), 1u);
    EXPECT_TRUE(view.Boxes[0].starts_with("error Read beyond end of file.")) << view.Boxes[0];
    EXPECT_EQ(view.Log, std::vector<std::string>{InitStart});
    EXPECT_TRUE(view.Enabled[C::StaIdxEdit] && view.Enabled[C::StaticsEdit]);
    EXPECT_EQ(view.EnabledButtons(), OnlyGetStaticIndex);
    EXPECT_FALSE(form.StaIdxLoaded());
}

} // namespace
