#include "widgets/noticewidget.h"

#include <QFontMetrics>
#include <QStringList>
#include <QTimer>

NoticeWidget::NoticeWidget(QWidget* parent) : QLabel(nullptr), m_parent(parent)
{
    setAlignment(Qt::AlignCenter);
    m_timer = std::make_unique<QTimer>();
    connect(m_timer.get(), &QTimer::timeout, this, &NoticeWidget::OnTimerTimeout,
            Qt::UniqueConnection);
}

NoticeWidget::~NoticeWidget()
{
    m_timer->stop();
}

bool NoticeWidget::isTicking() const
{
    return m_timer->isActive();
}

QString NoticeWidget::styleFor(int alpha)
{
    return QStringLiteral("color:black;border-radius:8px;background-color:rgba(248, 248, 248, "
                          "%1);")
        .arg(alpha);
}

QSize NoticeWidget::noticeSize(int parentWidth, int rowHeight, int baseHeight, int textWidth,
                               const QList<int>& lineWidths)
{
    const double w = parentWidth / 10.0;
    const int minHeight = rowHeight + baseHeight;
    // A parent narrower than 10 pixels leaves no width to wrap into.
    if (w <= 0)
        return QSize(0, minHeight);
    int h = static_cast<int>(rowHeight * static_cast<double>(textWidth) / w + 10);
    if (h < minHeight)
        return QSize(static_cast<int>(w), minHeight);
    for (int lineWidth : lineWidths) {
        if (lineWidth > w)
            h += rowHeight;
    }
    return QSize(static_cast<int>(w), h);
}

QPoint NoticeWidget::centredPosition(const QSize& parentSize, const QSize& noticeSize)
{
    return QPoint((parentSize.width() - noticeSize.width()) >> 1,
                  (parentSize.height() - noticeSize.height()) >> 1);
}

void NoticeWidget::showNotice(QWidget* parent, const QString& text, int durationMs)
{
    if (m_timer->isActive()) {
        m_timer->stop();
        hide();
    }
    // Without a parent there is no window to centre in; a floating window would be worse.
    if (text.isEmpty() || durationMs <= 0 || !parent)
        return;

    setParent(parent);
    layoutText(text);
    move(centre());
    show();
    raise();
    setStyleSheet(styleFor(255));

    m_ticks = ticksFor(durationMs);
    m_alpha = 255;
    m_timer->start(kTickMs);
}

void NoticeWidget::layoutText(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    const QFontMetrics fm = fontMetrics();
    m_lineWidths.clear();
    int widest = 1;
    for (const QString& line : lines) {
        const int lineWidth = fm.horizontalAdvance(line);
        m_lineWidths.append(lineWidth);
        widest = qMax(widest, lineWidth);
    }

    m_parent = parentWidget();
    m_textWidth = fm.horizontalAdvance(text);
    m_rowHeight = fm.lineSpacing() + 10;
    m_baseHeight = m_rowHeight * m_textWidth / widest + 1;

    resizeToParent();
    setWordWrap(true);
    setText(text);
}

void NoticeWidget::resizeToParent()
{
    if (!m_parent)
        return;
    setFixedSize(
        noticeSize(m_parent->width(), m_rowHeight, m_baseHeight, m_textWidth, m_lineWidths));
}

QPoint NoticeWidget::centre() const
{
    if (!m_parent)
        return pos();
    return centredPosition(m_parent->size(), size());
}

void NoticeWidget::OnTimerTimeout()
{
    --m_ticks;
    if (m_ticks <= 0) {
        m_timer->stop();
        hide();
        return;
    }

    // Keeps the notice centred when the window is resized.
    if (m_parent) {
        const QSize wanted =
            noticeSize(m_parent->width(), m_rowHeight, m_baseHeight, m_textWidth, m_lineWidths);
        if (pos() != centredPosition(m_parent->size(), wanted) || size() != wanted) {
            resizeToParent();
            move(centre());
        }
    }

    if (m_ticks <= kFadeTicks && m_alpha > 0) {
        m_alpha = nextAlpha(m_alpha);
        setStyleSheet(styleFor(m_alpha));
    }
}
