#include "app/aboutusdialog.h"
#include "app/branding.h"
#include "app/connectionconfig.h"
#include "app/vantory.h"
#include "readers/readeraccess.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "widgets/noticewidget.h"
#include "widgets/titlebar.h"
#include "testaccess.h"

namespace
{

// A tip as the engine hands it to the window: a result tip (1 to 10), or by the name of
// the window's link tip.
void engineTip(Vantory& w, int code, const QString& linkTip, bool chinese)
{
    TagEngine& e = TestAccess::engine(w);
    if (code != 0) {
        emit e.resultTip(ResultTip(code), chinese);
        return;
    }
    const TagEngine::LinkTip tip = linkTip == QLatin1String("Tip_Feig_Connect_Succeed")
                                       ? TagEngine::LinkTip::FeigConnected
                                   : linkTip == QLatin1String("Tip_R321_Conncect_Succeed")
                                       ? TagEngine::LinkTip::R321Connected
                                       : TagEngine::LinkTip::SelectDevice;
    emit e.linkTip(tip, chinese);
}

} // namespace

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <memory>


namespace
{

QColor textColour(const QLabel* label)
{
    return label->palette().color(QPalette::Active, QPalette::WindowText);
}

const QColor kBlue(Qt::blue);
const QColor kRed(Qt::red);

template <typename T> T* child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

class TstShell : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    // Tips and status bar.
    void tips_textColourCode_data();
    void tips_textColourCode();
    void tips_paletteCoversAllGroups();
    void liveUpdate_showsTipInCurrentLanguage_data();
    void liveUpdate_showsTipInCurrentLanguage();
    void liveUpdate_outOfRange_changesNothing_data();
    void liveUpdate_outOfRange_changesNothing();
    void linkTips_leaveLastTipAlone();
    void clickCopy_showsNoticeOverWindow_data();
    void clickCopy_showsNoticeOverWindow();

    // Connection dialog.
    void connectionDialog_form();
    void actions_showDialogsModeless();
    void ok_withoutTouchingCombo_choosesFeig();
    void ok_feig_showsConnectedInBlue_data();
    void ok_feig_showsConnectedInBlue();
    void ok_feigUnplugged_leavesSelectMessage();
    void ok_feigPulledAfterConnect_noBlueTip_replugReadsAtOnce();
    void ok_chenkonNoReader_leavesSelectMessage_data();
    void ok_chenkonNoReader_leavesSelectMessage();
    void ok_chenkon_connectsR321();
    void ok_chenkonCannotOpen_saysWhyAndWhatToDo_data();
    void ok_chenkonCannotOpen_saysWhyAndWhatToDo();
    void ok_chenkonWhileOpen_doesNotOpenAgain();
    void readerPulledAndBack_saysSoAndReconnectsSameReader_data();
    void readerPulledAndBack_saysSoAndReconnectsSameReader();
    void languageChange_whileOpen_changesTextsAndNextMessage();
    void okTwice_typeFollowsLastChoice();
    void titleBarClose_hidesDialogs();
    void connectThenRead_showsDemoDriver_data();
    void connectThenRead_showsDemoDriver();

    // About dialog.
    void aboutDialog_form();
    void aboutDialog_texts_data();
    void aboutDialog_texts();
    void aboutDialog_okCloses();
    void aboutDialog_doesNotKeepProgramAlive();

  private:
    void chooseAndConnect(int index);
    // Saves a picture of `w` into $VANTORY_SHOTS_DIR when it is set.
    static void shot(QWidget* w, const QString& name)
    {
        const QString dir = qEnvironmentVariable("VANTORY_SHOTS_DIR");
        if (!dir.isEmpty())
            w->grab().save(dir + '/' + name + ".png");
    }
    QLabel* link() { return TestAccess::statusLink(*m_w); }
    QLabel* result() { return TestAccess::statusResult(*m_w); }

    std::unique_ptr<ReaderField> m_field;
    std::unique_ptr<SimR321> m_r321;
    std::unique_ptr<SimFeig> m_feig;
    std::unique_ptr<Vantory> m_w;
};

void TstShell::init()
{
    m_field = std::make_unique<ReaderField>();
    m_r321 = std::make_unique<SimR321>(m_field.get());
    m_feig = std::make_unique<SimFeig>(m_field.get());
    m_field->layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 1));
    ReaderBackends backends;
    backends.hid = m_r321.get();
    backends.feusb = m_feig.get();
    backends.simulated = true;
    m_w = std::make_unique<Vantory>(backends);
    m_w->setModalHook([](const QString&, const QString&) {});
}

void TstShell::cleanup()
{
    m_w.reset();
    m_feig.reset();
    m_r321.reset();
    m_field.reset();
}

void TstShell::chooseAndConnect(int index)
{
    ConnectionConfig* dlg = TestAccess::connectionDialog(*m_w);
    dlg->show();
    child<QComboBox>(dlg, "comboBox_Reader")->setCurrentIndex(index);
    QTest::mouseClick(child<QPushButton>(dlg, "pushButton_Connect"), Qt::LeftButton);
}

// ---------------------------------------------------------------------------- tips

void TstShell::tips_textColourCode_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<int>("code"); // 0: a link tip
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    QTest::addColumn<bool>("blue");

    QTest::newRow("Tip_No_Device") << "Tip_No_Device" << 1 << "未检测到设备"
                                   << "No device detected" << false;
    QTest::newRow("Tip_Device_Different") << "Tip_Device_Different" << 2 << "机型号不一致"
                                          << "The model number is different" << false;
    QTest::newRow("Tip_Read_Succeed") << "Tip_Read_Succeed" << 3 << "读取成功"
                                      << "Read successfully" << true;
    QTest::newRow("Tip_Read_Failed") << "Tip_Read_Failed" << 4 << "读取失败"
                                     << "Read failure" << false;
    QTest::newRow("Tip_Write_Succeed") << "Tip_Write_Succeed" << 5 << "写入成功"
                                       << "Write successfully" << true;
    QTest::newRow("Tip_Write_Failed") << "Tip_Write_Failed" << 6 << "写入失败"
                                      << "Write failure" << false;
    QTest::newRow("Tip_GetUID_Succeed") << "Tip_GetUID_Succeed" << 7 << "获取UID成功"
                                        << "Succeeded in obtaining UID" << true;
    QTest::newRow("Tip_No_ISO15693") << "Tip_No_ISO15693" << 8 << "不是ISO15693协议"
                                     << "It's not ISO15693" << false;
    QTest::newRow("Tip_NoLabel") << "Tip_NoLabel" << 9 << "没有标签响应"
                                 << "No tag response" << false;
    QTest::newRow("Tip_OpenScan") << "Tip_OpenScan" << 10 << "自动写入开启"
                                  << "Autowrite on" << true;
    QTest::newRow("Tip_Feig_Connect_Succeed")
        << "Tip_Feig_Connect_Succeed" << 0 << "连接成功: Feig 阅读器"
        << "Connected: Feig Reader" << true;
    QTest::newRow("Tip_R321_Conncect_Succeed")
        << "Tip_R321_Conncect_Succeed" << 0 << "连接成功: R321 阅读器"
        << "Connected: R321" << true;
    QTest::newRow("Tip_R321_Select_Device") << "Tip_R321_Select_Device" << 0 << "请选择USB设备"
                                            << "Please selcet usb device" << false;
}

void TstShell::tips_textColourCode()
{
    QFETCH(QString, slot);
    QFETCH(int, code);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    QFETCH(bool, blue);

    QLabel* target = code ? result() : link();
    QLabel* other = code ? link() : result();
    other->setText(QStringLiteral("untouched"));
    const QString otherText = other->text();

    for (bool cn : {true, false}) {
        // A sentinel in last_tip shows whether the tip replaces it.
        engineTip(*m_w, 7, {}, false);
        QCOMPARE(int(TestAccess::lastTip(*m_w)), 7);
        other->setText(otherText);

        engineTip(*m_w, code, slot, cn);
        QCOMPARE(target->text(), cn ? chinese : english);
        QCOMPARE(textColour(target), blue ? kBlue : kRed);
        QCOMPARE(int(TestAccess::lastTip(*m_w)), code ? code : 7);
        QCOMPARE(other->text(), otherText);
    }
}

void TstShell::tips_paletteCoversAllGroups()
{
    engineTip(*m_w, 3, {}, false);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(result()->palette().color(group, QPalette::WindowText), kBlue);
    m_w->Show_Link_Status(false, QStringLiteral("x"));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(link()->palette().color(group, QPalette::WindowText), kRed);
}

void TstShell::liveUpdate_showsTipInCurrentLanguage_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    QTest::newRow("1") << 1 << "未检测到设备"
                       << "No device detected";
    QTest::newRow("2") << 2 << "机型号不一致"
                       << "The model number is different";
    QTest::newRow("3") << 3 << "读取成功"
                       << "Read successfully";
    QTest::newRow("4") << 4 << "读取失败"
                       << "Read failure";
    QTest::newRow("5") << 5 << "写入成功"
                       << "Write successfully";
    QTest::newRow("6") << 6 << "写入失败"
                       << "Write failure";
    QTest::newRow("7") << 7 << "获取UID成功"
                       << "Succeeded in obtaining UID";
    QTest::newRow("8") << 8 << "不是ISO15693协议"
                       << "It's not ISO15693";
    QTest::newRow("9") << 9 << "没有标签响应"
                       << "No tag response";
    QTest::newRow("10") << 10 << "自动写入开启"
                        << "Autowrite on";
}

void TstShell::liveUpdate_showsTipInCurrentLanguage()
{
    QFETCH(int, state);
    QFETCH(QString, chinese);
    QFETCH(QString, english);

    TestAccess::setLanguageFlag(*m_w, true);
    TestAccess::liveUpdate(*m_w, uint8_t(state));
    QCOMPARE(result()->text(), chinese);
    QCOMPARE(int(TestAccess::lastTip(*m_w)), state);

    TestAccess::setLanguageFlag(*m_w, false);
    TestAccess::liveUpdate(*m_w, uint8_t(state));
    QCOMPARE(result()->text(), english);
}

void TstShell::liveUpdate_outOfRange_changesNothing_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("0") << 0;
    QTest::newRow("12") << 12;
    QTest::newRow("255") << 255;
}

void TstShell::liveUpdate_outOfRange_changesNothing()
{
    QFETCH(int, state);
    engineTip(*m_w, 6, {}, false);
    engineTip(*m_w, 0, QStringLiteral("Tip_Feig_Connect_Succeed"), false);
    const QString linkText = link()->text();
    const QString resultText = result()->text();
    const QPalette linkPalette = link()->palette();
    const QPalette resultPalette = result()->palette();

    TestAccess::liveUpdate(*m_w, uint8_t(state));

    QCOMPARE(link()->text(), linkText);
    QCOMPARE(result()->text(), resultText);
    QCOMPARE(link()->palette(), linkPalette);
    QCOMPARE(result()->palette(), resultPalette);
    QCOMPARE(int(TestAccess::lastTip(*m_w)), 6);
}

void TstShell::linkTips_leaveLastTipAlone()
{
    QCOMPARE(int(TestAccess::lastTip(*m_w)), 0);
    engineTip(*m_w, 3, {}, true);
    engineTip(*m_w, 0, QStringLiteral("Tip_R321_Select_Device"), false);
    engineTip(*m_w, 0, QStringLiteral("Tip_Feig_Connect_Succeed"), false);
    QCOMPARE(int(TestAccess::lastTip(*m_w)), 3);

    result()->clear();
    TestAccess::liveUpdate(*m_w, TestAccess::lastTip(*m_w));
    QCOMPARE(result()->text(), QStringLiteral("Read successfully"));
    QCOMPARE(textColour(result()), kBlue);
}

void TstShell::clickCopy_showsNoticeOverWindow_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("text");
    QTest::newRow("english") << 0 << "Copy Succeed";
    QTest::newRow("chinese") << 1 << "复制成功";
}

void TstShell::clickCopy_showsNoticeOverWindow()
{
    QFETCH(int, lang);
    QFETCH(QString, text);
    m_w->resize(1000, 700);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));

    TestAccess::setLanguageFlag(*m_w, lang != 0);
    TestAccess::clickCopy(*m_w);

    auto* notice = m_w->findChild<NoticeWidget*>();
    QVERIFY(notice);
    QCOMPARE(notice->parentWidget(), static_cast<QWidget*>(m_w.get()));
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->text(), text);
    QCOMPARE(notice->ticks(), NoticeWidget::ticksFor(2000));
    // Centred in the window.
    const QPoint centre = notice->geometry().center();
    QVERIFY(qAbs(centre.x() - m_w->width() / 2) <= 1);
    QVERIFY(qAbs(centre.y() - m_w->height() / 2) <= 1);
}

// ---------------------------------------------------------------------------- connection dialog

void TstShell::connectionDialog_form()
{
    ConnectionConfig* dlg = TestAccess::connectionDialog(*m_w);
    QVERIFY(dlg);
    QCOMPARE(dlg->objectName(), QStringLiteral("ConnectionConfig"));
    QCOMPARE(dlg->parentWidget(), static_cast<QWidget*>(m_w.get()));
    QCOMPARE(dlg->size(), QSize(411, 288));
    QCOMPARE(dlg->styleSheet(), QStringLiteral("background:#FFFFFF"));
    QVERIFY(dlg->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(dlg->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(dlg->font().pixelSize(), 12);

    auto* title = child<TitleBar>(dlg, "widget_title");
    QVERIFY(title);
    QCOMPARE(title->maximumHeight(), 40);
    QCOMPARE(title->title(), QStringLiteral("   Reader Configuration"));

    auto* combo = child<QComboBox>(dlg, "comboBox_Reader");
    QVERIFY(combo);
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QStringLiteral("FEIG"));
    QCOMPARE(combo->itemText(1), QStringLiteral("CHENKON"));
    QCOMPARE(combo->minimumSize(), QSize(150, 40));
    QVERIFY(qobject_cast<QListView*>(combo->view()));
    QVERIFY(combo->styleSheet().contains(QStringLiteral("QAbstractItemView::item")));

    QCOMPARE(child<QLabel>(dlg, "label_Select")->text(), QStringLiteral("Reader Brand"));
    auto* ok = child<QPushButton>(dlg, "pushButton_Connect");
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(ok->styleSheet(), QStringLiteral("QPushButton { background-color: rgb(41, 114, 255); "
                                              "\n color: rgb(255, 255, 255); }"));
    QVERIFY(child<QWidget>(dlg, "widTop"));
}

void TstShell::actions_showDialogsModeless()
{
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    child<QAction>(m_w.get(), "actionselect")->trigger();
    ConnectionConfig* dlg = TestAccess::connectionDialog(*m_w);
    QVERIFY(dlg->isVisible());
    QVERIFY(!dlg->isModal());

    child<QAction>(m_w.get(), "actionAboutus")->trigger();
    AboutUsDialog* about = TestAccess::aboutDialog(*m_w);
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(m_w->isEnabled());

    // Closing only hides; the combo keeps its choice for the next opening.
    child<QComboBox>(dlg, "comboBox_Reader")->setCurrentIndex(1);
    dlg->close();
    QVERIFY(!dlg->isVisible());
    child<QAction>(m_w.get(), "actionselect")->trigger();
    QVERIFY(dlg->isVisible());
    QCOMPARE(child<QComboBox>(dlg, "comboBox_Reader")->currentIndex(), 1);
}

void TstShell::ok_withoutTouchingCombo_choosesFeig()
{
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 0);
    ConnectionConfig* dlg = TestAccess::connectionDialog(*m_w);
    dlg->show();
    QCOMPARE(child<QComboBox>(dlg, "comboBox_Reader")->currentText(), QStringLiteral("FEIG"));
    QTest::mouseClick(child<QPushButton>(dlg, "pushButton_Connect"), Qt::LeftButton);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 1);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(m_feig->openCount(), 1);
    QCOMPARE(m_r321->openCount(), 0);
}

void TstShell::ok_feig_showsConnectedInBlue_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("text");
    QTest::newRow("english") << 0 << "Connected: Feig Reader";
    QTest::newRow("chinese") << 1 << "连接成功: Feig 阅读器";
}

void TstShell::ok_feig_showsConnectedInBlue()
{
    QFETCH(int, lang);
    QFETCH(QString, text);
    TestAccess::setLanguageFlag(*m_w, lang != 0);
    TestAccess::connectionDialog(*m_w)->Set_Language(lang != 0);
    chooseAndConnect(0);
    QCOMPARE(link()->text(), text);
    QCOMPARE(textColour(link()), kBlue);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 1);
}

void TstShell::ok_feigUnplugged_leavesSelectMessage()
{
    m_field->setUnplugged(SimReaderKind::Feig, true);
    m_w->Show_Link_Status(true, QStringLiteral("stale"));
    chooseAndConnect(0);
    QCOMPARE(link()->text(), QStringLiteral("Please selcet usb device"));
    QCOMPARE(textColour(link()), kRed);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 1);
}

void TstShell::ok_feigPulledAfterConnect_noBlueTip_replugReadsAtOnce()
{
    chooseAndConnect(0);
    QCOMPARE(textColour(link()), kBlue);
    m_field->setUnplugged(SimReaderKind::Feig, true);
    chooseAndConnect(0);
    QCOMPARE(link()->text(), QStringLiteral("Please selcet usb device"));
    QCOMPARE(textColour(link()), kRed);
    m_field->setUnplugged(SimReaderKind::Feig, false);
    chooseAndConnect(0);
    QCOMPARE(textColour(link()), kBlue);
    // Pulled and plugged back without a word to the program: the next Read still works.
    m_field->setUnplugged(SimReaderKind::Feig, true);
    m_field->setUnplugged(SimReaderKind::Feig, false);
    child<QAction>(m_w.get(), "actionRead")->trigger();
    QTRY_COMPARE(result()->text(), QStringLiteral("Read successfully"));
}

void TstShell::ok_chenkonNoReader_leavesSelectMessage_data()
{
    QTest::addColumn<bool>("unplugged");
    QTest::newRow("unplugged") << true;
    QTest::newRow("no 0x0505 interface") << false;
}

void TstShell::ok_chenkonNoReader_leavesSelectMessage()
{
    QFETCH(bool, unplugged);
    if (unplugged) {
        m_field->setUnplugged(SimReaderKind::R321, true);
    } else {
        HidInterfaceInfo keyboard;
        keyboard.path = QStringLiteral("sim:keyboard");
        keyboard.vendorId = 0x046D;
        keyboard.productId = 0xC31C;
        keyboard.interfaceNumber = 0;
        m_r321->setInterfaces({keyboard});
    }
    m_w->Show_Link_Status(true, QStringLiteral("stale"));
    chooseAndConnect(1);
    QTest::qWait(100); // nothing may report success later either
    QCOMPARE(link()->text(), QStringLiteral("Please selcet usb device"));
    QCOMPARE(textColour(link()), kRed);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 2);
    QCOMPARE(m_r321->openCount(), 0);
}

void TstShell::ok_chenkon_connectsR321()
{
    chooseAndConnect(1);
    QTRY_COMPARE(link()->text(), QStringLiteral("Connected: R321"));
    QCOMPARE(textColour(link()), kBlue);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 2);
    QCOMPARE(m_r321->openCount(), 1);
    QCOMPARE(m_feig->openCount(), 0);
}

void TstShell::ok_chenkonCannotOpen_saysWhyAndWhatToDo_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("denied");
    QTest::newRow("english") << 0 << "Access to sim:r321#0&mi_00 was denied.";
    QTest::newRow("chinese") << 1 << "无法打开 sim:r321#0&mi_00：访问被拒绝";
}

void TstShell::ok_chenkonCannotOpen_saysWhyAndWhatToDo()
{
    QFETCH(int, lang);
    QFETCH(QString, denied);
    TestAccess::setLanguageFlag(*m_w, lang != 0);
    TestAccess::connectionDialog(*m_w)->Set_Language(lang != 0);
    m_r321->setOpenFails(true);
    QStringList shown;
    m_w->setModalHook([&shown](const QString&, const QString& text) { shown << text; });
    const QByteArray shots = qgetenv("VANTORY_SHOTS_DIR");
    if (!shots.isEmpty()) {
        // The real box, saved as a picture and then closed.
        m_w->setModalHook({});
        QTimer::singleShot(300, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            shot(box, QString("open-failure-%1").arg(lang));
            shown << box->findChild<QLabel*>("qt_msgbox_label")->text();
            box->close();
        });
    }
    chooseAndConnect(1);
    QTRY_COMPARE(shown.size(), 1);
    const QStringList lines = shown.first().split('\n');
    QCOMPARE(lines.first(), QStringLiteral("open device failure with reading"));
    QVERIFY(shown.first().contains(denied));
    QVERIFY(lines.contains("sudo udevadm control --reload-rules"));
    const bool install = shown.first().contains(readeraccess::R321Rule) &&
                         shown.first().contains("sudo tee /etc/udev/rules.d/70-vantory.rules");
    QCOMPARE(install, !readeraccess::ruleInstalled());
    QCOMPARE(link()->text(), QString(lang ? "请选择USB设备" : "Please selcet usb device"));
}

void TstShell::readerPulledAndBack_saysSoAndReconnectsSameReader_data()
{
    QTest::addColumn<int>("reader"); // the dialog's index
    QTest::addColumn<QString>("connected");
    QTest::newRow("FEIG") << 0 << "Connected: Feig Reader";
    QTest::newRow("R321") << 1 << "Connected: R321";
}

void TstShell::readerPulledAndBack_saysSoAndReconnectsSameReader()
{
    QFETCH(int, reader);
    QFETCH(QString, connected);
    const SimReaderKind kind = reader ? SimReaderKind::R321 : SimReaderKind::Feig;
    chooseAndConnect(reader);
    QTRY_COMPARE(link()->text(), connected);
    m_field->setUnplugged(kind, true);
    if (!reader) // FEIG's library notices at the next request
        child<QAction>(m_w.get(), "actionRead")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(link()->text(), QStringLiteral("Please selcet usb device"),
                              reader ? 300 : 1500);
    QCOMPARE(textColour(link()), kRed);
    shot(m_w.get(), QString("pulled-%1").arg(reader));
    const HidInterfaceInfo chosen = SimR321::defaultInterface();
    if (reader) {
        // Another R321 comes in its place: it is not taken.
        HidInterfaceInfo other = chosen;
        other.path = "sim:r321#1&mi_00";
        other.serial = "SIM-R321-0002";
        m_r321->setInterfaces({other});
        m_field->setUnplugged(kind, false);
        QTest::qWait(2500);
        QCOMPARE(textColour(link()), kRed);
        m_r321->setInterfaces({other, chosen});
    }
    m_field->setUnplugged(kind, false);
    QTRY_COMPARE_WITH_TIMEOUT(link()->text(), connected, 2500);
    QCOMPARE(textColour(link()), kBlue);
    if (reader)
        QCOMPARE(m_r321->openPath(), chosen.path);
    shot(m_w.get(), QString("back-%1").arg(reader));
    child<QAction>(m_w.get(), "actionRead")->trigger();
    QTRY_COMPARE(result()->text(), QStringLiteral("Read successfully"));
}

void TstShell::ok_chenkonWhileOpen_doesNotOpenAgain()
{
    chooseAndConnect(1);
    QTRY_COMPARE(m_r321->openCount(), 1);
    const QString path = m_r321->openPath();
    QVERIFY(!path.isEmpty());

    chooseAndConnect(1);
    QTest::qWait(100);
    QCOMPARE(m_r321->openCount(), 1);
    QCOMPARE(m_r321->openPath(), path);
    QVERIFY(m_r321->isOpen());
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 2);
}

void TstShell::languageChange_whileOpen_changesTextsAndNextMessage()
{
    m_field->setUnplugged(SimReaderKind::Feig, true);
    ConnectionConfig* dlg = TestAccess::connectionDialog(*m_w);
    dlg->show();

    dlg->Set_Language(true);
    QVERIFY(dlg->isVisible());
    QCOMPARE(child<TitleBar>(dlg, "widget_title")->title(), QStringLiteral("   连接配置"));
    QCOMPARE(child<QLabel>(dlg, "label_Select")->text(), QStringLiteral("选择NFC阅读器"));
    QCOMPARE(child<QPushButton>(dlg, "pushButton_Connect")->text(), QStringLiteral("确定"));

    QTest::mouseClick(child<QPushButton>(dlg, "pushButton_Connect"), Qt::LeftButton);
    QCOMPARE(link()->text(), QStringLiteral("请选择USB设备"));
    QCOMPARE(textColour(link()), kRed);

    dlg->show();
    dlg->Set_Language(false);
    QCOMPARE(child<TitleBar>(dlg, "widget_title")->title(),
             QStringLiteral("   Reader Configuration"));
    QCOMPARE(child<QLabel>(dlg, "label_Select")->text(), QStringLiteral("Reader Brand"));
    QCOMPARE(child<QPushButton>(dlg, "pushButton_Connect")->text(), QStringLiteral("OK"));
    QTest::mouseClick(child<QPushButton>(dlg, "pushButton_Connect"), Qt::LeftButton);
    QCOMPARE(link()->text(), QStringLiteral("Please selcet usb device"));
}

void TstShell::okTwice_typeFollowsLastChoice()
{
    chooseAndConnect(1);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 2);
    chooseAndConnect(0);
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 1);
    QCOMPARE(link()->text(), QStringLiteral("Connected: Feig Reader"));
}

void TstShell::titleBarClose_hidesDialogs()
{
    QDialog* dialogs[] = {TestAccess::connectionDialog(*m_w), TestAccess::aboutDialog(*m_w)};
    for (QDialog* dlg : dialogs) {
        dlg->show();
        auto* title = child<TitleBar>(dlg, "widget_title");
        QTest::mouseClick(child<QPushButton>(title, "pushButtonClose"), Qt::LeftButton);
        QVERIFY(!dlg->isVisible());
    }
    QVERIFY(TestAccess::connectionDialog(*m_w));
    QCOMPARE(int(TestAccess::engine(*m_w).readerType()), 0); // closing is not OK
}

void TstShell::connectThenRead_showsDemoDriver_data()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("FEIG") << 0;
    QTest::newRow("CHENKON") << 1;
}

void TstShell::connectThenRead_showsDemoDriver()
{
    QFETCH(int, reader);
    chooseAndConnect(reader);
    QTRY_COMPARE(textColour(link()), kBlue);
    child<QAction>(m_w.get(), "actionRead")->trigger();
    QTRY_COMPARE(result()->text(), QStringLiteral("Read successfully"));
    QCOMPARE(child<QLabel>(m_w.get(), "Productlabel")->text(),
             demodrivers::info(demodrivers::Kind::Dt8).model);
    QCOMPARE(child<QLabel>(m_w.get(), "labelGTIN")->text(), QStringLiteral("4260712340016"));
}

// ---------------------------------------------------------------------------- about dialog

void TstShell::aboutDialog_form()
{
    AboutUsDialog* about = TestAccess::aboutDialog(*m_w);
    QVERIFY(about);
    QCOMPARE(about->objectName(), QStringLiteral("AboutUsDialog"));
    QVERIFY(!about->parent());
    QCOMPARE(about->size(), QSize(392, 377));
    QCOMPARE(about->styleSheet(), QStringLiteral("font: 12px;\nbackground:#FFFFFF"));
    QVERIFY(about->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(about->font().pixelSize(), 12);
    QCOMPARE(about->windowTitle(), QStringLiteral("About us"));

    auto* icon = child<QLabel>(about, "iconlabel");
    QVERIFY(icon);
    const QImage expected(branding::aboutImage());
    QVERIFY(!expected.isNull());
    const QPixmap shown = icon->pixmap(Qt::ReturnByValue);
    const QPixmap wanted = QPixmap::fromImage(expected);
    QCOMPARE(shown.size(), wanted.size());
    QCOMPARE(shown.devicePixelRatio(), wanted.devicePixelRatio());
    QCOMPARE(shown.toImage(), wanted.toImage());
    // The image fits the 392-pixel dialog: 280 x 211 logical pixels in both builds.
    QCOMPARE(shown.size() / shown.devicePixelRatio(), QSize(280, 211));

    for (const char* name :
         {"label_Configuration", "label_Version", "label_company", "label_Reserved"})
        QVERIFY2(child<QLabel>(about, name), name);
    QCOMPARE(child<QLabel>(about, "label_Version")->styleSheet(),
             QStringLiteral("font: 16px;\nfont: Bold;"));
    QVERIFY(child<QPushButton>(about, "confiirmbtn"));
    QCOMPARE(child<TitleBar>(about, "widget_title")->maximumHeight(), 40);
}

void TstShell::aboutDialog_texts_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("configuration");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("company");
    QTest::newRow("english") << false << "   About Us"
                             << "Software Configuration"
                             << "Software Version"
                             << "Support ST25DV";
    QTest::newRow("chinese") << true << "   关于我们"
                             << "驱动程序配置"
                             << "版本 1.1.2"
                             << "NFC驱动配置，支持ST25DV";
}

void TstShell::aboutDialog_texts()
{
    QFETCH(bool, chinese);
    QFETCH(QString, title);
    QFETCH(QString, configuration);
    QFETCH(QString, version);
    QFETCH(QString, company);

    AboutUsDialog* about = TestAccess::aboutDialog(*m_w);
    // Switch away first so that a text left over from the constructor cannot pass.
    about->Set_Language(!chinese);
    const QString otherRights = child<QLabel>(about, "label_Reserved")->text();
    about->Set_Language(chinese);

    QCOMPARE(child<TitleBar>(about, "widget_title")->title(), title);
    QCOMPARE(child<QLabel>(about, "label_Configuration")->text(), configuration);
    QCOMPARE(child<QLabel>(about, "label_Version")->text(), version);
    QCOMPARE(child<QLabel>(about, "label_company")->text(), company);
    const QString rights = child<QLabel>(about, "label_Reserved")->text();
    QVERIFY(!rights.isEmpty());
    QVERIFY(rights != otherRights);
    if (!chinese)
        QVERIFY(!version.contains(QLatin1Char('1')));
}

void TstShell::aboutDialog_okCloses()
{
    AboutUsDialog* about = TestAccess::aboutDialog(*m_w);
    about->show();
    QVERIFY(about->isVisible());
    QTest::mouseClick(child<QPushButton>(about, "confiirmbtn"), Qt::LeftButton);
    QVERIFY(!about->isVisible());
    // Only hidden: it opens again.
    about->show();
    QVERIFY(about->isVisible());
}

void TstShell::aboutDialog_doesNotKeepProgramAlive()
{
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    TestAccess::aboutDialog(*m_w)->show();
    // The program ends when the main window closes, although the about dialog is open.
    QSignalSpy spy(qApp, &QGuiApplication::lastWindowClosed);
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(3000);
    QTimer::singleShot(0, m_w.get(), [this] { m_w->close(); });
    const int code = QApplication::exec();
    guard.stop();
    QCOMPARE(code, 0);
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(TstShell)
#include "tst_shell.moc"
