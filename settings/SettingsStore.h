#pragma once

#include <QString>

#include <memory>
#include <stdexcept>
#include <variant>

namespace cryo::settings {

// A settings failure; what() is the text the user sees.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A stored value as the store holds it. Anything that is neither a string nor a
// 32-bit integer is Unsupported, so that readers can name the wrong type.
struct Unsupported { };
using StoredValue = std::variant<std::monostate, QString, qint32, Unsupported>;

// One key of named values, opened and closed around every use, as a registry
// key is. Only the values of the open key are read and written.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Opens the key. Without create, a missing key gives false and creates nothing.
    // A store that cannot be read raises SettingsError.
    virtual bool Open(bool create) = 0;
    virtual void Close() = 0;

    // std::monostate for a missing value.
    virtual StoredValue Value(const QString& name) const = 0;
    // False when the value could not be stored.
    virtual bool SetValue(const QString& name, const std::variant<QString, qint32>& value) = 0;
};

// The store of the current user: the registry key on Windows, a file in the
// configuration folder elsewhere.
std::unique_ptr<SettingsStore> UserSettingsStore();

// Opens a store for the length of a scope.
class OpenKey {
public:
    OpenKey(SettingsStore& store, bool create)
        : store_(store)
        , open_(store.Open(create))
    {
    }
    ~OpenKey()
    {
        if (open_)
            store_.Close();
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    bool IsOpen() const { return open_; }

private:
    SettingsStore& store_;
    bool open_;
};

} // namespace cryo::settings
