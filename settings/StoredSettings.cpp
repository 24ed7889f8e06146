#include "StoredSettings.h"

namespace cryo::settings {

namespace {

const char* const ModeQuestionCaption = "Simple mode?";
const char* const ModeQuestionText
    = "You have not yet selected a mode. If you only want to use Cryoweaver for patching your files, you should "
      "select \"Yes\" (Simple mode). If you want all features, select \"No\" (Normal mode). In \"Simple mode\" you "
      "get step by step instructions on patching.";

[[noreturn]] void InvalidType(const std::string& name)
{
    throw SettingsError("Invalid data type for '" + name + "'");
}

std::string ReadString(const SettingsStore& store, const std::string& name)
{
    const StoredValue value = store.Value(name);
    if (std::holds_alternative<std::monostate>(value))
        return {};
    if (const std::string* text = std::get_if<std::string>(&value))
        return *text;
    InvalidType(name);
}

void Write(SettingsStore& store, const std::string& name, const std::variant<std::string, std::int32_t>& value)
{
    if (!store.SetValue(name, value))
        throw SettingsError("Failed to set data for '" + name + "'");
}

} // namespace

FileNames LoadFileNames(SettingsStore& store)
{
    FileNames names;
    OpenKey key(store, false);
    if (!key.IsOpen())
        return names;
    names.StaIdx = ReadString(store, StaIdxValueName);
    names.Statics = ReadString(store, StaticsValueName);
    names.Wsc = ReadString(store, WscValueName);
    return names;
}

void SaveFileNames(SettingsStore& store, const FileNames& names)
{
    OpenKey key(store, true);
    Write(store, StaIdxValueName, names.StaIdx);
    Write(store, StaticsValueName, names.Statics);
    Write(store, WscValueName, names.Wsc);
}

std::uint8_t LoadMode(SettingsStore& store, const AskYesNo& ask)
{
    OpenKey key(store, true);
    const StoredValue value = store.Value(ModeValueName);
    if (const std::int32_t* mode = std::get_if<std::int32_t>(&value))
        return static_cast<std::uint8_t>(*mode);
    if (!std::holds_alternative<std::monostate>(value))
        InvalidType(ModeValueName);

    const std::uint8_t mode = ask(ModeQuestionCaption, ModeQuestionText) ? 1 : 0;
    Write(store, ModeValueName, std::int32_t{mode});
    return mode;
}

void SaveMode(SettingsStore& store, std::uint8_t mode)
{
    OpenKey key(store, true);
    Write(store, ModeValueName, std::int32_t{mode});
}

ServerChoice LoadServerChoice(SettingsStore& store)
{
    ServerChoice choice;
    OpenKey key(store, false);
    if (!key.IsOpen())
        return choice;
    choice.Folder = ReadString(store, ServerFolderValueName);
    const StoredValue map = store.Value(ServerMapValueName);
    if (const std::int32_t* number = std::get_if<std::int32_t>(&map))
        choice.Map = *number;
    else if (!std::holds_alternative<std::monostate>(map))
        InvalidType(ServerMapValueName);
    return choice;
}

void SaveServerChoice(SettingsStore& store, const ServerChoice& choice)
{
    OpenKey key(store, true);
    Write(store, ServerFolderValueName, choice.Folder);
    Write(store, ServerMapValueName, std::int32_t{choice.Map});
}

} // namespace cryo::settings
