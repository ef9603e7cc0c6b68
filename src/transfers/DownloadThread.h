#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <mutex>

#include "DeliveryMeter.h"

class QFile;
class QTcpSocket;
class TransferPacer;

// Receives one file over a handed-over file connection into an open local
// file. The token and the start offset have been exchanged before the
// thread starts; from then on the connection carries only file bytes. The
// thread owns the socket while it runs and hands it back to the engine's
// thread before it emits exactly one of DownloadComplete or DownloadError.
class DownloadThread : public QThread
{
    Q_OBJECT

public:
    // The partial file grows by whole pieces of this size (or by the file's
    // last bytes), so a connection that breaks leaves no piece in part;
    // the socket is read in the pacer's larger chunks.
    static constexpr qint64 ChunkSize = 8192;

    // socket and file are not owned; file is open for appending and offset
    // is the size of the partial file already present.
    DownloadThread(QTcpSocket* socket, QFile* file, qint64 fileSize, qint64 offset);

    // Asks the thread to stop; it notices within about a second.
    void SignalExit();
    bool AskedToExit();

signals:
    // bytesPerSecond is the speed over the last few seconds; while no data
    // comes the report is repeated, so the figure falls as the pause goes on.
    void DownloadProgress(qint64 offset, int bytesPerSecond);
    void DownloadComplete();
    void DownloadError(QString reason);

protected:
    void run() override;

private:
    bool DownloadLoop();
    // While it waits, the pacer passes this transfer's share on.
    bool WaitForData(TransferPacer& pacer);
    void ReportProgress();
    // Under a low speed limit (KiB/s), a system receive buffer sized to it;
    // once no low limit applies, one for full speed again.
    void FitReceiveBuffer(qint32 limit);

    QTcpSocket* m_socket;
    QFile* m_file;
    qint64 m_fileSize;
    qint64 m_offset;
    // The receive buffer this thread set; 0 while the system's own.
    qint64 m_receiveBuffer = 0;
    // What has been taken off the connection, the figure of the reports.
    DeliveryMeter m_meter;
    QElapsedTimer m_clock;
    qint64 m_lastReportMs = 0;
    // A standard mutex: Qt 5's waits inside the library, out of sight of
    // ThreadSanitizer (scripts/tsan), which then takes its locking for a race.
    std::mutex m_exitMutex;
    int m_exit = 0;
    QString m_error;
};
