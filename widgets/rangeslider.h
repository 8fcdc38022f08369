#pragma once

#include <QColor>
#include <QRect>
#include <QRectF>
#include <QWidget>

/// A slider with two handles that select [lower value, upper value] of a range.
class RangeSlider : public QWidget
{
    Q_OBJECT

  public:
    enum Option { NoHandles = 0, LowerHandle = 1, UpperHandle = 2, BothHandles = 3 };
    Q_DECLARE_FLAGS(Options, Option)

    static constexpr int kHandleSide = 11;
    static constexpr int kGrooveThickness = 5;

    explicit RangeSlider(QWidget* parent = nullptr);
    RangeSlider(Qt::Orientation orientation, Options options = BothHandles,
                QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

    int getMinimum() const { return m_minimum; }
    int getMaximum() const { return m_maximum; }
    int getLowerValue() const { return m_lowerValue; }
    int getUpperValue() const { return m_upperValue; }
    int getInterval() const { return m_interval; }
    bool isLowerPressed() const { return m_lowerPressed; }
    bool isUpperPressed() const { return m_upperPressed; }
    QColor spanColor() const { return m_spanColor; }
    Qt::Orientation orientation() const { return m_orientation; }
    Options handleOptions() const { return m_options; }

    void setRange(int aMinimum, int aMaximum);

    // Geometry of the current state, as used by painting and the mouse handlers.
    int usableLength() const;
    int lowerPosition() const;
    int upperPosition() const;
    QRect lowerHandleRect() const;
    QRect upperHandleRect() const;
    QRect grooveRect() const;
    QRectF spanRect() const;

    /// Pixels along the slider that the handles can travel.
    static int usableLengthFor(int length, Options options);
    /// Handle position for a value; an empty range puts the handle at the start.
    static int handlePosition(int value, int minimum, int interval, int usableLength, int offset);
    /// Step of a click in the groove.
    static int clickStep(int interval);

  signals:
    void lowerValueChanged(int aLowerValue);
    void upperValueChanged(int aUpperValue);
    void rangeChanged(int aMin, int aMax);

  public slots:
    void setLowerValue(int aLowerValue);
    void setUpperValue(int aUpperValue);
    void setMinimum(int aMinimum);
    void setMaximum(int aMaximum);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    bool hasLower() const { return m_options.testFlag(LowerHandle); }
    bool hasUpper() const { return m_options.testFlag(UpperHandle); }
    int length() const;
    int thickness() const;
    QRect handleRectAt(int position) const;
    void updateInterval();
    void finishRangeChange();

    int m_minimum = 0;
    int m_maximum = 100;
    int m_lowerValue = 0;
    int m_upperValue = 100;
    bool m_lowerPressed = false;
    bool m_upperPressed = false;
    int m_interval = 100;
    int m_dragOffset = 0;
    QColor m_enabledColor{30, 144, 255};
    QColor m_disabledColor{Qt::darkGray};
    QColor m_spanColor{30, 144, 255};
    Qt::Orientation m_orientation = Qt::Horizontal;
    Options m_options = BothHandles;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(RangeSlider::Options)
