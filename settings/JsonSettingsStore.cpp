#include "JsonSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>
#include <limits>

namespace cryo::settings {

namespace {

QString DamagedText(const QString& path, const QString& reason)
{
    return QStringLiteral("The settings file '%1' is damaged (%2); Cryoweaver leaves it as it is. "
                          "Correct or delete it")
        .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

JsonSettingsStore::JsonSettingsStore(QString path)
    : path_(std::move(path))
{
}

QString JsonSettingsStore::UserPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/Quellmar/Cryoweaver.json");
}

bool JsonSettingsStore::Open(bool create)
{
    values_ = QJsonObject();
    open_ = false;
    QFile file(path_);
    if (path_.isEmpty() || !file.exists()) {
        // A missing key is created by its first write, so opening it writes nothing.
        open_ = create;
        return open_;
    }
    if (!file.open(QIODevice::ReadOnly))
        throw SettingsError(QStringLiteral("The settings file '%1' cannot be read: %2")
                                .arg(QDir::toNativeSeparators(path_), file.errorString())
                                .toStdString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw SettingsError(QStringLiteral("The settings file '%1' cannot be read: %2")
                                .arg(QDir::toNativeSeparators(path_), file.errorString())
                                .toStdString());
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw SettingsError(
            DamagedText(path_, parseError.errorString() + QStringLiteral(" at byte %1").arg(parseError.offset))
                .toStdString());
    if (!document.isObject())
        throw SettingsError(DamagedText(path_, QStringLiteral("not a JSON object")).toStdString());
    values_ = document.object();
    open_ = true;
    return true;
}

void JsonSettingsStore::Close()
{
    values_ = QJsonObject();
    open_ = false;
}

StoredValue JsonSettingsStore::Value(const QString& name) const
{
    if (!open_ || !values_.contains(name))
        return std::monostate{};
    const QJsonValue value = values_.value(name);
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::floor(number) == number && number >= std::numeric_limits<qint32>::min()
            && number <= std::numeric_limits<qint32>::max())
            return static_cast<qint32>(number);
    }
    return Unsupported{};
}

bool JsonSettingsStore::SetValue(const QString& name, const std::variant<QString, qint32>& value)
{
    if (!open_ || path_.isEmpty())
        return false;
    QJsonObject changed = values_;
    if (const QString* text = std::get_if<QString>(&value))
        changed.insert(name, *text);
    else
        changed.insert(name, std::get<qint32>(value));

    if (!QDir().mkpath(QFileInfo(path_).absolutePath()))
        return false;
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = QJsonDocument(changed).toJson(QJsonDocument::Indented);
    if (file.write(data) != data.size() || !file.commit())
        return false;
    values_ = changed;
    return true;
}

#ifndef Q_OS_WIN
std::unique_ptr<SettingsStore> UserSettingsStore()
{
    return std::make_unique<JsonSettingsStore>(JsonSettingsStore::UserPath());
}
#endif

} // namespace cryo::settings
