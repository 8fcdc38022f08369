#include "widgets/curvechart.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <limits>

namespace
{

// Beyond this many divisions an axis is unreadable and the loops would run for ages.
constexpr double kMaxDivisions = 10000;

// Integer part of a double without undefined behaviour for NaN or huge values.
int integerPart(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

QFont boldFont()
{
    QFont font;
    font.setPixelSize(12);
    font.setWeight(QFont::Bold);
    return font;
}

} // namespace

CurveChart::CurveChart(QWidget* parent)
    : QWidget(parent), m_title(QStringLiteral("曲线图")), m_yName(QStringLiteral("Y轴"))
{
}

QSize CurveChart::sizeHint() const
{
    return QSize(500, 300);
}

QSize CurveChart::minimumSizeHint() const
{
    return QSize(200, 70);
}

QRectF CurveChart::plotRectFor(const QSize& size, double space)
{
    return QRectF(space, space, size.width() - space * 1.5, size.height() - space * 1.5);
}

int CurveChart::divisionCount(double from, double to, double step)
{
    const double span = to - from;
    if (step == 0 || span == 0)
        return -1;
    const double q = span / step;
    if (!std::isfinite(q) || q > kMaxDivisions)
        return -1;
    return integerPart(q);
}

QVector<int> CurveChart::valueAxisLabels(double minValue, double maxValue, double xStep)
{
    QVector<int> labels;
    const int count = divisionCount(minValue, maxValue, xStep);
    if (count < 0)
        return labels;
    int n = integerPart(maxValue);
    for (int k = 0; k <= count; ++k) {
        labels.append(n);
        n = integerPart(n - xStep);
    }
    return labels;
}

QVector<int> CurveChart::timeAxisLabels(double xMinValue, double xMaxValue, double yStep)
{
    QVector<int> labels;
    const int count = divisionCount(xMinValue, xMaxValue, yStep);
    if (count <= 0)
        return labels;
    int m = integerPart(xMinValue + yStep);
    for (int k = 1; k <= count; ++k) {
        labels.append(m);
        m = integerPart(m + yStep);
    }
    return labels;
}

QVector<double> CurveChart::gridLinePositions(const QRectF& plot, double minValue, double maxValue,
                                              double xStep)
{
    QVector<double> ys;
    const int count = divisionCount(minValue, maxValue, xStep);
    if (count < 2)
        return ys;
    const double step = plot.height() / count;
    for (int k = 1; k < count; ++k)
        ys.append(plot.top() + k * step);
    return ys;
}

int CurveChart::keptValueCount(double plotWidth, double yStep)
{
    if (yStep == 0)
        return -1;
    const double q = plotWidth / yStep;
    if (std::isnan(q))
        return -1;
    return qMax(0, integerPart(q));
}

QVector<QPointF> CurveChart::curvePoints(const QRectF& plot) const
{
    QVector<QPointF> points;
    const double xSpan = m_xMaxValue - m_xMinValue;
    const double ySpan = m_maxValue - m_minValue;
    if (xSpan == 0 || ySpan == 0 || std::isnan(xSpan) || std::isnan(ySpan))
        return points;

    auto xOf = [&](double t) { return plot.left() + plot.width() / xSpan * (t - m_xMinValue); };
    auto yOf = [&](double v) {
        return plot.top() + plot.height() - plot.height() / ySpan * (v - m_minValue);
    };

    if (m_showPointBg && !m_timeValues.isEmpty())
        points.append(QPointF(xOf(m_timeValues.at(0)), plot.bottom()));
    // A value without a time point has no place on the chart.
    const int n = qMin(m_values.size(), m_timeValues.size());
    for (int i = 0; i < n; ++i)
        points.append(QPointF(xOf(m_timeValues.at(i)), yOf(m_values.at(i))));
    if (m_showPointBg && !points.isEmpty()) {
        // The fill is the area under the curve: down to the time axis under the last
        // point, then back along the axis to the first base point.
        points.append(QPointF(points.last().x(), plot.bottom()));
        // Only the two base points: there is no area to fill.
        if (points.size() <= 2)
            points.clear();
    }
    return points;
}

QVector<QPointF> CurveChart::markerPoints(QVector<QPointF> curve, const QRectF& plot) const
{
    // The markers stay where they always were: on every point and both base points, the
    // closing one at the plot's bottom-left corner.
    if (m_showPointBg && !curve.isEmpty())
        curve.last() = QPointF(plot.left(), plot.bottom());
    return curve;
}

void CurveChart::updateData()
{
    const int keep = keptValueCount(m_plotRect.width(), m_yStep);
    if (keep >= 0 && m_values.size() > keep)
        m_values.resize(keep);
    update();
}

void CurveChart::addData(double data)
{
    m_values.prepend(data);
    updateData();
}

void CurveChart::setData(QVector<double> data, QVector<double> timedata)
{
    m_values = checkData(data, 1);
    m_timeValues = checkData(timedata, 0);
    updateData();
}

void CurveChart::clearData()
{
    m_values.clear();
    m_timeValues.clear();
    update();
}

QVector<double> CurveChart::checkData(QVector<double> data, uint8_t mode)
{
    constexpr int kPoints = 16;
    double source = 0;
    if (mode == 0)
        source = m_xMaxValue;
    else if (mode == 1)
        source = m_maxValue;
    // Cut to 16 bits, as the tag stores these points.
    const double limit = static_cast<double>(static_cast<uint16_t>(integerPart(source) & 0xFFFF));

    QVector<double> result(kPoints, 0.0);
    const int n = qMin(kPoints, data.size());
    for (int i = 0; i < n; ++i) {
        const double v = data.at(i);
        result[i] = (v >= limit) ? limit : v;
    }
    return result;
}

void CurveChart::setMinValue(double minValue)
{
    if (m_minValue != minValue) {
        m_minValue = minValue;
        update();
    }
}

void CurveChart::setMaxValue(double maxValue)
{
    if (m_maxValue != maxValue) {
        m_maxValue = maxValue;
        update();
    }
}

void CurveChart::setXMinValue(double XminValue)
{
    if (m_xMinValue != XminValue) {
        m_xMinValue = XminValue;
        update();
    }
}

void CurveChart::setXMaxValue(double XmaxValue)
{
    if (m_xMaxValue != XmaxValue) {
        m_xMaxValue = XmaxValue;
        update();
    }
}

void CurveChart::setXStep(double xStep)
{
    if (m_xStep != xStep) {
        m_xStep = xStep;
        update();
    }
}

void CurveChart::setYStep(double yStep)
{
    if (m_yStep != yStep) {
        m_yStep = yStep;
        update();
    }
}

void CurveChart::setSpace(double space)
{
    if (m_space != space) {
        m_space = space;
        update();
    }
}

void CurveChart::setTitle(QString title)
{
    if (m_title != title) {
        m_title = title;
        update();
    }
}

void CurveChart::setY_Name(QString Y_name)
{
    if (m_yName != Y_name) {
        m_yName = Y_name;
        update();
    }
}

void CurveChart::setShowHLine(bool showHLine)
{
    if (m_showHLine != showHLine) {
        m_showHLine = showHLine;
        update();
    }
}

void CurveChart::setShowPoint(bool showPoint)
{
    if (m_showPoint != showPoint) {
        m_showPoint = showPoint;
        update();
    }
}

void CurveChart::setShowPointBg(bool showPointBg)
{
    if (m_showPointBg != showPointBg) {
        m_showPointBg = showPointBg;
        update();
    }
}

void CurveChart::setBgColorStart(QColor bgColorStart)
{
    if (m_bgColorStart != bgColorStart) {
        m_bgColorStart = bgColorStart;
        update();
    }
}

void CurveChart::setBgColorEnd(QColor bgColorEnd)
{
    if (m_bgColorEnd != bgColorEnd) {
        m_bgColorEnd = bgColorEnd;
        update();
    }
}

void CurveChart::setTextColor(QColor textColor)
{
    if (m_textColor != textColor) {
        m_textColor = textColor;
        update();
    }
}

void CurveChart::setPointColor(QColor pointColor)
{
    if (m_pointColor != pointColor) {
        m_pointColor = pointColor;
        update();
    }
}

void CurveChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    drawBg(&painter);
    drawBox(&painter);
    drawText(&painter);
    drawTitle(&painter);
    drawPoint(&painter);
}

void CurveChart::drawBg(QPainter* painter)
{
    painter->save();
    painter->setPen(Qt::NoPen);
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, height() - 1));
    gradient.setColorAt(0.0, m_bgColorStart);
    gradient.setColorAt(1.0, m_bgColorEnd);
    painter->setBrush(gradient);
    painter->drawRect(rect());
    painter->restore();
}

void CurveChart::drawBox(QPainter* painter)
{
    painter->save();
    m_plotRect = plotRectFor(size(), m_space);
    painter->setPen(m_textColor);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(m_plotRect);

    if (m_showHLine) {
        QPen pen(m_textColor, 1, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin);
        painter->setPen(pen);
        for (double y : gridLinePositions(m_plotRect, m_minValue, m_maxValue, m_xStep))
            painter->drawLine(QPointF(m_plotRect.left(), y), QPointF(m_plotRect.right(), y));
    }
    painter->restore();
}

void CurveChart::drawText(QPainter* painter)
{
    painter->save();
    painter->setPen(m_textColor);
    QFont font;
    font.setPixelSize(12);
    painter->setFont(font);
    // Measured with the widget's own font, so that positions follow the form's style.
    const QFontMetrics fm = fontMetrics();
    const double textHeight = fm.height();

    const QVector<int> valueLabels = valueAxisLabels(m_minValue, m_maxValue, m_xStep);
    if (!valueLabels.isEmpty()) {
        const int count = valueLabels.size() - 1;
        const double step = count > 0 ? m_plotRect.height() / count : 0.0;
        for (int k = 0; k < valueLabels.size(); ++k) {
            const QString text = QString::number(valueLabels.at(k));
            const double x = m_plotRect.left() - 5 - fm.horizontalAdvance(text);
            const double y = m_plotRect.top() + k * step + textHeight / 2;
            painter->drawText(QPointF(x, y), text);
        }
    }

    const QVector<int> timeLabels = timeAxisLabels(m_xMinValue, m_xMaxValue, m_yStep);
    if (!timeLabels.isEmpty()) {
        const double step = m_plotRect.width() / timeLabels.size();
        for (int k = 1; k <= timeLabels.size(); ++k) {
            const QString text = QString::number(timeLabels.at(k - 1));
            const double x = m_plotRect.left() + k * step - fm.horizontalAdvance(text) / 2.0;
            const double y = m_plotRect.bottom() + textHeight;
            painter->drawText(QPointF(x, y), text);
        }
    }
    painter->restore();
}

void CurveChart::drawTitle(QPainter* painter)
{
    painter->save();
    painter->setPen(m_textColor);
    painter->setFont(boldFont());
    const QFontMetrics fm = fontMetrics();
    const double textHeight = fm.height();

    const double titleX = width() / 2.0 - fm.horizontalAdvance(m_title) / 2.0;
    const double baseline = m_space / 2 + textHeight / 2;
    painter->drawText(QPointF(titleX, baseline), m_title);

    const double nameX = m_plotRect.left() - fm.horizontalAdvance(m_yName) / 2.0;
    painter->drawText(QPointF(nameX, baseline), m_yName);
    painter->restore();
}

void CurveChart::drawPoint(QPainter* painter)
{
    painter->save();
    painter->setFont(boldFont());
    const QVector<QPointF> points = curvePoints(m_plotRect);
    if (points.isEmpty()) {
        painter->restore();
        return;
    }

    painter->setPen(m_pointColor);
    if (m_showPointBg) {
        QColor fill = m_pointColor;
        fill.setAlpha(150);
        painter->setBrush(fill);
        painter->drawPolygon(points.constData(), points.size(), Qt::OddEvenFill);
    } else {
        painter->setBrush(Qt::NoBrush);
        painter->drawPolyline(points.constData(), points.size());
    }

    if (m_showPoint) {
        painter->setBrush(m_pointColor);
        for (const QPointF& p : markerPoints(points, m_plotRect))
            painter->drawEllipse(QRectF(p.x() - 3, p.y() - 3, 6, 6));
    }
    painter->restore();
}
