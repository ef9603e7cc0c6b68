// Our share list as other users ask for it. A list of a large share is
// gathered from the store a slice at a time on the event loop (the store is
// the event-loop thread's alone) and built and compressed on the reply
// thread, so that no request, however often repeated, holds up the window.
// The list built is kept for everyone who may see the same folders until
// the shares change: a crowd asking at once costs one build, not one each.
#include "SharedFoldersManager.h"

#include <algorithm>

#include "Data.h"
#include "Log.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "ShareNames.h"
#include "TurnSlice.h"

std::string SharedFoldersManager::RemoteFolder(ItemPtr folder)
{
    std::string key = folder.AsStdString();
    std::replace(key.begin(), key.end(), '/', '\\');
    return key;
}

bool SharedFoldersManager::GatherFolderFiles(ItemPtr folder, std::set<FileInfo>& files, quint64& from, TurnSlice* slice)
{
    // By store place rather than by position, so that files removed
    // between two slices shift nothing.
    const ItemSet held = folder.GetItems(sharedFileType);
    const ItemList& list = held.List();
    auto file = std::lower_bound(list.begin(), list.end(), from,
                                 [](const ItemPtr& item, quint64 place) { return item.Sequence() < place; });
    for (; file != list.end(); ++file) {
        if (slice && !slice->Take()) {
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

QStringList SharedFoldersManager::ListKey(const ItemSet& visible)
{
    QStringList roots;
    for (const ItemPtr& root : visible)
        roots << root.AsString();
    roots.sort();
    return roots;
}

bool SharedFoldersManager::AnswerAtOnce(const QString& user)
{
    const ItemSet visible = GetUserSharedFolders(user);
    if (visible.empty()) {
        MemStream empty = PeerMessages::EmptyShareList();
        peerMessenger->SendMessage(user, empty);
        return true;
    }
    const QStringList roots = ListKey(visible);
    auto kept = std::find_if(keptShareLists.begin(), keptShareLists.end(),
                             [&](const KeptShareList& list) { return list.roots == roots; });
    if (kept == keptShareLists.end())
        return false;
    // The most recently used goes last out.
    KeptShareList used = *kept;
    keptShareLists.erase(kept);
    keptShareLists.push_front(used);
    if (IsLogging())
        Log("Shared", 2, QString("Sending the share list kept for its folders to user %1").arg(user));
    peerMessenger->SendMessage(user, used.message);
    return true;
}

void SharedFoldersManager::AnswerShareList(QString user)
{
    if (IsLogging())
        Log("Shared", 1, QString("Shared file list requested by user %1").arg(user));
    if (!peerMessenger)
        return;
    if (std::find(shareListUsers.begin(), shareListUsers.end(), user) != shareListUsers.end())
        return;
    if (AnswerAtOnce(user))
        return;
    if (shareListUsers.size() >= MaxWaitingShareLists) {
        if (IsLogging())
            Log("Shared", 1, QString("Too many share lists waiting; not answering user %1").arg(user));
        return;
    }
    shareListUsers.push_back(user);
    // The first in line is taken as the share stands now; the next ones as
    // it stands when their turn comes, unless the list built meanwhile is
    // theirs too.
    shareListPass.Start();
}

void SharedFoldersManager::StartShareList()
{
    auto job = std::make_unique<ShareListJob>();
    job->user = shareListUsers.front();
    job->shares = std::make_unique<FileInfoMap>();
    // The folders in the store's order, as the list built at once walks
    // them: a folder path reached from two roots is gathered once.
    const ItemSet visible = GetUserSharedFolders(job->user);
    job->roots = ListKey(visible);
    job->visibleRoots = QSet<QString>(job->roots.begin(), job->roots.end());
    for (const ItemPtr& folder : visible.GetItems(ShareNames::SharedFileFolder))
        job->folders.push_back(folder.AsStdString());
    buildingGeneration = sharesGeneration;
    ++shareListsBuilt;
    shareListJob = std::move(job);
}

bool SharedFoldersManager::ShareListSome(TurnSlice& slice)
{
    if (shareListBuilding)
        return true;
    // Those whose list was kept meanwhile, or who see nothing now, need no build.
    while (!shareListJob && !shareListUsers.empty() && peerMessenger && AnswerAtOnce(shareListUsers.front()))
        shareListUsers.pop_front();
    if (shareListUsers.empty())
        return true;
    Data::Batch batch(&d);
    if (!shareListJob)
        StartShareList();
    ShareListJob& job = *shareListJob;
    // A folder is a step of its own, so that empty folders end a slice too.
    while (job.next < job.folders.size() && slice.Take()) {
        ItemPtr folder = fileFolderType->HasItem(Value(job.folders[job.next]));
        bool visible = false;
        if (folder)
            for (const ItemPtr& root : folder.GetItems(sharedFolderType))
                if (job.visibleRoots.contains(root.AsString())) {
                    visible = true;
                    break;
                }
        if (visible && !GatherFolderFiles(folder, (*job.shares)[RemoteFolder(folder)], job.nextFile, &slice))
            return false;
        ++job.next;
        job.nextFile = 0;
    }
    if (job.next < job.folders.size())
        return false;

    shareListBuilding = true;
    buildingRoots = job.roots;
    SearchAnswerBuilder::Job build;
    build.user = job.user;
    build.shareList = std::move(job.shares);
    shareListJob.reset();
    replyBuilder.Add(std::move(build));
    return true;
}

void SharedFoldersManager::ShareListBuilt(SearchAnswerBuilder::Done& done)
{
    shareListBuilding = false;
    if (!shareListUsers.empty() && shareListUsers.front() == done.user)
        shareListUsers.pop_front();
    // Changed while it was gathered or built, it answers the one it was
    // built for, and those after build anew.
    if (buildingGeneration == sharesGeneration)
        KeepShareList(buildingRoots, done.message);
    if (IsLogging())
        Log("Shared", 2,
            QString("Sending the share list of %1 shared folder(s) built for user %2")
                .arg(buildingRoots.size())
                .arg(done.user));
    if (peerMessenger)
        peerMessenger->SendMessage(done.user, done.message);
    if (!shareListUsers.empty())
        shareListPass.Start();
}

void SharedFoldersManager::KeepShareList(const QStringList& roots, const MemStream& message)
{
    keptShareLists.push_front(KeptShareList{roots, message});
    if (keptShareLists.size() > KeptShareLists)
        keptShareLists.pop_back();
}

void SharedFoldersManager::SharesChanged()
{
    ++sharesGeneration;
    keptShareLists.clear();
}
