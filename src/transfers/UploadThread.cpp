#include "UploadThread.h"

#include <QFile>
#include <QTcpSocket>
#include <QtEndian>
#include <algorithm>
#include <mutex>
#include <vector>

#include "TransferPacer.h"
#include "TransferQueueManager.h"

#ifdef Q_OS_LINUX
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#endif

namespace {
const int WaitAttempts = 30;
const int WaitMs = 1000;
const qint64 ProgressIntervalMs = 500;
// A chunk is what the connection drains in about this time, so a slow
// link is not handed a quarter megabyte it needs minutes for, while a fast
// one keeps the large chunks.
const qint64 ChunkDrainMs = 500;
const char* const ExitRequested = "Exit requested.";
} // namespace

UploadThread::UploadThread(QTcpSocket* socket, QFile* file, int token, qint64 stallMs)
    : m_socket(socket), m_file(file), m_token(token), m_stallMs(stallMs)
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

qint64 UploadThread::Unsent() const
{
    // On a fast local link the system's send queue alone holds megabytes.
    return m_queue.Untaken(m_socket->bytesToWrite());
}

void UploadThread::WaitingOnPeer()
{
    if (m_pacer)
        m_pacer->PassOn();
}

void UploadThread::ReportProgress(bool force)
{
    const qint64 now = m_clock.elapsed();
    const qint64 delivered = m_meter.Delivered();
    // Reported while nothing moves as well: the speed is the one of the
    // last seconds, and a row that heard nothing would keep its last.
    if (force ? delivered == m_reported : now - m_lastReportMs < ProgressIntervalMs)
        return;
    emit UploadProgress(delivered, m_meter.BytesPerSecond(now));
    m_reported = delivered;
    m_lastReportMs = now;
}

bool UploadThread::FollowDelivery()
{
    const qint64 now = m_clock.elapsed();
    m_meter.Update(now, m_handed - Unsent(), m_handed);
    ReportProgress(false);
    if (m_meter.Stalled(now)) {
        m_error = "Waiting for bytes to be written to socket failed. Error string: " + m_socket->errorString();
        return false;
    }
    return true;
}

bool UploadThread::WriteChunk(const char* data, qint64 size, qint64 queued)
{
    if (m_socket->write(data, size) != size) {
        m_error = "Writing to socket failed. Error string: " + m_socket->errorString();
        return false;
    }
    m_handed += size;
    // Owed from now on, so that the waits below pass on only the time
    // beyond what the chunk was allowed.
    if (m_pacer)
        m_pacer->Moved(size);
    // Hand the bytes to the system at once, without a poll; the waits
    // below are for a peer that reads more slowly than we send.
    m_socket->flush();
    while (m_socket->bytesToWrite() > queued && m_socket->state() == QAbstractSocket::ConnectedState) {
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        m_socket->waitForBytesWritten(int(ProgressIntervalMs));
        WaitingOnPeer();
        if (!FollowDelivery())
            return false;
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesToWrite() > 0) {
        m_error = "Writing to socket failed. Error string: " + m_socket->errorString();
        return false;
    }
    return FollowDelivery();
}

bool UploadThread::WaitForQueue(bool all)
{
    for (;;) {
        const qint64 bytesPerSecond = all ? 0 : qint64(m_pacer->Limit()) * 1024;
        if (!all && bytesPerSecond == 0)
            return true;
        const qint64 excess = all ? Unsent() : m_queue.Excess(m_socket->bytesToWrite(), bytesPerSecond);
        if (excess <= 0)
            return true;
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            m_error = "Writing to socket failed. Error string: " + m_socket->errorString();
            return false;
        }
        // Nothing comes from the downloader but its close; the wait notices
        // that too.
        if (m_socket->waitForReadyRead(int(SendQueue::LookMs(excess, bytesPerSecond))))
            m_socket->readAll();
        WaitingOnPeer();
        if (!FollowDelivery())
            return false;
    }
}

bool UploadThread::WaitForDelivery()
{
    if (!WaitForQueue(true))
        return false;
    FollowDelivery();
    ReportProgress(true);
    return true;
}

qint64 UploadThread::PeerWindow() const
{
#ifdef Q_OS_LINUX
    tcp_info info{};
    socklen_t size = sizeof(info);
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor >= 0 && ::getsockopt(int(descriptor), IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
        size >= socklen_t(offsetof(tcp_info, tcpi_snd_wnd) + sizeof(info.tcpi_snd_wnd)))
        return qint64(info.tcpi_snd_wnd);
#endif
    return -1;
}

bool UploadThread::WaitForClose()
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return true;
    // The downloader's system has every byte, but a slow reader may still
    // be reading what it took last: it is granted what its pace explains,
    // and again whenever its window opens (it still reads).
    qint64 window = PeerWindow();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < m_meter.QuietAllowedMs()) {
        if (m_socket->waitForDisconnected(WaitMs) || m_socket->state() == QAbstractSocket::UnconnectedState)
            return true;
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        const qint64 now = PeerWindow();
        if (now > window)
            quiet.restart();
        window = now;
        // Its row's speed falls to nothing while the downloader holds on.
        ReportProgress(false);
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
    m_pacer = &pacer;
    m_queue = SendQueue(SendQueue::OfSocket(m_socket->socketDescriptor()));
    m_clock.start();
    m_handed = offset;
    m_meter.Start(0, offset, m_stallMs);
    m_reported = offset;
    const bool ok = SendFrom(size, pacer);
    m_pacer = nullptr;
    return ok;
}

bool UploadThread::SendFrom(qint64 size, TransferPacer& pacer)
{
    std::vector<char> buffer(static_cast<size_t>(TransferPacer::MaxChunk));
    for (;;) {
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        if (!pacer.Pace()) {
            m_error = ExitRequested;
            return false;
        }
        if (!WaitForQueue(false))
            return false;
        const qint64 drains =
            m_meter.DrainsIn(m_clock.elapsed(), ChunkDrainMs, TransferPacer::MinChunk, TransferPacer::MaxChunk);
        const qint64 chunk = std::min({size - m_handed, pacer.ChunkBytes(), drains});
        if (m_file->read(buffer.data(), chunk) < chunk) {
            m_error = "Reading from file failed. Error string: " + m_file->errorString();
            return false;
        }
        const bool last = m_handed + chunk == size;
        if (!WriteChunk(buffer.data(), chunk, last ? 0 : chunk))
            return false;
        if (last) {
            // Waiting for the downloader to take and close, the transfer
            // moves nothing more and leaves the limit to the others.
            pacer.Finish();
            return WaitForDelivery() && WaitForClose();
        }
    }
}
