#include "DownloadThread.h"

#include <QFile>
#include <QTcpSocket>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "TransferPacer.h"
#include "TransferQueueManager.h"

namespace {
// A download gives up when no byte has come for this long.
const qint64 NoDataTimeoutMs = 30000;
// Waits for data are this long, so that a stop is noticed and the
// transfer's share passed on as the wait goes.
const int WaitSliceMs = 250;
const qint64 ProgressIntervalMs = 500;
const qint64 ReadAheadChunks = 2;
const qint64 LowLimitBufferMin = 8 * 1024;
const qint64 LowLimitBufferMax = 128 * 1024;
// Asked for once a low limit is gone; the system gives at most its own
// maximum. It no longer tunes a buffer that was set, so this is what a
// fast link has again.
const qint64 FullSpeedBuffer = 8 * 1024 * 1024;
} // namespace

DownloadThread::DownloadThread(QTcpSocket* socket, QFile* file, qint64 fileSize, qint64 offset)
    : m_socket(socket), m_file(file), m_fileSize(fileSize), m_offset(offset)
{
}

void DownloadThread::SignalExit()
{
    std::lock_guard<std::mutex> lock(m_exitMutex);
    m_exit = 1;
}

bool DownloadThread::AskedToExit()
{
    std::lock_guard<std::mutex> lock(m_exitMutex);
    return m_exit != 0;
}

void DownloadThread::run()
{
    const bool ok = DownloadLoop();
    m_socket->moveToThread(transferQueueManager ? transferQueueManager->thread() : thread());
    m_file->close();
    if (ok)
        emit DownloadComplete();
    else
        emit DownloadError(m_error);
}

// Waits until bytes are available; false (error text set) when none came.
bool DownloadThread::WaitForData(TransferPacer& pacer)
{
    QElapsedTimer waited;
    waited.start();
    while (m_socket->bytesAvailable() <= 0 && waited.elapsed() < NoDataTimeoutMs) {
        if (AskedToExit()) {
            m_error = "Exit requested.";
            return false;
        }
        pacer.PassOn();
        if (m_socket->waitForReadyRead(WaitSliceMs) || m_socket->state() != QAbstractSocket::ConnectedState)
            break;
        if (m_clock.elapsed() - m_lastReportMs >= ProgressIntervalMs)
            ReportProgress();
    }
    if (m_socket->bytesAvailable() <= 0) {
        m_error = "Waiting for data to read failed. Error string: " + m_socket->errorString();
        return false;
    }
    return true;
}

void DownloadThread::ReportProgress()
{
    m_lastReportMs = m_clock.elapsed();
    emit DownloadProgress(m_offset, m_meter.BytesPerSecond(m_lastReportMs));
}

void DownloadThread::FitReceiveBuffer(qint32 limit)
{
    // The system tells the uploader it has read only once a good part of
    // its receive buffer is free again; under a low limit a buffer of the
    // usual size takes half a minute to free, and an uploader may take the
    // pause for a stall. Under such a limit the buffer holds about two
    // seconds of it. A buffer that small would cripple the transfer once
    // the limit is raised or gone: it then gets a large one back.
    const qint64 twoSeconds = qint64(limit) * 1024 * 2;
    qint64 bytes = FullSpeedBuffer;
    if (limit > 0 && twoSeconds < LowLimitBufferMax)
        bytes = std::max(LowLimitBufferMin, twoSeconds);
    else if (m_receiveBuffer == 0)
        return;
    if (bytes == m_receiveBuffer)
        return;
    m_receiveBuffer = bytes;
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(bytes));
}

bool DownloadThread::DownloadLoop()
{
    // A partial file longer than the file it should become cannot be
    // completed by appending; it is left exactly as it is.
    if (m_offset > m_fileSize) {
        m_error = QString("Partial file of %1 bytes is larger than the expected size of %2 bytes.")
                      .arg(m_offset)
                      .arg(m_fileSize);
        return false;
    }

    SpeedLimit* limit = transferQueueManager ? &transferQueueManager->DownloadSpeedLimit() : nullptr;
    TransferPacer pacer(limit, [this] { return AskedToExit(); });
    pacer.Start(transferQueueManager ? transferQueueManager->GetDownloadSpeed() : 0);
    m_clock.start();
    m_meter.Start(0, m_offset, NoDataTimeoutMs);

    std::vector<char> buffer(size_t(TransferPacer::MaxChunk + ChunkSize));
    // Received bytes not yet written: less than a piece, unless the file
    // ends with them.
    qint64 pending = 0;
    while (m_offset < m_fileSize) {
        // Looked at once per chunk too, so a stop does not wait for the peer
        // to stop sending.
        if (AskedToExit()) {
            m_error = "Exit requested.";
            return false;
        }
        if (!pacer.Pace()) {
            m_error = "Exit requested.";
            return false;
        }
        const qint64 wanted = std::min(m_fileSize - m_offset - pending, pacer.ChunkBytes());
        // The socket takes from the system no more than the next steps
        // need: unbounded, it would take the whole file at the link's
        // speed, the limit would pace only the disk, and the uploader
        // would count as delivered what still waits here.
        m_socket->setReadBufferSize(ReadAheadChunks * pacer.ChunkBytes());
        FitReceiveBuffer(pacer.PreviousLimit());
        if (m_socket->bytesAvailable() <= 0 && !WaitForData(pacer))
            return false;
        const qint64 got = m_socket->read(buffer.data() + pending, wanted);
        if (got < 0) {
            m_error = "Socket read failed. Error string: " + m_socket->errorString();
            return false;
        }
        pending += got;
        pacer.Moved(got);
        m_meter.Update(m_clock.elapsed(), m_offset + pending, m_offset + pending);
        const qint64 whole = m_offset + pending == m_fileSize ? pending : pending / ChunkSize * ChunkSize;
        if (whole > 0) {
            if (m_file->write(buffer.data(), whole) < whole) {
                m_error = "Writing to file failed. Error string: " + m_file->errorString();
                return false;
            }
            m_offset += whole;
            pending -= whole;
            std::memmove(buffer.data(), buffer.data() + whole, size_t(pending));
        }
        if (whole > 0 && (m_clock.elapsed() - m_lastReportMs >= ProgressIntervalMs || m_offset == m_fileSize))
            ReportProgress();
    }
    // The file buffers what it is given: a disk that fills up shows only
    // when the bytes are flushed, and must not pass for a finished download.
    if (!m_file->flush()) {
        m_error = "Writing to file failed. Error string: " + m_file->errorString();
        return false;
    }
    m_socket->close();
    return true;
}
