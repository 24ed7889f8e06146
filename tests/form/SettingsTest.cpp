// The stored names and mode in the platform's store: a settings file in a
// temporary folder, or a test key of the registry under Wine.
#include "StoredSettings.h"
#include "TestSupport.h"

#ifdef _WIN32
#include "RegistrySettingsStore.h"
#include "WideText.h"
#else
#include "FileSettingsStore.h"
#endif

#include <gtest/gtest.h>

#include <filesystem>

using namespace cryo;
using namespace cryo::settings;
using namespace std::string_literals;

namespace {

class SettingsTest : public testing::Test {
protected:
#ifdef _WIN32
    static constexpr const wchar_t* Key = L"Software\\Quellmar\\CryoweaverTest";
    SettingsTest()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, Key);
    }
    ~SettingsTest() override
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, Key);
    }
    RegistrySettingsStore store{Key};

    bool KeyExists() const
    {
        HKEY key = nullptr;
        const bool exists = ::RegOpenKeyExW(HKEY_CURRENT_USER, Key, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (exists)
            ::RegCloseKey(key);
        return exists;
    }
    // The value's type as the registry holds it, and its bytes.
    std::pair<DWORD, std::string> Stored(const std::string& name) const
    {
        DWORD type = 0;
        char data[512] = {};
        DWORD size = sizeof data;
        ::RegGetValueW(HKEY_CURRENT_USER, Key, Widen(name).c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
        return {type, std::string(data, size)};
    }
    void Put(const std::string& name, DWORD type, const std::string& bytes)
    {
        HKEY key = nullptr;
        ::RegCreateKeyExW(HKEY_CURRENT_USER, Key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        ::RegSetValueExW(key, Widen(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
            static_cast<DWORD>(bytes.size()));
        ::RegCloseKey(key);
    }
#else
    std::string Path() const
    {
        return dir / "config/Quellmar/Cryoweaver.json";
    }
    bool KeyExists() const
    {
        return std::filesystem::exists(dir / "config");
    }
    std::string File() const
    {
        return test::ReadText(Path());
    }
    void Put(const std::string& json)
    {
        std::filesystem::create_directories(dir / "config/Quellmar");
        test::WriteText(Path(), json);
    }
    test::TempFolder dir;
    FileSettingsStore store{Path()};
#endif

    // Asks as the window would, remembering the questions.
    AskYesNo Asker(bool yes)
    {
        return [this, yes](const std::string& caption, const std::string&) {
            Questions.push_back(caption);
            return yes;
        };
    }
    std::vector<std::string> Questions;
};

TEST_F(SettingsTest, NamesAndModeAreStoredWithTheirTypes)
{
    const FileNames none = LoadFileNames(store);
    EXPECT_EQ(none.StaIdx + none.Statics + none.Wsc, "");
    EXPECT_FALSE(KeyExists());

    SaveFileNames(store, {"/w/StaIdx0.mul", "/w/Statics0.mul", "/w/Grüße \"neu\".wsc"});
    EXPECT_EQ(LoadMode(store, Asker(true)), 1);
    EXPECT_EQ(LoadMode(store, Asker(false)), 1);
    EXPECT_EQ(Questions, std::vector<std::string>{"Simple mode?"});
    SaveMode(store, 0);
#ifdef _WIN32
    EXPECT_EQ(Stored("UOX3.wsc"),
        std::pair(
            DWORD{REG_SZ}, std::string("/\0w\0/\0G\0r\0\xFC\0\xDF\0e\0 \0\"\0n\0e\0u\0\"\0.\0w\0s\0c\0\0\0", 38)));
    EXPECT_EQ(Stored("Mode"), std::pair(DWORD{REG_DWORD}, std::string(4, '\0')));
#else
    EXPECT_EQ(File(),
        "{\n    \"Mode\": 0,\n    \"StaIdx0.mul\": \"/w/StaIdx0.mul\",\n    \"Statics0.mul\": \"/w/Statics0.mul\",\n"
        "    \"UOX3.wsc\": \"/w/Grüße \\\"neu\\\".wsc\"\n}\n");
#endif
    // Settings stored before the server's folder was one of them.
    EXPECT_EQ(LoadServerChoice(store).Folder, "");
    SaveServerChoice(store, {"/srv/uo", 2});
    EXPECT_EQ(
        std::pair(LoadServerChoice(store).Folder, LoadServerChoice(store).Map), std::pair(std::string("/srv/uo"), 2));
    const FileNames names = LoadFileNames(store);
    EXPECT_EQ(names.StaIdx, "/w/StaIdx0.mul");
    EXPECT_EQ(names.Statics, "/w/Statics0.mul");
    EXPECT_EQ(names.Wsc, "/w/Grüße \"neu\".wsc");
    EXPECT_EQ(LoadMode(store, Asker(true)), 0);
    EXPECT_EQ(Questions.size(), 1u);
}

TEST_F(SettingsTest, StoredModeIsTruncatedToItsLowByte)
{
    for (const auto& [stored, mode] : {std::pair(2, 2), std::pair(258, 2), std::pair(256, 0), std::pair(-1, 255)}) {
        store.Open(true);
        ASSERT_TRUE(store.SetValue("Mode", stored));
        store.Close();
        EXPECT_EQ(LoadMode(store, Asker(true)), mode) << stored;
    }
    EXPECT_TRUE(Questions.empty());
}

TEST_F(SettingsTest, WrongTypesAreNamedAndLeftAsTheyAre)
{
#ifdef _WIN32
    const struct {
        std::string Name;
        DWORD Type;
        std::string Bytes;
    } cases[] = {
        {"Mode", REG_SZ, std::string("1\0\0\0", 4)},
        {"Mode", REG_QWORD, std::string(8, '\1')},
        {"Mode", REG_BINARY, "\1"},
        {"StaIdx0.mul", REG_DWORD, std::string(4, '\0')},
        {"UOX3.wsc", REG_MULTI_SZ, std::string("a\0\0\0\0\0", 6)},
        {"ServerMap", REG_SZ, std::string("2\0\0\0", 4)},
    };
    for (const auto& c : cases) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, Key);
        Put(c.Name, c.Type, c.Bytes);
        const std::string error = test::ErrorText([&] {
            LoadFileNames(store);
            LoadServerChoice(store);
            LoadMode(store, Asker(true));
        });
        EXPECT_EQ(error, "Invalid data type for '" + c.Name + "'");
        EXPECT_EQ(Stored(c.Name), std::pair(c.Type, c.Bytes));
    }
#else
    const std::pair<std::string, std::string> cases[] = {
        {R"({"Mode": "1"})", "Mode"},
        {R"({"Mode": 1.5})", "Mode"},
        {R"({"Mode": true})", "Mode"},
        {R"({"Mode": 4294967296})", "Mode"},
        {R"({"Statics0.mul": 7, "Mode": 0})", "Statics0.mul"},
        {R"({"UOX3.wsc": ["a", {"b": null}], "Mode": 0})", "UOX3.wsc"},
        {R"({"ServerMap": "2", "Mode": 0})", "ServerMap"},
    };
    for (const auto& [json, name] : cases) {
        Put(json);
        const std::string error = test::ErrorText([&] {
            LoadFileNames(store);
            LoadServerChoice(store);
            LoadMode(store, Asker(true));
        });
        EXPECT_EQ(error, "Invalid data type for '" + name + "'");
        EXPECT_EQ(File(), json);
    }
#endif
    EXPECT_TRUE(Questions.empty());
}

#ifndef _WIN32
// Every way of writing a file that is read, and what each value reads as; and
// every way of damaging one, and what the user is told. A damaged file is never
// written over.
TEST_F(SettingsTest, FilesAreReadAsWrittenOrRefusedWithThePlace)
{
    const StoredValue none;
    const StoredValue wrong = Unsupported{};
    const struct {
        std::string File;
        std::string Name;
        StoredValue Value;
        std::string Damage = {};
    } cases[] = {
        {"{}", "Mode", none},
        {"\xEF\xBB\xBF{\"Mode\": 1}", "Mode", 1},
        {" \t\r\n{ \"Mode\"\t:\r\n-7 ,\"UOX3.wsc\" : \"a\"}\n\n", "Mode", -7},
        {" \t\r\n{ \"Mode\"\t:\r\n-7 ,\"UOX3.wsc\" : \"a\"}\n\n", "UOX3.wsc", "a"},
        {R"({"UOX3.wsc": "\"\\\/\b\f\n\r\t"})", "UOX3.wsc", "\"\\/\b\f\n\r\t"},
        {R"({"UOX3.wsc": "\u00e9\u20AC\uD83D\uDE00\u0000x"})", "UOX3.wsc", "é€\xF0\x9F\x98\x80\0x"s},
        {"{\"UOX3.wsc\": \"Grüße \x7F\"}", "UOX3.wsc", "Grüße \x7F"},
        {R"({"Mo\u0064e": 3})", "Mode", 3},
        {R"({"Mode": 1, "Mode": 2})", "Mode", 2},
        {R"({"Window": {"a": [1, {"b": null}], "": true}, "Mode": 0})", "Mode", 0},
        {R"({"Window": {"a": [1, {"b": null}], "": true}, "Mode": 0})", "Window", wrong},
        {R"({"Mode": "1"})", "Mode", "1"},
        {R"({"Mode": true, "a": false, "b": null})", "Mode", wrong},
        {R"({"Mode": {}})", "Mode", wrong},
        {R"({"Mode": 1.0})", "Mode", 1},
        {R"({"Mode": 1e2})", "Mode", 100},
        {R"({"Mode": 2.5E+1})", "Mode", 25},
        {R"({"Mode": -0})", "Mode", 0},
        {R"({"Mode": -0.0})", "Mode", 0},
        {R"({"Mode": 2147483647})", "Mode", 2147483647},
        {R"({"Mode": -2147483648})", "Mode", -2147483647 - 1},
        {R"({"Mode": 1.5})", "Mode", wrong},
        {R"({"Mode": 1e-5})", "Mode", wrong},
        {R"({"Mode": 2147483648})", "Mode", wrong},
        {R"({"Mode": -2147483649})", "Mode", wrong},
        {R"({"Mode": 99999999999999999999})", "Mode", wrong},
        {"{\"Mode\": " + std::string(65, '[') + std::string(65, ']') + "}", "Mode", wrong},

        // Never written by Cryoweaver, and no JSON, but read as ever: leading
        // zeros, and bytes that are no UTF-8, kept as they are.
        {R"({"Mode": 01})", "Mode", 1},
        {R"({"Mode": -007, "a": [0.01, 1e01, 100]})", "Mode", -7},
        {"{\"UOX3.wsc\": \"/home/j\xF6rg/\xFF\xFE\"}", "UOX3.wsc", "/home/j\xF6rg/\xFF\xFE"},
        {"{\"UOX3.wsc\": \"\xF6\", x}", "Mode", none, "not valid JSON at line 1, column 19"},
        {"{\"Mode\": 00, x}", "Mode", none, "not valid JSON at line 1, column 14"},
        // Read as 0 by earlier versions: a number no double holds.
        {R"({"Mode": 1e400})", "Mode", none, "a number out of range"},
        // Refused before and now, with the place.
        {"", "Mode", none, "not valid JSON at line 1, column 1"},
        {" \n ", "Mode", none, "not valid JSON at line 2, column 2"},
        {"[\"Mode\", 1]", "Mode", none, "not a JSON object"},
        {"Mode=1", "Mode", none, "not valid JSON at line 1, column 1"},
        {"{\n    \"Mode\": 1,\n    \"UOX3.wsc\": /w\n}\n", "Mode", none, "not valid JSON at line 3, column 17"},
        {"{\"Mode\": 1} x", "Mode", none, "not valid JSON at line 1, column 13"},
        {"{\"Mode\": 1} // a comment", "Mode", none, "not valid JSON at line 1, column 13"},
        {"{\"Mode\": 1,}", "Mode", none, "not valid JSON at line 1, column 12"},
        {"{'Mode': 1}", "Mode", none, "not valid JSON at line 1, column 2"},
        {"{\"Mode\" 1}", "Mode", none, "not valid JSON at line 1, column 9"},
        {"{\"Mode\": 1", "Mode", none, "not valid JSON at line 1, column 11"},
        {"{\"Mode\": 1 \"a\": 2}", "Mode", none, "not valid JSON at line 1, column 14"},
        {"{\"Mode\": [1 2]}", "Mode", none, "not valid JSON at line 1, column 13"},
        {"{\"Mode\": [1,]}", "Mode", none, "not valid JSON at line 1, column 13"},
        {"{\"Mode\": tru}", "Mode", none, "not valid JSON at line 1, column 13"},
        {"{\"Mode\": +1}", "Mode", none, "not valid JSON at line 1, column 10"},
        {"{\"Mode\": .5}", "Mode", none, "not valid JSON at line 1, column 10"},
        {"{\"Mode\": NaN}", "Mode", none, "not valid JSON at line 1, column 10"},
        {"{\"Mode\": 1.}", "Mode", none, "not valid JSON at line 1, column 12"},
        {"{\"Mode\": -}", "Mode", none, "not valid JSON at line 1, column 11"},
        {"{\"a\": \"x", "Mode", none, "not valid JSON at line 1, column 9"},
        {"{\"a\": \"\t\"}", "Mode", none, "not valid JSON at line 1, column 8"},
        {"{\"a\": \"\\x\"}", "Mode", none, "not valid JSON at line 1, column 9"},
        {"{\"a\": \"\\u12\"}", "Mode", none, "not valid JSON at line 1, column 12"},
        {"{\"a\": \"\\ud800\"}", "Mode", none, "not valid JSON at line 1, column 14"},
        {"{\"a\": \"\\udc00\"}", "Mode", none, "not valid JSON at line 1, column 13"},
        {"{\"a\": \"\\ud800\\u0041\"}", "Mode", none, "not valid JSON at line 1, column 19"},
        {"{\"Mode\": " + std::string(66, '[') + std::string(66, ']') + "}", "Mode", none, "nested too deeply"},
    };
    for (const auto& c : cases) {
        Put(c.File);
        const auto read = [&] {
            const OpenKey key(store, false);
            return store.Value(c.Name);
        };
        if (c.Damage.empty()) {
            EXPECT_EQ(read(), c.Value) << c.File;
            continue;
        }
        // Shown with the path beneath, whatever the window was doing.
        const std::string error = Path() + ": The settings file is damaged (" + c.Damage
            + "); Cryoweaver leaves it as it is. Correct or delete it.";
        EXPECT_EQ(test::ErrorLineOf(read), error) << c.File;
        EXPECT_EQ(test::ErrorLineOf([&] { LoadMode(store, Asker(true)); }), error) << c.File;
        EXPECT_EQ(test::ErrorLineOf([&] { SaveMode(store, 1); }), error) << c.File;
        EXPECT_EQ(File(), c.File);
    }
    EXPECT_TRUE(Questions.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "config/Quellmar"), {}), 1);
}

// Names are written as JSON strings and read back as they were. Bytes that are
// no UTF-8 (never from the window, whose text is Unicode) become U+FFFD, as in
// the registry.
TEST_F(SettingsTest, StoredTextIsEscapedAndReadBackAsItWas)
{
    const struct {
        std::string Text;
        std::string Json;
        std::string Read;
    } cases[] = {
        {R"(C:\UOX3\"x"/y)", R"("C:\\UOX3\\\"x\"/y")", R"(C:\UOX3\"x"/y)"},
        {"\n\r\t\b\f\x01\x1f\x7F"s + '\0',
            R"("\n\r\t\b\f\u0001\u001f)"
            "\x7F"
            R"(\u0000")",
            "\n\r\t\b\f\x01\x1f\x7F"s + '\0'},
        {"/home/jörg/€/\xF0\x9F\x98\x80", "\"/home/jörg/€/\xF0\x9F\x98\x80\"", "/home/jörg/€/\xF0\x9F\x98\x80"},
        {"/home/j\xF6rg", "\"/home/j\uFFFDrg\"", "/home/j\uFFFDrg"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir / "config");
        ASSERT_TRUE(store.Open(true));
        ASSERT_TRUE(store.SetValue("UOX3.wsc", c.Text));
        store.Close();
        EXPECT_EQ(File(), "{\n    \"UOX3.wsc\": " + c.Json + "\n}\n");
        EXPECT_EQ(LoadFileNames(store).Wsc, c.Read);
    }
}

TEST_F(SettingsTest, UnknownValuesAreKeptAndFailedWritesNameTheValue)
{
    Put("{\"Window\": {\"Width\": 800}, \"UOX3.wsc\": \"/x\\u00e9\\ud83d\\ude00\\n\", \"Mode\": 1.0}");
    EXPECT_EQ(LoadFileNames(store).Wsc, "/x\xC3\xA9\xF0\x9F\x98\x80\n");
    EXPECT_EQ(LoadMode(store, Asker(false)), 1);
    SaveMode(store, 0);
    EXPECT_EQ(File(),
        "{\n    \"Mode\": 0,\n    \"UOX3.wsc\": \"/x\xC3\xA9\xF0\x9F\x98\x80\\n\",\n    \"Window\": {\n        "
        "\"Width\": 800\n    }\n}\n");

    // The settings folder cannot be made where a file is in the way, even for root.
    std::filesystem::remove_all(dir / "config");
    test::WriteText(dir / "config", "in the way");
    EXPECT_EQ(test::ErrorText([&] {
        SaveFileNames(store, {"/a", "/b", "/c"});
    }),
        "Failed to set data for 'StaIdx0.mul'");
    EXPECT_EQ(test::ErrorText([&] { LoadMode(store, Asker(true)); }), "Failed to set data for 'Mode'");
    EXPECT_EQ(Questions.size(), 1u);
}
#endif

} // namespace
