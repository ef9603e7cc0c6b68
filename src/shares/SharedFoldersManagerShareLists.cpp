// Our share list as other users ask for it. A list of a large share is
// gathered from the store a slice at a time on the event loop (the store is
// the event-loop thread's alone) and built and compressed on the reply
// thread, so that no request, however often repeated, holds up the window.
#include "SharedFoldersManager.h"

#include <algorithm>

#include "Data.h"
#include "Log.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "ShareNames.h"

std::string SharedFoldersManager::RemoteFolder(ItemPtr folder)
{
    std::string key = folder.AsStdString();
    std::replace(key.begin(), key.end(), '/', '\\');
    return key;
}

bool SharedFoldersManager::GatherFolderFiles(ItemPtr folder, std::set<FileInfo>& files, quint64& from,
                                             const QElapsedTimer* clock)
{
    // By store place rather than by position, so that files removed
    // between two slices shift nothing.
    const ItemSet held = folder.GetItems(sharedFileType);
    const ItemList& list = held.List();
    auto file = std::lower_bound(list.begin(), list.end(), from,
                                 [](const ItemPtr& item, quint64 place) { return item.Sequence() < place; });
    for (int count = 0; file != list.end(); ++file, ++count) {
        if (clock && count % 64 == 63 && clock->elapsed() >= ShareListSliceMs) {
            from = file->Sequence();
            return false;
        }
        files.insert(MakeFileInfo(*file, (*file)[fileNameType].AsStdString()));
    }
    from = 0;
    return true;
}

void SharedFoldersManager::GetSharedFilesAsUserShare(QString user, FileInfoMap& shares,
                                                     AttributeTranslationTable& attributes)
{
    Q_UNUSED(attributes);
    for (const ItemPtr& folder : GetUserSharedFolders(user).GetItems(ShareNames::SharedFileFolder)) {
        quint64 from = 0;
        GatherFolderFiles(folder, shares[RemoteFolder(folder)], from, nullptr);
    }
}

MemStream SharedFoldersManager::GetSharedFilesMessage(QString user)
{
    FileInfoMap shares;
    AttributeTranslationTable attributes;
    GetSharedFilesAsUserShare(user, shares, attributes);
    return PeerMessages::WriteShareList(shares, attributes);
}

void SharedFoldersManager::AnswerShareList(QString user)
{
    if (IsLogging())
        Log("Shared", 1, QString("Shared file list requested by user %1").arg(user));
    if (!peerMessenger)
        return;
    if (std::find(shareListUsers.begin(), shareListUsers.end(), user) != shareListUsers.end())
        return;
    if (GetUserSharedFolders(user).empty()) {
        MemStream empty = PeerMessages::EmptyShareList();
        peerMessenger->SendMessage(user, empty);
        return;
    }
    if (shareListUsers.size() >= MaxWaitingShareLists) {
        if (IsLogging())
            Log("Shared", 1, QString("Too many share lists waiting; not answering user %1").arg(user));
        return;
    }
    shareListUsers.push_back(user);
    if (shareListBuilding)
        return;
    // The first in line is taken as the share stands now; the next ones as
    // it stands when their turn comes.
    if (!shareListJob)
        StartShareList();
    shareListTimer.start();
}

void SharedFoldersManager::StartShareList()
{
    auto job = std::make_unique<ShareListJob>();
    job->user = shareListUsers.front();
    job->shares = std::make_unique<FileInfoMap>();
    // The folders in the store's order, as the list built at once walks
    // them: a folder path reached from two roots is gathered once.
    const ItemSet visible = GetUserSharedFolders(job->user);
    for (const ItemPtr& root : visible)
        job->visibleRoots.insert(root.AsString());
    for (const ItemPtr& folder : visible.GetItems(ShareNames::SharedFileFolder))
        job->folders.push_back(folder.AsStdString());
    shareListJob = std::move(job);
}

void SharedFoldersManager::ShareListSlice()
{
    if (shareListBuilding || shareListUsers.empty()) {
        shareListTimer.stop();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    Data::Batch batch(&d);
    if (!shareListJob)
        StartShareList();
    ShareListJob& job = *shareListJob;
    while (job.next < job.folders.size() && clock.elapsed() < ShareListSliceMs) {
        ItemPtr folder = fileFolderType->HasItem(Value(job.folders[job.next]));
        bool visible = false;
        if (folder)
            for (const ItemPtr& root : folder.GetItems(sharedFolderType))
                if (job.visibleRoots.contains(root.AsString())) {
                    visible = true;
                    break;
                }
        if (visible && !GatherFolderFiles(folder, (*job.shares)[RemoteFolder(folder)], job.nextFile, &clock))
            return;
        ++job.next;
        job.nextFile = 0;
    }
    if (job.next < job.folders.size())
        return;

    shareListTimer.stop();
    shareListBuilding = true;
    SearchAnswerBuilder::Job build;
    build.user = job.user;
    build.shareList = std::move(job.shares);
    shareListJob.reset();
    replyBuilder.Add(std::move(build));
}

void SharedFoldersManager::ShareListBuilt(SearchAnswerBuilder::Done& done)
{
    shareListBuilding = false;
    if (!shareListUsers.empty() && shareListUsers.front() == done.user)
        shareListUsers.pop_front();
    if (IsLogging())
        Log("Shared", 2, QString("Sending the share list to user %1").arg(done.user));
    if (peerMessenger)
        peerMessenger->SendMessage(done.user, done.message);
    if (!shareListUsers.empty())
        shareListTimer.start();
}
