// The download queue of TransferQueueManager: the client's downloads, the
// downloader's side of each transfer from the request to the finished file,
// and the renewal of queued requests.
#include "TransferQueueManager.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include "AtomicDateTime.h"
#include "Data.h"
#include "DownloadThread.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "MemStream.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "PeerNames.h"
#include "PeriodicDuties.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "TransferNames.h"

namespace downloads {
const char* const Area = "Transfer Queue";

ItemPtr UserItem(const QString& name)
{
    return d.GetType(ServerNames::User)->HasItem(Value(name));
}

QString StatusText(ItemPtr entry)
{
    return entry[TransferNames::DownloadEntryStatus].AsString();
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
    ItemPtr userItem = d.GetType(ServerNames::User)->NewItem(Value(user));
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
        SetDownloadEntryStatus(entry, TransferNames::Complete);
        return entry;
    }
    SetDownloadEntryStatus(entry, TransferNames::Queued);
    if (userItem.IsConnected(ServerNames::IsOnline)) {
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
    ItemPtr entry = d.GetType(TransferNames::DownloadEntry)->NewItem();
    entry.Connect(user);
    entry.Connect(d.GetType(TransferNames::FileName)->NewItem(Value(fileName)));
    entry.Connect(d.GetType(TransferNames::RemoteFolder)->NewItem(Value(folder)));
    entry.Connect(d.GetType(PeerNames::FileSize)->NewItem(Value(static_cast<long long>(size))));
    entry.Connect(d.GetType("subfolder_save_level")->NewItem(Value(subfolderSaveLevel)));
    if (singleDownload)
        entry.NewItem("single_download");
    const qint64 order = GetSetting("transfer_order_counter").toLongLong();
    entry.Connect(d.GetType(TransferNames::DownloadOrder)->NewItem(Value(static_cast<long long>(order))));
    SetSetting("transfer_order_counter", QString::number(order + 1));
    return entry;
}

ItemPtr TransferQueueManager::GetDownloadEntry(QString user, std::string fileName, std::string folder) const
{
    ItemPtr userItem = downloads::UserItem(user);
    ItemPtr nameItem = d.GetType(TransferNames::FileName)->HasItem(Value(fileName));
    ItemPtr folderItem = d.GetType(TransferNames::RemoteFolder)->HasItem(Value(folder));
    if (!userItem || !nameItem || !folderItem)
        return ItemPtr();
    return d.GetItem(downloads::Keys(userItem, nameItem, folderItem), TransferNames::DownloadEntry);
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr entry, QString status)
{
    if (!entry)
        return;
    const bool wasActive = entry[TransferNames::DownloadEntryStatus].IsConnected(TransferNames::IsActive);
    ItemPtr statusItem = d.GetType(TransferNames::DownloadEntryStatus)->NewItem(Value(status));
    entry.Connect(statusItem);
    entry.Connect(d.GetType(TransferNames::LastStatusChangeTime)->NewItem(Value(PeriodicDuties::NowText())));
    const bool isActive = statusItem.IsConnected(TransferNames::IsActive);
    if (!wasActive && isActive) {
        DetermineDownloadSpeedLimit();
    } else if (wasActive && !isActive) {
        ReleaseDownloadResources(entry, true);
        downloads::SetUserTime(entry[ServerNames::User], "last_queue_request_time");
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
    for (const char* type : {TransferNames::WritePosition, TransferNames::LastReceiptTime,
                             "last_speed_measurement_time", TransferNames::BytesPerSecond, "bytes_since_last_receipt"})
        downloads::RemoveTransient(entry, type);
}

void TransferQueueManager::RemoveDownload(ItemPtr entry)
{
    if (!entry)
        return;
    const bool wasActive = entry[TransferNames::DownloadEntryStatus].IsConnected(TransferNames::IsActive);
    ReleaseDownloadResources(entry, false);
    entry.Remove();
    if (wasActive)
        DetermineDownloadSpeedLimit();
}

void TransferQueueManager::RequeueDownload(ItemPtr entry)
{
    ItemPtr status = entry[TransferNames::DownloadEntryStatus];
    if (!entry || status.AsString() == TransferNames::Complete || status.IsConnected(TransferNames::IsActive))
        return;
    if (IsDownloadFileComplete(entry)) {
        SetDownloadEntryStatus(entry, TransferNames::Complete);
        return;
    }
    ItemPtr user = entry[ServerNames::User];
    if (peerMessenger)
        peerMessenger->QueueDownload(user.AsString(), RemoteDownloadPath(entry));
    SetDownloadEntryStatus(entry, TransferNames::Queued);
    Log(downloads::Area, 2, QString("Queueing %1").arg(entry[TransferNames::FileName].AsString()), user);
}

void TransferQueueManager::RequeueUserDownloads(ItemPtr user)
{
    const ItemSet entries = user.GetItems(TransferNames::DownloadEntry);
    if (entries.empty())
        return;
    Log(downloads::Area, 1, QString("Requeueing downloads from user %1").arg(user.AsString()), user);
    Data::Batch batch(&d);
    m_requests.Add(DownloadRequests::QueueRequest, entries);
    downloads::SetUserTime(user, "last_queue_request_time");
    downloads::SetUserTime(user, "next_place_in_line_request_time", 30);
}

void TransferQueueManager::RequeueWaitingDownload(ItemPtr entry)
{
    const QString status = downloads::StatusText(entry);
    if (status == TransferNames::Complete || status == TransferNames::Denied)
        return;
    RequeueDownload(entry);
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr entry)
{
    ItemPtr user = entry[ServerNames::User];
    const QString status = downloads::StatusText(entry);
    const QString path = ToQString(RemoteDownloadPath(entry));
    if (status == TransferNames::LocalError) {
        Log(downloads::Area, 1, QString("Download status %1, not re-queueing %2").arg(status, path), user);
        return;
    }
    if (user.IsConnected(ServerNames::IsOnline)) {
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
    ItemPtr downloading = d.GetType(TransferNames::DownloadEntryStatus)->HasItem(Value(TransferNames::Downloading));
    if (!userItem || !downloading)
        return false;
    // The running downloads are few; a user's queue may be huge.
    for (const ItemPtr& entry : downloading.GetItems(TransferNames::DownloadEntry))
        if (entry.IsConnected(userItem))
            return true;
    return false;
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr entry)
{
    ItemPtr user = entry[ServerNames::User];
    MemStream message = PeerMessages::WritePlaceInLineRequest(RemoteDownloadPath(entry));
    Log(downloads::Area, 1,
        QString("Requesting place in line for download of %1 from %2")
            .arg(entry[TransferNames::FileName].AsString(), user.AsString()),
        user);
    if (peerMessenger)
        peerMessenger->SendMessage(user.AsString(), message);
}

bool TransferQueueManager::HasExcludedDownloadExtension(QString path) const
{
    for (const ItemPtr& extension : g(TransferNames::ExcludedDownloadExtension))
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
    const auto [folder, name] = DownloadPaths::SplitRemote(file);
    ItemPtr entry = GetDownloadEntry(user, name, folder);
    if (entry)
        entry.Connect(d.GetType(TransferNames::PlaceInLine)->NewItem(Value(place)));
}

void TransferQueueManager::OnUploadFailedNotification(QString user, std::string file)
{
    ItemPtr userItem = downloads::UserItem(user);
    Log(downloads::Area, 1,
        QString("Received peer notification from %1 that upload of %2 failed").arg(user, ToQString(file)), userItem);
    const auto [folder, name] = DownloadPaths::SplitRemote(file);
    ItemPtr entry = GetDownloadEntry(user, name, folder);
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
    const auto [folder, name] = DownloadPaths::SplitRemote(file);
    ItemPtr entry = GetDownloadEntry(user, name, folder);
    if (!entry) {
        Log(downloads::Area, 2, "Download not found.", userItem);
        return;
    }
    Log(downloads::Area, 2, "Download found, marking as denied.", userItem);
    entry.Connect(d.GetType(TransferNames::DenialReason)->NewItem(Value(reason)));
    SetDownloadEntryStatus(entry, TransferNames::Denied);
}

ItemPtr TransferQueueManager::DownloadEntryOfSender() const
{
    DownloadThread* thread = qobject_cast<DownloadThread*>(sender());
    if (!thread)
        return ItemPtr();
    return d.GetType("download_thread")->HasItem(Value(thread))[TransferNames::DownloadEntry];
}

void TransferQueueManager::OnDownloadProgress(qint64 offset, int bytesPerSecond)
{
    ItemPtr entry = DownloadEntryOfSender();
    if (!entry)
        return;
    RecordProgress(entry, TransferNames::WritePosition, offset, bytesPerSecond);
    emit DownloadProgressed(entry);
}

// Negotiation and completion.

bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(QString user) const
{
    ItemPtr inList = downloads::UserItem(user)[ServerNames::InUserList];
    if (inList && IsSettingOn("accept_userlist_uploads"))
        return true;
    for (const ItemPtr& group : inList.GetItems(ServerNames::UserListGroup))
        if (group.IsConnected(ServerNames::AcceptUploads))
            return true;
    return false;
}

void TransferQueueManager::OnFileTransferRequest(QString user, int direction, uint req, std::string file,
                                                 qint64 fileSize)
{
    const auto [folder, name] = DownloadPaths::SplitRemote(file);
    if (direction != 1) {
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(user, req, "Queued");
        OnQueueUploadRequested(user, ToQString(file));
        return;
    }

    ItemPtr userItem = downloads::UserItem(user);
    Log(downloads::Area, 1,
        QString("Received upload request from %1 for file %2, req %3").arg(user, ToQString(file), QString::number(req)),
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
        userItem = d.GetType(ServerNames::User)->NewItem(Value(user));
        entry = NewDownloadEntry(userItem, name, folder, fileSize, false, 0);
        if (gp_server)
            gp_server->TrackUser(user);
        SetDownloadEntryStatus(entry, TransferNames::Queued);
    } else if (downloads::StatusText(entry) == TransferNames::Complete) {
        deny("Complete");
        return;
    } else if (!HasSafeDownloadPaths(entry)) {
        unsafe();
        return;
    }

    // The file connection is matched against the latest token of each of
    // this user's entries only.
    ItemPtr token = d.GetType("remote_transfer_req")->NewItem(Value(req));
    for (ItemPtr other : token.GetItems(TransferNames::DownloadEntry))
        if (other.IsConnected(userItem))
            other.Disconnect(token);
    entry.Connect(token);

    if (downloads::StatusText(entry) == TransferNames::Downloading) {
        Log(downloads::Area, 2, "Transfer is already downloading, cancelling...", userItem);
        SetDownloadEntryStatus(entry, TransferNames::Aborted);
    }
    if (peerMessenger)
        peerMessenger->AcceptTransferRequest(user, req, false, 0);
    Log(downloads::Area, 2, "Accepted", userItem);
}

void TransferQueueManager::OnQueueDownloadRequested(QString user, std::string fileName, qint64 fileSize)
{
    if (CanAcceptUserInitiatedUploadsFrom(user)) {
        const auto [folder, name] = DownloadPaths::SplitRemote(fileName);
        AddDownload(user, name, folder, fileSize, false, 0);
    }
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
    ItemPtr entry = d.GetItem(token, userItem, TransferNames::DownloadEntry);
    if (!entry) {
        DropFileConnection(socket);
        Log(downloads::Area, 2, "Download not found, aborting", userItem);
        return;
    }
    // Two threads must never append to one partial file.
    if (downloads::StatusText(entry) == TransferNames::Downloading) {
        Log(downloads::Area, 2, "Transfer is already downloading, cancelling...", userItem);
        SetDownloadEntryStatus(entry, TransferNames::Aborted);
    }

    const QString partialPath = GetDownloadTargetPath(entry, false);
    if (partialPath.isEmpty() || GetDownloadTargetPath(entry, true).isEmpty()) {
        SetDownloadEntryStatus(entry, TransferNames::LocalError);
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
        SetDownloadEntryStatus(entry, TransferNames::LocalError);
        delete file;
        DropFileConnection(socket);
        Log(downloads::Area, 2, "Could not open file, aborting", userItem);
        return;
    }
    const qint64 offset = file->size();
    const qint64 expectedSize = entry[PeerNames::FileSize].AsInt64();
    // Appending cannot turn a partial file longer than the file into it.
    if (offset > expectedSize) {
        SetDownloadEntryStatus(entry, TransferNames::LocalError);
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
    entry.Connect(d.GetType(TransferNames::WritePosition)->NewItem(Value(new TransferCounter64(offset))));
    SetDownloadEntryStatus(entry, TransferNames::Downloading);
    entry.Connect(d.GetType(TransferNames::LastReceiptTime)->NewItem(Value(new AtomicDateTime(connected))));
    entry.Connect(d.GetType("last_speed_measurement_time")->NewItem(Value(new AtomicDateTime(connected))));
    entry.Connect(d.GetType(TransferNames::BytesPerSecond)->NewItem(Value(new TransferCounter32(0))));
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
        SetDownloadEntryStatus(entry, TransferNames::Complete);
        AddCompletionRecord(entry);
        return;
    }
    // The file that was written, even if the download folder setting
    // changed while it ran.
    QFile* partial = entry["download_file"].AsObject<QFile>();
    const QString source = partial ? partial->fileName() : DownloadPaths::Local(GetDownloadTargetPath(entry, false));
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
            entry[ServerNames::User]);
        SetDownloadEntryStatus(entry, TransferNames::LocalError);
        return;
    }
    SetDownloadEntryStatus(entry, TransferNames::Complete);
    RemoveDownloadDownloadingFolderIfAppropriate(entry);
    AddCompletionRecord(entry);
}

void TransferQueueManager::AddCompletionRecord(ItemPtr entry)
{
    ItemPtr user = entry[ServerNames::User];
    ItemPtr folder = d.GetType("complete_download_folder")->NewItem(Value(GetDownloadTargetFolder(entry, true)));
    ItemPtr name = d.GetType(TransferNames::CompleteDownloadFilename)
                       ->NewItem(Value(DownloadPaths::SafeComponent(entry[TransferNames::FileName].AsString())));
    if (d.GetItem(downloads::Keys(user, folder, name), TransferNames::CompleteDownload))
        return;
    ItemPtr record = d.GetType(TransferNames::CompleteDownload)->NewItem();
    record.Connect(user);
    record.Connect(folder);
    record.Connect(d.GetType(TransferNames::CompleteDownloadRelativeFolder)
                       ->NewItem(Value(GetDownloadRelativeDownloadFolder(entry))));
    record.Connect(name);
    record.Connect(
        d.GetType(TransferNames::CompleteDownloadFileSize)->NewItem(Value(entry[PeerNames::FileSize].AsStdString())));
    record.Connect(d.GetType(TransferNames::CompleteDownloadCompletionTime)->NewItem(Value(PeriodicDuties::NowText())));
    if (ItemPtr search = entry[ServerNames::SearchRequestText])
        record.Connect(search);
    emit CompleteDownloadAdded(record);
}

void TransferQueueManager::OnDownloadError(QString reason)
{
    ItemPtr entry = DownloadEntryOfSender();
    if (!entry)
        return;
    ItemPtr user = entry[ServerNames::User];
    Log(downloads::Area, 1,
        QString("Error downloading %1 from %2. %3")
            .arg(entry[TransferNames::FileName].AsString(), user.AsString(), reason),
        user);
    SetDownloadEntryStatus(entry, TransferNames::Aborted);
}

void TransferQueueManager::RenewDownloadRequests(qint64 now)
{
    ItemPtr queued = d.GetType(TransferNames::DownloadEntryStatus)->HasItem(Value(TransferNames::Queued));
    // A round still under way goes on; the next tick starts another.
    if (queued && !m_requests.RoundUnderWay())
        m_requests.StartRound(queued.GetItems(TransferNames::DownloadEntry), now);
}

void TransferQueueManager::DecideRenewals(const std::vector<QString>& names, qint64 now)
{
    ItemList users;
    for (const QString& name : names)
        if (ItemPtr user = downloads::UserItem(name); user.IsConnected(ServerNames::IsOnline))
            users.push_back(user);

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
        m_requests.Add(DownloadRequests::PlaceInLineRequest, user.GetItems(TransferNames::DownloadEntry));
        downloads::SetUserTime(user, "next_place_in_line_request_time", PeriodicDuties::PlaceInLineIntervalSeconds);
    }
}
