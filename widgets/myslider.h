#pragma once

#include <QString>
#include <QWidget>

namespace Ui
{
class myslider;
}

/// A channel current editor: title, spin box and slider kept in step, and the range ends.
class myslider : public QWidget
{
    Q_OBJECT

  public:
    explicit myslider(QWidget* parent = nullptr);
    ~myslider() override;

    /// Sets the title and the range of both controls; the unit is not shown.
    void setRange(const QString& title, int minimum, int maximum, const QString& unit);
    void setValue(int value);
    int value() const;
    /// Shows the current label as the title; the channel label is not shown.
    void setLabels(const QString& channelLabel, const QString& currentLabel);
    /// True while the box shows a typed number that is not the value yet.
    bool editPending() const;

  signals:
    /// The value changed: typed and finished, stepped, dragged or set.
    void valueChanged(int value);
    /// A typed number outside the range was held at `limit`.
    void heldAtLimit(int typed, int limit);

  public:
    // Read-only views of the form, for tests.
    int spinBoxValue() const;
    int spinBoxMinimum() const;
    int spinBoxMaximum() const;
    int sliderMinimum() const;
    int sliderMaximum() const;
    QString title() const;
    QString minimumText() const;
    QString maximumText() const;

  private:
    Ui::myslider* m_ui;
};
