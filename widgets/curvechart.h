#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>
#include <QWidget>

#include <cstdint>

/// A self-painted line chart: gradient background, framed plot, dotted grid,
/// integer labels on both axes and a curve of (time, value) points.
class CurveChart : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(double minValue READ minValue WRITE setMinValue)
    Q_PROPERTY(double maxValue READ maxValue WRITE setMaxValue)
    Q_PROPERTY(double XminValue READ xMinValue WRITE setXMinValue)
    Q_PROPERTY(double XmaxValue READ xMaxValue WRITE setXMaxValue)
    Q_PROPERTY(double xStep READ xStep WRITE setXStep)
    Q_PROPERTY(double yStep READ yStep WRITE setYStep)
    Q_PROPERTY(double space READ space WRITE setSpace)
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(QString Y_name READ yName WRITE setY_Name)
    Q_PROPERTY(bool showHLine READ showHLine WRITE setShowHLine)
    Q_PROPERTY(bool showPoint READ showPoint WRITE setShowPoint)
    Q_PROPERTY(bool showPointBg READ showPointBg WRITE setShowPointBg)
    Q_PROPERTY(QColor bgColorStart READ bgColorStart WRITE setBgColorStart)
    Q_PROPERTY(QColor bgColorEnd READ bgColorEnd WRITE setBgColorEnd)
    Q_PROPERTY(QColor textColor READ textColor WRITE setTextColor)
    Q_PROPERTY(QColor pointColor READ pointColor WRITE setPointColor)

  public:
    explicit CurveChart(QWidget* parent = nullptr);

    double minValue() const { return m_minValue; }
    double maxValue() const { return m_maxValue; }
    double xMinValue() const { return m_xMinValue; }
    double xMaxValue() const { return m_xMaxValue; }
    double xStep() const { return m_xStep; }
    double yStep() const { return m_yStep; }
    double space() const { return m_space; }
    QString title() const { return m_title; }
    QString yName() const { return m_yName; }
    bool showHLine() const { return m_showHLine; }
    bool showPoint() const { return m_showPoint; }
    bool showPointBg() const { return m_showPointBg; }
    QColor bgColorStart() const { return m_bgColorStart; }
    QColor bgColorEnd() const { return m_bgColorEnd; }
    QColor textColor() const { return m_textColor; }
    QColor pointColor() const { return m_pointColor; }

    const QVector<double>& values() const { return m_values; }
    const QVector<double>& timeValues() const { return m_timeValues; }
    /// Plot rectangle of the most recent paint (zero before the first paint).
    QRectF plotRect() const { return m_plotRect; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    /// Plot rectangle for a widget of the given size and margin.
    static QRectF plotRectFor(const QSize& size, double space);
    /// Number of axis divisions, or -1 when the step or the span gives no drawing.
    static int divisionCount(double from, double to, double step);
    /// Value-axis labels from top to bottom.
    static QVector<int> valueAxisLabels(double minValue, double maxValue, double xStep);
    /// Time-axis labels from left to right (none at the left end).
    static QVector<int> timeAxisLabels(double xMinValue, double xMaxValue, double yStep);
    /// y positions of the dotted grid lines inside the plot.
    static QVector<double> gridLinePositions(const QRectF& plot, double minValue, double maxValue,
                                             double xStep);
    /// How many values fit into a plot of the given width, or -1 for no limit.
    static int keptValueCount(double plotWidth, double yStep);
    /// Points of the curve in the given plot (empty when nothing is to be drawn).
    QVector<QPointF> curvePoints(const QRectF& plot) const;
    /// Where the round markers go for the given curve points.
    QVector<QPointF> markerPoints(QVector<QPointF> curve, const QRectF& plot) const;

  private slots:
    // Declared first so that the meta-object lists the data slots before the setters.
    void updateData();

  public slots:
    void addData(double data);
    void setData(QVector<double> data, QVector<double> timedata);
    void clearData();
    QVector<double> checkData(QVector<double> data, uint8_t mode);

    void setMinValue(double minValue);
    void setMaxValue(double maxValue);
    void setXMinValue(double XminValue);
    void setXMaxValue(double XmaxValue);
    void setXStep(double xStep);
    void setYStep(double yStep);
    void setSpace(double space);
    void setTitle(QString title);
    void setY_Name(QString Y_name);
    void setShowHLine(bool showHLine);
    void setShowPoint(bool showPoint);
    void setShowPointBg(bool showPointBg);
    void setBgColorStart(QColor bgColorStart);
    void setBgColorEnd(QColor bgColorEnd);
    void setTextColor(QColor textColor);
    void setPointColor(QColor pointColor);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void drawBg(QPainter* painter);
    void drawBox(QPainter* painter);
    void drawText(QPainter* painter);
    void drawTitle(QPainter* painter);
    void drawPoint(QPainter* painter);

    QRectF m_plotRect;
    QVector<double> m_values;
    QVector<double> m_timeValues;
    double m_minValue = 0;
    double m_maxValue = 100;
    double m_xMinValue = 0;
    double m_xMaxValue = 100;
    double m_xStep = 10;
    double m_yStep = 10;
    double m_space = 40;
    QString m_title;
    QString m_yName;
    bool m_showHLine = true;
    bool m_showPoint = true;
    bool m_showPointBg = true;
    QColor m_bgColorStart{79, 79, 79};
    QColor m_bgColorEnd{51, 51, 51};
    QColor m_textColor{250, 250, 250};
    QColor m_pointColor{38, 114, 179};
};
