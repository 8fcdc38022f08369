#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

namespace Ui
{
class TitleBar;
}

/// Title bar of a frameless dialog: a centred title, a close button and dragging.
class TitleBar : public QWidget
{
    Q_OBJECT

  public:
    explicit TitleBar(QWidget* parent = nullptr);
    ~TitleBar() override;

    void setTitle(const QString& title);
    QString title() const;
    bool isDragging() const { return m_pressed; }

  private slots:
    void on_pushButtonClose_clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    Ui::TitleBar* m_ui;
    bool m_pressed = false;
    QPoint m_lastPoint;
};
