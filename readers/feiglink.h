#pragma once

#include "readers/readerclaim.h"
#include "readers/readerlink.h"

class FeusbApi;
class MyFeigUsb;
class writeThreadFEIG1;

/// A FEIG reader as a ReaderLink: OBID-RCI2 frames (MyFeigUsb) sent one at a time by the
/// worker thread through the FEUSB library. Every request stays with the library until it
/// returns, answered or not, so the link knows when a reply can no longer come.
class FeigLink : public ReaderLink
{
    Q_OBJECT
  public:
    /// `api` must outlive the link.
    FeigLink(const ReaderChoice& choice, FeusbApi* api, QObject* parent = nullptr);
    ~FeigLink() override;

    LinkTip connectedTip() const override { return LinkTip::FeigConnected; }
    /// Always asks the library afresh: a handle kept from before may belong to a reader
    /// that has been pulled out since.
    bool open() override;
    bool isConnected() const override;
    void watch() override;
    int lateReplyWindowMs(int) const override { return 0; }
    bool holdsRequest() const override { return m_feig_outstanding > 0; }

    void inventory() override;
    void readBlocks(const QByteArray& uid, uint8_t first, uint8_t count) override;
    void writeBlocks(const QByteArray& uid, uint8_t first, const QByteArray& data,
                     uint8_t count) override;
    /// The transparent frames carry the UID the other way round (uid_reversed).
    void customCommand(const QByteArray& uid, uint8_t isoCommand,
                       const QByteArray& parameters) override;
    void beep(bool on) override;
    QByteArray uidMsbFirst(const QByteArray& uid) const override { return uid; }

    /// `data` in reverse byte order: the UID as the transparent frames carry it.
    static QByteArray FEInverted(const QByteArray& data) { return replies::feInverted(data); }

    /// The worker thread (for tests that speak for the library).
    writeThreadFEIG1* worker() const { return m_feig_thread; }

  public slots:
    /// One reply of the library: decoded and handed on; an empty one means the reader
    /// could not be reached.
    void in_FeigDevReceive_Debug(QByteArray rxArray, qint64 receivedAt = -1);

  private:
    void send(const QByteArray& frame);

    MyFeigUsb* m_feig = nullptr;
    writeThreadFEIG1* m_feig_thread = nullptr;
    bool m_feig_wanted = false;     // a FEIG reader has been connected
    bool m_feig_lost_shown = false; // its loss has been announced
    int m_feig_outstanding = 0;     // requests the library has not finished
    ReaderClaim m_claim;
};
