#include "TransferPair.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include "DownloadThread.h"
#include "UploadThread.h"

TransferPair::TransferPair(const QString& sourcePath, const QString& targetPath)
    : m_source(new QFile(sourcePath)), m_target(new QFile(targetPath))
{
}

TransferPair::~TransferPair()
{
    if (m_upload) {
        m_upload->SignalExit();
        m_upload->wait();
    }
    if (m_download) {
        m_download->SignalExit();
        m_download->wait();
    }
    delete m_upload;
    delete m_download;
    delete m_uploader;
    delete m_downloader;
}

bool TransferPair::Start()
{
    m_clock.start();
    // A device such as /dev/null is written from its start.
    const QIODevice::OpenMode mode =
        m_target->fileName().startsWith("/dev/") ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Append;
    if (!m_source->open(QIODevice::ReadOnly) || !m_target->open(mode))
        return false;
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 0))
        return false;
    m_uploader = new QTcpSocket;
    m_uploader->connectToHost(QHostAddress::LocalHost, listener.serverPort());
    if (!listener.waitForNewConnection(5000) || !m_uploader->waitForConnected(5000))
        return false;
    m_downloader = listener.nextPendingConnection();
    m_downloader->setParent(nullptr);

    m_upload = new UploadThread(m_uploader, m_source.get(), 1);
    m_uploader->moveToThread(m_upload);
    connect(m_upload, &UploadThread::UploadComplete, this, [this] { m_uploadOk = m_uploadDone = true; });
    connect(m_upload, &UploadThread::UploadError, this, [this](QString e) {
        m_errors += "upload: " + e + "\n";
        m_uploadDone = true;
    });
    m_upload->start();

    QElapsedTimer waited;
    waited.start();
    while (m_downloader->bytesAvailable() < 4 && waited.elapsed() < 5000)
        m_downloader->waitForReadyRead(100);
    if (m_downloader->read(4).size() != 4)
        return false;
    uchar offset[8];
    qToLittleEndian<qint64>(m_target->size(), offset);
    m_downloader->write(reinterpret_cast<const char*>(offset), 8);
    m_downloader->flush();

    m_download = new DownloadThread(m_downloader, m_target.get(), m_source->size(), m_target->size());
    m_downloader->moveToThread(m_download);
    connect(m_download, &DownloadThread::DownloadProgress, this, [this](qint64 offset, int) {
        m_reports.append({m_clock.elapsed(), offset});
    });
    connect(m_download, &DownloadThread::DownloadComplete, this, [this] { m_downloadOk = m_downloadDone = true; });
    connect(m_download, &DownloadThread::DownloadError, this, [this](QString e) {
        m_errors += "download: " + e + "\n";
        m_downloadDone = true;
    });
    m_download->start();
    return true;
}

double TransferPair::Rate(qint64 from, qint64 to) const
{
    int first = -1, last = -1;
    for (int i = 0; i < m_reports.size(); ++i) {
        if (first < 0 && m_reports[i].first >= from)
            first = i;
        if (m_reports[i].first <= to)
            last = i;
    }
    if (first < 0 || last <= first)
        return 0;
    return double(m_reports[last].second - m_reports[first].second) * 1000.0 /
           double(m_reports[last].first - m_reports[first].first);
}

double TransferPair::BytesAt(const QList<QPair<qint64, qint64>>& reports, qint64 at)
{
    // The start is a report of nothing received.
    qint64 beforeTime = 0, beforeBytes = 0;
    for (const auto& report : reports) {
        if (report.first >= at) {
            if (report.first == beforeTime)
                return double(report.second);
            return double(beforeBytes) +
                   double(report.second - beforeBytes) * double(at - beforeTime) / double(report.first - beforeTime);
        }
        beforeTime = report.first;
        beforeBytes = report.second;
    }
    return -1;
}
