// TransferQueueManager: construction, the item types, loading, the speed
// limits, the transient values' remove handlers and the timed duties. The
// queues are in TransferQueueManagerUploads.cpp and
// TransferQueueManagerDownloads.cpp.
#include "TransferQueueManager.h"

#include <QCoreApplication>
#include <QDir>

#include "AtomicDateTime.h"
#include "Data.h"
#include "DataSaver.h"
#include "DownloadThread.h"
#include "Log.h"
#include "PeerMessenger.h"
#include "PeerNames.h"
#include "PeriodicDuties.h"
#include "Schema.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ShareNames.h"
#include "TimerManager.h"
#include "TransferNames.h"
#include "UploadOrdering.h"
#include "UploadQueuePolicy.h"
#include "UploadTally.h"
#include "UploadThread.h"

TransferQueueManager* transferQueueManager = nullptr;

namespace {
bool HasSettingValue(const char* key)
{
    Type* global = d.HasType("global");
    return global && global->HasItem(key)["global_value"];
}

void SetSettingDefault(const char* key, const QString& value)
{
    if (!HasSettingValue(key))
        SetSetting(key, value);
}

template <class T>
void DeleteHeapValue(ItemPtr item)
{
    delete item.AsObject<T>();
}

// Entries of one direction whose status item carries "is_active".
ItemSet RunningEntries(const char* entryType, const char* statusType)
{
    ItemSet running;
    for (const ItemPtr& status : g(statusType).Connected(TransferNames::IsActive))
        running.Add(status.GetItems(entryType));
    return running;
}

// Asks the thread of every item of the type to exit, then waits for each,
// without a time limit.
template <class Thread>
void StopThreads(const char* type)
{
    Type* threadType = d.HasType(type);
    if (!threadType)
        return;
    const ItemSet items = threadType->GetItems();
    for (const ItemPtr& item : items)
        if (Thread* thread = item.AsObject<Thread>())
            thread->SignalExit();
    for (const ItemPtr& item : items)
        if (Thread* thread = item.AsObject<Thread>())
            thread->wait();
}

int CountRunning(const char* entryType, const char* statusType)
{
    int count = 0;
    for (const ItemPtr& status : g(statusType).Connected(TransferNames::IsActive))
        count += status.CountItems(entryType);
    return count;
}
} // namespace

TransferQueueManager::TransferQueueManager(QObject* parent)
    : QObject(parent), m_uploadStallMs(UploadThread::DefaultStallMs),
      m_requests(
          [this](DownloadRequests::Kind kind, ItemPtr entry) {
              if (kind == DownloadRequests::QueueRequest)
                  RequeueWaitingDownload(entry);
              else
                  RequestDownloadPlaceInLine(entry);
          },
          [this](const std::vector<QString>& users, qint64 nowMs) { DecideRenewals(users, nowMs); })
{
    transferQueueManager = this;

    DeclareDownloadTypes();
    m_requests.Watch(TransferNames::DownloadEntry);

    d.GetType(TransferNames::WritePosition)
        ->AddItemRemovedHandler(
            new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnWritePositionRemoved));
    d.GetType(TransferNames::LastReceiptTime)
        ->AddItemRemovedHandler(
            new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnLastReceiptTimeRemoved));
    d.GetType("last_speed_measurement_time")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnLastSpeedMeasurementTimeRemoved));
    d.GetType(TransferNames::BytesPerSecond)
        ->AddItemRemovedHandler(
            new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnBytesPerSecondRemoved));
    d.GetType("bytes_since_last_receipt")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnBytesSinceLastReceiptRemoved));

    Schema::Save(TransferNames::DownloadEntry);
    for (const char* type : {ServerNames::User, TransferNames::FileName, TransferNames::RemoteFolder,
                             PeerNames::FileSize, TransferNames::DownloadFolder, TransferNames::DownloadEntryStatus,
                             TransferNames::DownloadOrder, "subfolder_save_level"})
        Schema::SaveWith(type, TransferNames::DownloadEntry);

    DeclareUploadTypes();
    m_uploadOrder = std::make_unique<UploadOrdering>();
    m_uploadTally = std::make_unique<UploadTally>();

    PathNode* root = new PathNode(&d, ServerNames::User);
    new PathNode(root, ServerNames::IsOnline);
    d.AddPathEventHandler(root,
                          new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnUserOnline));

    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::FileTransferRequested, this,
                &TransferQueueManager::OnFileTransferRequest);
    SetSettingDefault("download_folder", QDir::homePath() + "/Quorvane Downloads");
    ConnectPeerMessenger();

    SetSettingDefault("transfer_order_counter", "1");
    SetSetting("transfer_req_counter", "1");

    Type* downloadStatus = d.GetType(TransferNames::DownloadEntryStatus);
    downloadStatus->GetItem(TransferNames::Downloading).NewItem(TransferNames::IsActive);
    Type* uploadStatus = d.GetType(TransferNames::UploadEntryStatus);
    for (const char* status : {TransferNames::Connecting, TransferNames::Uploading, TransferNames::Requesting,
                               TransferNames::WaitingForOffset})
        uploadStatus->GetItem(status).NewItem(TransferNames::IsActive);

    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    if (timerManager) {
        connect(timerManager->FiveMinuteTimer(), &QTimer::timeout, this, &TransferQueueManager::PeriodicCheck);
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, &TransferQueueManager::EveryHalfMinute);
    }

    if (!HasSettingValue("upload_speed_limit")) {
        SetSetting("upload_speed_limit", "0");
        SetSetting("upload_speed_limit_enabled", "no");
    }
    if (!HasSettingValue("download_speed_limit")) {
        SetSetting("download_speed_limit", "0");
        SetSetting("download_speed_limit_enabled", "no");
    }

    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::DownloadPlaceInLine, this, &TransferQueueManager::OnDownloadPlaceInLine);
    Schema::Declare(TransferNames::DenialReason, Schema::Attribute, Schema::Valued);
    Schema::Relate(TransferNames::DenialReason, TransferNames::DownloadEntry, many, one);
    Schema::Relate(TransferNames::DenialReason, TransferNames::UploadEntry, many, one);
    SetSetting("upload_slots", "1");

    DeclareCompletionTypes();

    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserShare, this, &TransferQueueManager::OnUserShare);
    SetSetting("check_for_empty_shares", "no");
    SetSetting("empty_share_message", "It looks like you're not sharing any files. Please share something before "
                                      "downloading anything from my own shares. Thanks.");
    SetSetting("max_queued_uploads_per_user", "200");
    SetSetting("max_queued_mb_per_user", "500");
    SetSetting("max_queued_uploads_per_user_enabled", "no");
    SetSetting("max_queued_mb_per_user_enabled", "no");

    Schema::Declare(TransferNames::ExcludedDownloadExtension, Schema::Root, Schema::Valued);
    Schema::Save(TransferNames::ExcludedDownloadExtension);

    OfferUploadQueueToShares(true);
}

void TransferQueueManager::DeclareDownloadTypes()
{
    using namespace Schema;
    Declare(TransferNames::DownloadEntry, Root, Valueless);
    Declare(TransferNames::FileName, Attribute, Valued);
    Declare(TransferNames::RemoteFolder, Node, Valued);
    Declare(TransferNames::DownloadFolder, Node, Valued);
    Declare("transfer_req", Attribute, Valued);
    Declare("remote_transfer_req", Attribute, Valued);
    Declare("download_socket", Root, Valued);
    Declare("download_file", Root, Valued);
    Declare(TransferNames::WritePosition, Attribute, Valued);
    Declare(TransferNames::DownloadEntryStatus, Root, Valued);
    Declare(TransferNames::DownloadOrder, Attribute, Valued);
    Declare("upload_socket", Root, Valued);
    Declare("upload_file", Root, Valued);
    Declare(TransferNames::ReadPosition, Attribute, Valued);
    Declare(TransferNames::UploadEntryStatus, Root, Valued);
    Declare("upload_order", Attribute, Valued);
    Declare(TransferNames::IsActive, Attribute, Valueless);
    Declare(TransferNames::LastReceiptTime, Attribute, Valued);
    Declare("last_speed_measurement_time", Attribute, Valued);
    Declare(TransferNames::BytesPerSecond, Attribute, Valued);
    Declare("bytes_since_last_receipt", Attribute, Valued);
    Declare(TransferNames::PlaceInLine, Attribute, Valued);
    Declare("last_queue_request_time", Attribute, Valued);
    Declare("next_place_in_line_request_time", Attribute, Valued);
    Declare("download_thread", Root, Valued);
    Declare("subfolder_save_level", Attribute, Valued);
    Declare(TransferNames::LastStatusChangeTime, Attribute, Valued);
    Declare("single_download", Attribute, Valueless);

    Relate(TransferNames::DownloadEntry, ServerNames::User, one, many);
    Relate(TransferNames::DownloadEntry, TransferNames::FileName, one, many);
    Relate(TransferNames::DownloadEntry, TransferNames::RemoteFolder, one, many);
    Relate(TransferNames::DownloadEntry, PeerNames::FileSize, one, many);
    Relate(TransferNames::DownloadEntry, TransferNames::DownloadFolder, one, many);
    Relate(TransferNames::DownloadEntry, "transfer_req", one, one);
    Relate(TransferNames::DownloadEntry, "remote_transfer_req", one, many);
    Relate(TransferNames::DownloadEntry, "download_socket", one, one);
    Relate(TransferNames::DownloadEntry, "download_thread", one, one);
    Relate(TransferNames::DownloadEntry, "download_file", one, one);
    Relate(TransferNames::DownloadEntry, TransferNames::WritePosition, one, many);
    Relate(TransferNames::DownloadEntry, TransferNames::DownloadEntryStatus, one, many);
    Relate(TransferNames::DownloadEntry, TransferNames::DownloadOrder, one, one);
    Relate(TransferNames::DownloadEntry, TransferNames::LastReceiptTime, one, one);
    Relate(TransferNames::DownloadEntry, "last_speed_measurement_time", one, one);
    Relate(TransferNames::DownloadEntry, TransferNames::BytesPerSecond, one, one);
    Relate(TransferNames::DownloadEntry, "bytes_since_last_receipt", one, one);
    Relate(TransferNames::DownloadEntry, TransferNames::PlaceInLine, one, many);
    Relate(TransferNames::DownloadEntry, "subfolder_save_level", one, many);
    Relate(TransferNames::DownloadEntry, TransferNames::LastStatusChangeTime, one, many);
    Relate(TransferNames::DownloadEntryStatus, TransferNames::IsActive, one, many);
    Relate(TransferNames::DownloadEntry, "single_download", one, many);
    Relate(ServerNames::User, "last_queue_request_time", one, many);
    Relate(ServerNames::User, "next_place_in_line_request_time", one, many);
}

void TransferQueueManager::DeclareUploadTypes()
{
    using namespace Schema;
    Declare(TransferNames::UploadEntry, Root, Valueless);
    Declare("filename_as_requested", Attribute, Valued);
    Declare("upload_start_time", Attribute, Valued);
    Declare("bytes_uploaded", Attribute, Valued);
    Declare("upload_thread", Root, Valued);
    Declare("effective_upload_order", Attribute, Valued);

    d.GetType("bytes_uploaded")
        ->AddItemRemovedHandler(
            new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnBytesUploadedRemoved));
    d.GetType(TransferNames::ReadPosition)
        ->AddItemRemovedHandler(
            new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnWritePositionRemoved));

    Relate(TransferNames::UploadEntry, ServerNames::User, one, many);
    Relate(TransferNames::UploadEntry, ShareNames::SharedFile, one, many);
    Relate(TransferNames::UploadEntry, "upload_socket", one, one);
    Relate(TransferNames::UploadEntry, "upload_file", one, one);
    Relate(TransferNames::UploadEntry, TransferNames::ReadPosition, one, many);
    Relate(TransferNames::UploadEntry, TransferNames::UploadEntryStatus, one, many);
    Relate(TransferNames::UploadEntry, "upload_order", one, one);
    Relate(TransferNames::UploadEntry, "transfer_req", one, one);
    Relate(TransferNames::UploadEntryStatus, TransferNames::IsActive, one, many);
    Relate(TransferNames::UploadEntry, "filename_as_requested", one, many);
    Relate(TransferNames::UploadEntry, "upload_start_time", one, many);
    Relate(TransferNames::UploadEntry, "bytes_uploaded", one, many);
    Relate(TransferNames::UploadEntry, TransferNames::LastStatusChangeTime, one, many);
    Relate(TransferNames::UploadEntry, TransferNames::LastReceiptTime, one, one);
    Relate(TransferNames::UploadEntry, "last_speed_measurement_time", one, one);
    Relate(TransferNames::UploadEntry, TransferNames::BytesPerSecond, one, one);
    Relate(TransferNames::UploadEntry, "bytes_since_last_receipt", one, one);
    Relate(TransferNames::UploadEntry, "upload_thread", one, one);
    Relate(TransferNames::UploadEntry, "effective_upload_order", one, many);
}

void TransferQueueManager::DeclareCompletionTypes()
{
    using namespace Schema;
    Declare(TransferNames::CompleteDownload, Root, Valueless);
    Declare("complete_download_folder", Node, Valued);
    Declare(TransferNames::CompleteDownloadRelativeFolder, Node, Valued);
    Declare(TransferNames::CompleteDownloadFilename, Attribute, Valued);
    Declare(TransferNames::CompleteDownloadFileSize, Attribute, Valued);
    Declare(TransferNames::CompleteDownloadCompletionTime, Attribute, Valued);
    Relate(TransferNames::CompleteDownload, ServerNames::User, one, many);
    Relate(TransferNames::CompleteDownload, "complete_download_folder", one, many);
    Relate(TransferNames::CompleteDownload, TransferNames::CompleteDownloadRelativeFolder, one, many);
    Relate(TransferNames::CompleteDownload, TransferNames::CompleteDownloadFilename, one, many);
    Relate(TransferNames::CompleteDownload, TransferNames::CompleteDownloadCompletionTime, one, many);
    Relate(TransferNames::CompleteDownload, TransferNames::CompleteDownloadFileSize, one, many);
    Relate(TransferNames::CompleteDownload, ServerNames::SearchRequestText, one, many);

    Declare("empty_share_check_status", Attribute, Valued);
    Declare(TransferNames::SentEmptyShareWarningMessage, Attribute, Valued);
    Relate(ServerNames::User, "empty_share_check_status", one, many);
    Relate(ServerNames::User, TransferNames::SentEmptyShareWarningMessage, one, many);
}

void TransferQueueManager::ConnectPeerMessenger()
{
    if (!peerMessenger)
        return;
    connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this, &TransferQueueManager::OnFileConnection);
    connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this, &TransferQueueManager::OnQueueUploadRequested);
    connect(peerMessenger, &PeerMessenger::QueueDownloadRequested, this,
            &TransferQueueManager::OnQueueDownloadRequested);
    connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::FileTransferResponse, this, &TransferQueueManager::OnFileTransferResponse);
    connect(peerMessenger, &PeerMessenger::UploadFailed, this, &TransferQueueManager::OnUploadFailedNotification);
    connect(peerMessenger, &PeerMessenger::UploadDenied, this, &TransferQueueManager::OnUploadDeniedNotification);
    connect(peerMessenger, &PeerMessenger::UploadPlaceInLineRequested, this,
            &TransferQueueManager::OnUploadPlaceInLineRequested);
}

TransferQueueManager::~TransferQueueManager()
{
    // Every thread is asked to stop first, so that they wind down side by
    // side rather than one after another.
    OfferUploadQueueToShares(false);
    StopThreads<UploadThread>("upload_thread");
    StopThreads<DownloadThread>("download_thread");
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
    ReleaseRunningTransfers();
}

void TransferQueueManager::ReleaseRunningTransfers()
{
    // Nothing runs an event loop after the engine: threads and sockets are
    // freed at once, and the transient values of the entries go with their
    // items. The entries themselves stay as saved.
    Data::Batch batch(&d);
    for (const char* type : {"download_thread", "download_file", "download_socket"})
        if (Type* held = d.HasType(type))
            for (const ItemPtr& item : held->GetItems())
                if (!item.IsRemoved())
                    ReleaseDownloadResources(item[TransferNames::DownloadEntry], false);
    for (const char* type : {"upload_thread", "upload_file", "upload_socket"})
        if (Type* held = d.HasType(type))
            for (const ItemPtr& item : held->GetItems())
                if (!item.IsRemoved())
                    ReleaseUploadResources(item[TransferNames::UploadEntry], false);
}

void TransferQueueManager::DataLoaded()
{
    Type* statusType = d.GetType(TransferNames::DownloadEntryStatus);
    const ItemPtr queued = statusType->GetItem(TransferNames::Queued);
    {
        Data::Batch batch(&d);
        for (ItemPtr entry : g(TransferNames::DownloadEntry))
            if (entry[TransferNames::DownloadEntryStatus].AsString() != TransferNames::Complete)
                entry.Connect(queued);
    }

    if (gp_server) {
        ItemSet users;
        for (const ItemPtr& entry : g(TransferNames::DownloadEntry))
            users.Add(entry.GetItems(ServerNames::User));
        for (const ItemPtr& user : users)
            gp_server->TrackUser(user.AsString());
    }

    emit TransfersLoaded();

    DetermineUploadSpeedLimit();
    DetermineDownloadSpeedLimit();

    if (GetSetting("upload_slots").toInt() < 1)
        SetSetting("upload_slots", "1");
    if (GetSetting("max_queued_uploads_per_user").toInt() < UploadQueuePolicy::LeastFiles)
        SetSetting("max_queued_uploads_per_user", QString::number(UploadQueuePolicy::LeastFiles));
    if (GetSetting("max_queued_mb_per_user").toInt() < UploadQueuePolicy::LeastMegabytes)
        SetSetting("max_queued_mb_per_user", QString::number(UploadQueuePolicy::LeastMegabytes));
}

void TransferQueueManager::NoData()
{
    d.GetType(TransferNames::ExcludedDownloadExtension)->GetItem(".ini");
}

int TransferQueueManager::ActiveDownloadCount() const
{
    return CountRunning(TransferNames::DownloadEntry, TransferNames::DownloadEntryStatus);
}

int TransferQueueManager::ActiveUploadCount() const
{
    return CountRunning(TransferNames::UploadEntry, TransferNames::UploadEntryStatus);
}

// Speed limits.

void TransferQueueManager::SetDownloadSpeedLimit(int kibPerSecond)
{
    SetSetting("download_speed_limit", QString::number(kibPerSecond));
    DetermineDownloadSpeedLimit();
}

void TransferQueueManager::SetUploadSpeedLimit(int kibPerSecond)
{
    SetSetting("upload_speed_limit", QString::number(kibPerSecond));
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::EnableDownloadSpeedLimit(bool enable)
{
    SetSetting("download_speed_limit_enabled", enable ? "yes" : "no");
    DetermineDownloadSpeedLimit();
}

void TransferQueueManager::EnableUploadSpeedLimit(bool enable)
{
    SetSetting("upload_speed_limit_enabled", enable ? "yes" : "no");
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::DetermineDownloadSpeedLimit()
{
    DetermineSpeedLimit(m_downloadLimit, "download_speed_limit", "download_speed_limit_enabled",
                        TransferNames::DownloadEntry, TransferNames::DownloadEntryStatus);
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    DetermineSpeedLimit(m_uploadLimit, "upload_speed_limit", "upload_speed_limit_enabled", TransferNames::UploadEntry,
                        TransferNames::UploadEntryStatus);
}

void TransferQueueManager::DetermineSpeedLimit(SpeedLimit& limit, const char* limitKey, const char* enabledKey,
                                               const char* entryType, const char* statusType)
{
    const int total = GetSetting(limitKey).toInt();
    if (total < 1 || !IsSettingOn(enabledKey)) {
        limit.Clear();
        return;
    }
    // The division among the transfers is the limit's own: it counts only
    // those moving bytes, which the entries' statuses cannot tell.
    limit.Set(total);

    for (const ItemPtr& entry : RunningEntries(entryType, statusType)) {
        if (AtomicDateTime* start = entry["last_speed_measurement_time"].AsObject<AtomicDateTime>())
            start->SetCurrent();
        if (TransferCounter64* bytes = entry["bytes_since_last_receipt"].AsObject<TransferCounter64>())
            bytes->store(0);
    }
}

int TransferQueueManager::GetDownloadSpeed() const
{
    return m_downloadLimit.Total();
}

int TransferQueueManager::GetUploadSpeed() const
{
    return m_uploadLimit.Total();
}

// Remove handlers.

void TransferQueueManager::OnWritePositionRemoved(ItemPtr item)
{
    DeleteHeapValue<TransferCounter64>(item);
}

void TransferQueueManager::OnLastReceiptTimeRemoved(ItemPtr item)
{
    DeleteHeapValue<AtomicDateTime>(item);
}

void TransferQueueManager::OnLastSpeedMeasurementTimeRemoved(ItemPtr item)
{
    DeleteHeapValue<AtomicDateTime>(item);
}

void TransferQueueManager::OnBytesPerSecondRemoved(ItemPtr item)
{
    DeleteHeapValue<TransferCounter32>(item);
}

void TransferQueueManager::OnBytesSinceLastReceiptRemoved(ItemPtr item)
{
    DeleteHeapValue<TransferCounter64>(item);
}

void TransferQueueManager::OnBytesUploadedRemoved(ItemPtr item)
{
    DeleteHeapValue<TransferCounter64>(item);
}

void TransferQueueManager::RecordProgress(ItemPtr entry, const char* positionType, qint64 offset, int bytesPerSecond)
{
    // A report while nothing moves only brings the falling speed: nothing
    // was received that keeps the transfer from counting as quiet.
    bool moved = true;
    if (auto* position = entry[positionType].AsObject<TransferCounter64>())
        moved = position->exchange(offset) != offset;
    if (auto* speed = entry[TransferNames::BytesPerSecond].AsObject<TransferCounter32>())
        speed->store(bytesPerSecond);
    auto* receipt = entry[TransferNames::LastReceiptTime].AsObject<AtomicDateTime>();
    if (receipt && moved)
        receipt->SetCurrent();
}

// Timed duties.

void TransferQueueManager::EveryHalfMinute()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    AbortStalledUploadNegotiations(now);
    RenewDownloadRequests(now);
    const QString finish = GetRuntimeSetting("finish_uploads_and_quit");
    if (finish == "yes" &&
        PeriodicDuties::FinishUploadsAndQuitDue(finish, GetRuntimeSetting("last_upload_state_change"), now,
                                                ActiveUploadCount(), QueuedUploadCount()))
        QCoreApplication::exit(0);
}

// The five-minute tick has no duty of the engine's.
void TransferQueueManager::PeriodicCheck() {}

void TransferQueueManager::StartTimerTest()
{
    connect(&m_timerTestTimer, &QTimer::timeout, this, &TransferQueueManager::TimerTest, Qt::UniqueConnection);
    m_timerTestTimer.setSingleShot(false);
    m_timerTestTimer.start(1000);
    m_timerTestClock.start();
}

void TransferQueueManager::TimerTest()
{
    const qint64 behind = m_timerTestClock.elapsed() - 1000;
    Log("Timer Test", 1, QString("Timeout: %1 milliseconds behind schedule").arg(behind));
    m_timerTestClock.restart();
}
