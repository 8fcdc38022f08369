#pragma once

#include <QSpinBox>

/// A spin box whose typed number counts only once the typing is finished (Enter, or the
/// box left): a number outside the range is then held at the nearest limit, and said so
/// through heldAtLimit(). Until then the value stays what it was; Esc drops the typing.
/// The arrows, the wheel and setValue() act at once, as in any spin box.
class BoundedSpinBox : public QSpinBox
{
    Q_OBJECT

  public:
    explicit BoundedSpinBox(QWidget* parent = nullptr);

    /// True while the box shows typed text that is not its value yet.
    bool editPending() const;

  signals:
    /// A typed number outside the range was held at `limit`.
    void heldAtLimit(int typed, int limit);

  protected:
    QValidator::State validate(QString& text, int& pos) const override;
    void fixup(QString& input) const override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // The number typed without prefix and suffix; false when it is not a whole number.
    bool typedNumber(const QString& text, int* number) const;
    void announceHeld();

    // Noted by fixup(), which Qt calls as a const function while it takes the typing; told
    // once the value is set.
    mutable bool m_held = false;
    mutable int m_typed = 0;
    mutable int m_limit = 0;
};
