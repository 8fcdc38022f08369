#include "app/vantory.h"

#include "widgets/noticewidget.h"

void Vantory::in_clickCopy()
{
    m_notice->showNotice(
        this, lang_cn ? QStringLiteral("复制成功") : QStringLiteral("Copy Succeed"), 2000);
}

void Vantory::LogDebug(QString loginfo)
{
    // Nothing is connected to this slot; diagnostics go through the logging categories.
    Q_UNUSED(loginfo);
}
