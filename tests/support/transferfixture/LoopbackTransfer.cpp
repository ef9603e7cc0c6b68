#include "LoopbackTransfer.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include "DownloadThread.h"
#include "UploadThread.h"

const qint64 LoopbackTransfer::DefaultStallMs = UploadThread::DefaultStallMs;

LoopbackTransfer::LoopbackTransfer()
{
    clock.start();
}

LoopbackTransfer::~LoopbackTransfer()
{
    for (QThread* thread : {static_cast<QThread*>(upload), static_cast<QThread*>(download)}) {
        if (!thread)
            continue;
        if (thread == upload)
            upload->SignalExit();
        else
            download->SignalExit();
        // A thread that does not end is leaked rather than deleted running.
        if (!thread->wait(40000))
            continue;
        delete thread;
    }
    delete uploaderSocket;
    delete downloaderSocket;
}

bool LoopbackTransfer::Connect()
{
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 0))
        return false;
    uploaderSocket = new QTcpSocket;
    uploaderSocket->connectToHost(QHostAddress::LocalHost, listener.serverPort());
    if (!listener.waitForNewConnection(5000) || !uploaderSocket->waitForConnected(5000))
        return false;
    downloaderSocket = listener.nextPendingConnection();
    downloaderSocket->setParent(nullptr);
    return true;
}

void LoopbackTransfer::StartUpload(QFile* file, int token, qint64 stallMs)
{
    upload = new UploadThread(uploaderSocket, file, token, stallMs);
    uploaderSocket->setParent(nullptr);
    uploaderSocket->moveToThread(upload);
    // Timed on the thread as it reports, so a stall of the test's loop
    // does not bunch the reports.
    connect(
        upload, &UploadThread::UploadProgress, upload,
        [this](qint64 offset, int bytesPerSecond) { Note(&uploadProgress, offset, bytesPerSecond); },
        Qt::DirectConnection);
    connect(upload, &UploadThread::UploadComplete, this, [this] {
        uploadComplete = true;
        m_uploadDone = true;
    });
    connect(upload, &UploadThread::UploadError, this, [this](QString reason) {
        uploadError = reason;
        m_uploadDone = true;
    });
    upload->start(QThread::InheritPriority);
}

bool LoopbackTransfer::ReadToken(quint32& token, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (downloaderSocket->bytesAvailable() < 4 && waited.elapsed() < timeoutMs)
        downloaderSocket->waitForReadyRead(100);
    uchar bytes[4];
    if (downloaderSocket->read(reinterpret_cast<char*>(bytes), 4) != 4)
        return false;
    token = qFromLittleEndian<quint32>(bytes);
    return true;
}

void LoopbackTransfer::WriteOffset(qint64 offset)
{
    uchar bytes[8];
    qToLittleEndian<qint64>(offset, bytes);
    downloaderSocket->write(reinterpret_cast<const char*>(bytes), 8);
    downloaderSocket->flush();
}

void LoopbackTransfer::StartDownload(QFile* file, qint64 fileSize, qint64 offset)
{
    download = new DownloadThread(downloaderSocket, file, fileSize, offset);
    downloaderSocket->disconnect();
    downloaderSocket->setParent(nullptr);
    downloaderSocket->moveToThread(download);
    connect(
        download, &DownloadThread::DownloadProgress, download,
        [this](qint64 offset, int bytesPerSecond) { Note(&downloadProgress, offset, bytesPerSecond); },
        Qt::DirectConnection);
    connect(download, &DownloadThread::DownloadComplete, this, [this] {
        downloadComplete = true;
        m_downloadDone = true;
    });
    connect(download, &DownloadThread::DownloadError, this, [this](QString reason) {
        downloadError = reason;
        m_downloadDone = true;
    });
    download->start(QThread::InheritPriority);
}

void LoopbackTransfer::Note(QList<QPair<qint64, qint64>>* reports, qint64 offset, int bytesPerSecond)
{
    const qint64 ms = clock.elapsed();
    QMetaObject::invokeMethod(
        this,
        [this, reports, ms, offset, bytesPerSecond] {
            reports->append({ms, offset});
            if (reports == &uploadProgress)
                uploadSpeeds.append(bytesPerSecond);
        },
        Qt::QueuedConnection);
}

bool LoopbackTransfer::StartUploadAt(QFile* file, int token, qint64 offset, qint64 stallMs)
{
    if (!Connect())
        return false;
    StartUpload(file, token, stallMs);
    quint32 received = 0;
    if (!ReadToken(received) || received != quint32(token))
        return false;
    WriteOffset(offset);
    return true;
}

bool LoopbackTransfer::Run(QFile* source, QFile* target, qint64 expectedSize, int token)
{
    const qint64 offset = target->size();
    if (!StartUploadAt(source, token, offset))
        return false;
    StartDownload(target, expectedSize, offset);
    return true;
}

bool LoopbackTransfer::WaitDone(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    auto done = [this] { return (!upload || m_uploadDone) && (!download || m_downloadDone); };
    while (!done() && waited.elapsed() < timeoutMs)
        QTest::qWait(10);
    if (!done())
        return false;
    // The end signals are the threads' last acts; let them return.
    for (QThread* thread : {static_cast<QThread*>(upload), static_cast<QThread*>(download)})
        if (thread && !thread->wait(30000))
            return false;
    return true;
}
