#include "widgets/rangeslider.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <limits>

RangeSlider::RangeSlider(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
}

RangeSlider::RangeSlider(Qt::Orientation orientation, Options options, QWidget* parent)
    : QWidget(parent), m_orientation(orientation), m_options(options)
{
    setMouseTracking(true);
}

QSize RangeSlider::minimumSizeHint() const
{
    return QSize(24, 11);
}

int RangeSlider::usableLengthFor(int length, Options options)
{
    const bool both = options.testFlag(LowerHandle) && options.testFlag(UpperHandle);
    return length - (both ? 2 * kHandleSide : kHandleSide) - 2;
}

int RangeSlider::handlePosition(int value, int minimum, int interval, int usableLength, int offset)
{
    // An empty range has no proportion; the handle rests at the start.
    if (interval <= 0)
        return 1 + offset;
    const float f = static_cast<float>((static_cast<double>(value) - minimum) / interval);
    return static_cast<int>(f * static_cast<float>(usableLength) + 1.0f +
                            static_cast<float>(offset));
}

int RangeSlider::clickStep(int interval)
{
    return interval > 9 ? interval / 10 : 1;
}

int RangeSlider::length() const
{
    return m_orientation == Qt::Horizontal ? width() : height();
}

int RangeSlider::thickness() const
{
    return m_orientation == Qt::Horizontal ? height() : width();
}

int RangeSlider::usableLength() const
{
    return usableLengthFor(length(), m_options);
}

int RangeSlider::lowerPosition() const
{
    return handlePosition(m_lowerValue, m_minimum, m_interval, usableLength(), 0);
}

int RangeSlider::upperPosition() const
{
    return handlePosition(m_upperValue, m_minimum, m_interval, usableLength(),
                          hasLower() ? kHandleSide : 0);
}

QRect RangeSlider::handleRectAt(int position) const
{
    if (m_orientation == Qt::Horizontal)
        return QRect(position, (height() - kHandleSide) / 2, kHandleSide, kHandleSide);
    return QRect((width() - kHandleSide) / 2, position, kHandleSide, kHandleSide);
}

QRect RangeSlider::lowerHandleRect() const
{
    return handleRectAt(lowerPosition());
}

QRect RangeSlider::upperHandleRect() const
{
    return handleRectAt(upperPosition());
}

QRect RangeSlider::grooveRect() const
{
    if (m_orientation == Qt::Horizontal)
        return QRect(1, (height() - kGrooveThickness) / 2, width() - 2, kGrooveThickness);
    return QRect((width() - kGrooveThickness) / 2, 1, kGrooveThickness, height() - 2);
}

QRectF RangeSlider::spanRect() const
{
    const int p1 = lowerPosition();
    const int p2 = upperPosition();
    QRectF span = grooveRect();
    // From the lower handle's far edge to the upper handle's near edge.
    const double start = (hasLower() ? p1 + kHandleSide : p1) + 0.5;
    const double end = (hasUpper() ? p2 : p2 + kHandleSide) - 0.5;
    if (m_orientation == Qt::Horizontal) {
        span.setLeft(start);
        span.setRight(end);
    } else {
        span.setTop(start);
        span.setBottom(end);
    }
    return span;
}

void RangeSlider::setLowerValue(int aLowerValue)
{
    m_lowerValue = qMin(m_upperValue, qMax(m_minimum, qMin(aLowerValue, m_maximum)));
    emit lowerValueChanged(m_lowerValue);
    update();
}

void RangeSlider::setUpperValue(int aUpperValue)
{
    m_upperValue = qMax(qMax(m_lowerValue, m_minimum), qMin(aUpperValue, m_maximum));
    emit upperValueChanged(m_upperValue);
    update();
}

void RangeSlider::updateInterval()
{
    // A range wider than an int can hold is kept at the largest interval.
    const qint64 interval = static_cast<qint64>(m_maximum) - m_minimum;
    m_interval = static_cast<int>(qMin<qint64>(interval, std::numeric_limits<int>::max()));
}

void RangeSlider::finishRangeChange()
{
    update();
    setLowerValue(m_minimum);
    setUpperValue(m_maximum);
    emit rangeChanged(m_minimum, m_maximum);
}

void RangeSlider::setMinimum(int aMinimum)
{
    if (aMinimum > m_maximum) {
        m_minimum = m_maximum;
        m_maximum = aMinimum;
    } else {
        m_minimum = aMinimum;
    }
    updateInterval();
    finishRangeChange();
}

void RangeSlider::setMaximum(int aMaximum)
{
    if (aMaximum < m_minimum) {
        m_maximum = m_minimum;
        m_minimum = aMaximum;
    } else {
        m_maximum = aMaximum;
    }
    updateInterval();
    finishRangeChange();
}

void RangeSlider::setRange(int aMinimum, int aMaximum)
{
    setMaximum(aMaximum);
    setMinimum(aMinimum);
}

void RangeSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);

    QPen groovePen(Qt::gray, 0.8, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(groovePen);
    painter.setRenderHint(QPainter::Qt4CompatiblePainting);
    painter.setBrush(QColor(208, 208, 208));
    painter.drawRoundedRect(grooveRect(), 1, 1);

    QPen handlePen(Qt::darkGray, 0);
    painter.setPen(handlePen);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(250, 250, 250));
    if (hasLower())
        painter.drawRoundedRect(lowerHandleRect(), 2, 2);
    if (hasUpper())
        painter.drawRoundedRect(upperHandleRect(), 2, 2);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(m_spanColor);
    painter.drawRect(spanRect());
}

void RangeSlider::mousePressEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;

    const QPoint q = event->localPos().toPoint();
    const bool horizontal = m_orientation == Qt::Horizontal;
    const int a = horizontal ? q.x() : q.y();
    const int c = horizontal ? q.y() : q.x();
    const int p1 = lowerPosition();
    const int p2 = upperPosition();

    if (upperHandleRect().contains(q)) {
        m_upperPressed = true;
        m_lowerPressed = false;
        m_dragOffset = a - (p2 + 5);
    } else {
        m_upperPressed = false;
        m_lowerPressed = lowerHandleRect().contains(q);
        if (m_lowerPressed)
            m_dragOffset = a - (p1 + 5);
    }

    // Only a press well inside the groove steps a value.
    if (!(1 < c && c < thickness() - 1))
        return;

    const int step = clickStep(m_interval);
    if (a < p1) {
        setLowerValue(m_lowerValue - step);
    } else if ((a <= p1 + kHandleSide && hasLower()) || (a >= p2 && hasUpper())) {
        if (a > p2 + kHandleSide)
            setUpperValue(m_upperValue + step);
    } else if (hasLower() && hasUpper()) {
        if (a - (p1 + kHandleSide) >= (p2 - (p1 + kHandleSide)) / 2)
            setUpperValue(qMax(m_upperValue - step, m_lowerValue));
        else
            setLowerValue(qMin(m_lowerValue + step, m_upperValue));
    } else if (hasLower()) {
        setLowerValue(qMin(m_lowerValue + step, m_upperValue));
    } else if (hasUpper()) {
        setUpperValue(qMax(m_upperValue - step, m_lowerValue));
    }
}

void RangeSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;

    const QPoint q = event->localPos().toPoint();
    const int a = m_orientation == Qt::Horizontal ? q.x() : q.y();
    const int p1 = lowerPosition();
    const int p2 = upperPosition();
    const int d = a - m_dragOffset;
    const int usable = usableLength();
    // A slider too small to have a track cannot map positions to values.
    if (usable <= 0)
        return;

    auto valueAt = [&](double along) {
        // The pointer may be far outside the widget while dragging; keep the cast defined.
        const double v = along / usable * m_interval + m_minimum;
        return static_cast<int>(
            qBound<double>(std::numeric_limits<int>::min(), v, std::numeric_limits<int>::max()));
    };

    if (m_lowerPressed && hasLower()) {
        if (d + 4 < p2)
            setLowerValue(valueAt(d - 6));
        else
            setLowerValue(m_upperValue);
    } else if (m_upperPressed && hasUpper()) {
        const bool both = hasLower() && hasUpper();
        if (d >= p1 + (both ? 16.5 : 5.5))
            setUpperValue(valueAt(d - 6 - (both ? kHandleSide : 0)));
        else
            setUpperValue(m_lowerValue);
    }
}

void RangeSlider::mouseReleaseEvent(QMouseEvent*)
{
    m_lowerPressed = false;
    m_upperPressed = false;
}

void RangeSlider::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        m_spanColor = isEnabled() ? m_enabledColor : m_disabledColor;
        update();
    }
    QWidget::changeEvent(event);
}
