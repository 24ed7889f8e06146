#pragma once

#include "SettingsStore.h"

#include <QString>

#include <functional>

namespace cryo::settings {

// Value names, the same in every store.
inline const QString StaIdxValueName = QStringLiteral("StaIdx0.mul");
inline const QString StaticsValueName = QStringLiteral("Statics0.mul");
inline const QString WscValueName = QStringLiteral("UOX3.wsc");
inline const QString ModeValueName = QStringLiteral("Mode");

struct FileNames {
    QString StaIdx;
    QString Statics;
    QString Wsc;
};

// The first-run question, answered true for Yes.
using AskYesNo = std::function<bool(const QString& caption, const QString& text)>;

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
quint8 LoadMode(SettingsStore& store, const AskYesNo& ask);

void SaveMode(SettingsStore& store, quint8 mode);

} // namespace cryo::settings
