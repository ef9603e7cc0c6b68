#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "FileInfo.h"
#include "ItemPtr.h"
#include "SpeedLimit.h"
// Download queue
#include "DownloadPaths.h"
#include "DownloadRequests.h"

class UploadOrdering;
class UploadTally;

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
    // The least time without a byte taken that ends an upload started from
    // now on (UploadThread::DefaultStallMs unless a test shortens it).
    void SetUploadStallMs(qint64 ms) { m_uploadStallMs = ms; }

    // Upload queue: which requests of other users enter it, in which order
    // they start, and each upload from its transfer request to its end.
    // The user offers one of the own files to a peer.
    void AddUpload(QString user, QString file);
    // A slot is free: fewer uploads run than "upload_slots".
    bool IsFreeToUpload() const;
    // Queued uploads of all users, online or not.
    int QueuedUploadCount() const;
    // Gives a new entry its place ("effective_upload_order") in the queue.
    void OrderNewUpload(ItemPtr entry);
    // The places of the upload queue, as peers are told them.
    const UploadOrdering& UploadOrder() const { return *m_uploadOrder; }
    // True when a goes before b: group priority, then privileges, then
    // arrival.
    bool UploadEntrySortCompare(ItemPtr a, ItemPtr b) const;
    int GetUserGroupDownloadPriority(QString user) const;
    // Fills the free slots from the queue, one running upload per user.
    void StartNewUploads();
    // Outside 1 to 99 nothing changes.
    void SetUploadSlots(int count);
    // Every status change of an upload; leaving a running status releases
    // the upload's thread, file, socket and transient values.
    void SetUploadEntryStatus(ItemPtr entry, QString status);
    void RemoveUpload(ItemPtr entry);
    // Withdraws every share from the user, refusing and removing the user's
    // uploads; ReshareUser only lifts the withdrawal.
    void UnshareUser(QString user);
    void ReshareUser(QString user);
    // Refuses and removes every queued or running upload whose file its
    // user may no longer have, then fills the slots they held.
    void WithdrawHiddenUploads();

    // Download queue: the client's downloads, where their files go, and the
    // downloader's side of each transfer.
    // Queues a download, or returns the existing entry of that user, file
    // name and remote folder unchanged. Null when the name cannot be saved
    // inside the download folder.
    ItemPtr AddDownload(QString user, std::string fileName, std::string folder, qint64 size, bool singleDownload,
                        int subfolderSaveLevel);
    ItemPtr GetDownloadEntry(QString user, std::string fileName, std::string folder) const;
    // Leaving "downloading" stops and awaits the thread before its file and
    // socket are closed.
    void SetDownloadEntryStatus(ItemPtr entry, QString status);
    // Ends the download and forgets it; the partial file stays on disk.
    void RemoveDownload(ItemPtr entry);
    void RequeueDownload(ItemPtr entry);
    // Asks again for every open download of the user, in queue order; a
    // large queue goes out over several turns of the event loop.
    void RequeueUserDownloads(ItemPtr user);
    // Requests about downloads (and users of the half-minute round) still
    // waiting for their turn.
    int RequeueWaitingCount() const { return m_requests.Waiting(); }
    // The requests' work over turns, for tests to count and cut small.
    SlicedJob& DownloadRequestJob() { return m_requests.Job(); }
    void QueueDownloadIfUserOnline(ItemPtr entry);
    bool IsActivelyDownloadingFromUser(QString user) const;
    void RequestDownloadPlaceInLine(ItemPtr entry);
    bool HasExcludedDownloadExtension(QString path) const;
    bool CanAcceptUserInitiatedUploadsFrom(QString user) const;
    // Local places, in the "\" form; the path is empty when the entry's
    // name cannot be saved inside the download folder.
    QString GetDownloadTargetFolder(ItemPtr entry, bool complete) const;
    QString GetDownloadTargetPath(ItemPtr entry, bool complete) const;
    bool IsDownloadFileComplete(ItemPtr entry) const;
    QString GetDownloadRelativeDownloadFolder(ItemPtr entry) const;
    // Removes the emptied partial-file folders of a finished folder
    // download, never the download folder or anything above it.
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr entry);
    // Logs how late the event loop delivers a one-second timer.
    void StartTimerTest();

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
    void OnUserShare(QString user, std::shared_ptr<FileInfoMap> share,
                     const AttributeTranslationTable& translationTable);

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
    // A transfer thread's report into the entry's live counters; the
    // receipt time moves only with the position.
    static void RecordProgress(ItemPtr entry, const char* positionType, qint64 offset, int bytesPerSecond);

    // Upload queue helpers.
    // Lets the shared-folders manager read the counters and withdraw users
    // (offer false takes the queue back).
    void OfferUploadQueueToShares(bool offer);
    // The shared file that a requested name stands for, when the user may
    // see it; null otherwise.
    ItemPtr VisibleSharedFile(const QString& user, const QString& requested) const;
    // The user's entry for the shared file, or null.
    ItemPtr FindUploadEntry(ItemPtr user, ItemPtr sharedFile) const;
    // Re-queues an entry that is not queued or running; true when one
    // existed (whatever became of it).
    bool RequeueExistingUpload(ItemPtr entry);
    ItemPtr NewUploadEntry(ItemPtr user, ItemPtr sharedFile, const QString& requested);
    // Stops and frees the thread, then the file, socket and transient values;
    // the thread and socket go with deleteLater when later is true.
    void ReleaseUploadResources(ItemPtr entry, bool later = true);
    // At the engine's end: frees the threads, files, sockets and transient
    // values of every running transfer.
    void ReleaseRunningTransfers();
    // RemoveUpload without starting the next upload.
    void DropUploadEntry(ItemPtr entry);
    // Whether the entry's user may still have its file.
    bool IsUploadStillShared(ItemPtr entry) const;
    // Tells the peer "File not shared." and drops the entry.
    void WithdrawUpload(ItemPtr entry);
    // The entry of the upload thread that sent the current signal.
    ItemPtr UploadEntryOfSender() const;
    void SendUploadFailed(ItemPtr entry);

    // Download queue helpers.
    DownloadPaths::Options DownloadPathOptions() const;
    // The remote path of an entry as the uploader knows it, byte for byte.
    std::string RemoteDownloadPath(ItemPtr entry) const;
    // Whether both local places of the entry lie inside the download folder.
    bool HasSafeDownloadPaths(ItemPtr entry) const;
    ItemPtr NewDownloadEntry(ItemPtr user, const std::string& fileName, const std::string& folder, qint64 size,
                             bool singleDownload, int subfolderSaveLevel);
    // The entry of the download thread that sent the current signal.
    ItemPtr DownloadEntryOfSender() const;
    // Stops and awaits the thread, closes the file and the socket; the
    // thread and socket go with deleteLater when later is true.
    void ReleaseDownloadResources(ItemPtr entry, bool later);
    // Shuts a file connection that no download takes.
    void DropFileConnection(QTcpSocket* socket);
    void FinishDownload(ItemPtr entry);
    void AddCompletionRecord(ItemPtr entry);
    void AbortStalledUploadNegotiations(qint64 nowMs);
    void RenewDownloadRequests(qint64 nowMs);
    // One download of a user's requeue when its turn comes: a finished or
    // denied one is left as it is.
    void RequeueWaitingDownload(ItemPtr entry);
    // The half-minute round's decisions for the online users of queued
    // downloads: whose queue requests are renewed, who is asked for places
    // in line.
    void DecideRenewals(const std::vector<QString>& users, qint64 nowMs);

    QTimer m_timerTestTimer;
    QElapsedTimer m_timerTestClock;
    SpeedLimit m_uploadLimit;
    SpeedLimit m_downloadLimit;
    qint64 m_uploadStallMs;
    std::unique_ptr<UploadOrdering> m_uploadOrder;
    std::unique_ptr<UploadTally> m_uploadTally;
    // Queue and place-in-line requests waiting for their turn.
    DownloadRequests m_requests;
};

extern TransferQueueManager* transferQueueManager;
