#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <mutex>

#include "DeliveryMeter.h"
#include "SendQueue.h"

class QFile;
class QTcpSocket;
class TransferPacer;

// Sends one shared file over a handed-over file connection: writes the
// transfer token, reads the downloader's start offset, then streams the file
// from there. The thread owns the socket while it runs and hands it back to
// the engine's thread before it emits exactly one of UploadComplete or
// UploadError; the file stays open for the upload side to close.
class UploadThread : public QThread
{
    Q_OBJECT

public:
    // The least time without a byte taken that ends an upload as stalled;
    // a downloader whose pace explains a longer pause gets more (see
    // DeliveryMeter::QuietAllowedMs).
    static constexpr qint64 DefaultStallMs = 30000;

    // socket and file are not owned; file is open for reading.
    UploadThread(QTcpSocket* socket, QFile* file, int token, qint64 stallMs = DefaultStallMs);

    // Asks the thread to stop; it notices within about a second.
    void SignalExit();
    bool AskedToExit();

signals:
    // offset counts the bytes the downloader has taken, not those handed
    // to the socket; reported every half second or so, also while nothing
    // moves, so that bytesPerSecond (the last few seconds) falls in a pause.
    void UploadProgress(qint64 offset, int bytesPerSecond);
    void UploadComplete();
    void UploadError(QString reason);

protected:
    void run() override;

private:
    bool UploadLoop();
    // Streams the file from m_handed to size, paced.
    bool SendFrom(qint64 size, TransferPacer& pacer);
    bool ReadOffset(qint64& offset);
    // Hands a chunk to the socket; returns once at most queued bytes are
    // still waiting in the socket's own buffer, so the next chunk is read
    // from the file while this one is sent.
    bool WriteChunk(const char* data, qint64 size, qint64 queued);
    // Waits until what has yet to leave for the downloader is within
    // SendQueue::QueueMs of the share (nothing without a limit), or, with
    // all, until it has taken every byte.
    bool WaitForQueue(bool all);
    // After the last chunk: waits until the downloader has taken every
    // byte, then for its close.
    bool WaitForDelivery();
    bool WaitForClose();
    // Bytes handed to the socket that the downloader has not taken yet:
    // the socket's buffer and, where the system tells, its send queue.
    qint64 Unsent() const;
    // Lets the pacer pass the share on while the thread waits on the peer.
    void WaitingOnPeer();
    // Takes in what the downloader has taken since the last look and lets
    // the pacer pass on the time waited; false (error text set) when the
    // downloader has stalled.
    bool FollowDelivery();
    // The receive window the downloader last offered, which grows as it
    // reads what its system holds; -1 where the system does not tell.
    qint64 PeerWindow() const;
    void ReportProgress(bool force);

    QTcpSocket* m_socket;
    QFile* m_file;
    int m_token;
    qint64 m_stallMs;
    TransferPacer* m_pacer = nullptr;
    // End of the bytes handed to the socket, as a file position.
    qint64 m_handed = 0;
    DeliveryMeter m_meter;
    SendQueue m_queue;
    QElapsedTimer m_clock;
    qint64 m_lastReportMs = 0;
    qint64 m_reported = -1;
    // A standard mutex: Qt 5's waits inside the library, out of sight of
    // ThreadSanitizer (scripts/tsan), which then takes its locking for a race.
    std::mutex m_exitMutex;
    int m_exit = 0;
    QString m_error;
};
