// The key HKEY_CURRENT_USER\Software\Quellmar\Cryoweaver, through QSettings.
#include "SettingsStore.h"

#include <QSettings>

namespace cryo::settings {

namespace {

constexpr auto ParentKey = "HKEY_CURRENT_USER\\Software\\Quellmar";
constexpr auto KeyName = "Cryoweaver";

class RegistrySettingsStore final : public SettingsStore {
public:
    bool Open(bool create) override
    {
        if (!create && !QSettings(ParentKey, QSettings::NativeFormat).childGroups().contains(KeyName))
            return false;
        key_ = std::make_unique<QSettings>(QString(ParentKey) + "\\" + KeyName, QSettings::NativeFormat);
        return true;
    }

    void Close() override { key_.reset(); }

    StoredValue Value(const QString& name) const override
    {
        if (!key_ || !key_->contains(name))
            return std::monostate{};
        // REG_SZ reads as a string, REG_DWORD as an int; other types are wrong here.
        const QVariant value = key_->value(name);
        switch (value.typeId()) {
        case QMetaType::QString:
            return value.toString();
        case QMetaType::Int:
            return static_cast<qint32>(value.toInt());
        default:
            return Unsupported{};
        }
    }

    bool SetValue(const QString& name, const std::variant<QString, qint32>& value) override
    {
        if (!key_)
            return false;
        if (const QString* text = std::get_if<QString>(&value))
            key_->setValue(name, *text);
        else
            key_->setValue(name, static_cast<int>(std::get<qint32>(value)));
        key_->sync();
        return key_->status() == QSettings::NoError;
    }

private:
    std::unique_ptr<QSettings> key_;
};

} // namespace

std::unique_ptr<SettingsStore> UserSettingsStore()
{
    return std::make_unique<RegistrySettingsStore>();
}

} // namespace cryo::settings
