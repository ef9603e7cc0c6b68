#include "TransferQueueManager.h"

#include <QDir>

#include "AtomicDateTime.h"
#include "Data.h"
#include "DataSaver.h"
#include "DownloadThread.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "TimerManager.h"
#include "UploadThread.h"
// Upload queue
#include <QFile>
#include <algorithm>
#include <vector>

#include "Log.h"
#include "SharedFoldersManager.h"
#include "UploadOrdering.h"
#include "UploadQueuePolicy.h"
// Download queue
#include <QCoreApplication>
#include <QFileInfo>
#include <QtEndian>

#include "GeneralFunctions.h"
#include "MemStream.h"
#include "PeerMessages.h"
#include "PeriodicDuties.h"

TransferQueueManager* transferQueueManager = nullptr;

namespace
{
void Declare(const char* name, Primacy primacy, bool isNull)
{
    d.NewType(name, primacy, isNull, true);
}

// A relation as the schema tables give it: how many b items one a holds and
// how many a items one b holds.
void Relate(const char* a, const char* b, OneOrMany aHolds, OneOrMany bHolds)
{
    d.GetType(a)->RelateToType(d.GetType(b), bHolds, aHolds, false);
}

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

    if (dataSaver) {
        dataSaver->AddSavedType("download_entry");
        for (const char* type : {"user", "file_name", "remote_folder", "file_size", "download_folder",
                                 "download_entry_status", "download_order", "subfolder_save_level"})
            dataSaver->AddSavedByConnectionType(type, "download_entry");
    }

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
    Declare("denial_reason", 2, false);
    Relate("denial_reason", "download_entry", many, one);
    Relate("denial_reason", "upload_entry", many, one);
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

    Declare("excluded_download_extension", 0, false);
    if (dataSaver)
        dataSaver->AddSavedType("excluded_download_extension");

    OfferUploadQueueToShares(true);
}

void TransferQueueManager::DeclareDownloadTypes()
{
    Declare("download_entry", 0, true);
    Declare("file_name", 2, false);
    Declare("remote_folder", 1, false);
    Declare("download_folder", 1, false);
    Declare("transfer_req", 2, false);
    Declare("remote_transfer_req", 2, false);
    Declare("download_socket", 0, false);
    Declare("download_file", 0, false);
    Declare("write_position", 2, false);
    Declare("download_entry_status", 0, false);
    Declare("download_order", 2, false);
    Declare("upload_socket", 0, false);
    Declare("upload_file", 0, false);
    Declare("read_position", 2, false);
    Declare("upload_entry_status", 0, false);
    Declare("upload_order", 2, false);
    Declare("is_active", 2, true);
    Declare("last_receipt_time", 2, false);
    Declare("last_speed_measurement_time", 2, false);
    Declare("bytes_per_second", 2, false);
    Declare("bytes_since_last_receipt", 2, false);
    Declare("place_in_line", 2, false);
    Declare("last_queue_request_time", 2, false);
    Declare("next_place_in_line_request_time", 2, false);
    Declare("download_thread", 0, false);
    Declare("subfolder_save_level", 2, false);
    Declare("last_status_change_time", 2, false);
    Declare("single_download", 2, true);

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
    Declare("upload_entry", 0, true);
    Declare("filename_as_requested", 2, false);
    Declare("upload_start_time", 2, false);
    Declare("bytes_uploaded", 2, false);
    Declare("upload_thread", 0, false);
    Declare("effective_upload_order", 2, false);

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
    Declare("complete_download", 0, true);
    Declare("complete_download_folder", 1, false);
    Declare("complete_download_relative_folder", 1, false);
    Declare("complete_download_filename", 2, false);
    Declare("complete_download_file_size", 2, false);
    Declare("complete_download_completion_time", 2, false);
    Relate("complete_download", "user", one, many);
    Relate("complete_download", "complete_download_folder", one, many);
    Relate("complete_download", "complete_download_relative_folder", one, many);
    Relate("complete_download", "complete_download_filename", one, many);
    Relate("complete_download", "complete_download_completion_time", one, many);
    Relate("complete_download", "complete_download_file_size", one, many);
    Relate("complete_download", "search_request_text", one, many);

    Declare("empty_share_check_status", 2, false);
    Declare("sent_empty_share_warning_message", 2, false);
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

// ---------------------------------------------------------------------------
// Upload queue: requests for our files, their order and slots, and each
// upload from its transfer request to its end.

namespace
{
const char* const UploadArea = "Transfer Queue";

QString Now()
{
    return QDateTime::currentDateTime().toString(Qt::TextDate);
}

void SetUserAttribute(ItemPtr user, const char* type, const QString& value)
{
    user.Connect(d.GetType(type)->GetItem(Value(value)));
}

// Removes an item whose value is the address of an object the caller
// frees, and gives that object back.
template <class T>
T* TakeObject(ItemPtr entry, const char* type)
{
    ItemPtr item = entry[type];
    if (!item)
        return nullptr;
    T* object = item.AsObject<T>();
    item.Remove();
    return object;
}
} // namespace

void TransferQueueManager::OfferUploadQueueToShares(bool offer)
{
    if (!sharedFoldersManager)
        return;
    SharedFoldersManager::UploadQueue queue;
    if (offer) {
        queue.isFreeToUpload = [this] { return IsFreeToUpload(); };
        queue.queuedUploadCount = [this] { return QueuedUploadCount(); };
        queue.unshareUser = [this](QString user) { UnshareUser(user); };
    }
    sharedFoldersManager->SetUploadQueue(queue);
}

ItemPtr TransferQueueManager::VisibleSharedFile(const QString& user, const QString& requested) const
{
    if (!sharedFoldersManager)
        return ItemPtr();
    // Only a key for the look-up: the file an upload opens is the one the
    // store names, so a name climbing out of the shares finds nothing.
    const ItemPtr file = sharedFoldersManager->GetSharedFileItem(UploadQueuePolicy::LocalPath(requested));
    if (!file || !sharedFoldersManager->IsFileSharedWithUser(file, user))
        return ItemPtr();
    return file;
}

ItemPtr TransferQueueManager::FindUploadEntry(ItemPtr user, ItemPtr sharedFile) const
{
    if (!user || !sharedFile)
        return ItemPtr();
    // Through whichever side holds fewer entries: a user may have thousands
    // queued, a popular file thousands of users.
    const bool byFile = sharedFile.CountItems("upload_entry") <= user.CountItems("upload_entry");
    const ItemPtr other = byFile ? user : sharedFile;
    for (const ItemPtr& entry : (byFile ? sharedFile : user).GetItems("upload_entry"))
        if (entry.IsConnected(other))
            return entry;
    return ItemPtr();
}

bool TransferQueueManager::RequeueExistingUpload(ItemPtr entry)
{
    if (!entry)
        return false;
    const ItemPtr status = entry["upload_entry_status"];
    const ItemPtr user = entry["user"];
    if (status.AsStdString() == "queued" || status.IsConnected("is_active")) {
        Log(UploadArea, 2, "Already queued", user);
        return true;
    }
    Log(UploadArea, 2, QString("%1, re-queueing").arg(status.AsString()), user);
    SetUploadEntryStatus(entry, "queued");
    StartNewUploads();
    return true;
}

ItemPtr TransferQueueManager::NewUploadEntry(ItemPtr user, ItemPtr sharedFile, const QString& requested)
{
    ItemPtr entry = d.GetType("upload_entry")->NewItem();
    entry.Connect(user);
    entry.Connect(sharedFile);
    entry.Connect(d.GetType("filename_as_requested")->GetItem(Value(requested)));
    SetUploadEntryStatus(entry, "queued");
    const qint64 order = GetSetting("transfer_order_counter").toLongLong();
    entry.Connect(d.GetType("upload_order")->GetItem(Value(order)));
    SetSetting("transfer_order_counter", QString::number(order + 1));
    OrderNewUpload(entry);
    Log(UploadArea, 2, "Queued", user);
    if (gp_server)
        gp_server->TrackUser(user.AsString());
    return entry;
}

void TransferQueueManager::OnQueueUploadRequested(QString user, QString file)
{
    const ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    Log(UploadArea, 1, QString("Queue upload requested by %1 for file %2").arg(user, file), userItem);

    const ItemPtr sharedFile = VisibleSharedFile(user, file);
    if (!sharedFile) {
        Log(UploadArea, 2, "Denied, file not shared", userItem);
        if (peerMessenger)
            peerMessenger->DenyUpload(user, file, "File not shared.");
        return;
    }
    if (IsRuntimeSettingOn("finish_uploads_and_quit")) {
        Log(UploadArea, 2, "Denied, pending shutdown.", userItem);
        if (peerMessenger)
            peerMessenger->DenyUpload(user, file, "Pending shutdown.");
        return;
    }
    if (RequeueExistingUpload(FindUploadEntry(userItem, sharedFile)))
        return;

    const UploadQueuePolicy::Limits limits = UploadQueuePolicy::CurrentLimits();
    int queuedFiles = 0;
    qint64 queuedBytes = 0;
    // The user's queue is only counted when a limit asks for it.
    if (limits.filesEnabled || limits.megabytesEnabled)
        UploadQueuePolicy::QueuedByUser(userItem, queuedFiles, queuedBytes);
    const UploadQueuePolicy::Refusal refusal = UploadQueuePolicy::Check(limits, queuedFiles, queuedBytes);
    if (refusal != UploadQueuePolicy::Accepted) {
        Log(UploadArea, 2, UploadQueuePolicy::LogText(refusal), userItem);
        if (peerMessenger)
            peerMessenger->DenyUpload(user, file, UploadQueuePolicy::ReasonText(refusal));
        return;
    }

    NewUploadEntry(userItem, sharedFile, file);

    if (IsSettingOn("check_for_empty_shares") && !userItem["empty_share_check_status"] &&
        !userItem.IsConnected("in_user_list")) {
        if (peerMessenger)
            peerMessenger->GetUserSharedFiles(user);
        SetUserAttribute(userItem, "empty_share_check_status", "requested");
    }
    StartNewUploads();
}

void TransferQueueManager::AddUpload(QString user, QString file)
{
    const ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    Log(UploadArea, 1, QString("Initiating upload to %1 of file %2").arg(user, file), userItem);
    const ItemPtr sharedFile = VisibleSharedFile(user, file);
    if (!sharedFile) {
        Log(UploadArea, 2,
            "Can't upload, file is either not shared or not shared with that particular user.", userItem);
        return;
    }
    // Told again even when the entry exists, in case the peer forgot it.
    if (peerMessenger)
        peerMessenger->QueueUpload(user, file, UploadQueuePolicy::SharedFileSize(sharedFile));
    if (RequeueExistingUpload(FindUploadEntry(userItem, sharedFile)))
        return;
    NewUploadEntry(userItem, sharedFile, file);
    StartNewUploads();
}

void TransferQueueManager::OnUserShare(QString user, FileInfoMap& share, AttributeTranslationTable&)
{
    // Share lists asked for by the user to browse pass through untouched.
    const ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    if (userItem["empty_share_check_status"].AsStdString() != "requested")
        return;
    if (!share.empty()) {
        SetUserAttribute(userItem, "empty_share_check_status", "not_empty");
        return;
    }
    SetUserAttribute(userItem, "empty_share_check_status", "empty");
    const QString message = GetSetting("empty_share_message");
    if (!IsSettingOn("check_for_empty_shares") || userItem.IsConnected("in_user_list") || message.isEmpty())
        return;
    if (gp_server)
        gp_server->SendPrivateChat(user, message);
    Log("Shared", 1, QString("Sent empty share warning message to user %1").arg(user));
    SetUserAttribute(userItem, "sent_empty_share_warning_message", message);
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString user, QString fileName)
{
    // Both looked up without making anything: the names come from the peer.
    const ItemPtr requested = d.GetType("filename_as_requested")->HasItem(Value(fileName));
    const ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    const ItemPtr entry = d.GetItem(requested, userItem, "upload_entry");
    if (!entry || !UploadOrdering::HasPlace(entry))
        return;
    if (peerMessenger)
        peerMessenger->SendUploadPlaceInLine(user, fileName, int(UploadOrdering::PlaceOf(entry)));
}

bool TransferQueueManager::IsFreeToUpload() const
{
    return ActiveUploadCount() < GetSetting("upload_slots").toInt();
}

int TransferQueueManager::QueuedUploadCount() const
{
    return d.GetType("upload_entry_status")->HasItem("queued").CountItems("upload_entry");
}

// Ordering and slots.

void TransferQueueManager::OrderNewUpload(ItemPtr entry)
{
    UploadOrdering::Place(entry, m_lastOrderedUpload);
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr a, ItemPtr b) const
{
    return UploadOrdering::Precedes(a, b);
}

int TransferQueueManager::GetUserGroupDownloadPriority(QString user) const
{
    return UploadOrdering::GroupPriority(d.GetType("user")->HasItem(Value(user)));
}

void TransferQueueManager::StartNewUploads()
{
    int free = GetSetting("upload_slots").toInt() - ActiveUploadCount();
    if (free <= 0)
        return;
    const std::vector<UploadOrdering::Candidate> candidates = UploadOrdering::StartCandidates();
    if (candidates.empty())
        return;

    // Users with a running upload, gathered once rather than per candidate:
    // one user may have thousands of entries queued.
    ItemSet busy;
    for (const ItemPtr& status : g("upload_entry_status").Connected("is_active"))
        for (const ItemPtr& entry : status.GetItems("upload_entry"))
            busy.insert(entry["user"]);

    qint64 place = 0;
    for (const UploadOrdering::Candidate& candidate : candidates) {
        ItemPtr entry = candidate.entry;
        if (candidate.place != place)
            UploadOrdering::SetPlace(entry, place);
        ++place;
        if (free <= 0 || !peerMessenger)
            continue;
        const ItemPtr user = candidate.user;
        if (busy.contains(user))
            continue;
        const uint token = peerMessenger->RequestUpload(user.AsString(), entry["filename_as_requested"].AsString(),
                                                        UploadQueuePolicy::SharedFileSize(entry["shared_file"]));
        SetUploadEntryStatus(entry, "requesting");
        entry.Connect(d.GetType("transfer_req")->GetItem(Value(token)));
        busy.insert(user);
        --free;
        DetermineUploadSpeedLimit();
    }
}

void TransferQueueManager::SetUploadSlots(int count)
{
    if (count < 1 || count > 99)
        return;
    const int old = GetSetting("upload_slots").toInt();
    SetSetting("upload_slots", QString::number(count));
    if (count > old)
        StartNewUploads();
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    ItemList entries = g("upload_entry").List();
    std::stable_sort(entries.begin(), entries.end(), &UploadOrdering::Precedes);
    qint64 place = 0;
    for (const ItemPtr& entry : entries)
        UploadOrdering::SetPlace(entry, place++);
}

// Status and negotiation.

void TransferQueueManager::SetUploadEntryStatus(ItemPtr entry, QString status)
{
    const bool wasRunning = entry["upload_entry_status"].IsConnected("is_active");
    const ItemPtr statusItem = d.GetType("upload_entry_status")->GetItem(Value(status));
    entry.Connect(statusItem);
    const QString now = Now();
    entry.Connect(d.GetType("last_status_change_time")->GetItem(Value(now)));

    if (wasRunning && !statusItem.IsConnected("is_active")) {
        ReleaseUploadResources(entry);
        if (status == "aborted") {
            const ItemPtr user = entry["user"];
            Log(UploadArea, 1,
                QString("Upload of %1 to %2 aborted, sending upload failed notification.")
                    .arg(UploadQueuePolicy::SharedFileName(entry["shared_file"]), user.AsString()),
                user);
            SendUploadFailed(entry);
        }
        DetermineUploadSpeedLimit();
    }
    SetRuntimeSetting("last_upload_state_change", now);
}

void TransferQueueManager::ReleaseUploadResources(ItemPtr entry)
{
    Data::Batch batch(&d);
    if (UploadThread* thread = TakeObject<UploadThread>(entry, "upload_thread")) {
        thread->SignalExit();
        thread->wait();
        thread->deleteLater();
    }
    if (QFile* file = TakeObject<QFile>(entry, "upload_file")) {
        file->close();
        delete file;
    }
    if (QTcpSocket* socket = TakeObject<QTcpSocket>(entry, "upload_socket")) {
        socket->disconnect();
        socket->close();
        socket->deleteLater();
    }
    // Removing these items is what frees their values (the remove
    // handlers); a value freed any other way would be freed again when its
    // item goes.
    for (const char* type : {"read_position", "last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
                             "bytes_since_last_receipt"})
        if (ItemPtr item = entry[type])
            item.Remove();
}

void TransferQueueManager::SendUploadFailed(ItemPtr entry)
{
    if (!peerMessenger)
        return;
    MemStream message;
    message.Write(quint32(46));
    message.Write(entry["filename_as_requested"].AsStdString());
    peerMessenger->SendMessage(entry["user"].AsString(), message);
}

void TransferQueueManager::OnFileTransferResponse(QString user, uint req, bool accepted, bool, qint64,
                                                  QString denialReason)
{
    const ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    Log(UploadArea, 1,
        QString("Received file transfer response from user %1 for req %2, transfer %3")
            .arg(user)
            .arg(req)
            .arg(accepted ? "accepted" : "not accepted"),
        userItem);
    const ItemPtr token = d.GetType("transfer_req")->HasItem(Value(req));
    if (!token) {
        Log(UploadArea, 2, "req not found", userItem);
        return;
    }
    if (token["download_entry"]) {
        Log(UploadArea, 2, "Found download, not processing", userItem);
        return;
    }
    ItemPtr entry = token["upload_entry"];
    if (!entry) {
        Log(UploadArea, 2, "Neither upload or download attached to req, weird", userItem);
        return;
    }
    Log(UploadArea, 2, "Found upload", userItem);
    const QString owner = entry["user"].AsString();
    if (owner != user) {
        Log(UploadArea, 2,
            QString("Upload user %1 not the same as user who opened the connection, not doing anything").arg(owner),
            userItem);
        return;
    }
    if (!accepted) {
        Log(UploadArea, 2, QString("Upload was not accepted, marking denied. Reason: %1").arg(denialReason),
            userItem);
        entry.Connect(d.GetType("denial_reason")->GetItem(Value(denialReason)));
        SetUploadEntryStatus(entry, "denied");
        StartNewUploads();
        return;
    }
    const QString status = entry["upload_entry_status"].AsString();
    if (status != "requesting") {
        Log(UploadArea, 2,
            QString("Upload no longer in requesting phase, instead status is %1. Not processing.").arg(status),
            userItem);
        return;
    }

    const QString path = UploadQueuePolicy::SharedFilePath(entry["shared_file"]);
    QFile* file = path.isEmpty() ? nullptr : new QFile(path);
    if (!file || !file->open(QIODevice::ReadOnly)) {
        delete file;
        Log(UploadArea, 2,
            "File could not be opened, marking local error and sending denial message. Shouldn't we have done "
            "this before we requested the transfer?",
            userItem);
        // The requested name: that is how the peer knows its download.
        if (peerMessenger)
            peerMessenger->DenyUpload(user, entry["filename_as_requested"].AsString(), "File read error.");
        SetUploadEntryStatus(entry, "local error");
        StartNewUploads();
        return;
    }
    Log(UploadArea, 2, "Requesting file connection to user", userItem);
    if (peerMessenger)
        peerMessenger->RequestFileConnectionToUser(user);
    entry.Connect(d.GetType("upload_file")->GetItem(Value(file)));
    SetUploadEntryStatus(entry, "connecting");
}

void TransferQueueManager::OnFileConnectionAccepted(QString user, QTcpSocket* socket)
{
    ItemPtr entry;
    const ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    for (const ItemPtr& e : userItem.GetItems("upload_entry")) {
        if (e["upload_entry_status"].AsStdString() == "connecting" && e["upload_file"]) {
            entry = e;
            break;
        }
    }
    if (!entry) {
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        return;
    }

    entry.Connect(d.GetType("upload_socket")->GetItem(Value(socket)));
    const QDateTime now = QDateTime::currentDateTime();
    auto* receiptTime = new AtomicDateTime(now);
    auto* measurementTime = new AtomicDateTime(now);
    auto* speed = new TransferCounter32(0);
    auto* sinceReceipt = new TransferCounter64(0);
    auto* position = new TransferCounter64(0);
    SetUploadEntryStatus(entry, "uploading");
    entry.Connect(d.GetType("last_receipt_time")->GetItem(Value(receiptTime)));
    entry.Connect(d.GetType("last_speed_measurement_time")->GetItem(Value(measurementTime)));
    entry.Connect(d.GetType("bytes_per_second")->GetItem(Value(speed)));
    entry.Connect(d.GetType("bytes_since_last_receipt")->GetItem(Value(sinceReceipt)));
    entry.Connect(d.GetType("read_position")->GetItem(Value(position)));

    const quint32 token = entry["transfer_req"].AsUInt();
    socket->disconnect();
    auto* thread = new UploadThread(socket, entry["upload_file"].AsObject<QFile>(), int(token));
    socket->setParent(nullptr);
    socket->moveToThread(thread);
    entry.Connect(d.GetType("upload_thread")->GetItem(Value(thread)));
    connect(thread, &UploadThread::UploadError, this, &TransferQueueManager::OnUploadError);
    connect(thread, &UploadThread::UploadProgress, this, &TransferQueueManager::OnUploadProgress);
    connect(thread, &UploadThread::UploadComplete, this, &TransferQueueManager::OnUploadComplete);
    thread->start(QThread::InheritPriority);
}

ItemPtr TransferQueueManager::UploadEntryOfSender() const
{
    UploadThread* thread = qobject_cast<UploadThread*>(sender());
    if (!thread)
        return ItemPtr();
    return d.GetType("upload_thread")->HasItem(Value(thread))["upload_entry"];
}

void TransferQueueManager::OnUploadProgress(qint64 offset, int bytesPerSecond)
{
    const ItemPtr entry = UploadEntryOfSender();
    if (!entry)
        return;
    if (auto* position = entry["read_position"].AsObject<TransferCounter64>())
        position->store(offset);
    if (auto* speed = entry["bytes_per_second"].AsObject<TransferCounter32>())
        speed->store(bytesPerSecond);
    if (auto* receipt = entry["last_receipt_time"].AsObject<AtomicDateTime>())
        receipt->SetCurrent();
    emit UploadProgressed(entry);
}

void TransferQueueManager::OnUploadComplete()
{
    const ItemPtr entry = UploadEntryOfSender();
    if (!entry)
        return;
    const auto* measured = entry["bytes_per_second"].AsObject<TransferCounter32>();
    const int speed = measured ? measured->load() : 0;
    Log(UploadArea, 1, QString("Recording upload speed of %1").arg(speed));
    if (UploadQueuePolicy::SharedFileSize(entry["shared_file"]) > 1048576 && speed > 0 && gp_server)
        gp_server->SendUploadSpeed(speed);
    SetUploadEntryStatus(entry, "complete");
    StartNewUploads();
}

void TransferQueueManager::OnUploadError(QString reason)
{
    const ItemPtr entry = UploadEntryOfSender();
    if (!entry)
        return;
    const ItemPtr user = entry["user"];
    Log(UploadArea, 1,
        QString("Error uploading %1 to %2. %3")
            .arg(UploadQueuePolicy::SharedFilePath(entry["shared_file"]), user.AsString(), reason),
        user);
    SetUploadEntryStatus(entry, "aborted");
    StartNewUploads();
}

void TransferQueueManager::RemoveUpload(ItemPtr entry)
{
    if (!entry)
        return;
    DropUploadEntry(entry);
    StartNewUploads();
}

void TransferQueueManager::DropUploadEntry(ItemPtr entry)
{
    Data::Batch batch(&d);
    ReleaseUploadResources(entry);
    if (m_lastOrderedUpload == entry)
        m_lastOrderedUpload = ItemPtr();
    entry.Remove();
}

void TransferQueueManager::UnshareUser(QString user)
{
    ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    if (d.HasType("unshared"))
        userItem.NewItem("unshared");
    // All of the user's entries go before the queue moves on: starting
    // after each removal would send the user transfer requests for files
    // that are refused a moment later.
    {
        Data::Batch batch(&d);
        for (const ItemPtr& entry : userItem.GetItems("upload_entry")) {
            if (peerMessenger)
                peerMessenger->DenyUpload(user, entry["filename_as_requested"].AsString(), "File not shared.");
            DropUploadEntry(entry);
        }
    }
    StartNewUploads();
}

void TransferQueueManager::ReshareUser(QString user)
{
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    if (userItem && d.HasType("unshared"))
        userItem.Disconnect("unshared");
}

// ---------------------------------------------------------------------------
// Download queue: the client's downloads and their local places, the
// downloader's side of each transfer, and the half-minute duties.

namespace downloads
{
const char* const Area = "Transfer Queue";

ItemPtr UserItem(const QString& name)
{
    return d.GetType("user")->HasItem(Value(name));
}

QString StatusText(ItemPtr entry)
{
    return entry["download_entry_status"].AsString();
}

// The time this many seconds from now, on a user.
void SetUserTime(ItemPtr user, const char* type, int secondsFromNow = 0)
{
    if (user)
        user.Connect(d.GetType(type)->NewItem(Value(PeriodicDuties::NowText(secondsFromNow))));
}

// Removing the item frees the heap value behind it (remove handlers).
void RemoveTransient(ItemPtr entry, const char* type)
{
    if (ItemPtr item = entry[type])
        item.Remove();
}

ItemSet Keys(ItemPtr a, ItemPtr b, ItemPtr c)
{
    ItemSet keys;
    keys.insert(a);
    keys.insert(b);
    keys.insert(c);
    return keys;
}
} // namespace downloads

ItemPtr TransferQueueManager::AddDownload(QString user, std::string fileName, std::string folder, qint64 size,
                                          bool singleDownload, int subfolderSaveLevel)
{
    if (ItemPtr existing = GetDownloadEntry(user, fileName, folder))
        return existing;
    ItemPtr userItem = d.GetType("user")->NewItem(Value(user));
    const DownloadPaths::Options options = DownloadPathOptions();
    // A name that would be written outside the download folder, or that
    // names no file, is not queued at all.
    const int level = subfolderSaveLevel;
    if (DownloadPaths::TargetPath(options, true, folder, level, singleDownload, fileName, false).isEmpty() ||
        DownloadPaths::TargetPath(options, true, folder, level, singleDownload, fileName, true).isEmpty()) {
        Log(downloads::Area, 1,
            QString("Not queueing %1 from %2: the name cannot be saved inside the download folder")
                .arg(ToQString(folder + "\\" + fileName), user),
            userItem);
        return ItemPtr();
    }

    ItemPtr entry = NewDownloadEntry(userItem, fileName, folder, size, singleDownload, subfolderSaveLevel);
    if (gp_server)
        gp_server->TrackUser(user);
    if (IsDownloadFileComplete(entry)) {
        SetDownloadEntryStatus(entry, "complete");
        return entry;
    }
    SetDownloadEntryStatus(entry, "queued");
    if (userItem.IsConnected("is_online")) {
        if (peerMessenger)
            peerMessenger->QueueDownload(user, RemoteDownloadPath(entry));
    } else {
        downloads::SetUserTime(userItem, "next_place_in_line_request_time", 10);
    }
    return entry;
}

ItemPtr TransferQueueManager::NewDownloadEntry(ItemPtr user, const std::string& fileName, const std::string& folder,
                                               qint64 size, bool singleDownload, int subfolderSaveLevel)
{
    ItemPtr entry = d.GetType("download_entry")->NewItem();
    entry.Connect(user);
    entry.Connect(d.GetType("file_name")->NewItem(Value(fileName)));
    entry.Connect(d.GetType("remote_folder")->NewItem(Value(folder)));
    entry.Connect(d.GetType("file_size")->NewItem(Value(static_cast<long long>(size))));
    entry.Connect(d.GetType("subfolder_save_level")->NewItem(Value(subfolderSaveLevel)));
    if (singleDownload)
        entry.NewItem("single_download");
    const qint64 order = GetSetting("transfer_order_counter").toLongLong();
    entry.Connect(d.GetType("download_order")->NewItem(Value(static_cast<long long>(order))));
    SetSetting("transfer_order_counter", QString::number(order + 1));
    return entry;
}

ItemPtr TransferQueueManager::GetDownloadEntry(QString user, std::string fileName, std::string folder) const
{
    ItemPtr userItem = downloads::UserItem(user);
    ItemPtr nameItem = d.GetType("file_name")->HasItem(Value(fileName));
    ItemPtr folderItem = d.GetType("remote_folder")->HasItem(Value(folder));
    if (!userItem || !nameItem || !folderItem)
        return ItemPtr();
    return d.GetItem(downloads::Keys(userItem, nameItem, folderItem), "download_entry");
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr entry, QString status)
{
    if (!entry)
        return;
    const bool wasActive = entry["download_entry_status"].IsConnected("is_active");
    ItemPtr statusItem = d.GetType("download_entry_status")->NewItem(Value(status));
    entry.Connect(statusItem);
    entry.Connect(d.GetType("last_status_change_time")->NewItem(Value(PeriodicDuties::NowText())));
    const bool isActive = statusItem.IsConnected("is_active");
    if (!wasActive && isActive) {
        DetermineDownloadSpeedLimit();
    } else if (wasActive && !isActive) {
        ReleaseDownloadResources(entry, true);
        downloads::SetUserTime(entry["user"], "last_queue_request_time");
        DetermineDownloadSpeedLimit();
    }
}

void TransferQueueManager::ReleaseDownloadResources(ItemPtr entry, bool later)
{
    // The thread owns socket and file while it runs: it is stopped and
    // awaited before either is touched.
    if (ItemPtr item = entry["download_thread"]) {
        DownloadThread* thread = item.AsObject<DownloadThread>();
        item.Remove();
        if (thread) {
            thread->SignalExit();
            thread->wait();
            if (later)
                thread->deleteLater();
            else
                delete thread;
        }
    }
    if (ItemPtr item = entry["download_file"]) {
        QFile* file = item.AsObject<QFile>();
        item.Remove();
        if (file) {
            file->close();
            delete file;
        }
    }
    if (ItemPtr item = entry["download_socket"]) {
        QTcpSocket* socket = item.AsObject<QTcpSocket>();
        item.Remove();
        if (socket) {
            if (!later)
                socket->disconnect();
            socket->close();
            if (later)
                socket->deleteLater();
            else
                delete socket;
        }
    }
    for (const char* type : {"write_position", "last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
                             "bytes_since_last_receipt"})
        downloads::RemoveTransient(entry, type);
}

void TransferQueueManager::RemoveDownload(ItemPtr entry)
{
    if (!entry)
        return;
    const bool wasActive = entry["download_entry_status"].IsConnected("is_active");
    ReleaseDownloadResources(entry, false);
    entry.Remove();
    if (wasActive)
        DetermineDownloadSpeedLimit();
}

void TransferQueueManager::RequeueDownload(ItemPtr entry)
{
    ItemPtr status = entry["download_entry_status"];
    if (!entry || status.AsString() == "complete" || status.IsConnected("is_active"))
        return;
    if (IsDownloadFileComplete(entry)) {
        SetDownloadEntryStatus(entry, "complete");
        return;
    }
    ItemPtr user = entry["user"];
    if (peerMessenger)
        peerMessenger->QueueDownload(user.AsString(), RemoteDownloadPath(entry));
    SetDownloadEntryStatus(entry, "queued");
    Log(downloads::Area, 2, QString("Queueing %1").arg(entry["file_name"].AsString()), user);
}

void TransferQueueManager::RequeueUserDownloads(ItemPtr user)
{
    const ItemSet entries = user.GetItems("download_entry");
    if (entries.empty())
        return;
    Log(downloads::Area, 1, QString("Requeueing downloads from user %1").arg(user.AsString()), user);
    Data::Batch batch(&d);
    for (const ItemPtr& entry : entries.SortNumericBy("download_order", true)) {
        const QString status = downloads::StatusText(entry);
        if (status == "complete" || status == "denied")
            continue;
        RequeueDownload(entry);
    }
    downloads::SetUserTime(user, "last_queue_request_time");
    downloads::SetUserTime(user, "next_place_in_line_request_time", 30);
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr entry)
{
    ItemPtr user = entry["user"];
    const QString status = downloads::StatusText(entry);
    const QString path = ToQString(RemoteDownloadPath(entry));
    if (status == "local error") {
        Log(downloads::Area, 1, QString("Download status %1, not re-queueing %2").arg(status, path), user);
        return;
    }
    if (user.IsConnected("is_online")) {
        Log(downloads::Area, 1,
            QString("User %1 appears to still be online, re-queueing %2").arg(user.AsString(), path), user);
        if (peerMessenger)
            peerMessenger->QueueDownload(user.AsString(), RemoteDownloadPath(entry));
    } else {
        Log(downloads::Area, 1, QString("User %1 offline, not re-queueing %2").arg(user.AsString(), path), user);
    }
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(QString user) const
{
    ItemPtr userItem = downloads::UserItem(user);
    ItemPtr downloading = d.GetType("download_entry_status")->HasItem(Value("downloading"));
    if (!userItem || !downloading)
        return false;
    for (const ItemPtr& entry : userItem.GetItems("download_entry"))
        if (entry.IsConnected(downloading))
            return true;
    return false;
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr entry)
{
    ItemPtr user = entry["user"];
    MemStream message;
    message.Write(quint32(PeerMessages::PlaceInLineRequest));
    message.Write(RemoteDownloadPath(entry));
    Log(downloads::Area, 1,
        QString("Requesting place in line for download of %1 from %2")
            .arg(entry["file_name"].AsString(), user.AsString()),
        user);
    if (peerMessenger)
        peerMessenger->SendMessage(user.AsString(), message);
}

bool TransferQueueManager::HasExcludedDownloadExtension(QString path) const
{
    for (const ItemPtr& extension : g("excluded_download_extension"))
        if (path.endsWith(extension.AsString(), Qt::CaseInsensitive))
            return true;
    return false;
}

void TransferQueueManager::OnUserOnline(ItemPtr user)
{
    Log(downloads::Area, 1, QString("User %1 went online").arg(user.AsString()), user);
    RequeueUserDownloads(user);
    StartNewUploads();
}

void TransferQueueManager::OnDownloadPlaceInLine(QString user, std::string file, int place)
{
    ItemPtr entry = GetDownloadEntry(user, GetFileName(file), GetFolder(file));
    if (entry)
        entry.Connect(d.GetType("place_in_line")->NewItem(Value(place)));
}

void TransferQueueManager::OnUploadFailedNotification(QString user, std::string file)
{
    ItemPtr userItem = downloads::UserItem(user);
    Log(downloads::Area, 1,
        QString("Received peer notification from %1 that upload of %2 failed").arg(user, ToQString(file)), userItem);
    ItemPtr entry = GetDownloadEntry(user, GetFileName(file), GetFolder(file));
    if (!entry) {
        Log(downloads::Area, 2, "Download not found.", userItem);
        return;
    }
    Log(downloads::Area, 2, "Download found!", userItem);
    QueueDownloadIfUserOnline(entry);
    downloads::SetUserTime(userItem, "last_queue_request_time");
}

void TransferQueueManager::OnUploadDeniedNotification(QString user, std::string file, QString reason)
{
    ItemPtr userItem = downloads::UserItem(user);
    Log(downloads::Area, 1,
        QString("Received peer notification from %1 that upload of %2 was denied, reason: %3")
            .arg(user, ToQString(file), reason),
        userItem);
    ItemPtr entry = GetDownloadEntry(user, GetFileName(file), GetFolder(file));
    if (!entry) {
        Log(downloads::Area, 2, "Download not found.", userItem);
        return;
    }
    Log(downloads::Area, 2, "Download found, marking as denied.", userItem);
    entry.Connect(d.GetType("denial_reason")->NewItem(Value(reason)));
    SetDownloadEntryStatus(entry, "denied");
}

ItemPtr TransferQueueManager::DownloadEntryOfSender() const
{
    DownloadThread* thread = qobject_cast<DownloadThread*>(sender());
    if (!thread)
        return ItemPtr();
    return d.GetType("download_thread")->HasItem(Value(thread))["download_entry"];
}

void TransferQueueManager::OnDownloadProgress(qint64 offset, int bytesPerSecond)
{
    ItemPtr entry = DownloadEntryOfSender();
    if (!entry)
        return;
    if (TransferCounter64* position = entry["write_position"].AsObject<TransferCounter64>())
        position->store(offset);
    if (TransferCounter32* speed = entry["bytes_per_second"].AsObject<TransferCounter32>())
        speed->store(bytesPerSecond);
    if (AtomicDateTime* receipt = entry["last_receipt_time"].AsObject<AtomicDateTime>())
        receipt->SetCurrent();
    emit DownloadProgressed(entry);
}

// Negotiation and completion.

bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(QString user) const
{
    ItemPtr inList = downloads::UserItem(user)["in_user_list"];
    if (inList && IsSettingOn("accept_userlist_uploads"))
        return true;
    for (const ItemPtr& group : inList.GetItems("user_list_group"))
        if (group.IsConnected("accept_uploads"))
            return true;
    return false;
}

void TransferQueueManager::OnFileTransferRequest(QString user, int direction, uint req, std::string file,
                                                 qint64 fileSize)
{
    const std::string folder = GetFolder(file);
    const std::string name = GetFileName(file);
    if (direction != 1) {
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(user, req, "Queued");
        OnQueueUploadRequested(user, ToQString(file));
        return;
    }

    ItemPtr userItem = downloads::UserItem(user);
    Log(downloads::Area, 1,
        QString("Received upload request from %1 for file %2, req %3")
            .arg(user, ToQString(file), QString::number(req)),
        userItem);
    auto deny = [&](const QString& reason) {
        Log(downloads::Area, 2, "Denied, " + reason, userItem);
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(user, req, reason);
    };
    auto unsafe = [&] {
        Log(downloads::Area, 1,
            QString("The name %1 from %2 cannot be saved inside the download folder").arg(ToQString(file), user),
            userItem);
        deny("Cancelled");
    };

    ItemPtr entry = GetDownloadEntry(user, name, folder);
    if (!entry) {
        if (!CanAcceptUserInitiatedUploadsFrom(user)) {
            deny("Cancelled");
            return;
        }
        const DownloadPaths::Options options = DownloadPathOptions();
        if (DownloadPaths::TargetPath(options, true, folder, 0, false, name, false).isEmpty() ||
            DownloadPaths::TargetPath(options, true, folder, 0, false, name, true).isEmpty()) {
            unsafe();
            return;
        }
        userItem = d.GetType("user")->NewItem(Value(user));
        entry = NewDownloadEntry(userItem, name, folder, fileSize, false, 0);
        if (gp_server)
            gp_server->TrackUser(user);
        SetDownloadEntryStatus(entry, "queued");
    } else if (downloads::StatusText(entry) == "complete") {
        deny("Complete");
        return;
    } else if (!HasSafeDownloadPaths(entry)) {
        unsafe();
        return;
    }

    // The file connection is matched against the latest token of each of
    // this user's entries only.
    ItemPtr token = d.GetType("remote_transfer_req")->NewItem(Value(req));
    for (ItemPtr other : token.GetItems("download_entry"))
        if (other.IsConnected(userItem))
            other.Disconnect(token);
    entry.Connect(token);

    if (downloads::StatusText(entry) == "downloading") {
        Log(downloads::Area, 2, "Transfer is already downloading, cancelling...", userItem);
        SetDownloadEntryStatus(entry, "aborted");
    }
    if (peerMessenger)
        peerMessenger->AcceptTransferRequest(user, req, false, 0);
    Log(downloads::Area, 2, "Accepted", userItem);
}

void TransferQueueManager::OnQueueDownloadRequested(QString user, std::string fileName, qint64 fileSize)
{
    if (CanAcceptUserInitiatedUploadsFrom(user))
        AddDownload(user, GetFileName(fileName), GetFolder(fileName), fileSize, false, 0);
}

void TransferQueueManager::DropFileConnection(QTcpSocket* socket)
{
    socket->close();
    socket->deleteLater();
}

void TransferQueueManager::OnFileConnection(QString user, QTcpSocket* socket, uint requestID)
{
    if (!socket)
        return;
    ItemPtr userItem = downloads::UserItem(user);
    Log(downloads::Area, 1,
        QString("File connection created by user %1 for req %2").arg(user, QString::number(requestID)), userItem);
    ItemPtr token = d.GetType("remote_transfer_req")->HasItem(Value(requestID));
    ItemPtr entry = d.GetItem(token, userItem, "download_entry");
    if (!entry) {
        DropFileConnection(socket);
        Log(downloads::Area, 2, "Download not found, aborting", userItem);
        return;
    }
    // Two threads must never append to one partial file.
    if (downloads::StatusText(entry) == "downloading") {
        Log(downloads::Area, 2, "Transfer is already downloading, cancelling...", userItem);
        SetDownloadEntryStatus(entry, "aborted");
    }

    const QString partialPath = GetDownloadTargetPath(entry, false);
    if (partialPath.isEmpty() || GetDownloadTargetPath(entry, true).isEmpty()) {
        SetDownloadEntryStatus(entry, "local error");
        DropFileConnection(socket);
        Log(downloads::Area, 1,
            QString("The name %1 cannot be saved inside the download folder, aborting")
                .arg(ToQString(RemoteDownloadPath(entry))),
            userItem);
        return;
    }
    QDir().mkpath(DownloadPaths::Local(GetDownloadTargetFolder(entry, false)));
    QFile* file = new QFile(DownloadPaths::Local(partialPath));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        SetDownloadEntryStatus(entry, "local error");
        delete file;
        DropFileConnection(socket);
        Log(downloads::Area, 2, "Could not open file, aborting", userItem);
        return;
    }
    const qint64 offset = file->size();
    const qint64 expectedSize = entry["file_size"].AsInt64();
    // Appending cannot turn a partial file longer than the file into it.
    if (offset > expectedSize) {
        SetDownloadEntryStatus(entry, "local error");
        file->close();
        delete file;
        DropFileConnection(socket);
        Log(downloads::Area, 1,
            QString("Partial file %1 holds %2 bytes, more than the %3 expected, aborting")
                .arg(DownloadPaths::Local(partialPath), QString::number(offset), QString::number(expectedSize)),
            userItem);
        return;
    }
    uchar offsetBytes[8];
    qToLittleEndian<qint64>(offset, offsetBytes);
    socket->write(reinterpret_cast<const char*>(offsetBytes), sizeof offsetBytes);
    socket->flush();

    const QDateTime connected = QDateTime::currentDateTime();
    entry.Connect(d.GetType("download_socket")->NewItem(Value(socket)));
    entry.Connect(d.GetType("download_file")->NewItem(Value(file)));
    entry.Connect(d.GetType("write_position")->NewItem(Value(new TransferCounter64(offset))));
    SetDownloadEntryStatus(entry, "downloading");
    entry.Connect(d.GetType("last_receipt_time")->NewItem(Value(new AtomicDateTime(connected))));
    entry.Connect(d.GetType("last_speed_measurement_time")->NewItem(Value(new AtomicDateTime(connected))));
    entry.Connect(d.GetType("bytes_per_second")->NewItem(Value(new TransferCounter32(0))));
    entry.Connect(d.GetType("bytes_since_last_receipt")->NewItem(Value(new TransferCounter64(0))));

    socket->disconnect();
    DownloadThread* thread = new DownloadThread(socket, file, expectedSize, offset);
    socket->setParent(nullptr);
    socket->moveToThread(thread);
    entry.Connect(d.GetType("download_thread")->NewItem(Value(thread)));
    connect(thread, &DownloadThread::DownloadError, this, &TransferQueueManager::OnDownloadError);
    connect(thread, &DownloadThread::DownloadProgress, this, &TransferQueueManager::OnDownloadProgress);
    connect(thread, &DownloadThread::DownloadComplete, this, &TransferQueueManager::OnDownloadComplete);
    thread->start(QThread::InheritPriority);
    Log(downloads::Area, 2, "Downloading", userItem);
}

void TransferQueueManager::OnDownloadComplete()
{
    ItemPtr entry = DownloadEntryOfSender();
    if (!entry)
        return;
    qobject_cast<DownloadThread*>(sender())->wait();
    FinishDownload(entry);
}

void TransferQueueManager::FinishDownload(ItemPtr entry)
{
    if (IsSettingOn("dont_split_downloads")) {
        SetDownloadEntryStatus(entry, "complete");
        AddCompletionRecord(entry);
        return;
    }
    // The file that was written, even if the download folder setting
    // changed while it ran.
    QFile* partial = entry["download_file"].AsObject<QFile>();
    const QString source =
        partial ? partial->fileName() : DownloadPaths::Local(GetDownloadTargetPath(entry, false));
    const QString target = DownloadPaths::Local(GetDownloadTargetPath(entry, true));
    bool moved = false;
    if (!target.isEmpty() && !source.isEmpty()) {
        QDir().mkpath(DownloadPaths::Local(GetDownloadTargetFolder(entry, true)));
        moved = QFile::rename(source, target);
    }
    if (!moved) {
        // Reported as an error, and the bytes stay where they are.
        Log(downloads::Area, 1,
            QString("Could not move finished file %1 to %2; it stays where it is").arg(source, target),
            entry["user"]);
        SetDownloadEntryStatus(entry, "local error");
        return;
    }
    SetDownloadEntryStatus(entry, "complete");
    RemoveDownloadDownloadingFolderIfAppropriate(entry);
    AddCompletionRecord(entry);
}

void TransferQueueManager::AddCompletionRecord(ItemPtr entry)
{
    ItemPtr user = entry["user"];
    ItemPtr folder = d.GetType("complete_download_folder")->NewItem(Value(GetDownloadTargetFolder(entry, true)));
    ItemPtr name = d.GetType("complete_download_filename")
                       ->NewItem(Value(DownloadPaths::SafeComponent(entry["file_name"].AsString())));
    if (d.GetItem(downloads::Keys(user, folder, name), "complete_download"))
        return;
    ItemPtr record = d.GetType("complete_download")->NewItem();
    record.Connect(user);
    record.Connect(folder);
    record.Connect(
        d.GetType("complete_download_relative_folder")->NewItem(Value(GetDownloadRelativeDownloadFolder(entry))));
    record.Connect(name);
    record.Connect(d.GetType("complete_download_file_size")->NewItem(Value(entry["file_size"].AsStdString())));
    record.Connect(d.GetType("complete_download_completion_time")->NewItem(Value(PeriodicDuties::NowText())));
    if (ItemPtr search = entry["search_request_text"])
        record.Connect(search);
    emit CompleteDownloadAdded(record);
}

void TransferQueueManager::OnDownloadError(QString reason)
{
    ItemPtr entry = DownloadEntryOfSender();
    if (!entry)
        return;
    ItemPtr user = entry["user"];
    Log(downloads::Area, 1,
        QString("Error downloading %1 from %2. %3").arg(entry["file_name"].AsString(), user.AsString(), reason),
        user);
    SetDownloadEntryStatus(entry, "aborted");
}

// Folders and paths.

DownloadPaths::Options TransferQueueManager::DownloadPathOptions() const
{
    DownloadPaths::Options options;
    options.downloadFolder = GetSetting("download_folder");
    options.dontSplit = IsSettingOn("dont_split_downloads");
    options.flattenSingle = IsSettingOn("dont_create_subfolders_for_single_downloads");
    return options;
}

std::string TransferQueueManager::RemoteDownloadPath(ItemPtr entry) const
{
    return entry["remote_folder"].AsStdString() + "\\" + entry["file_name"].AsStdString();
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr entry, bool complete) const
{
    ItemPtr folder = entry["remote_folder"];
    return DownloadPaths::TargetFolder(DownloadPathOptions(), bool(folder), folder.AsStdString(),
                                       entry["subfolder_save_level"].AsInt(), entry.IsConnected("single_download"),
                                       complete);
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr entry, bool complete) const
{
    ItemPtr folder = entry["remote_folder"];
    return DownloadPaths::TargetPath(DownloadPathOptions(), bool(folder), folder.AsStdString(),
                                     entry["subfolder_save_level"].AsInt(), entry.IsConnected("single_download"),
                                     entry["file_name"].AsStdString(), complete);
}

bool TransferQueueManager::HasSafeDownloadPaths(ItemPtr entry) const
{
    return !GetDownloadTargetPath(entry, false).isEmpty() && !GetDownloadTargetPath(entry, true).isEmpty();
}

bool TransferQueueManager::IsDownloadFileComplete(ItemPtr entry) const
{
    const QString path = GetDownloadTargetPath(entry, true);
    if (path.isEmpty())
        return false;
    const QFileInfo info(DownloadPaths::Local(path));
    return info.isFile() && info.size() >= entry["file_size"].AsInt64();
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr entry) const
{
    ItemPtr folder = entry["remote_folder"];
    return DownloadPaths::RelativeFolder(bool(folder), folder.AsStdString(), entry["subfolder_save_level"].AsInt());
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr entry)
{
    if (entry.IsConnected("single_download"))
        return;
    for (const ItemPtr& other : entry["remote_folder"].GetItems("download_entry"))
        if (downloads::StatusText(other) != "complete")
            return;
    const QString root = DownloadPaths::Local(GetSetting("download_folder"));
    QString folder = GetDownloadTargetFolder(entry, false);
    const int removals = std::max(entry["subfolder_save_level"].AsInt(), 0) + 1;
    // Each step climbs one level; the walk ends at the download folder,
    // which stays, as does everything above it.
    for (int i = 0; i < removals; ++i) {
        const QString local = DownloadPaths::Local(folder);
        if (!DownloadPaths::IsInside(local, root))
            break;
        QDir().rmdir(local);
        folder = QString::fromStdString(GetParentFolder(folder.toStdString()));
    }
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

void TransferQueueManager::AbortStalledUploadNegotiations(qint64 now)
{
    Type* statusType = d.GetType("upload_entry_status");
    ItemSet negotiating;
    for (const char* status : {"requesting", "connecting", "waiting for offset"})
        negotiating.Add(statusType->HasItem(Value(status)).GetItems("upload_entry"));
    const bool named = d.HasType("shared_file_name") != nullptr;
    int aborted = 0;
    Data::Batch batch(&d);
    for (const ItemPtr& upload : negotiating) {
        if (upload.IsRemoved() ||
            !PeriodicDuties::NegotiationTimedOut(upload["last_status_change_time"].AsString(), now))
            continue;
        const QString file = named ? upload["shared_file"]["shared_file_name"].AsString() : QString();
        Log(downloads::Area, 1,
            QString("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(file, upload["user"].AsString(), upload["upload_entry_status"].AsString()));
        SetUploadEntryStatus(upload, "aborted");
        ++aborted;
    }
    if (aborted > 0)
        StartNewUploads();
}

void TransferQueueManager::RenewDownloadRequests(qint64 now)
{
    ItemPtr queued = d.GetType("download_entry_status")->HasItem(Value("queued"));
    if (!queued)
        return;
    ItemSet users;
    for (const ItemPtr& entry : queued.GetItems("download_entry"))
        users.insert(entry["user"]);
    users = users.Connected("is_online");

    Data::Batch batch(&d);
    for (const ItemPtr& user : users) {
        if (IsActivelyDownloadingFromUser(user.AsString()) ||
            !PeriodicDuties::QueueRequestDue(user["last_queue_request_time"].AsString(), now))
            continue;
        RequeueUserDownloads(user);
    }
    for (const ItemPtr& user : users) {
        if (IsActivelyDownloadingFromUser(user.AsString()) ||
            !PeriodicDuties::PlaceInLineRequestDue(user["next_place_in_line_request_time"].AsString(), now))
            continue;
        const ItemSet waiting = user.GetItems("download_entry").Connected(queued);
        for (const ItemPtr& entry : waiting.SortNumericBy("download_order", true))
            RequestDownloadPlaceInLine(entry);
        downloads::SetUserTime(user, "next_place_in_line_request_time", PeriodicDuties::PlaceInLineIntervalSeconds);
    }
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
