#include "ui/fonts.h"

#include <QStringList>

namespace tovani::ui {

void install_font_substitutions()
{
    QFont::insertSubstitutions(QStringLiteral("黑体"),
                               {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("Droid Sans Fallback")});
    QFont::insertSubstitutions(QStringLiteral("楷体"),
                               {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW"),
                                QStringLiteral("WenQuanYi Zen Hei")});
}

QFont hei_font(int point_size)
{
    QFont font(QStringLiteral("黑体"));
    font.setPointSize(point_size);
    return font;
}

QFont kai_font(int point_size)
{
    QFont font(QStringLiteral("楷体"));
    font.setPointSize(point_size);
    return font;
}

} // namespace tovani::ui
