// The colour chooser: the system colour dialog with the 16 custom colours
// kept in the settings ("CustomColors"/"ColorRefs", 16 COLORREF values of
// 4 bytes, red in the low byte). They are read before the dialog opens and
// written back when it is closed with OK.
#pragma once

#include "core/dib.h"

#include <QString>

#include <array>
#include <optional>

class QWidget;
class SettingsStore;

using CustomColors = std::array<COLORREF, 16>;

// Missing or short values read as black.
CustomColors LoadCustomColors(const SettingsStore& store);
void StoreCustomColors(SettingsStore& store, const CustomColors& colors);

// Hands the stored custom colours to Qt's colour dialog, and keeps the
// dialog's custom colours in the settings (saved at once); for callers that
// run a colour dialog of their own.
void ApplyCustomColors();
void KeepCustomColors();

// The chosen colour, or nothing on Cancel. Saves the settings on OK.
std::optional<COLORREF> ChooseColor(QWidget* parent, COLORREF initial, const QString& title);
