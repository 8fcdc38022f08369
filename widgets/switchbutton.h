#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QTimer;

/// An animated on/off switch: a pill-shaped track with a sliding knob.
class switchbutton : public QWidget
{
    Q_OBJECT

  public:
    explicit switchbutton(QWidget* parent = nullptr);

    bool isChecked() const { return m_checked; }
    int space() const { return m_space; }
    int radius() const { return m_radius; }
    bool showText() const { return m_showText; }
    bool showCircle() const { return m_showCircle; }
    bool animation() const { return m_animation; }
    QColor bgColorOn() const { return m_bgColorOn; }
    QColor bgColorOff() const { return m_bgColorOff; }
    QColor sliderColorOn() const { return m_sliderColorOn; }
    QColor sliderColorOff() const { return m_sliderColorOff; }
    QColor textColor() const { return m_textColor; }
    QString textOn() const { return m_textOn; }
    QString textOff() const { return m_textOff; }
    int step() const { return m_step; }
    int startX() const { return m_startX; }
    int endX() const { return m_endX; }
    bool isMoving() const;

    /// Knob movement per tick for a switch of the given width.
    static int stepFor(int width) { return width / 10; }
    /// Knob offset at rest for the given state and size.
    static int endFor(bool checked, int width, int height) { return checked ? width - height : 0; }
    /// One tick of the knob towards its end; true while it still moves.
    static bool advance(bool checked, int& startX, int endX, int step);

  signals:
    void statusChanged(bool checked);

  public slots:
    void updateValue();
    void setSpace(int space);
    void setRadius(int radius);
    void setMoved();
    void setChecked(bool checked);
    void setShowText(bool show);
    void setShowCircle(bool show);
    void setAnimation(bool ok);
    void setBgColorOn(QColor color);
    void setBgColorOff(QColor color);
    void setSliderColorOn(QColor color);
    void setSliderColorOff(QColor color);
    void setTextColor(QColor color);
    void setTextOn(QString text);
    void setTextOff(QString text);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    int m_space = 2;
    int m_radius = 5;
    bool m_checked = false;
    bool m_showText = false;
    bool m_showCircle = false;
    bool m_animation = true;
    QColor m_bgColorOn{26, 110, 217};
    QColor m_bgColorOff{190, 190, 190};
    QColor m_sliderColorOn{255, 255, 255};
    QColor m_sliderColorOff{255, 255, 255};
    QColor m_textColor{255, 255, 255};
    QString m_textOn{QStringLiteral("ON")};
    QString m_textOff{QStringLiteral("OFF")};
    QTimer* m_timer = nullptr;
    int m_step = 0;
    int m_startX = 0;
    int m_endX = 0;
};
