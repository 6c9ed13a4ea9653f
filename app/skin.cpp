#include "app/skin.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QPalette>
#include <QStyleFactory>

namespace vornel::app {

namespace {
QPalette darkPalette()
{
    const QColor face(0x2C, 0x2A, 0x26);
    const QColor text(0xC4, 0xB9, 0xB9);
    QPalette palette;
    palette.setColor(QPalette::Window, face);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(0, 0, 0));
    palette.setColor(QPalette::AlternateBase, QColor(0x1A, 0x19, 0x17));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3A, 0x37, 0x32));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x8A, 0x2B, 0x1E));
    palette.setColor(QPalette::HighlightedText, QColor(0xFF, 0xF4, 0xE8));
    palette.setColor(QPalette::ToolTipBase, face);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6E, 0x68, 0x62));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6E, 0x68, 0x62));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6E, 0x68, 0x62));
    return palette;
}
} // namespace

QFont windowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    if (!QFontInfo(font).family().startsWith(QStringLiteral("MS Sans Serif")))
        font.setStretch(QFont::SemiCondensed);
    return font;
}

void applySkin(QApplication& application)
{
    application.setFont(windowFont());
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        application.setStyle(fusion);
    application.setPalette(darkPalette());
    QFile sheet(QStringLiteral(":/skin.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        application.setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

} // namespace vornel::app
