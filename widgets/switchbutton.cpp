#include "widgets/switchbutton.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

switchbutton::switchbutton(QWidget* parent) : QWidget(parent)
{
    m_timer = new QTimer(this);
    m_timer->setInterval(30);
    connect(m_timer, &QTimer::timeout, this, &switchbutton::updateValue);
}

bool switchbutton::isMoving() const
{
    return m_timer->isActive();
}

bool switchbutton::advance(bool checked, int& startX, int endX, int step)
{
    // A switch narrower than 10 pixels has no step; it snaps instead of ticking forever.
    if (step <= 0) {
        startX = endX;
        return false;
    }
    if (checked && startX < endX) {
        startX += step;
        return true;
    }
    if (!checked && startX > endX) {
        startX -= step;
        return true;
    }
    startX = endX;
    return false;
}

void switchbutton::updateValue()
{
    if (!advance(m_checked, m_startX, m_endX, m_step))
        m_timer->stop();
    update();
}

void switchbutton::setSpace(int space)
{
    if (m_space != space) {
        m_space = space;
        update();
    }
}

void switchbutton::setRadius(int radius)
{
    if (m_radius != radius) {
        m_radius = radius;
        update();
    }
}

void switchbutton::setMoved()
{
    m_step = stepFor(width());
    m_endX = endFor(m_checked, width(), height());
    if (m_animation)
        m_timer->start();
    else
        m_startX = m_endX;
}

void switchbutton::setChecked(bool checked)
{
    if (m_checked != checked) {
        m_checked = checked;
        update();
    }
    setMoved();
}

void switchbutton::setShowText(bool show)
{
    if (m_showText != show) {
        m_showText = show;
        update();
    }
}

void switchbutton::setShowCircle(bool show)
{
    if (m_showCircle != show) {
        m_showCircle = show;
        update();
    }
}

void switchbutton::setAnimation(bool ok)
{
    if (m_animation != ok) {
        m_animation = ok;
        update();
    }
}

void switchbutton::setBgColorOn(QColor color)
{
    if (m_bgColorOn != color) {
        m_bgColorOn = color;
        update();
    }
}

void switchbutton::setBgColorOff(QColor color)
{
    if (m_bgColorOff != color) {
        m_bgColorOff = color;
        update();
    }
}

void switchbutton::setSliderColorOn(QColor color)
{
    if (m_sliderColorOn != color) {
        m_sliderColorOn = color;
        update();
    }
}

void switchbutton::setSliderColorOff(QColor color)
{
    if (m_sliderColorOff != color) {
        m_sliderColorOff = color;
        update();
    }
}

void switchbutton::setTextColor(QColor color)
{
    if (m_textColor != color) {
        m_textColor = color;
        update();
    }
}

void switchbutton::setTextOn(QString text)
{
    if (m_textOn != text) {
        m_textOn = text;
        update();
    }
}

void switchbutton::setTextOff(QString text)
{
    if (m_textOff != text) {
        m_textOff = text;
        update();
    }
}

void switchbutton::mousePressEvent(QMouseEvent*)
{
    m_checked = !m_checked;
    emit statusChanged(m_checked);

    m_step = stepFor(width());
    m_endX = endFor(m_checked, width(), height());
    if (m_animation) {
        m_timer->start();
    } else {
        m_startX = m_endX;
        update();
    }
}

void switchbutton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const int w = width();
    const int h = height();
    const int side = qMin(w, h);

    // Track.
    painter.save();
    painter.setPen(Qt::NoPen);
    QColor trackColor = m_checked ? m_bgColorOn : m_bgColorOff;
    if (isEnabled())
        trackColor.setAlpha(150);
    QPainterPath left;
    left.addEllipse(QRectF(0, 0, side, side));
    QPainterPath right;
    right.addEllipse(QRectF(w - side, 0, side, side));
    QPainterPath middle;
    middle.addRect(QRectF(side / 2, 0, w - side, h));
    painter.fillPath(left.united(right).united(middle), trackColor);
    painter.restore();

    // Text in the free part of the track.
    painter.save();
    QFont font;
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(m_textColor);
    const int offset = side - 2 * m_space - 5;
    if (m_checked)
        painter.drawText(QRect(0, 0, w - offset, h), Qt::AlignCenter, m_textOn);
    else
        painter.drawText(QRect(offset, 0, w - offset, h), Qt::AlignCenter, m_textOff);
    painter.restore();

    // Knob.
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_checked ? m_sliderColorOn : m_sliderColorOff);
    const int d = side - 2 * m_space;
    painter.drawEllipse(QRect(m_space + m_startX, m_space, d, d));
    painter.restore();
}
