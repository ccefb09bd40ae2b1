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
        drawBands(background, groove, QRegion(rect()));
        m_backgroundKey = key;
    }
    QPainter painter(this);
    for (const QRect &piece : event->region())
        painter.drawPixmap(piece, m_background,
                           QRectF(QPointF(piece.topLeft()) * ratio, QSizeF(piece.size()) * ratio));
    option.subControls = QStyle::SC_ScrollBarSlider;
    drawBands(painter, option,
              event->region() & QRect(0, m_handle.top() - handleOutline, width(),
                                      m_handle.height() + 2 * handleOutline));
}

// Bands fall on the same rows whatever is repainted: the style's lines come out a shade
// different where a band boundary cuts them, and a part repainted must match the whole.
void LogScrollBar::drawBands(QPainter &painter, const QStyleOptionSlider &option,
                             const QRegion &region) const
{
    const QRect bounds = region.boundingRect();
    for (int top = bounds.top() - bounds.top() % band; top <= bounds.bottom(); top += band) {
        const QRegion piece = region & QRect(0, top, width(), band);
        if (piece.isEmpty())
            continue;
        painter.setClipRegion(piece);
        style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
    }
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
