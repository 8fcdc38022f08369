#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <cstdint>

class myhid;

/// R321 frame operations and the piece-wise sender over the HID link.
///
/// Frames go out one at a time: a frame handed to Send_Frame while the previous one is
/// still in flight waits in a small queue and leaves when the previous has completed
/// (in_hidDevSend_Myreader), so two frames issued in the same tick both reach the reader
/// in order. The link is given to the constructor or later with setHid().
class myreader : public QObject
{
    Q_OBJECT
  public:
    /// Frames waiting behind the one in flight at most.
    static constexpr int MaxQueuedFrames = 16;

    explicit myreader(myhid* hid = nullptr, QObject* parent = nullptr);

    /// Sets the HID link the frames go through (borrowed).
    void setHid(myhid* hid);
    myhid* hid() const { return m_hid; }

    QByteArray Cmd_Init() const;
    QByteArray Cmd_Inventory() const;
    QByteArray Cmd_ReadBlocks(const QByteArray& uid, uint8_t block, uint8_t count) const;
    QByteArray Cmd_WriteBlocks(const QByteArray& uid, uint8_t block, const QByteArray& data,
                               uint8_t count) const;
    QByteArray Cmd_Raw(const QByteArray& data, int k) const;
    QByteArray Cmd_Transparent(const QByteArray& uid, uint8_t isoCommand, const QByteArray& data,
                               int k) const;
    QByteArray Cmd_F5() const;
    QByteArray Cmd_04() const;

    /// Sends a frame in 64-byte pieces: 1 when it is on its way or queued behind the frame
    /// in flight, 0 when it is not sent (length 0 or 2, no link, not connected, queue full).
    uint8_t Send_Frame(const QByteArray& frame);

    /// Pieces of the current frame not yet acknowledged, counting the one in flight.
    int piecesLeft() const { return m_piecesLeft; }
    /// Index of the next piece to send (1 when no frame is in progress).
    int nextPiece() const { return m_nextPiece; }
    /// Frames waiting behind the one in flight.
    int queuedFrames() const { return m_queue.size(); }
    /// True while a frame is in flight.
    bool isBusy() const { return m_inFlight; }

  public slots:
    void in_hidDevSend_Myreader();

  private:
    uint8_t startFrame(const QByteArray& frame);
    void startNextQueued();
    void reset();

    myhid* m_hid = nullptr;
    QByteArray m_pieceBuffer;
    int m_piecesLeft = 0;
    int m_nextPiece = 1;
    bool m_inFlight = false;
    quint64 m_connection = 0;
    QQueue<QByteArray> m_queue;
};
