#pragma once

#include "SettingsStore.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cryo::settings {

// Value names, the same in every store.
inline constexpr const char* StaIdxValueName = "StaIdx0.mul";
inline constexpr const char* StaticsValueName = "Statics0.mul";
inline constexpr const char* WscValueName = "UOX3.wsc";
inline constexpr const char* ModeValueName = "Mode";
// The server's folder the boxes were last filled from, and its map; settings
// stored before there were these have neither.
inline constexpr const char* ServerFolderValueName = "ServerFolder";
inline constexpr const char* ServerMapValueName = "ServerMap";

struct FileNames {
    std::string StaIdx;
    std::string Statics;
    std::string Wsc;
};

// The first-run question, answered true for Yes.
using AskYesNo = std::function<bool(const std::string& caption, const std::string& text)>;

// The three paths; a missing value or key gives an empty string, and a missing
// key is not created. A value that is not a string raises
// "Invalid data type for '<name>'".
FileNames LoadFileNames(SettingsStore& store);

// A failed write raises "Failed to set data for '<name>'"; the values written
// before it stay written.
void SaveFileNames(SettingsStore& store, const FileNames& names);

// The stored mode, truncated to its low byte. Without a stored mode the user is
// asked (Yes: simple mode, 1; otherwise normal mode, 0) and the answer stored
// at once.
std::uint8_t LoadMode(SettingsStore& store, const AskYesNo& ask);

void SaveMode(SettingsStore& store, std::uint8_t mode);

struct ServerChoice {
    std::string Folder; // empty: none chosen
    int Map = 0;
};

// Missing values give an empty folder and map 0; a value of another type
// raises "Invalid data type for '<name>'".
ServerChoice LoadServerChoice(SettingsStore& store);
void SaveServerChoice(SettingsStore& store, const ServerChoice& choice);

} // namespace cryo::settings
