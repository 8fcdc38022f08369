#include "readers/myreader.h"

#include "readers/myhid.h"
#include "readers/r321frames.h"

#include <QLoggingCategory>

namespace
{
Q_LOGGING_CATEGORY(lcReader, "vantory.hid")
}

myreader::myreader(myhid* hid, QObject* parent) : QObject(parent), m_hid(hid) {}

void myreader::setHid(myhid* hid)
{
    m_hid = hid;
    reset();
}

QByteArray myreader::Cmd_Init() const
{
    return r321::Cmd_Init();
}

QByteArray myreader::Cmd_Inventory() const
{
    return r321::Cmd_Inventory();
}

QByteArray myreader::Cmd_ReadBlocks(const QByteArray& uid, uint8_t block, uint8_t count) const
{
    return r321::Cmd_ReadBlocks(uid, block, count);
}

QByteArray myreader::Cmd_WriteBlocks(const QByteArray& uid, uint8_t block, const QByteArray& data,
                                     uint8_t count) const
{
    return r321::Cmd_WriteBlocks(uid, block, data, count);
}

QByteArray myreader::Cmd_Raw(const QByteArray& data, int k) const
{
    return r321::Cmd_Raw(data, k);
}

QByteArray myreader::Cmd_Transparent(const QByteArray& uid, uint8_t isoCommand,
                                     const QByteArray& data, int k) const
{
    return r321::Cmd_Transparent(uid, isoCommand, data, k);
}

QByteArray myreader::Cmd_F5() const
{
    return r321::Cmd_F5();
}

QByteArray myreader::Cmd_04() const
{
    return r321::Cmd_04();
}

void myreader::reset()
{
    if (!m_queue.isEmpty())
        qCWarning(lcReader) << "link lost," << m_queue.size() << "queued frames not sent";
    m_queue.clear();
    m_inFlight = false;
    m_piecesLeft = 0;
    m_nextPiece = 1;
}

uint8_t myreader::Send_Frame(const QByteArray& frame)
{
    if (frame.size() == 0 || frame.size() == 2)
        return 0;
    if (!m_hid || !m_hid->Is_Connected()) {
        reset();
        return 0;
    }
    // A frame still "in flight" from an earlier connection will never complete.
    if (m_inFlight && m_connection != m_hid->connectionId())
        reset();
    if (m_inFlight) {
        if (m_queue.size() >= MaxQueuedFrames) {
            qCWarning(lcReader) << "send queue full, frame refused";
            return 0;
        }
        m_queue.enqueue(frame);
        return 1;
    }
    return startFrame(frame);
}

uint8_t myreader::startFrame(const QByteArray& frame)
{
    const int pieces = (frame.size() + r321::PieceSize - 1) / r321::PieceSize;
    m_pieceBuffer = r321::fitted(frame, pieces * r321::PieceSize);
    m_piecesLeft = pieces;
    m_nextPiece = 1;
    const uint8_t result = m_hid->Hid_Write(m_pieceBuffer.left(r321::PieceSize));
    if (!result) {
        reset();
        return 0;
    }
    m_inFlight = true;
    m_connection = m_hid->connectionId();
    return result;
}

void myreader::startNextQueued()
{
    while (!m_queue.isEmpty()) {
        if (startFrame(m_queue.dequeue()))
            return;
    }
}

void myreader::in_hidDevSend_Myreader()
{
    if (!m_inFlight || m_piecesLeft <= 1) {
        m_inFlight = false;
        m_piecesLeft = 0;
        m_nextPiece = 1;
        startNextQueued();
        return;
    }
    const QByteArray piece = m_pieceBuffer.mid(r321::PieceSize * m_nextPiece, r321::PieceSize);
    ++m_nextPiece;
    --m_piecesLeft;
    if (!m_hid || !m_hid->Hid_Write(piece))
        reset();
}
