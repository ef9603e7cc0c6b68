#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <string>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "FileInfo.h"
#include "ItemPtr.h"
#include "SpeedLimit.h"

// Heap objects behind the transient items of a running transfer. Each item's
// value is the decimal address of its object (Value(pointer)); the object
// belongs to the item and is freed by the engine's remove handler when, and
// only when, the item is removed. Release one by removing its item, never by
// deleting it and disconnecting the item: the item would then still hold the
// address and its later removal would free it a second time.
//   "write_position", "read_position", "bytes_since_last_receipt",
//   "bytes_uploaded"                                  -> TransferCounter64
//   "bytes_per_second"                                -> TransferCounter32
//   "last_receipt_time", "last_speed_measurement_time" -> AtomicDateTime
// The counters are atomic because the window reads them through the
// addresses while transfers run.
typedef std::atomic<qint64> TransferCounter64;
typedef std::atomic<qint32> TransferCounter32;

// The transfer engine: the download and upload queues as items of the store,
// the speed limits that the transfer threads share, and the engine's side of
// the peer messages about transfers. One object, reached through
// transferQueueManager, which the constructor sets first.
class TransferQueueManager : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Needs the types "user", "file_size", "search_request_text" and
    // "shared_file" and the setting types declared before.
    explicit TransferQueueManager(QObject* parent = nullptr);
    // Stops every transfer thread and waits for each.
    ~TransferQueueManager() override;

    void DataLoaded() override;
    void NoData() override;

    // Running transfers: entries whose status item carries "is_active".
    int ActiveDownloadCount() const;
    int ActiveUploadCount() const;

    // Speed limits, in KiB/s; the setters store the setting and recompute.
    void SetDownloadSpeedLimit(int kibPerSecond);
    void SetUploadSpeedLimit(int kibPerSecond);
    void EnableDownloadSpeedLimit(bool enable);
    void EnableUploadSpeedLimit(bool enable);
    void DetermineDownloadSpeedLimit();
    void DetermineUploadSpeedLimit();
    // The direction's total limit (not the per-transfer share).
    int GetDownloadSpeed() const;
    int GetUploadSpeed() const;
    // The state the threads of each direction pace themselves with.
    SpeedLimit& DownloadSpeedLimit() { return m_downloadLimit; }
    SpeedLimit& UploadSpeedLimit() { return m_uploadLimit; }

signals:
    void DownloadProgressed(ItemPtr download);
    void UploadProgressed(ItemPtr upload);
    void TransfersLoaded();
    void CompleteDownloadAdded(ItemPtr download);

public slots:
    // Peer messages and file connections.
    void OnFileTransferRequest(QString user, int direction, uint req, std::string file, qint64 fileSize);
    void OnFileConnection(QString user, QTcpSocket* socket, uint requestID);
    void OnQueueUploadRequested(QString user, QString file);
    void OnQueueDownloadRequested(QString user, std::string fileName, qint64 fileSize);
    void OnFileConnectionAccepted(QString user, QTcpSocket* socket);
    void OnFileTransferResponse(QString user, uint req, bool accepted, bool receivedFileSize, qint64 fileSize,
                                QString denialReason);
    void OnUploadFailedNotification(QString user, std::string file);
    void OnUploadDeniedNotification(QString user, std::string file, QString reason);
    void OnDownloadPlaceInLine(QString user, std::string file, int place);
    void OnUploadPlaceInLineRequested(QString user, QString fileName);
    void OnUserShare(QString user, FileInfoMap& share, AttributeTranslationTable& translationTable);

    // Transfer threads.
    void OnDownloadProgress(qint64 offset, int bytesPerSecond);
    void OnDownloadComplete();
    void OnDownloadError(QString reason);
    void OnUploadProgress(qint64 offset, int bytesPerSecond);
    void OnUploadComplete();
    void OnUploadError(QString reason);

    // Timers.
    void EveryHalfMinute();
    void PeriodicCheck();
    void TimerTest();

    void DetermineUploadsEffectiveOrder();

private:
    void DeclareDownloadTypes();
    void DeclareUploadTypes();
    void DeclareCompletionTypes();
    void ConnectPeerMessenger();

    // Remove handlers: the heap object behind each transient item.
    void OnWritePositionRemoved(ItemPtr item);
    void OnLastReceiptTimeRemoved(ItemPtr item);
    void OnLastSpeedMeasurementTimeRemoved(ItemPtr item);
    void OnBytesPerSecondRemoved(ItemPtr item);
    void OnBytesSinceLastReceiptRemoved(ItemPtr item);
    void OnBytesUploadedRemoved(ItemPtr item);
    void OnUserOnline(ItemPtr user);

    void DetermineSpeedLimit(SpeedLimit& limit, const char* limitKey, const char* enabledKey, const char* entryType,
                             const char* statusType);

    QTimer m_timerTestTimer;
    QElapsedTimer m_timerTestClock;
    SpeedLimit m_uploadLimit;
    SpeedLimit m_downloadLimit;
    // The upload entry that most recently received an order number.
    ItemPtr m_lastOrderedUpload;
};

extern TransferQueueManager* transferQueueManager;
