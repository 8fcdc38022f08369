#pragma once

#include <QDialog>
#include <cstdint>

namespace Ui
{
class ConnectionConfig;
}

/// Frameless dialog in which the user picks the reader brand; OK connects the main
/// window (its parent) to that reader and stores the choice as reader_type.
class ConnectionConfig : public QDialog
{
    Q_OBJECT

  public:
    explicit ConnectionConfig(QWidget* parent = nullptr);
    ~ConnectionConfig() override;

    /// Sets the dialog's texts and the language of its next status message.
    void Set_Language(bool chinese);
    /// Pre-selects a reader brand: 0 FEIG, 1 CHENKON; other values are ignored.
    void setReaderChoice(int index);
    /// Shows whether verification after write is on, without telling the window.
    void setVerifyChoice(bool on);

  private slots:
    void on_pushButton_Connect_clicked();

  private:
    Ui::ConnectionConfig* ui;
    uint8_t dlg_lang_cn = 0;
};
