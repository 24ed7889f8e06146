#include "StoredSettings.h"

namespace cryo::settings {

namespace {

const QString ModeQuestionCaption = QStringLiteral("Simple mode?");
const QString ModeQuestionText
    = QStringLiteral("You have not yet selected a mode. If you only want to use Cryoweaver for patching your files, "
                     "you should select \"Yes\" (Simple mode). If you want all features, select \"No\" (Normal mode). "
                     "In \"Simple mode\" you get step by step instructions on patching.");

[[noreturn]] void InvalidType(const QString& name)
{
    throw SettingsError(QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
}

QString ReadString(const SettingsStore& store, const QString& name)
{
    const StoredValue value = store.Value(name);
    if (std::holds_alternative<std::monostate>(value))
        return QString();
    if (const QString* text = std::get_if<QString>(&value))
        return *text;
    InvalidType(name);
}

void Write(SettingsStore& store, const QString& name, const std::variant<QString, qint32>& value)
{
    if (!store.SetValue(name, value))
        throw SettingsError(QStringLiteral("Failed to set data for '%1'").arg(name).toStdString());
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

quint8 LoadMode(SettingsStore& store, const AskYesNo& ask)
{
    OpenKey key(store, true);
    const StoredValue value = store.Value(ModeValueName);
    if (const qint32* mode = std::get_if<qint32>(&value))
        return static_cast<quint8>(*mode);
    if (!std::holds_alternative<std::monostate>(value))
        InvalidType(ModeValueName);

    const quint8 mode = ask(ModeQuestionCaption, ModeQuestionText) ? 1 : 0;
    Write(store, ModeValueName, qint32{mode});
    return mode;
}

void SaveMode(SettingsStore& store, quint8 mode)
{
    OpenKey key(store, true);
    Write(store, ModeValueName, qint32{mode});
}

} // namespace cryo::settings
