#pragma once

#include "SettingsStore.h"

#include <nlohmann/json.hpp>

#include <string>

namespace cryo::settings {

// The key as a JSON object in one file: strings stay strings, integers are
// numbers. Each value is written by replacing the whole file, so the file is
// either the old or the new one; values this program does not know are kept. A
// file that is not a JSON object is never written over: opening it raises
// SettingsError.
class FileSettingsStore final : public SettingsStore {
public:
    explicit FileSettingsStore(std::string path);

    bool Open(bool create) override;
    void Close() override;
    StoredValue Value(const std::string& name) const override;
    bool SetValue(const std::string& name, const std::variant<std::string, std::int32_t>& value) override;

    const std::string& path() const { return path_; }

    // Where the current user's settings live: Quellmar/Cryoweaver.json in
    // $XDG_CONFIG_HOME, or else in ~/.config; empty when neither is known.
    static std::string UserPath();

private:
    std::string path_;
    nlohmann::json values_; // the file's object
    bool open_ = false;
};

} // namespace cryo::settings
