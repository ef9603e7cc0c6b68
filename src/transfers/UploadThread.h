#pragma once

#include <QString>
#include <QThread>
#include <mutex>

class QFile;
class QTcpSocket;

// Sends one shared file over a handed-over file connection: writes the
// transfer token, reads the downloader's start offset, then streams the file
// from there. The thread owns the socket while it runs and hands it back to
// the engine's thread before it emits exactly one of UploadComplete or
// UploadError; the file stays open for the upload side to close.
class UploadThread : public QThread
{
    Q_OBJECT

public:
    // socket and file are not owned; file is open for reading.
    UploadThread(QTcpSocket* socket, QFile* file, int token);

    // Asks the thread to stop; it notices within about a second.
    void SignalExit();
    bool AskedToExit();

signals:
    void UploadProgress(qint64 offset, int bytesPerSecond);
    void UploadComplete();
    void UploadError(QString reason);

protected:
    void run() override;

private:
    bool UploadLoop();
    bool ReadOffset(qint64& offset);
    // Hands a chunk to the socket; returns once at most queued bytes are
    // still waiting to go, so the next chunk is read from the file while
    // this one is sent.
    bool WriteChunk(const char* data, qint64 size, qint64 queued);
    bool WaitForClose();

    QTcpSocket* m_socket;
    QFile* m_file;
    int m_token;
    // A standard mutex: Qt 5's waits inside the library, out of sight of
    // ThreadSanitizer (scripts/tsan), which then takes its locking for a race.
    std::mutex m_exitMutex;
    int m_exit = 0;
    QString m_error;
};
