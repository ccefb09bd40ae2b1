#include "appearance.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPainter>
#include <QPixmap>
#include <QTranslator>

namespace irlearn {

QFont appFont()
{
    QFont font;
    // AR PL UMing is the closest Song face on Linux and, unlike some CJK fonts, draws "℃".
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSizeF(10.5);
    // Chinese and Latin text needs no shaping; skipping it halves what laying out a line costs.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QFont logFont()
{
    QFont font = appFont();
    // Drawn as the Song face's own bitmaps are, without smoothing: a record's reply fills ten
    // rows of the log pane, and blending each glyph's edges into them was the most the window
    // spent on a transfer.
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::NoAntialias));
    return font;
}

bool installQtTranslations()
{
    // The operators read Chinese whatever the desktop's locale: every other text is Chinese too.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QIcon appIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        // A black receiver eye with red infrared waves.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(34, 91, 144));
        p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
        p.setBrush(Qt::black);
        p.drawEllipse(QPointF(s * 0.32, s * 0.68), s * 0.17, s * 0.17);
        QPen wave(QColor(230, 40, 40));
        wave.setWidthF(qMax(1.0, s / 14));
        p.setPen(wave);
        p.setBrush(Qt::NoBrush);
        for (int k = 1; k <= 3; ++k) {
            const qreal r = s * 0.16 * k + s * 0.08;
            p.drawArc(QRectF(s * 0.32 - r, s * 0.68 - r, 2 * r, 2 * r), 10 * 16, 70 * 16);
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace irlearn
