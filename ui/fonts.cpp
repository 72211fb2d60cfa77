#include "ui/fonts.h"

#include <QApplication>
#include <QStringList>

namespace tovani::ui {

void install_font_substitutions() {
    QFont::insertSubstitutions(QStringLiteral("黑体"), {QStringLiteral("WenQuanYi Zen Hei"),
                                                        QStringLiteral("Noto Sans CJK SC"),
                                                        QStringLiteral("Droid Sans Fallback")});
    QFont::insertSubstitutions(QStringLiteral("楷体"),
                               {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW"),
                                QStringLiteral("WenQuanYi Zen Hei")});
}

void set_up_application() {
    QCoreApplication::setOrganizationName(QStringLiteral("Tovani"));
    QCoreApplication::setApplicationName(QStringLiteral("Tovani"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tovani"));
    install_font_substitutions();
    QApplication::setFont(hei_font(11));
}

QFont hei_font(int point_size) {
    QFont font(QStringLiteral("黑体"));
    font.setPointSize(point_size);
    return font;
}

QFont kai_font(int point_size) {
    QFont font(QStringLiteral("楷体"));
    font.setPointSize(point_size);
    return font;
}

} // namespace tovani::ui
