#include "RegistrySettingsStore.h"

#include "WideText.h"

#include <cstring>
#include <vector>

namespace cryo::settings {

RegistrySettingsStore::RegistrySettingsStore(std::wstring keyPath)
    : keyPath_(std::move(keyPath))
{
}

RegistrySettingsStore::~RegistrySettingsStore()
{
    Close();
}

bool RegistrySettingsStore::Open(bool create)
{
    Close();
    const LONG result = create
        ? ::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr)
        : ::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_);
    if (result != ERROR_SUCCESS) {
        key_ = nullptr;
        return false;
    }
    return true;
}

void RegistrySettingsStore::Close()
{
    if (key_ != nullptr)
        ::RegCloseKey(key_);
    key_ = nullptr;
}

StoredValue RegistrySettingsStore::Value(const std::string& name) const
{
    if (key_ == nullptr)
        return {};
    const std::wstring wideName = Widen(name);
    DWORD type = 0;
    DWORD size = 0;
    LONG result = ::RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND)
        return {};
    if (result != ERROR_SUCCESS)
        return Unsupported{};
    // A value may change between the two calls; room for one more character
    // covers a string stored without its terminating zero.
    std::vector<BYTE> data(size + sizeof(wchar_t));
    size = static_cast<DWORD>(data.size());
    result = ::RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, data.data(), &size);
    if (result != ERROR_SUCCESS)
        return Unsupported{};
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data.data(), sizeof value);
        return static_cast<std::int32_t>(value);
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring text(size / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return Narrow(text);
    }
    return Unsupported{};
}

bool RegistrySettingsStore::SetValue(const std::string& name, const std::variant<std::string, std::int32_t>& value)
{
    if (key_ == nullptr)
        return false;
    const std::wstring wideName = Widen(name);
    LONG result;
    if (const std::string* text = std::get_if<std::string>(&value)) {
        const std::wstring wide = Widen(*text);
        result = ::RegSetValueExW(key_, wideName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    } else {
        const DWORD number = static_cast<DWORD>(std::get<std::int32_t>(value));
        result = ::RegSetValueExW(
            key_, wideName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    return result == ERROR_SUCCESS;
}

std::unique_ptr<SettingsStore> UserSettingsStore()
{
    return std::make_unique<RegistrySettingsStore>();
}

} // namespace cryo::settings
