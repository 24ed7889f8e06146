#pragma once

#include "SettingsStore.h"

#include <QJsonObject>
#include <QString>

namespace cryo::settings {

// The key as a JSON object in one file; strings stay strings, integers are
// numbers. Each value is written by replacing the whole file, so the file is
// either the old or the new one. A file that is not a JSON object is never
// written over: opening it raises SettingsError.
class JsonSettingsStore final : public SettingsStore {
public:
    explicit JsonSettingsStore(QString path);

    bool Open(bool create) override;
    void Close() override;
    StoredValue Value(const QString& name) const override;
    bool SetValue(const QString& name, const std::variant<QString, qint32>& value) override;

    const QString& path() const { return path_; }

    // Where the current user's settings live.
    static QString UserPath();

private:
    QString path_;
    QJsonObject values_;
    bool open_ = false;
};

} // namespace cryo::settings
