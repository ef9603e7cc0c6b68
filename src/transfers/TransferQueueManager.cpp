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
#include "PeriodicDuties.h"
#include "Schema.h"
#include "Server.h"
#include "Settings.h"
#include "TimerManager.h"
#include "UploadThread.h"

TransferQueueManager* transferQueueManager = nullptr;

namespace
{
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
    for (const ItemPtr& status : g(statusType).Connected("is_active"))
        running.Add(status.GetItems(entryType));
    return running;
}

// Asks the thread of every item of the type to exit and waits for each,
// without a time limit.
template <class Thread>
void StopThreads(const char* type)
{
    Type* threadType = d.HasType(type);
    if (!threadType)
        return;
    for (const ItemPtr& item : threadType->GetItems()) {
        if (Thread* thread = item.AsObject<Thread>()) {
            thread->SignalExit();
            thread->wait();
        }
    }
}

int CountRunning(const char* entryType, const char* statusType)
{
    int count = 0;
    for (const ItemPtr& status : g(statusType).Connected("is_active"))
        count += status.CountItems(entryType);
    return count;
}
} // namespace

TransferQueueManager::TransferQueueManager(QObject* parent) : QObject(parent)
{
    transferQueueManager = this;

    DeclareDownloadTypes();

    d.GetType("write_position")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnWritePositionRemoved));
    d.GetType("last_receipt_time")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnLastReceiptTimeRemoved));
    d.GetType("last_speed_measurement_time")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnLastSpeedMeasurementTimeRemoved));
    d.GetType("bytes_per_second")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnBytesPerSecondRemoved));
    d.GetType("bytes_since_last_receipt")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnBytesSinceLastReceiptRemoved));

    Schema::Save("download_entry");
    for (const char* type : {"user", "file_name", "remote_folder", "file_size", "download_folder",
                             "download_entry_status", "download_order", "subfolder_save_level"})
        Schema::SaveWith(type, "download_entry");

    DeclareUploadTypes();

    PathNode* root = new PathNode(&d, "user");
    new PathNode(root, "is_online");
    d.AddPathEventHandler(root,
                          new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnUserOnline));

    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::FileTransferRequested, this,
                &TransferQueueManager::OnFileTransferRequest);
    SetSettingDefault("download_folder", QDir::homePath() + "/Quorvane Downloads");
    ConnectPeerMessenger();

    SetSettingDefault("transfer_order_counter", "1");
    SetSetting("transfer_req_counter", "1");

    Type* downloadStatus = d.GetType("download_entry_status");
    downloadStatus->GetItem("downloading").NewItem("is_active");
    Type* uploadStatus = d.GetType("upload_entry_status");
    for (const char* status : {"connecting", "uploading", "requesting", "waiting for offset"})
        uploadStatus->GetItem(status).NewItem("is_active");

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
    Schema::Declare("denial_reason", Schema::Attribute, Schema::Valued);
    Schema::Relate("denial_reason", "download_entry", many, one);
    Schema::Relate("denial_reason", "upload_entry", many, one);
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

    Schema::Declare("excluded_download_extension", Schema::Root, Schema::Valued);
    Schema::Save("excluded_download_extension");

    OfferUploadQueueToShares(true);
}

void TransferQueueManager::DeclareDownloadTypes()
{
    using namespace Schema;
    Declare("download_entry", Root, Valueless);
    Declare("file_name", Attribute, Valued);
    Declare("remote_folder", Node, Valued);
    Declare("download_folder", Node, Valued);
    Declare("transfer_req", Attribute, Valued);
    Declare("remote_transfer_req", Attribute, Valued);
    Declare("download_socket", Root, Valued);
    Declare("download_file", Root, Valued);
    Declare("write_position", Attribute, Valued);
    Declare("download_entry_status", Root, Valued);
    Declare("download_order", Attribute, Valued);
    Declare("upload_socket", Root, Valued);
    Declare("upload_file", Root, Valued);
    Declare("read_position", Attribute, Valued);
    Declare("upload_entry_status", Root, Valued);
    Declare("upload_order", Attribute, Valued);
    Declare("is_active", Attribute, Valueless);
    Declare("last_receipt_time", Attribute, Valued);
    Declare("last_speed_measurement_time", Attribute, Valued);
    Declare("bytes_per_second", Attribute, Valued);
    Declare("bytes_since_last_receipt", Attribute, Valued);
    Declare("place_in_line", Attribute, Valued);
    Declare("last_queue_request_time", Attribute, Valued);
    Declare("next_place_in_line_request_time", Attribute, Valued);
    Declare("download_thread", Root, Valued);
    Declare("subfolder_save_level", Attribute, Valued);
    Declare("last_status_change_time", Attribute, Valued);
    Declare("single_download", Attribute, Valueless);

    Relate("download_entry", "user", one, many);
    Relate("download_entry", "file_name", one, many);
    Relate("download_entry", "remote_folder", one, many);
    Relate("download_entry", "file_size", one, many);
    Relate("download_entry", "download_folder", one, many);
    Relate("download_entry", "transfer_req", one, one);
    Relate("download_entry", "remote_transfer_req", one, many);
    Relate("download_entry", "download_socket", one, one);
    Relate("download_entry", "download_thread", one, one);
    Relate("download_entry", "download_file", one, one);
    Relate("download_entry", "write_position", one, many);
    Relate("download_entry", "download_entry_status", one, many);
    Relate("download_entry", "download_order", one, one);
    Relate("download_entry", "last_receipt_time", one, one);
    Relate("download_entry", "last_speed_measurement_time", one, one);
    Relate("download_entry", "bytes_per_second", one, one);
    Relate("download_entry", "bytes_since_last_receipt", one, one);
    Relate("download_entry", "place_in_line", one, many);
    Relate("download_entry", "subfolder_save_level", one, many);
    Relate("download_entry", "last_status_change_time", one, many);
    Relate("download_entry_status", "is_active", one, many);
    Relate("download_entry", "single_download", one, many);
    Relate("user", "last_queue_request_time", one, many);
    Relate("user", "next_place_in_line_request_time", one, many);
}

void TransferQueueManager::DeclareUploadTypes()
{
    using namespace Schema;
    Declare("upload_entry", Root, Valueless);
    Declare("filename_as_requested", Attribute, Valued);
    Declare("upload_start_time", Attribute, Valued);
    Declare("bytes_uploaded", Attribute, Valued);
    Declare("upload_thread", Root, Valued);
    Declare("effective_upload_order", Attribute, Valued);

    d.GetType("bytes_uploaded")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnBytesUploadedRemoved));
    d.GetType("read_position")
        ->AddItemRemovedHandler(new EventHandler<TransferQueueManager, ItemPtr>(
            this, &TransferQueueManager::OnWritePositionRemoved));

    Relate("upload_entry", "user", one, many);
    Relate("upload_entry", "shared_file", one, many);
    Relate("upload_entry", "upload_socket", one, one);
    Relate("upload_entry", "upload_file", one, one);
    Relate("upload_entry", "read_position", one, many);
    Relate("upload_entry", "upload_entry_status", one, many);
    Relate("upload_entry", "upload_order", one, one);
    Relate("upload_entry", "transfer_req", one, one);
    Relate("upload_entry_status", "is_active", one, many);
    Relate("upload_entry", "filename_as_requested", one, many);
    Relate("upload_entry", "upload_start_time", one, many);
    Relate("upload_entry", "bytes_uploaded", one, many);
    Relate("upload_entry", "last_status_change_time", one, many);
    Relate("upload_entry", "last_receipt_time", one, one);
    Relate("upload_entry", "last_speed_measurement_time", one, one);
    Relate("upload_entry", "bytes_per_second", one, one);
    Relate("upload_entry", "bytes_since_last_receipt", one, one);
    Relate("upload_entry", "upload_thread", one, one);
    Relate("upload_entry", "effective_upload_order", one, many);
}

void TransferQueueManager::DeclareCompletionTypes()
{
    using namespace Schema;
    Declare("complete_download", Root, Valueless);
    Declare("complete_download_folder", Node, Valued);
    Declare("complete_download_relative_folder", Node, Valued);
    Declare("complete_download_filename", Attribute, Valued);
    Declare("complete_download_file_size", Attribute, Valued);
    Declare("complete_download_completion_time", Attribute, Valued);
    Relate("complete_download", "user", one, many);
    Relate("complete_download", "complete_download_folder", one, many);
    Relate("complete_download", "complete_download_relative_folder", one, many);
    Relate("complete_download", "complete_download_filename", one, many);
    Relate("complete_download", "complete_download_completion_time", one, many);
    Relate("complete_download", "complete_download_file_size", one, many);
    Relate("complete_download", "search_request_text", one, many);

    Declare("empty_share_check_status", Attribute, Valued);
    Declare("sent_empty_share_warning_message", Attribute, Valued);
    Relate("user", "empty_share_check_status", one, many);
    Relate("user", "sent_empty_share_warning_message", one, many);
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
    // Threads are only asked to stop and awaited; their objects, items and
    // sockets stay as they are for the rest of the teardown.
    OfferUploadQueueToShares(false);
    StopThreads<UploadThread>("upload_thread");
    StopThreads<DownloadThread>("download_thread");
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

void TransferQueueManager::DataLoaded()
{
    Type* statusType = d.GetType("download_entry_status");
    const ItemPtr queued = statusType->GetItem("queued");
    {
        Data::Batch batch(&d);
        for (ItemPtr entry : g("download_entry"))
            if (entry["download_entry_status"].AsString() != "complete")
                entry.Connect(queued);
    }

    if (gp_server) {
        ItemSet users;
        for (const ItemPtr& entry : g("download_entry"))
            users.Add(entry.GetItems("user"));
        for (const ItemPtr& user : users)
            gp_server->TrackUser(user.AsString());
    }

    emit TransfersLoaded();

    DetermineUploadSpeedLimit();
    DetermineDownloadSpeedLimit();

    if (GetSetting("upload_slots").toInt() < 1)
        SetSetting("upload_slots", "1");
    if (GetSetting("max_queued_uploads_per_user").toInt() <= 9)
        SetSetting("max_queued_uploads_per_user", "10");
    if (GetSetting("max_queued_mb_per_user").toInt() < 50)
        SetSetting("max_queued_mb_per_user", "50");
}

void TransferQueueManager::NoData()
{
    d.GetType("excluded_download_extension")->GetItem(".ini");
}

int TransferQueueManager::ActiveDownloadCount() const
{
    return CountRunning("download_entry", "download_entry_status");
}

int TransferQueueManager::ActiveUploadCount() const
{
    return CountRunning("upload_entry", "upload_entry_status");
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
    DetermineSpeedLimit(m_downloadLimit, "download_speed_limit", "download_speed_limit_enabled", "download_entry",
                        "download_entry_status");
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    DetermineSpeedLimit(m_uploadLimit, "upload_speed_limit", "upload_speed_limit_enabled", "upload_entry",
                        "upload_entry_status");
}

void TransferQueueManager::DetermineSpeedLimit(SpeedLimit& limit, const char* limitKey, const char* enabledKey,
                                               const char* entryType, const char* statusType)
{
    const int total = GetSetting(limitKey).toInt();
    if (total < 1 || !IsSettingOn(enabledKey)) {
        limit.Clear();
        return;
    }
    const ItemSet running = RunningEntries(entryType, statusType);
    int perTransfer = running.empty() ? total : total / int(running.size());
    if (perTransfer == 0)
        perTransfer = 1;
    limit.Set(total, perTransfer);

    for (const ItemPtr& entry : running) {
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
void TransferQueueManager::PeriodicCheck()
{
}

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
