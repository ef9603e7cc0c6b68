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
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>
#endif

namespace {
const int WaitAttempts = 30;
const int WaitMs = 1000;
// An upload gives up only when the downloader has taken no byte for this
// long; a slow reader that keeps taking bytes is served to the end.
const qint64 NoDeliveryTimeoutMs = qint64(WaitAttempts) * WaitMs;
const qint64 ProgressIntervalMs = 500;
// A chunk is what the connection drains in about this time, so a slow
// link is not handed a quarter megabyte it needs minutes for, while a fast
// one keeps the large chunks.
const qint64 ChunkDrainMs = 500;
// However slowly a downloader reads what its system holds, it closes
// within this much more than the usual wait.
const qint64 MaxCloseGraceMs = 10 * 60 * 1000;
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

qint64 UploadThread::Unsent() const
{
    qint64 unsent = m_socket->bytesToWrite();
#ifdef Q_OS_LINUX
    // Bytes the system holds that the peer has not acknowledged yet; on a
    // fast local link its send queue alone holds megabytes.
    int queued = 0;
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor >= 0 && ::ioctl(int(descriptor), SIOCOUTQ, &queued) == 0 && queued > 0)
        unsent += queued;
#endif
    return unsent;
}

void UploadThread::ReportProgress(bool force)
{
    const qint64 now = m_clock.elapsed();
    const qint64 delivered = m_meter.Delivered();
    if (delivered == m_reported || (!force && now - m_lastReportMs < ProgressIntervalMs))
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
    if (m_meter.IdleMs(now) >= NoDeliveryTimeoutMs) {
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
    // Hand the bytes to the system at once, without a poll; the waits
    // below are for a peer that reads more slowly than we send.
    m_socket->flush();
    while (m_socket->bytesToWrite() > queued && m_socket->state() == QAbstractSocket::ConnectedState) {
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        m_socket->waitForBytesWritten(int(ProgressIntervalMs));
        if (!FollowDelivery())
            return false;
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesToWrite() > 0) {
        m_error = "Writing to socket failed. Error string: " + m_socket->errorString();
        return false;
    }
    return FollowDelivery();
}

bool UploadThread::WaitForDelivery()
{
    while (Unsent() > 0) {
        if (AskedToExit()) {
            m_error = ExitRequested;
            return false;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            m_error = "Writing to socket failed. Error string: " + m_socket->errorString();
            return false;
        }
        // Nothing more comes from the downloader but its close; the wait
        // only paces the looks at the send queue and notices that close.
        if (m_socket->waitForReadyRead(int(ProgressIntervalMs) / 5))
            m_socket->readAll();
        if (!FollowDelivery())
            return false;
    }
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
    // be reading what its system took at the start, which is more than it
    // read in the same time: that much more time is granted. Its window,
    // opening as it reads, shows that it still does.
    const qint64 elapsed = m_clock.elapsed();
    const qint64 rate = m_meter.BytesPerSecond(elapsed);
    const qint64 held = m_meter.Delivered() - m_start - rate * elapsed / 1000;
    const qint64 graceMs = rate > 0 && held > 0 ? std::min(held * 1000 / rate, MaxCloseGraceMs) : 0;
    qint64 window = PeerWindow();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < NoDeliveryTimeoutMs + graceMs) {
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
    m_clock.start();
    m_handed = offset;
    m_start = offset;
    m_meter.Start(0, offset);
    m_reported = offset;

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
        pacer.Moved(chunk);
        if (last)
            return WaitForDelivery() && WaitForClose();
    }
}
