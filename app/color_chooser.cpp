#include "app/color_chooser.h"

#include "core/settings.h"

#include <QColorDialog>

CustomColors LoadCustomColors(const SettingsStore& store) {
    CustomColors colors{};
    const std::vector<uint8_t> bytes = store.Get(setting::ColorRefs);
    for (size_t i = 0; i < colors.size() && 4 * i + 3 < bytes.size(); ++i)
        colors[i] = uint32_t{bytes[4 * i]} | (uint32_t{bytes[4 * i + 1]} << 8) |
                    (uint32_t{bytes[4 * i + 2]} << 16) | (uint32_t{bytes[4 * i + 3]} << 24);
    return colors;
}

void StoreCustomColors(SettingsStore& store, const CustomColors& colors) {
    std::array<uint8_t, 64> bytes{};
    for (size_t i = 0; i < colors.size(); ++i)
        for (size_t b = 0; b < 4; ++b)
            bytes[4 * i + b] = static_cast<uint8_t>(colors[i] >> (8 * b));
    store.Set(setting::ColorRefs, bytes);
}

void ApplyCustomColors() {
    const CustomColors custom = LoadCustomColors(AppSettings());
    for (int i = 0; i < QColorDialog::customCount() && i < static_cast<int>(custom.size()); ++i) {
        const COLORREF c = custom[static_cast<size_t>(i)];
        QColorDialog::setCustomColor(i, QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
    }
}

void KeepCustomColors() {
    SettingsStore& store = AppSettings();
    CustomColors after{};
    for (int i = 0; i < QColorDialog::customCount() && i < static_cast<int>(after.size()); ++i) {
        const QColor c = QColorDialog::customColor(i);
        after[static_cast<size_t>(i)] =
            RGB(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                static_cast<uint8_t>(c.blue()));
    }
    StoreCustomColors(store, after);
    store.Save();
}

std::optional<COLORREF> ChooseColor(QWidget* parent, COLORREF initial, const QString& title) {
    ApplyCustomColors();
    const QColor chosen = QColorDialog::getColor(
        QColor(GetRValue(initial), GetGValue(initial), GetBValue(initial)), parent, title);
    if (!chosen.isValid()) return std::nullopt;
    KeepCustomColors();
    return RGB(static_cast<uint8_t>(chosen.red()), static_cast<uint8_t>(chosen.green()),
               static_cast<uint8_t>(chosen.blue()));
}
