// The scans of the shared folders: the synchronous scan of a folder being
// shared, and the merges of the walks that run on the scanner thread (the
// start-up walk and every rescan), a slice at a time.
#include "SharedFoldersManager.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <malloc.h>
#include <unordered_set>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "Settings.h"
#include "ShareNames.h"
#include "TurnSlice.h"

namespace {
bool IsMp3Name(const QString& name)
{
    return name.size() > 4 && (name.endsWith(QLatin1String(".mp3")) || name.endsWith(QLatin1String(".MP3")));
}

QString JoinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}
} // namespace

// ---------------------------------------------------------------------------
// Shared folders added and removed

void SharedFoldersManager::RemoveFolderItems(const ItemSet& folders)
{
    // The files go with their folder here rather than at the next clean-up:
    // a file that shares its name item with a file still shared reaches an
    // entity through it, and the clean-up would keep it for ever.
    Data::Batch batch(&d);
    for (ItemPtr folder : folders) {
        folder.GetItems(sharedFileType).Remove();
        folder.Remove();
    }
}

ItemPtr SharedFoldersManager::AddSharedFolder(QString path)
{
    if (ItemPtr existing = sharedFolderType->HasItem(Value(path)))
        return existing;
    // Marked before the item is made, so whoever hears of the new folder
    // hears that its scan is under way.
    ++newFolders[path];
    ItemPtr folder = sharedFolderType->NewItem(Value(path));
    const int number = GetSetting("shared_folder_counter").toInt();
    SetSetting("shared_folder_counter", QString::number(number + 1));
    folder += d.GetType("shared_folder_id")->GetItem(Value(QString("[%1]%2").arg(number).arg(QDir(path).dirName())));
    // Walked on the scanner thread: a large folder would hold the window
    // for seconds.
    ++walksPending;
    fileScanner.RequestWalk(QStringList(path), true);
    return folder;
}

// ---------------------------------------------------------------------------
// Walks and their merges

// What a slice needs of the folder it works in, looked up anew at the start
// of every slice.
struct SharedFoldersManager::FolderContext
{
    ItemPtr sharedFolder;
    ItemPtr folderItem;
    // The folder's files by their exact names, as the disk lists them.
    std::unordered_map<QString, Item*> byName;
    // The words of the folder's path, sorted, with their token items once
    // looked up.
    std::vector<QString> folderWords;
    QHash<QString, ItemPtr> folderTokens;
};

void SharedFoldersManager::OnFoldersRescanned()
{
    walksPending = std::max(0, walksPending - 1);
    auto job = std::make_unique<MergeJob>();
    auto results = std::make_shared<FileScanner::ResultMap>();
    results->swap(fileScanner.scanResults);
    job->startUpResults = results;
    job->results = results.get();
    for (const auto& root : *results)
        job->roots << root.first;
    job->walkRoots = walkRoots;
    StartMerge(std::move(job));
}

void SharedFoldersManager::RescanShares()
{
    QStringList roots;
    for (const ItemPtr& folder : sharedFolderType->GetItems())
        roots << folder.AsString();
    ++walksPending;
    fileScanner.RequestWalk(roots);
}

void SharedFoldersManager::OnSharesWalked(FileScanner::WalkResult walk)
{
    walksPending = std::max(0, walksPending - 1);
    if (!walk)
        return;
    auto job = std::make_unique<MergeJob>();
    job->rescan = !walk->sharing;
    job->sharing = walk->sharing;
    job->walk = walk;
    job->results = &walk->results;
    job->roots = walk->roots;
    StartMerge(std::move(job));
}

void SharedFoldersManager::StartMerge(std::unique_ptr<MergeJob> job)
{
    merges.push_back(std::move(job));
    // A small merge is done at once; a large one goes on in the loop's turns.
    if (!mergePass.IsRunning())
        mergePass.Start();
}

bool SharedFoldersManager::MergeSome(TurnSlice& slice)
{
    // Keeps items that a slot removes while we hold them readable.
    Data::Batch batch(&d);
    while (!merges.empty()) {
        MergeJob& job = *merges.front();
        if (!job.started) {
            job.started = true;
            if (!job.rescan)
                Log("Profiling", 1, "OnFoldersRescanned begin");
        }
        if (job.rootIndex < job.roots.size()) {
            if (!job.inRoot) {
                const QString& root = job.roots[job.rootIndex];
                // Unshared since the walk: skipped.
                if (!sharedFolderType->HasItem(Value(root))) {
                    ++job.rootIndex;
                    continue;
                }
                const auto it = job.results->find(root);
                job.folders = it == job.results->end() ? &job.noFolders : &it->second;
                job.folder = job.folders->begin();
                job.rootFolders.clear();
                job.inRoot = true;
            }
            if (job.folder == job.folders->end()) {
                // A rescan leaves each root holding the folders its own walk
                // listed, and no others.
                if (job.rescan) {
                    ItemPtr sharedFolder = sharedFolderType->HasItem(Value(job.roots[job.rootIndex]));
                    for (ItemPtr folder : sharedFolder.GetItems(fileFolderType))
                        if (!job.rootFolders.contains(folder.AsString()))
                            sharedFolder.Disconnect(folder);
                }
                job.inRoot = false;
                ++job.rootIndex;
            } else if (!MergeFolder(job, slice))
                break;
        } else {
            std::unique_ptr<MergeJob> done = std::move(merges.front());
            merges.pop_front();
            FinishMerge(*done);
        }
        if (!slice.More())
            break;
    }
    return merges.empty();
}

bool SharedFoldersManager::MergeFolder(MergeJob& job, TurnSlice& slice)
{
    FolderContext context;
    const QString& path = job.folder->first;
    context.sharedFolder = sharedFolderType->HasItem(Value(job.roots[job.rootIndex]));
    if (!context.sharedFolder) {
        // Unshared while its folders were being merged: the rest is skipped.
        job.inFolder = false;
        job.oldFiles.clear();
        job.inRoot = false;
        ++job.rootIndex;
        return true;
    }
    context.folderItem = fileFolderType->GetItem(Value(path));
    if (!job.inFolder)
        EnterFolder(job, context);

    for (const ItemPtr& file : context.folderItem.GetItems(sharedFileType))
        context.byName.emplace(file[fileNameType].AsString(), file.GetItemPointer());
    context.folderWords = TokensOf(path.toLower());

    const FileScanner::FileMap& files = job.folder->second;
    if (!job.folderGone)
        for (; job.file != files.end(); ++job.file) {
            if (!slice.Take())
                return false;
            MergeFile(job, context, job.file->first, job.file->second.size());
        }
    // Its end is a step of its own: a tree of empty folders is merged a
    // slice at a time too.
    if (!slice.Take())
        return false;

    // The files the folder held that are gone from it on disk.
    ItemSet leftovers;
    for (const ItemPtr& file : context.folderItem.GetItems(sharedFileType))
        if (job.oldFiles.count(file.Sequence()))
            leftovers.AppendInOrder(file);
    if (job.rescan)
        job.removed += int(leftovers.size());
    leftovers.Remove();
    job.oldFiles.clear();
    job.inFolder = false;
    job.folder = job.folders->erase(job.folder);
    return true;
}

void SharedFoldersManager::EnterFolder(MergeJob& job, FolderContext& context)
{
    const QString& path = job.folder->first;
    job.inFolder = true;
    job.file = job.folder->second.begin();
    // The walk may be some seconds old by now: a folder gone since is
    // merged as listed empty, as a scan of it now would list it.
    job.folderGone = !QFileInfo::exists(path);
    if (job.sharing && IsLogging())
        Log("Shared", 1, QString("Adding folder %1 as part of sharing %2").arg(path, job.roots[job.rootIndex]));
    context.sharedFolder += context.folderItem;
    job.seenFolders.insert(path);
    job.rootFolders.insert(path);
    job.oldFiles.clear();
    for (const ItemPtr& file : context.folderItem.GetItems(sharedFileType))
        job.oldFiles.insert(file.Sequence());
}

void SharedFoldersManager::MergeFile(MergeJob& job, FolderContext& context, const QString& name, qint64 size)
{
    const QString path = JoinPath(job.folder->first, name);
    // A "\" in a local name splits its search words where a path would.
    const bool plainName = !name.contains(QLatin1Char('\\'));
    ItemPtr file;
    const auto it = context.byName.find(name);
    if (it != context.byName.end())
        file = it->second;

    if (file) {
        job.oldFiles.erase(file.Sequence());
        if (file[fileSizeType].AsInt64() != size)
            file += fileSizeType->GetItem(Value(static_cast<long long>(size)));
    } else {
        file = sharedFileType->NewItem();
        file += context.folderItem;
        file += fileNameType->GetItem(Value(name));
        file += fileSizeType->GetItem(Value(static_cast<long long>(size)));
        ++job.added;
        context.byName[name] = file.GetItemPointer();
    }
    if (IsMp3Name(name) && !file[isScannedType])
        emit MP3ScanRequired(path);
    if (file.IsRemoved() || file[searchTokenType])
        return;
    if (!plainName) {
        TokenizeSharedFile(file);
        return;
    }

    // The tokens of "folder\name", in the order TokenizeSharedFile makes
    // them, with the folder's own looked up once per slice.
    const std::vector<QString> nameWords = TokensOf(name.toLower());
    std::vector<QString> words;
    words.reserve(context.folderWords.size() + nameWords.size());
    std::set_union(context.folderWords.begin(), context.folderWords.end(), nameWords.begin(), nameWords.end(),
                   std::back_inserter(words));
    for (const QString& word : words) {
        const bool folderWord = std::binary_search(context.folderWords.begin(), context.folderWords.end(), word);
        ItemPtr token;
        if (folderWord)
            token = context.folderTokens.value(word);
        if (!token || token.IsRemoved()) {
            token = searchTokenType->GetItem(Value(word.toUtf8()));
            if (folderWord)
                context.folderTokens.insert(word, token);
        }
        file += token;
    }
}

void SharedFoldersManager::ReleaseWalkMemory()
{
    // A walk's results take more memory than the share itself: given back
    // rather than kept for the next walk, in a turn of its own, as it takes
    // a while on a large heap.
    QTimer::singleShot(0, this, [] { malloc_trim(0); });
}

void SharedFoldersManager::FinishMerge(MergeJob& job)
{
    CountsMayHaveChanged();
    if (job.sharing) {
        ReleaseWalkMemory();
        for (const QString& root : job.roots) {
            if (--newFolders[root] <= 0)
                newFolders.remove(root);
            emit SharedFolderScanned(root);
        }
        return;
    }
    if (job.rescan) {
        const ItemSet unreached = fileFolderType->GetItems().NotConnected(ShareNames::SharedFolder);
        job.removed += int(unreached.GetItems(ShareNames::SharedFile).size());
        RemoveFolderItems(unreached);
        d.RemoveDisconnectedItems();
        ReleaseWalkMemory();
        emit SharedFilesRescanned(job.added, job.removed);
        return;
    }

    // Folders the walk did not see are gone, except those of folders shared
    // after the walk began: the walk never looked at them, and their own
    // scan has already filed them.
    ItemSet unseen;
    for (const ItemPtr& folderItem : fileFolderType->GetItems()) {
        if (job.seenFolders.contains(folderItem.AsString()))
            continue;
        bool sharedSinceWalk = false;
        for (const ItemPtr& sharedFolder : folderItem.GetItems(sharedFolderType))
            if (!job.walkRoots.contains(sharedFolder.AsString())) {
                sharedSinceWalk = true;
                break;
            }
        if (!sharedSinceWalk)
            unseen.AppendInOrder(folderItem);
    }
    RemoveFolderItems(unseen);
    ReleaseWalkMemory();
    Log("Profiling", 1, "OnFoldersRescanned end");
}
