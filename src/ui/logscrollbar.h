#pragma once

#include <QPixmap>
#include <QScrollBar>
#include <QStyle>

#include <functional>

class QPainter;
class QStyleOptionSlider;

namespace irlearn {

// The log pane's scroll bar. Each line added moves and shrinks the handle; repainting the whole
// bar for that, and the pane's frame and the window beneath it, was most of what the window cost
// during a transfer. It paints every pixel of itself, so nothing beneath it is drawn, and redraws
// where the handle was and is, and the arrows only as the bar arrives at an end or leaves it.
class LogScrollBar : public QScrollBar
{
public:
    explicit LogScrollBar(QWidget *parent = nullptr);

    // A line added first grows the range, which takes the handle off the end for a moment, and
    // then moves it back there: changes made between hold() and release() are drawn as one.
    void hold();
    void release();

protected:
    bool event(QEvent *event) override;
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int ends() const;
    QRect handleRows() const;
    void inBands(QPainter &painter, const QRegion &region,
                 const std::function<void(const QRegion &)> &draw) const;
    void redrawChange();
    QRect part(QStyle::SubControl control) const;
    bool stretchableHandle(const QStyleOptionSlider &option, const QString &key);
    void drawStretchedHandle(QPainter &painter) const;

    // The handle as the style draws it, over nothing, with the rows around it its outline
    // takes. Drawn anew for each length it would cost as much as the rest of a line added; where
    // the style draws its middle rows alike, a handle of any length is its ends and a middle row
    // repeated.
    QPixmap m_handleImage;
    QString m_handleKey; // what it was drawn for; the picture is null where its middle varies

    bool m_held = false;
    QRect m_handle;          // where the handle was last drawn or asked to be
    int m_ends = -1;         // and which ends the bar stood at then
    QPixmap m_background;    // the bar without its handle
    QString m_backgroundKey; // what it was drawn for
};

} // namespace irlearn
