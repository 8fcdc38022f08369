#pragma once

#include "engine/autowrite.h"
#include "model/productionrecord.h"
#include "readers/readerlink.h"

#include <QByteArray>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>

class FeusbApi;
class HidBackend;
class QLabel;
class QPushButton;
class QTableWidget;
class TagEngine;

/// The station: one auto-write batch per reader present, all from the same template. Each
/// reader has a session of its own (its transport, link and engine), so one reader's
/// failure, loss or refused driver never stops the others, and each beeps its own result.
/// The template is copied into every session (read-only for them); the outcomes come back
/// here, on the GUI thread, one at a time, for the record.
class StationView : public QWidget
{
    Q_OBJECT
  public:
    /// Makes the HID transport of one R321 session (one open device per transport); null
    /// when no further R321 can have one.
    using HidMaker = std::function<std::shared_ptr<HidBackend>()>;

    /// `feusb` (shared by the FEIG sessions; it holds one handle per reader) must outlive
    /// the view.
    StationView(HidMaker makeHid, FeusbApi* feusb, QWidget* parent = nullptr);
    ~StationView() override;

    void setChinese(bool chinese);
    void setVerifyAfterWrite(bool on) { m_verify = on; }
    void setAutoWritePace(AutoWrite::Pace pace) { m_pace = pace; }
    /// How long a command waits for its reply in every session (tests shorten it).
    void setReplyTimeout(int ms) { m_replyTimeoutMs = ms; }
    /// The template every batch programs: a configuration file's bytes and its name.
    void setTemplate(const QByteArray& configuration, const QString& name);
    /// Starts one batch on each reader in `readers` that can be opened; returns how many run.
    int start(const QVector<ReaderChoice>& readers);
    /// Ends every batch (a driver under way is finished first) and lets the readers go.
    void stop();
    /// True while at least one batch runs.
    bool running() const;
    /// The sessions' engines, one per row.
    QVector<TagEngine*> engines() const;

  signals:
    /// One driver handled by one of the readers, for the production record.
    void operationFinished(const record::Outcome& outcome);
    /// The Start button was pressed: the owner gives up its own reader and calls start().
    void startRequested();
    /// Every batch has ended (Stop, or the view closed): the owner may take its reader back.
    void stopped();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Session;
    void endBatches();
    void onOutcome(Session& s, const record::Outcome& outcome);
    void showRow(const Session& s);
    void showTexts();

    HidMaker m_makeHid;
    FeusbApi* const m_feusb;
    bool m_chinese = false;
    bool m_verify = true;
    AutoWrite::Pace m_pace = AutoWrite::Pace::Described;
    int m_replyTimeoutMs = 3000;
    QByteArray m_template;
    QString m_templateName;
    std::vector<std::unique_ptr<Session>> m_sessions;
    QLabel* m_title = nullptr;
    QLabel* m_templateLabel = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
};
