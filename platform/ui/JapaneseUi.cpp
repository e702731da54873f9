#include "platform/ui/JapaneseUi.h"

#include <QCoreApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace zr::ui {

QFont WindowFont(qreal points) {
  QFont font(QString::fromUtf8(kWindowFontFamily));
  font.setPointSizeF(points);
  font.setWeight(QFont::Normal);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void InstallJapaneseFontSubstitutes() {
  const QStringList proportional{QStringLiteral("IPAPGothic"),         QStringLiteral("IPA Pゴシック"),
                                 QStringLiteral("VL PGothic"),         QStringLiteral("TakaoPGothic"),
                                 QStringLiteral("Noto Sans CJK JP"),   QStringLiteral("IPAGothic"),
                                 QStringLiteral("Droid Sans Japanese")};
  const QStringList fixed{QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック"), QStringLiteral("VL Gothic"),
                          QStringLiteral("TakaoGothic"), QStringLiteral("Noto Sans Mono CJK JP")};
  for (const QString& family : {QString::fromUtf8(kWindowFontFamily), QStringLiteral("MS PGothic")}) {
    if (QFont::substitutes(family).isEmpty()) QFont::insertSubstitutions(family, proportional);
  }
  for (const QString& family : {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic")}) {
    if (QFont::substitutes(family).isEmpty()) QFont::insertSubstitutions(family, fixed);
  }
}

bool InstallQtTranslations(const QString& folder) {
  auto* app = QCoreApplication::instance();
  if (app == nullptr) return false;
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));

  const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  auto* translator = new QTranslator(app);
  if (!translator->load(QStringLiteral("qtbase_ja"), from)) {
    delete translator;
    return false;
  }
  app->installTranslator(translator);
  return true;
}

}  // namespace zr::ui
