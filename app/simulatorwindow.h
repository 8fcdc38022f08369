#pragma once

#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

/// The panel of `vantory --simulate`: owns the shared reader field with the simulated
/// R321 and FEIG readers, and lets the user lay and remove drivers, unplug the readers
/// and switch the air-time latency and the strict ST25DV write limit. A DT8 demo driver lies on the
/// reader at start.
class SimulatorWindow : public QWidget
{
    Q_OBJECT

  public:
    explicit SimulatorWindow(QWidget* parent = nullptr);
    ~SimulatorWindow() override;

    /// The simulated R321, to put behind the window's HID link.
    SimR321* r321() { return &m_r321; }
    /// The simulated FEIG reader, to put behind the window's FEIG link.
    SimFeig* feig() { return &m_feig; }
    /// The field both readers share.
    ReaderField* field() { return &m_field; }

    /// Lays a fresh demo driver of this kind on the reader.
    void layDemo(demodrivers::Kind kind);
    /// Lays the driver image in `path`; false (and a message in the panel) when the file
    /// cannot be read or holds fewer than 512 bytes.
    bool layFile(const QString& path);
    /// Takes the driver at `row` of the list away; false when there is none.
    bool removeRow(int row);
    /// The last message shown in the panel.
    QString message() const;
    /// Shows the panel right of `window` when the screen has room, else at the screen's
    /// right edge, so that it does not cover the window's toolbar.
    void showBeside(const QWidget* window);

  private slots:
    void refreshList();
    void onLayDemo();
    void onLayFile();
    void onRemove();
    void onClear();

  private:
    void showMessage(const QString& text, bool error);
    quint64 nextSerial();

    // The field first: the readers borrow it.
    ReaderField m_field;
    SimR321 m_r321;
    SimFeig m_feig;
    quint64 m_serial = 0;

    QListWidget* m_list = nullptr;
    QComboBox* m_demoCombo = nullptr;
    QPushButton* m_removeButton = nullptr;
    QCheckBox* m_r321Plugged = nullptr;
    QCheckBox* m_feigPlugged = nullptr;
    QCheckBox* m_latency = nullptr;
    QCheckBox* m_strict = nullptr;
    QLabel* m_message = nullptr;
};
