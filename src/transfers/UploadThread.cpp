#include "UploadThread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QtEndian>
#include <algorithm>
#include <mutex>
#include <vector>

#include "TransferPacer.h"
#include "TransferQueueManager.h"

namespace {
const int WaitAttempts = 30;
const int WaitMs = 1000;
const qint64 ProgressIntervalMs = 500;
const char* const ExitRequested = "Exit requested.";
} // namespace

UploadThread::UploadThread(QTcpSocket* socket, QFile* file, int token) : m_socket(socket), m_file(file), m_token(token)
{
}

void UploadThread::SignalExit()
{
    std::lock_guard<std::mutex> lock(m_exitMutex);
    m_exit = 1;
}

bool UploadThread::AskedToExit()
{
    std::lock_guard<std::mutex> lock(m_exitMutex);
    return m_exit != 0;
}

void UploadThread::run()
{
    const bool ok = UploadLoop();
    m_socket->moveToThread(transferQueueManager ? transferQueueManager->thread() : thread());
    if (ok)
        emit UploadComplete();
    else
        emit UploadError(m_error);
}

bool UploadThread::ReadOffset(qint64& offset)
{
    uchar bytes[8];
    for (qint64 have = 0; have < 8;) {
        if (m_socket->bytesAvailable() <= 0) {
            if (AskedToExit()) {
                m_error = ExitRequested;
                return false;
            }
            for (int attempt = 0; attempt < WaitAttempts; ++attempt) {
                if (m_socket->waitForReadyRead(WaitMs) || m_socket->state() != QAbstractSocket::ConnectedState)
                    break;
                if (AskedToExit()) {
                    m_error = ExitRequested;
                    return false;
                }
            }
            if (m_socket->bytesAvailable() <= 0) {
                m_error = "Waiting for initialization data to read failed. Error string: " + m_socket->errorString();
                return false;
            }
        }
        const qint64 got = m_socket->read(reinterpret_cast<char*>(bytes) + have, 8 - have);
        if (got < 0) {
            m_error = "Socket read failed. Error string: " + m_socket->errorString();
            return false;
        }
        have += got;
    }
    offset = qFromLittleEndian<qint64>(bytes);
    return true;
}

bool UploadThread::WriteChunk(const char* data, qint64 size, qint64 queued)
{
    if (m_socket->write(data, size) != size) {
        m_error = "Writing to socket failed. Error string: " + m_socket->errorString();
        return false;
    }
    // Hand the bytes to the system at once, without a poll; the waits
    // below are for a peer that reads more slowly than we send. Only waits
    // in which nothing moved count towards giving up.
    m_socket->flush();
    qint64 waiting = m_socket->bytesToWrite();
    for (int attempt = 0; attempt < WaitAttempts && waiting > queued; ++attempt) {
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        m_socket->waitForBytesWritten(WaitMs);
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            break;
        const qint64 now = m_socket->bytesToWrite();
        if (now < waiting)
            attempt = -1;
        waiting = now;
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesToWrite() > 0) {
        m_error = "Writing to socket failed. Error string: " + m_socket->errorString();
        return false;
    }
    if (m_socket->bytesToWrite() > queued) {
        m_error = "Waiting for bytes to be written to socket failed. Error string: " + m_socket->errorString();
        return false;
    }
    return true;
}

bool UploadThread::WaitForClose()
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return true;
    for (int attempt = 0; attempt < WaitAttempts; ++attempt) {
        if (m_socket->waitForDisconnected(WaitMs) || m_socket->state() == QAbstractSocket::UnconnectedState)
            return true;
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
    }
    // The downloader kept the connection open after the last byte.
    m_error = QString();
    return false;
}

bool UploadThread::UploadLoop()
{
    uchar token[4];
    qToLittleEndian<quint32>(quint32(m_token), token);
    m_socket->write(reinterpret_cast<const char*>(token), 4);
    m_socket->flush();

    qint64 offset = 0;
    if (!ReadOffset(offset))
        return false;
    const qint64 size = m_file->size();
    // The downloader has the whole file already (or asks for nonsense).
    if (offset < 0 || offset >= size)
        return true;
    if (!m_file->seek(offset)) {
        m_error = QString("Seeking to starting offset %1 failed. Error string: ").arg(offset) + m_file->errorString();
        return false;
    }

    SpeedLimit* limit = transferQueueManager ? &transferQueueManager->UploadSpeedLimit() : nullptr;
    TransferPacer pacer(limit, [this] { return AskedToExit(); });
    pacer.Start(transferQueueManager ? transferQueueManager->GetUploadSpeed() : 0);
    QElapsedTimer progressClock;
    progressClock.start();

    std::vector<char> buffer(static_cast<size_t>(TransferPacer::MaxChunk));
    for (qint64 position = offset;;) {
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        if (!pacer.Pace()) {
            m_error = ExitRequested;
            return false;
        }
        const qint64 chunk = std::min(size - position, pacer.ChunkBytes());
        if (m_file->read(buffer.data(), chunk) < chunk) {
            m_error = "Reading from file failed. Error string: " + m_file->errorString();
            return false;
        }
        const bool last = position + chunk == size;
        if (!WriteChunk(buffer.data(), chunk, last ? 0 : chunk))
            return false;
        position += chunk;
        pacer.Moved(chunk);
        if (progressClock.elapsed() >= ProgressIntervalMs || last) {
            emit UploadProgress(position, pacer.BytesPerSecond());
            progressClock.restart();
        }
        if (last)
            return WaitForClose();
    }
}
