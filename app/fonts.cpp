#include "fonts.h"

#include <QApplication>
#include <QFont>

void InstallUiFonts()
{
    // The layouts name a Japanese UI font this system does not have; this proportional face has
    // the same pixel height and covers kana and kanji.
    const QString family = QStringLiteral("ＭＳ Ｐゴシック");
    QFont::insertSubstitution(family, QStringLiteral("IPAPGothic"));
    QFont font(family);
    font.setPixelSize(12);
    QApplication::setFont(font);
    QFont gridFont = font;
    gridFont.setPixelSize(11);
    QApplication::setFont(gridFont, "TStringGrid");
    QApplication::setFont(gridFont, "QHeaderView");
}

QFont FigureFont()
{
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(12);
    return font;
}
