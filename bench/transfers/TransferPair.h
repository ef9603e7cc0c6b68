#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <memory>

class DownloadThread;
class QFile;
class QTcpSocket;
class UploadThread;

// One loopback file connection between an upload thread and a download
// thread, as the engine sets them up: the uploader writes the token, the
// downloader answers with its start offset, then the threads move the file.
class TransferPair : public QObject
{
public:
    TransferPair(const QString& sourcePath, const QString& targetPath);
    ~TransferPair() override;

    bool Start();
    bool Done() const { return m_uploadDone && m_downloadDone; }
    bool Succeeded() const { return m_uploadOk && m_downloadOk; }
    QString Errors() const { return m_errors; }
    // Bytes per second between the first report at or after from and the
    // last one at or before to (milliseconds since the start).
    double Rate(qint64 from, qint64 to) const;
    // Bytes received by the given time (milliseconds since the start),
    // read between the reports around it; -1 before a report after it.
    double BytesAt(qint64 at) const { return BytesAt(m_reports, at); }
    // The same from any (milliseconds, bytes) reports, oldest first, of a
    // transfer that had moved nothing at 0.
    static double BytesAt(const QList<QPair<qint64, qint64>>& reports, qint64 at);

private:
    std::unique_ptr<QFile> m_source;
    std::unique_ptr<QFile> m_target;
    QTcpSocket* m_uploader = nullptr;
    QTcpSocket* m_downloader = nullptr;
    UploadThread* m_upload = nullptr;
    DownloadThread* m_download = nullptr;
    bool m_uploadDone = false;
    bool m_downloadDone = false;
    bool m_uploadOk = false;
    bool m_downloadOk = false;
    QElapsedTimer m_clock;
    // (milliseconds since the start, offset) of each progress report.
    QList<QPair<qint64, qint64>> m_reports;
    QString m_errors;
};
