// The window's side of the tag command engine: the three actions, what the engine asks
// of the window, and how the window shows what the engine reports.
#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/apptexts.h"
#include "engine/enginetexts.h"
#include "widgets/myslider.h"
#include "widgets/noticewidget.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

namespace
{

const char* const kIconScan = ":image/images/UI_img/扫描_Property_1_Variant2@2x.png";
const char* const kIconStop = ":image/images/stop.png";

} // namespace

void Vantory::setModalHook(ModalHook hook)
{
    m_modal_hook = std::move(hook);
}

void Vantory::showModalWarning(const QString& caption, const QString& text)
{
    if (m_modal_hook) {
        m_modal_hook(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, this);
    // Some warnings carry commands to copy into a terminal.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

void Vantory::showWarningText(QString text)
{
    showModalWarning(enginetext::WarningCaption.pick(lang_cn), text);
}

void Vantory::closeEvent(QCloseEvent* event)
{
    // Asked only while a driver is being written: an idle batch, a read or a write that has
    // already failed lose nothing.
    if (!m_engine || !m_engine->programming()) {
        if (m_record)
            m_record->drain();
        event->accept();
        return;
    }
    if (m_close_cause.isEmpty()) {
        QMessageBox box(QMessageBox::Question, apptext::QuitCaption.pick(lang_cn),
                        apptext::QuitDuringOperation.pick(lang_cn),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName(QStringLiteral("quitDuringOperation"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    // No further driver is started; the one under way gets a second to end as usual (a
    // drive-area write takes under half of it), else it is recorded as interrupted.
    m_engine->stopAutoWritePass();
    QElapsedTimer waited;
    waited.start();
    QEventLoop wait;
    QTimer look;
    connect(&look, &QTimer::timeout, &wait, [&] {
        if (waited.elapsed() >= 1000 || (!m_engine->operationPending() && m_engine->idle()))
            wait.quit();
    });
    look.start(5);
    wait.exec();
    m_engine->interruptOperation(m_close_cause.isEmpty() ? QStringLiteral("window closed")
                                                         : m_close_cause);
    if (m_record)
        m_record->drain();
    event->accept();
}

bool Vantory::connectReader(const ReaderChoice& reader)
{
    return m_engine->connectReader(reader);
}

void Vantory::setReplyTimeout(int ms)
{
    m_engine->setReplyTimeout(ms);
}

bool Vantory::refusedWhileBusy(const BiText& action)
{
    if (!m_engine->sequenceRunning())
        return false;
    m_notice->showNotice(this, apptext::BusyRefused.pick(lang_cn).arg(action.pick(lang_cn)), 3000);
    return true;
}

bool Vantory::refusedWhileTyping()
{
    const QString box = pendingEdit();
    if (box.isEmpty())
        return false;
    showRefusal([box](bool chinese) { return apptext::EditPending.pick(chinese).arg(box); });
    return true;
}

QString Vantory::pendingEdit() const
{
    const myslider* channels[3] = {ui->Currentwidget_ch1, ui->Currentwidget_ch2,
                                   ui->Currentwidget_ch3};
    for (const myslider* channel : channels)
        if (!channel->isHidden() && channel->editPending())
            return channel->title();
    if (!ui->CctBoxwidget->isHidden() && ui->WormestspinBox->editPending())
        return apptext::WarmestBox.pick(lang_cn);
    if (!ui->CctBoxwidget->isHidden() && ui->CoolestspinBox->editPending())
        return apptext::CoolestBox.pick(lang_cn);
    // A cell being edited has its editor open (a closed one is hidden until it goes).
    for (const QLineEdit* editor : ui->LumentableWidget->viewport()->findChildren<QLineEdit*>())
        if (!editor->isHidden())
            return ui->label_ConstLumen->text();
    return QString();
}

void Vantory::on_actionRead_triggered()
{
    if (refusedWhileBusy(apptext::ActionRead))
        return;
    clearResultStatus();
    m_engine->startRead();
}

void Vantory::on_actionWrite_triggered()
{
    if (refusedWhileBusy(apptext::ActionWrite) || refusedWhileTyping())
        return;
    clearResultStatus();
    // Write goes to the driver read last. Without one it could only fail at the tag and
    // leave a record line without a UID; the reader's own check comes first.
    const QByteArray uid = m_engine->uidMsbFirst();
    if (m_engine->readerConnected() && uid.count('\0') == uid.size()) {
        showRefusal(apptext::ReadDriverFirst);
        return;
    }
    m_engine->startWrite();
}

void Vantory::on_actionAuto_Write_triggered()
{
    if (!m_engine->autoWriteOn()) {
        if (refusedWhileBusy(apptext::ActionAutoScan) || refusedWhileTyping())
            return;
        clearResultStatus();
        // The start image of the window is no configuration: every driver would be
        // refused as another model.
        if (m_engine->readerConnected() && doc().origin().from == TagDocument::From::Nothing) {
            showRefusal(apptext::AutoScanNeedsConfiguration);
            return;
        }
    }
    m_engine->toggleAutoWrite();
}

void Vantory::onEngineLinkTip(TagEngine::LinkTip tip, bool chinese)
{
    switch (tip) {
    case TagEngine::LinkTip::FeigConnected:
        Tip_Feig_Connect_Succeed(chinese);
        break;
    case TagEngine::LinkTip::R321Connected:
        Tip_R321_Conncect_Succeed(chinese);
        break;
    case TagEngine::LinkTip::SelectDevice:
        Tip_R321_Select_Device(chinese);
        break;
    }
}

void Vantory::onDocumentLoaded(TagDocument::Source source)
{
    if (source == TagDocument::Source::DriveBankRead)
        Display_Current_Channel(doc().channelCount());
    else
        Update_Product_Info();
    Update_Drive_Info();
}

void Vantory::onAutoWriteSwitched(bool on)
{
    ui->actionAuto_Write->setIcon(QIcon(QString::fromUtf8(on ? kIconStop : kIconScan)));
    if (on) {
        m_batch = BatchCounts{};
        m_last_driver = record::Outcome{};
        showBatchCounts();
        showLastDriver();
    }
    ui->actionRead->setEnabled(!on);
    ui->actionWrite->setEnabled(!on);
    lockBatchSettings(on);
}

void Vantory::lockBatchSettings(bool locked)
{
    // Disabling the panels greys every control in them and keeps the mouse and the keys
    // away; each control's own enabled state (the CLO table follows its switch) comes back
    // with them.
    for (QWidget* panel :
         {static_cast<QWidget*>(ui->CurrentBoxwidget), static_cast<QWidget*>(ui->CLOBoxwidget),
          static_cast<QWidget*>(ui->Temperaturewidget)})
        panel->setEnabled(!locked);
    ui->actionOpen_BIN_configure->setEnabled(!locked);
}
