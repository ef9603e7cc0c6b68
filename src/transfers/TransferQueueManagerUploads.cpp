// The upload queue of TransferQueueManager: requests for our files, their
// order and slots, and each upload from its transfer request to its end.
#include "TransferQueueManager.h"

#include <QFile>
#include <algorithm>
#include <vector>

#include "AtomicDateTime.h"
#include "Data.h"
#include "Log.h"
#include "MemStream.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "PeriodicDuties.h"
#include "SendQueue.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ShareNames.h"
#include "SharedFoldersManager.h"
#include "TransferNames.h"
#include "UploadOrdering.h"
#include "UploadQueuePolicy.h"
#include "UploadTally.h"
#include "UploadThread.h"

namespace {
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
        connect(sharedFoldersManager, &SharedFoldersManager::VisibilityNarrowed, this,
                &TransferQueueManager::WithdrawHiddenUploads, Qt::UniqueConnection);
    } else {
        disconnect(sharedFoldersManager, &SharedFoldersManager::VisibilityNarrowed, this,
                   &TransferQueueManager::WithdrawHiddenUploads);
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
    const bool byFile =
        sharedFile.CountItems(TransferNames::UploadEntry) <= user.CountItems(TransferNames::UploadEntry);
    const ItemPtr other = byFile ? user : sharedFile;
    for (const ItemPtr& entry : (byFile ? sharedFile : user).GetItems(TransferNames::UploadEntry))
        if (entry.IsConnected(other))
            return entry;
    return ItemPtr();
}

bool TransferQueueManager::RequeueExistingUpload(ItemPtr entry)
{
    if (!entry)
        return false;
    const ItemPtr status = entry[TransferNames::UploadEntryStatus];
    const ItemPtr user = entry[ServerNames::User];
    if (status.AsStdString() == TransferNames::Queued || status.IsConnected(TransferNames::IsActive)) {
        Log(UploadArea, 2, "Already queued", user);
        return true;
    }
    Log(UploadArea, 2, QString("%1, re-queueing").arg(status.AsString()), user);
    SetUploadEntryStatus(entry, TransferNames::Queued);
    StartNewUploads();
    return true;
}

ItemPtr TransferQueueManager::NewUploadEntry(ItemPtr user, ItemPtr sharedFile, const QString& requested)
{
    ItemPtr entry = d.GetType(TransferNames::UploadEntry)->NewItem();
    entry.Connect(user);
    entry.Connect(sharedFile);
    entry.Connect(d.GetType("filename_as_requested")->GetItem(Value(requested)));
    SetUploadEntryStatus(entry, TransferNames::Queued);
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
    const ItemPtr userItem = d.GetType(ServerNames::User)->GetItem(Value(user));
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

    const UploadTally::Queued queued = m_uploadTally->Of(userItem);
    const UploadQueuePolicy::Refusal refusal =
        UploadQueuePolicy::Check(UploadQueuePolicy::CurrentLimits(), queued.files, queued.bytes);
    if (refusal != UploadQueuePolicy::Accepted) {
        Log(UploadArea, 2, UploadQueuePolicy::LogText(refusal), userItem);
        if (peerMessenger)
            peerMessenger->DenyUpload(user, file, UploadQueuePolicy::ReasonText(refusal));
        return;
    }

    NewUploadEntry(userItem, sharedFile, file);

    if (IsSettingOn("check_for_empty_shares") && !userItem["empty_share_check_status"] &&
        !userItem.IsConnected(ServerNames::InUserList)) {
        if (peerMessenger)
            peerMessenger->GetUserSharedFiles(user);
        SetUserAttribute(userItem, "empty_share_check_status", "requested");
    }
    StartNewUploads();
}

void TransferQueueManager::AddUpload(QString user, QString file)
{
    const ItemPtr userItem = d.GetType(ServerNames::User)->GetItem(Value(user));
    Log(UploadArea, 1, QString("Initiating upload to %1 of file %2").arg(user, file), userItem);
    const ItemPtr sharedFile = VisibleSharedFile(user, file);
    if (!sharedFile) {
        Log(UploadArea, 2, "Can't upload, file is either not shared or not shared with that particular user.",
            userItem);
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

void TransferQueueManager::OnUserShare(QString user, std::shared_ptr<FileInfoMap> share,
                                       const AttributeTranslationTable&)
{
    // Share lists asked for by the user to browse pass through untouched.
    const ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(Value(user));
    if (userItem["empty_share_check_status"].AsStdString() != "requested")
        return;
    if (!share->empty()) {
        SetUserAttribute(userItem, "empty_share_check_status", "not_empty");
        return;
    }
    SetUserAttribute(userItem, "empty_share_check_status", "empty");
    const QString message = GetSetting("empty_share_message");
    if (!IsSettingOn("check_for_empty_shares") || userItem.IsConnected(ServerNames::InUserList) || message.isEmpty())
        return;
    if (gp_server)
        gp_server->SendPrivateChat(user, message);
    Log("Shared", 1, QString("Sent empty share warning message to user %1").arg(user));
    SetUserAttribute(userItem, TransferNames::SentEmptyShareWarningMessage, message);
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString user, QString fileName)
{
    // Both looked up without making anything: the names come from the peer.
    const ItemPtr requested = d.GetType("filename_as_requested")->HasItem(Value(fileName));
    const ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(Value(user));
    const ItemPtr entry = d.GetItem(requested, userItem, TransferNames::UploadEntry);
    if (!entry || !m_uploadOrder->HasPlace(entry))
        return;
    if (peerMessenger)
        peerMessenger->SendUploadPlaceInLine(user, fileName, int(m_uploadOrder->PlaceOf(entry)));
}

bool TransferQueueManager::IsFreeToUpload() const
{
    return ActiveUploadCount() < GetSetting("upload_slots").toInt();
}

int TransferQueueManager::QueuedUploadCount() const
{
    return d.GetType(TransferNames::UploadEntryStatus)
        ->HasItem(TransferNames::Queued)
        .CountItems(TransferNames::UploadEntry);
}

// Ordering and slots.

void TransferQueueManager::OrderNewUpload(ItemPtr entry)
{
    m_uploadOrder->Place(entry);
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr a, ItemPtr b) const
{
    return UploadOrdering::Precedes(a, b);
}

int TransferQueueManager::GetUserGroupDownloadPriority(QString user) const
{
    return UploadOrdering::GroupPriority(d.GetType(ServerNames::User)->HasItem(Value(user)));
}

void TransferQueueManager::StartNewUploads()
{
    int free = GetSetting("upload_slots").toInt() - ActiveUploadCount();
    if (free <= 0 || !m_uploadOrder->RenumberStartable())
        return;

    // Users with a running upload, gathered once rather than per candidate:
    // one user may have thousands of entries queued.
    ItemSet busy;
    for (const ItemPtr& status : g(TransferNames::UploadEntryStatus).Connected(TransferNames::IsActive))
        for (const ItemPtr& entry : status.GetItems(TransferNames::UploadEntry))
            busy.insert(entry[ServerNames::User]);

    // A user's first queued entry is the only one that may start.
    m_uploadOrder->ForEachUsersFirst([&](ItemPtr entry) {
        if (!peerMessenger)
            return false;
        const ItemPtr user = entry[ServerNames::User];
        if (busy.contains(user))
            return true;
        // The shares may have changed since the request was taken.
        if (!IsUploadStillShared(entry)) {
            WithdrawUpload(entry);
            return true;
        }
        const uint token =
            peerMessenger->RequestUpload(user.AsString(), entry["filename_as_requested"].AsString(),
                                         UploadQueuePolicy::SharedFileSize(entry[ShareNames::SharedFile]));
        SetUploadEntryStatus(entry, TransferNames::Requesting);
        entry.Connect(d.GetType("transfer_req")->GetItem(Value(token)));
        busy.insert(user);
        --free;
        DetermineUploadSpeedLimit();
        return free > 0;
    });
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
    ItemList entries = g(TransferNames::UploadEntry).List();
    std::stable_sort(entries.begin(), entries.end(), &UploadOrdering::Precedes);
    m_uploadOrder->Renumber(entries, 0);
}

// Status and negotiation.

void TransferQueueManager::SetUploadEntryStatus(ItemPtr entry, QString status)
{
    const bool wasRunning = entry[TransferNames::UploadEntryStatus].IsConnected(TransferNames::IsActive);
    const ItemPtr statusItem = d.GetType(TransferNames::UploadEntryStatus)->GetItem(Value(status));
    entry.Connect(statusItem);
    const QString now = Now();
    entry.Connect(d.GetType(TransferNames::LastStatusChangeTime)->GetItem(Value(now)));

    if (wasRunning && !statusItem.IsConnected(TransferNames::IsActive)) {
        ReleaseUploadResources(entry);
        if (status == TransferNames::Aborted) {
            const ItemPtr user = entry[ServerNames::User];
            Log(UploadArea, 1,
                QString("Upload of %1 to %2 aborted, sending upload failed notification.")
                    .arg(UploadQueuePolicy::SharedFileName(entry[ShareNames::SharedFile]), user.AsString()),
                user);
            SendUploadFailed(entry);
        }
        DetermineUploadSpeedLimit();
    }
    SetRuntimeSetting("last_upload_state_change", now);
}

void TransferQueueManager::ReleaseUploadResources(ItemPtr entry, bool later)
{
    Data::Batch batch(&d);
    if (UploadThread* thread = TakeObject<UploadThread>(entry, "upload_thread")) {
        thread->SignalExit();
        thread->wait();
        if (later)
            thread->deleteLater();
        else
            delete thread;
    }
    if (QFile* file = TakeObject<QFile>(entry, "upload_file")) {
        file->close();
        delete file;
    }
    if (QTcpSocket* socket = TakeObject<QTcpSocket>(entry, "upload_socket")) {
        socket->disconnect();
        // An upload given up drops what waits for its downloader, here and
        // in the system: closed, the connection would hold it until the
        // downloader read it all, which one that stopped reading never does.
        if (entry[TransferNames::UploadEntryStatus].AsString() == TransferNames::Complete) {
            socket->close();
        } else {
            SendQueue::DropAtClose(socket->socketDescriptor());
            socket->abort();
        }
        if (later)
            socket->deleteLater();
        else
            delete socket;
    }
    // Removing these items is what frees their values (the remove
    // handlers); a value freed any other way would be freed again when its
    // item goes.
    for (const char* type : {TransferNames::ReadPosition, TransferNames::LastReceiptTime, "last_speed_measurement_time",
                             TransferNames::BytesPerSecond, "bytes_since_last_receipt"})
        if (ItemPtr item = entry[type])
            item.Remove();
}

void TransferQueueManager::SendUploadFailed(ItemPtr entry)
{
    if (!peerMessenger)
        return;
    MemStream message = PeerMessages::WriteUploadFailed(entry["filename_as_requested"].AsStdString());
    peerMessenger->SendMessage(entry[ServerNames::User].AsString(), message);
}

void TransferQueueManager::OnFileTransferResponse(QString user, uint req, bool accepted, bool, qint64,
                                                  QString denialReason)
{
    const ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(Value(user));
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
    if (token[TransferNames::DownloadEntry]) {
        Log(UploadArea, 2, "Found download, not processing", userItem);
        return;
    }
    ItemPtr entry = token[TransferNames::UploadEntry];
    if (!entry) {
        Log(UploadArea, 2, "Neither upload or download attached to req, weird", userItem);
        return;
    }
    Log(UploadArea, 2, "Found upload", userItem);
    const QString owner = entry[ServerNames::User].AsString();
    if (owner != user) {
        Log(UploadArea, 2,
            QString("Upload user %1 not the same as user who opened the connection, not doing anything").arg(owner),
            userItem);
        return;
    }
    if (!accepted) {
        Log(UploadArea, 2, QString("Upload was not accepted, marking denied. Reason: %1").arg(denialReason), userItem);
        entry.Connect(d.GetType(TransferNames::DenialReason)->GetItem(Value(denialReason)));
        SetUploadEntryStatus(entry, TransferNames::Denied);
        StartNewUploads();
        return;
    }
    const QString status = entry[TransferNames::UploadEntryStatus].AsString();
    if (status != TransferNames::Requesting) {
        Log(UploadArea, 2,
            QString("Upload no longer in requesting phase, instead status is %1. Not processing.").arg(status),
            userItem);
        return;
    }

    const QString path = UploadQueuePolicy::SharedFilePath(entry[ShareNames::SharedFile]);
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
        SetUploadEntryStatus(entry, TransferNames::LocalError);
        StartNewUploads();
        return;
    }
    Log(UploadArea, 2, "Requesting file connection to user", userItem);
    if (peerMessenger)
        peerMessenger->RequestFileConnectionToUser(user);
    entry.Connect(d.GetType("upload_file")->GetItem(Value(file)));
    SetUploadEntryStatus(entry, TransferNames::Connecting);
}

void TransferQueueManager::OnFileConnectionAccepted(QString user, QTcpSocket* socket)
{
    ItemPtr entry;
    const ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(Value(user));
    // Through the few connecting uploads, not the user's whole queue.
    const ItemPtr connecting = d.GetType(TransferNames::UploadEntryStatus)->HasItem(Value(TransferNames::Connecting));
    for (const ItemPtr& e : connecting.GetItems(TransferNames::UploadEntry)) {
        if (userItem && e[ServerNames::User] == userItem && e["upload_file"]) {
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
    SetUploadEntryStatus(entry, TransferNames::Uploading);
    entry.Connect(d.GetType(TransferNames::LastReceiptTime)->GetItem(Value(receiptTime)));
    entry.Connect(d.GetType("last_speed_measurement_time")->GetItem(Value(measurementTime)));
    entry.Connect(d.GetType(TransferNames::BytesPerSecond)->GetItem(Value(speed)));
    entry.Connect(d.GetType("bytes_since_last_receipt")->GetItem(Value(sinceReceipt)));
    entry.Connect(d.GetType(TransferNames::ReadPosition)->GetItem(Value(position)));

    const quint32 token = entry["transfer_req"].AsUInt();
    socket->disconnect();
    auto* thread = new UploadThread(socket, entry["upload_file"].AsObject<QFile>(), int(token), m_uploadStallMs);
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
    return d.GetType("upload_thread")->HasItem(Value(thread))[TransferNames::UploadEntry];
}

void TransferQueueManager::OnUploadProgress(qint64 offset, int bytesPerSecond)
{
    const ItemPtr entry = UploadEntryOfSender();
    if (!entry)
        return;
    RecordProgress(entry, TransferNames::ReadPosition, offset, bytesPerSecond);
    emit UploadProgressed(entry);
}

void TransferQueueManager::OnUploadComplete()
{
    const ItemPtr entry = UploadEntryOfSender();
    if (!entry)
        return;
    const auto* measured = entry[TransferNames::BytesPerSecond].AsObject<TransferCounter32>();
    const int speed = measured ? measured->load() : 0;
    Log(UploadArea, 1, QString("Recording upload speed of %1").arg(speed));
    if (UploadQueuePolicy::SharedFileSize(entry[ShareNames::SharedFile]) > 1048576 && speed > 0 && gp_server)
        gp_server->SendUploadSpeed(speed);
    SetUploadEntryStatus(entry, TransferNames::Complete);
    StartNewUploads();
}

void TransferQueueManager::OnUploadError(QString reason)
{
    const ItemPtr entry = UploadEntryOfSender();
    if (!entry)
        return;
    const ItemPtr user = entry[ServerNames::User];
    Log(UploadArea, 1,
        QString("Error uploading %1 to %2. %3")
            .arg(UploadQueuePolicy::SharedFilePath(entry[ShareNames::SharedFile]), user.AsString(), reason),
        user);
    SetUploadEntryStatus(entry, TransferNames::Aborted);
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
    entry.Remove();
}

bool TransferQueueManager::IsUploadStillShared(ItemPtr entry) const
{
    return sharedFoldersManager && sharedFoldersManager->IsFileSharedWithUser(entry[ShareNames::SharedFile],
                                                                              entry[ServerNames::User].AsString());
}

void TransferQueueManager::WithdrawUpload(ItemPtr entry)
{
    const ItemPtr user = entry[ServerNames::User];
    const QString requested = entry["filename_as_requested"].AsString();
    Log(UploadArea, 1, QString("Upload of %1 to %2 withdrawn: file not shared").arg(requested, user.AsString()), user);
    if (peerMessenger)
        peerMessenger->DenyUpload(user.AsString(), requested, "File not shared.");
    DropUploadEntry(entry);
}

void TransferQueueManager::UnshareUser(QString user)
{
    ItemPtr userItem = d.GetType(ServerNames::User)->GetItem(Value(user));
    if (d.HasType(ShareNames::Unshared))
        userItem.NewItem(ShareNames::Unshared);
    // All of the user's entries go before the queue moves on: starting
    // after each removal would send the user transfer requests for files
    // that are refused a moment later.
    {
        Data::Batch batch(&d);
        for (const ItemPtr& entry : userItem.GetItems(TransferNames::UploadEntry))
            WithdrawUpload(entry);
    }
    StartNewUploads();
}

void TransferQueueManager::WithdrawHiddenUploads()
{
    ItemSet open;
    for (const ItemPtr& status : g(TransferNames::UploadEntryStatus))
        if (status.AsStdString() == TransferNames::Queued || status.IsConnected(TransferNames::IsActive))
            open.Add(status.GetItems(TransferNames::UploadEntry));
    int withdrawn = 0;
    {
        Data::Batch batch(&d);
        for (const ItemPtr& entry : open)
            if (!IsUploadStillShared(entry)) {
                WithdrawUpload(entry);
                ++withdrawn;
            }
    }
    if (withdrawn > 0)
        StartNewUploads();
}

void TransferQueueManager::ReshareUser(QString user)
{
    ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(Value(user));
    if (userItem && d.HasType(ShareNames::Unshared))
        userItem.Disconnect(ShareNames::Unshared);
}

void TransferQueueManager::AbortStalledUploadNegotiations(qint64 now)
{
    Type* statusType = d.GetType(TransferNames::UploadEntryStatus);
    ItemSet negotiating;
    for (const char* status : {TransferNames::Requesting, TransferNames::Connecting, TransferNames::WaitingForOffset})
        negotiating.Add(statusType->HasItem(Value(status)).GetItems(TransferNames::UploadEntry));
    const bool named = d.HasType(ShareNames::SharedFileName) != nullptr;
    int aborted = 0;
    Data::Batch batch(&d);
    for (const ItemPtr& upload : negotiating) {
        if (upload.IsRemoved() ||
            !PeriodicDuties::NegotiationTimedOut(upload[TransferNames::LastStatusChangeTime].AsString(), now))
            continue;
        const QString file = named ? upload[ShareNames::SharedFile][ShareNames::SharedFileName].AsString() : QString();
        Log(UploadArea, 1,
            QString("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(file, upload[ServerNames::User].AsString(), upload[TransferNames::UploadEntryStatus].AsString()));
        SetUploadEntryStatus(upload, TransferNames::Aborted);
        ++aborted;
    }
    if (aborted > 0)
        StartNewUploads();
}
