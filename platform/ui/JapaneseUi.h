#pragma once

#include <QFont>
#include <QString>

// The tool speaks Japanese whatever the system's locale: its window font and
// the texts Qt draws itself (standard buttons, the folder picker).
namespace zr::ui {

// The font every text of the tool's window names.
inline constexpr const char* kWindowFontFamily = "ＭＳ Ｐゴシック";

// The window font at a size in points, regular weight.
QFont WindowFont(qreal points);

// Lets the window's font names find an installed Japanese gothic (IPA,
// VL, Noto, Takao). Safe to call any number of times.
void InstallJapaneseFontSubstitutes();

// Loads Qt's own Japanese translations from `folder` (Qt's translations
// folder when empty) and makes Japanese the default locale, whatever the
// environment says. Returns false when the catalogue is missing or cannot
// be loaded; Qt's built-in texts then stay in use. Needs a Q(Core)Application.
bool InstallQtTranslations(const QString& folder = QString());

}  // namespace zr::ui
