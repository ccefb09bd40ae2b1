#include "logscrollbar.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

namespace irlearn {

namespace {

enum End { AtMinimum = 1, AtMaximum = 2 };

// At rest the bar is drawn in bands of this many rows: the raster engine hands a fill of 96 rows
// or more to worker threads, and for a bar this narrow waking them costs far more than the
// drawing; each band drawn costs the style's whole set-up again.
constexpr int band = 90;
// How far the handle's outline reaches past the rectangle the style gives for it.
constexpr int handleOutline = 2;
// The rows at each end of the handle that are drawn as the style drew them, outline included.
constexpr int endRows = 2 * handleOutline + 1;

} // namespace

LogScrollBar::LogScrollBar(QWidget *parent) : QScrollBar(Qt::Vertical, parent)
{
}

void LogScrollBar::hold()
{
    m_held = true;
}

void LogScrollBar::release()
{
    m_held = false;
    redrawChange();
}

bool LogScrollBar::event(QEvent *event)
{
    const bool done = QScrollBar::event(event);
    // The scroll bar's own set-up clears the attribute again; a bar that overlays the text
    // (a transient style's) is no cover for what lies beneath it.
    if (event->type() == QEvent::Polish || event->type() == QEvent::StyleChange)
        setAttribute(Qt::WA_OpaquePaintEvent,
                     !style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this));
    return done;
}

void LogScrollBar::sliderChange(SliderChange change)
{
    if (change != SliderRangeChange && change != SliderValueChange) {
        QScrollBar::sliderChange(change);
        return;
    }
    if (!m_held)
        redrawChange();
}

// Pressed or under the mouse the bar draws as it always does. At rest the groove and arrows come
// from a picture drawn once for the bar's size, state and ends, and only the handle is drawn anew.
void LogScrollBar::paintEvent(QPaintEvent *event)
{
    m_handle = part(QStyle::SC_ScrollBarSlider);
    m_ends = ends();
    if (isSliderDown() || underMouse()) {
        QScrollBar::paintEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QString key = QStringLiteral("%1x%2 %3 %4 %5 %6")
                            .arg(width())
                            .arg(height())
                            .arg(m_ends)
                            .arg(int(option.state))
                            .arg(palette().cacheKey())
                            .arg(quintptr(style()));
    const qreal ratio = devicePixelRatio();
    if (key != m_backgroundKey) {
        m_background = QPixmap(size() * ratio);
        m_background.setDevicePixelRatio(ratio);
        m_background.fill(Qt::transparent);
        QPainter background(&m_background);
        QStyleOptionSlider groove = option;
        groove.subControls =
            QStyle::SubControls(QStyle::SC_All) & ~QStyle::SubControls(QStyle::SC_ScrollBarSlider);
        inBands(background, QRegion(rect()), [&](const QRegion &) {
            style()->drawComplexControl(QStyle::CC_ScrollBar, &groove, &background, this);
        });
        m_backgroundKey = key;
    }
    option.subControls = QStyle::SC_ScrollBarSlider;
    const bool stretched = stretchableHandle(option, key);
    const QRect handleArea = handleRows();
    // In bands, as the background was drawn: each is a fill of fewer rows than would go to the
    // raster engine's worker threads.
    QPainter painter(this);
    inBands(painter, event->region(), [&](const QRegion &piece) {
        const QRect r = piece.boundingRect();
        painter.drawPixmap(r, m_background,
                           QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio));
        if (!piece.intersects(handleArea))
            return;
        if (stretched)
            drawStretchedHandle(painter);
        else
            style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
    });
}

// Whether the handle can be drawn from its picture, drawn now if it is due.
bool LogScrollBar::stretchableHandle(const QStyleOptionSlider &option, const QString &key)
{
    const QRect handle = handleRows();
    if (devicePixelRatio() != 1 || handle.height() < 2 * endRows + 1)
        return false;
    if (m_handleKey != key) {
        // Drawn where it stands, then taken out; its rows are compared to see whether the
        // style draws the middle of a handle alike all along.
        QImage drawn(size(), QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        {
            QPainter onDrawn(&drawn);
            onDrawn.setClipRect(handle);
            style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &onDrawn, this);
        }
        const QImage image = drawn.copy(handle);
        const auto row = [&image](int y) {
            return QByteArray::fromRawData(reinterpret_cast<const char *>(image.constScanLine(y)),
                                           image.width() * 4);
        };
        bool alike = true;
        for (int y = endRows + 1; alike && y < image.height() - endRows; ++y)
            alike = row(y) == row(endRows);
        m_handleImage = alike ? QPixmap::fromImage(image) : QPixmap();
        m_handleKey = key;
    }
    return !m_handleImage.isNull();
}

// The handle from its picture, stretched to its length: its ends as drawn, and the middle row
// repeated between them.
void LogScrollBar::drawStretchedHandle(QPainter &painter) const
{
    const QRect handle = handleRows();
    const int w = width();
    const int bottomRows = endRows;
    const int middle = handle.height() - endRows - bottomRows;
    const int imageBottom = m_handleImage.height() - bottomRows;
    painter.drawPixmap(QRect(0, handle.top(), w, endRows), m_handleImage, QRect(0, 0, w, endRows));
    painter.drawPixmap(QRect(0, handle.top() + endRows, w, middle), m_handleImage,
                       QRect(0, endRows, w, 1));
    painter.drawPixmap(QRect(0, handle.bottom() - bottomRows + 1, w, bottomRows), m_handleImage,
                       QRect(0, imageBottom, w, bottomRows));
}

// Bands fall on the same rows whatever is repainted: the style's lines come out a shade
// different where a band boundary cuts them, and a part repainted must match the whole.
void LogScrollBar::inBands(QPainter &painter, const QRegion &region,
                           const std::function<void(const QRegion &)> &draw) const
{
    const QRect bounds = region.boundingRect();
    for (int top = bounds.top() - bounds.top() % band; top <= bounds.bottom(); top += band) {
        const QRegion piece = region & QRect(0, top, width(), band);
        if (piece.isEmpty())
            continue;
        painter.setClipRegion(piece);
        draw(piece);
    }
}

// The rows the handle covers, its outline included, across the bar.
QRect LogScrollBar::handleRows() const
{
    return QRect(0, m_handle.top() - handleOutline, width(), m_handle.height() + 2 * handleOutline);
}

int LogScrollBar::ends() const
{
    return (value() == minimum() ? AtMinimum : 0) | (value() == maximum() ? AtMaximum : 0);
}

void LogScrollBar::redrawChange()
{
    const QRect handle = part(QStyle::SC_ScrollBarSlider);
    const int ends = this->ends();
    if (handle == m_handle && ends == m_ends)
        return;
    // The handle's outline falls a pixel or two outside the rectangle the style gives for it,
    // and the groove beside it is shaded from it.
    const QRect span = m_handle.united(handle);
    QRegion changed(0, span.top() - handleOutline, width(), span.height() + 2 * handleOutline);
    if (ends != m_ends)
        changed += QRegion(part(QStyle::SC_ScrollBarSubLine)) + part(QStyle::SC_ScrollBarAddLine);
    update(changed);
    m_handle = handle;
    m_ends = ends;
}

QRect LogScrollBar::part(QStyle::SubControl control) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, control, this);
}

} // namespace irlearn
