#pragma once

#include <QLabel>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>

#include <memory>

class QTimer;

/// A transient, centred message drawn inside a window that fades out by itself.
class NoticeWidget : public QLabel
{
    Q_OBJECT

  public:
    static constexpr int kTickMs = 50;
    static constexpr int kFadeTicks = 20;
    static constexpr int kFadeStep = 13;

    explicit NoticeWidget(QWidget* parent = nullptr);
    ~NoticeWidget() override;

    /// Shows text centred in parent for durationMs; empty text or no time only hides.
    void showNotice(QWidget* parent, const QString& text, int durationMs);

    int ticks() const { return m_ticks; }
    int alpha() const { return m_alpha; }
    int textWidth() const { return m_textWidth; }
    int rowHeight() const { return m_rowHeight; }
    int baseHeight() const { return m_baseHeight; }
    QList<int> lineWidths() const { return m_lineWidths; }
    bool isTicking() const;

    /// Ticks a notice of the given duration lasts.
    static int ticksFor(int durationMs) { return durationMs / kTickMs + 1; }
    /// Background opacity after one fade step.
    static int nextAlpha(int alpha) { return qMax(0, alpha - kFadeStep); }
    /// Size of a notice in a parent of the given width.
    static QSize noticeSize(int parentWidth, int rowHeight, int baseHeight, int textWidth,
                            const QList<int>& lineWidths);
    /// Top-left corner that centres a notice of the given size in the parent.
    static QPoint centredPosition(const QSize& parentSize, const QSize& noticeSize);
    static QString styleFor(int alpha);

  public slots:
    void OnTimerTimeout();

  private:
    void layoutText(const QString& text);
    void resizeToParent();
    QPoint centre() const;

    QPointer<QWidget> m_parent;
    std::unique_ptr<QTimer> m_timer;
    int m_ticks = 20;
    int m_textWidth = 0;
    int m_rowHeight = 0;
    int m_baseHeight = 0;
    int m_alpha = 255;
    QList<int> m_lineWidths;
};
