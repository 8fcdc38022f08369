#pragma once

#include "readers/readerlink.h"
#include "readers/readertype.h"

#include <QVector>

#include <QDialog>
#include <cstdint>

namespace Ui
{
class ConnectionConfig;
}

/// Frameless dialog in which the user picks the reader brand; OK reports the choice, and
/// whoever opened the dialog connects that reader.
class ConnectionConfig : public QDialog
{
    Q_OBJECT

  public:
    explicit ConnectionConfig(QWidget* parent = nullptr);
    ~ConnectionConfig() override;

    /// Sets the dialog's texts and the language of its next status message.
    void Set_Language(bool chinese);
    /// Pre-selects a reader; any other value leaves the choice as it is.
    void setReaderChoice(ReaderType reader) { setReaderChoice(ReaderChoice{reader, QString()}); }
    /// Pre-selects one reader by its kind and identity (listed even while it is away).
    void setReaderChoice(const ReaderChoice& reader);
    /// Lists the readers present by kind and identity, after the two kinds (the first
    /// reader of that kind that is free); the choice stays.
    void setReadersPresent(const QVector<ReaderChoice>& readers);
    /// The reader chosen now.
    ReaderChoice readerChoice() const;
    /// The language of the dialog's texts and of the status message its OK leads to.
    bool chinese() const { return dlg_lang_cn != 0; }
    /// Shows whether verification after write is on, without telling the window.
    void setVerifyChoice(bool on);
    /// Shows whether auto write runs as a fast batch, without telling the window.
    void setFastBatchChoice(bool on);

  signals:
    /// OK was pressed with this reader chosen.
    void readerChosen(const ReaderChoice& reader);
    /// The verification check box was switched.
    void verifyChosen(bool on);
    /// The fast-batch check box was switched.
    void fastBatchChosen(bool on);

  private slots:
    void on_pushButton_Connect_clicked();

  private:
    Ui::ConnectionConfig* ui;
    uint8_t dlg_lang_cn = 0;
    int addReader(const ReaderChoice& reader);
};
