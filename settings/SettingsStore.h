#pragma once

#include "Error.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace cryo::settings {

// A settings failure; what() is the text the user sees.
class SettingsError : public Error {
public:
    using Error::Error;
};

// A stored value as the store holds it. Anything that is neither a string nor a
// 32-bit integer is Unsupported, so that readers can name the wrong type.
struct Unsupported {
    bool operator==(const Unsupported&) const = default;
};
using StoredValue = std::variant<std::monostate, std::string, std::int32_t, Unsupported>;

// One key of named values, opened and closed around every use, as a registry
// key is. Only the values of the open key are read and written. Strings are
// UTF-8.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Opens the key. Without create, a missing key gives false and creates nothing.
    // A store that cannot be read raises SettingsError.
    virtual bool Open(bool create) = 0;
    virtual void Close() = 0;

    // std::monostate for a missing value.
    virtual StoredValue Value(const std::string& name) const = 0;
    // False when the value could not be stored.
    virtual bool SetValue(const std::string& name, const std::variant<std::string, std::int32_t>& value) = 0;
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
