#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class DownloadThread;
class QFile;
class QTcpSocket;
class UploadThread;

// One file connection over 127.0.0.1 between an uploader's and a
// downloader's socket, with the threads of either side and what they
// reported. Either side may instead be driven by the test itself through
// its raw socket. Every wait is bounded.
class LoopbackTransfer : public QObject
{
    Q_OBJECT

public:
    static const qint64 DefaultStallMs;

    LoopbackTransfer();
    // Asks running threads to stop and waits a bounded time for them.
    ~LoopbackTransfer() override;

    // Connects the pair of sockets; false when the connection failed.
    bool Connect();

    // Hands the uploader's socket to a new upload thread and starts it,
    // with the stall time given (the engine's own by default).
    void StartUpload(QFile* file, int token, qint64 stallMs = DefaultStallMs);
    // The downloading engine's part of the exchange: the 4-byte token.
    bool ReadToken(quint32& token, int timeoutMs = 30000);
    void WriteOffset(qint64 offset);
    // Connects, starts the upload, checks its token and asks for the file
    // from offset on, as a downloading engine would.
    bool StartUploadAt(QFile* file, int token, qint64 offset, qint64 stallMs = DefaultStallMs);
    // Hands the downloader's socket to a new download thread and starts it.
    void StartDownload(QFile* file, qint64 fileSize, qint64 offset);
    // The whole exchange of a resumed download of a file: starts the
    // upload, checks the token, resumes at the target's size.
    bool Run(QFile* source, QFile* target, qint64 expectedSize, int token = 0x01020304);

    // True once every started thread has reported its end.
    bool WaitDone(int timeoutMs);
    bool UploadDone() const { return m_uploadDone; }
    bool DownloadDone() const { return m_downloadDone; }

    QTcpSocket* uploaderSocket = nullptr;
    QTcpSocket* downloaderSocket = nullptr;
    UploadThread* upload = nullptr;
    DownloadThread* download = nullptr;

    bool uploadComplete = false;
    bool downloadComplete = false;
    QString uploadError;
    QString downloadError;
    // (milliseconds since the start, offset) of each progress report, timed
    // as the thread made it: a stall of the test's loop does not bunch them.
    QList<QPair<qint64, qint64>> uploadProgress;
    QList<QPair<qint64, qint64>> downloadProgress;
    // The speed each upload report gave, one for each of uploadProgress.
    QList<int> uploadSpeeds;
    QElapsedTimer clock;

private:
    // Called on the thread that reports: takes the time now and hands the
    // report to this object's thread.
    void Note(QList<QPair<qint64, qint64>>* reports, qint64 offset, int bytesPerSecond);

    bool m_uploadDone = false;
    bool m_downloadDone = false;
};
