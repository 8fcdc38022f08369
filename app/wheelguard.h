#pragma once

#include <QObject>

class QWidget;

/// Keeps the mouse wheel from editing values while it scrolls a pane: the sliders and spin
/// boxes inside the pane take wheel events only while they have the keyboard focus;
/// otherwise the wheel goes on to the pane, which scrolls.
class WheelGuard : public QObject
{
    Q_OBJECT

  public:
    /// Guards every slider and spin box under `pane` now; the guard is a child of `pane`.
    static WheelGuard* install(QWidget* pane);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit WheelGuard(QObject* parent) : QObject(parent) {}
    void guard(QWidget* widget);
};
