#pragma once

#include "SettingsStore.h"

#include <windows.h>

#include <string>

namespace cryo::settings {

// A key under HKEY_CURRENT_USER. Strings are REG_SZ (REG_EXPAND_SZ is read
// as it stands), integers REG_DWORD; any other type is Unsupported.
class RegistrySettingsStore final : public SettingsStore {
public:
    static constexpr const wchar_t* UserKeyPath = L"Software\\Quellmar\\Cryoweaver";

    explicit RegistrySettingsStore(std::wstring keyPath = UserKeyPath);
    ~RegistrySettingsStore() override;

    bool Open(bool create) override;
    void Close() override;
    StoredValue Value(const std::string& name) const override;
    bool SetValue(const std::string& name, const std::variant<std::string, std::int32_t>& value) override;

private:
    std::wstring keyPath_;
    HKEY key_ = nullptr;
};

} // namespace cryo::settings
