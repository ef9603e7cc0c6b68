#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "DataHandler.h"
#include "FileInfo.h"
#include "FileScanner.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "MemStream.h"
#include "SearchAnswer.h"
#include "SearchAnswerBuilder.h"
#include "SlicedJob.h"
#include "UserStats.h"

class Type;

// The user's own shares in the item store: folders, files, the search-token
// index and the lower-case twins that make look-ups ignore letter case. Owns
// the scanner thread; everything else runs on the event-loop thread.
class SharedFoldersManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    explicit SharedFoldersManager(QObject* parent = nullptr);
    ~SharedFoldersManager() override;

    // Starts the background walk of every shared folder; once per run,
    // after the data file has loaded.
    void Init();
    // True from Init, or a rescan's start, until its walk's results are in
    // the store.
    bool IsMerging() const { return walksPending > 0 || !merges.empty(); }
    // The merges' pass over turns: tests count its slices.
    SlicedJob& MergePass() { return mergePass; }

    // The look-up key of a path: lower case, "/" between components.
    static QString GetAbsoluteFileName(QString path);
    // The file a local or remote path names: the one spelt exactly so, else
    // the one file it names in another letter case; none when several do.
    ItemPtr GetSharedFileItem(QString path);

    // Shares a folder: the item at once, its files once its walk on the
    // scanner thread has been merged, a slice at a time; then
    // SharedFolderScanned. Until then IsScanningNewFolder is true for it.
    ItemPtr AddSharedFolder(QString path);
    bool IsScanningNewFolder(const QString& path) const { return newFolders.value(path) > 0; }
    // Walks every shared folder on the scanner thread, then merges what it
    // found a slice at a time and reports SharedFilesRescanned.
    void RescanShares();

    static bool IsSearchTokenSeparator(QChar c);
    // The search tokens of a lower-case path, sorted, each once. A backslash
    // separates words, so the tokens of a folder and a name joined by it
    // are those of the folder and those of the name.
    static std::vector<QString> TokensOf(const QString& lowerText);
    void TokenizeSharedFile(ItemPtr file);
    void OnSharedFileNameAdded(ItemPtr name);
    void OnSharedFileFolderAdded(ItemPtr folder);

    void OnUserAddress(ItemPtr user);

signals:
    void MP3ScanRequired(QString file);
    void SharedFilesRescanned(int filesAdded, int filesRemoved);
    void SharedFolderScanned(QString folder);
    void SearchProcessed(QString search, bool match);
    // Something may hide files from users who could have them before: a
    // folder unshared or its audience cut, files gone from the shares, a
    // user off the list, out of a group or withdrawn. Once per turn of the
    // event loop, after the change.
    void VisibilityNarrowed();

public slots:
    void OnDNetSearchRequest(QString user, quint32 req, QString searchText);
    void OnMP3Scanned(QString file, int mpegVersion, QString channelMode, int frequency, bool isVBR, int bitrate);
    void OnFilesInFoldersRequested(QString user, quint32 req, QString folder);
    void OnConnectedToServer();
    void OnReceivedUserStats(QString user, UserStats stats);
    void OnDirectFileSearch(QString user, quint32 req, QString search);
    void OnFoldersRescanned();
    void OnSharesWalked(FileScanner::WalkResult walk);

private slots:
    void OnSearchAnswersBuilt();
    void SendCountsIfChanged();

private:
    // "\" as "/" and runs of "/" as one, letter case kept.
    static QString NormalizedPath(const QString& path);
    ItemPtr LookUpSharedFile(const std::string& lowerName, const std::string& lowerFolder, const std::string& exactName,
                             const std::string& exactFolder) const;
    // Removes folder items together with the files they hold.
    void RemoveFolderItems(const ItemSet& folders);
    // A walk's results merged into the store a slice at a time, so that the
    // window keeps answering; the cursor holds paths, never items, since
    // anything may change between two slices.
    struct MergeJob
    {
        bool rescan = false;
        // The first walk of a folder just shared.
        bool sharing = false;
        // The walk's results; each folder's are dropped once merged, so
        // that freeing them is spread over the slices too.
        std::shared_ptr<FileScanner::ResultMap> startUpResults;
        FileScanner::WalkResult walk;
        FileScanner::ResultMap* results = nullptr;
        FileScanner::FolderMap noFolders;
        // In merge order: the start-up walk's in key order, a rescan's in the
        // store's order of the shared folders when it was asked for.
        QStringList roots;
        // The start-up walk's roots: only their unseen folders go at the end.
        QSet<QString> walkRoots;
        bool started = false;

        // The cursor.
        int rootIndex = 0;
        bool inRoot = false;
        FileScanner::FolderMap* folders = nullptr;
        FileScanner::FolderMap::iterator folder;
        bool inFolder = false;
        bool folderGone = false;
        FileScanner::FileMap::const_iterator file;
        // The sequence numbers of the files the folder held when it was
        // entered and that no file on disk has matched yet.
        std::unordered_set<quint64> oldFiles;

        // Folders seen: by the whole walk, and by the current root's walk.
        QSet<QString> seenFolders;
        QSet<QString> rootFolders;
        int added = 0;
        int removed = 0;
    };
    struct FolderContext;
    // Files merged before a slice looks at the turn's budget.
    static constexpr int MergeFloor = 64;
    void StartMerge(std::unique_ptr<MergeJob> job);
    // True once every merge waiting is done.
    bool MergeSome(TurnSlice& slice);
    // False when the slice ran out inside the folder.
    bool MergeFolder(MergeJob& job, TurnSlice& slice);
    void EnterFolder(MergeJob& job, FolderContext& context);
    void MergeFile(MergeJob& job, FolderContext& context, const QString& name, qint64 size);
    void FinishMerge(MergeJob& job);
    void ReleaseWalkMemory();
    std::deque<std::unique_ptr<MergeJob>> merges;
    SlicedJob mergePass;
    int walksPending = 0;

    QThread scannerThread;
    FileScanner fileScanner;

    // The roots handed to the start-up walk: the merge may drop unseen
    // folders only of these, not of folders shared while it ran.
    QSet<QString> walkRoots;
    // Folders shared whose first walk is not yet in the store, with the
    // number of such walks (unshared and shared again, a path has two).
    QHash<QString, int> newFolders;

    // Others see our folder and file counts from the server: they are sent
    // again once whatever changed them is over, not per file.
    void CountsMayHaveChanged();
    SlicedJob countsPass;
    int sentFolders = -1;
    int sentFiles = -1;

    // Looked up once: the scans and the index use them for every file.
    Type* sharedFolderType;
    Type* sharedFileType;
    Type* fileNameType;
    Type* lowerNameType;
    Type* fileFolderType;
    Type* lowerFolderType;
    Type* fileSizeType;
    Type* isScannedType;
    Type* searchTokenType;

    // ---- Who may see what, and the answers to other users' searches,
    // share-list and folder requests.
public:
    // What the search replies and the address rule need of the upload
    // queue. The transfer engine provides it; until then no slot is free,
    // nothing is queued, and withdrawing a user only marks the user.
    struct UploadQueue
    {
        std::function<bool()> isFreeToUpload;
        std::function<int()> queuedUploadCount;
        std::function<void(QString user)> unshareUser;
    };
    void SetUploadQueue(UploadQueue queue);

    // Every look-up by a user name leaves the store as it was: the names
    // come from other users, who may send any number of them.
    ItemSet GetUserSharedFolders(QString user);
    bool IsFileSharedWithUser(ItemPtr file, QString user);
    bool IsUserAddressUnshared(QString user);
    void RemoveUserShare(QString user);
    // Takes a share tree apart over the next turns of the event loop, a
    // slice at a time, so that a share of any size goes without stalling
    // the window; from the call on it is nobody's share. Its names and
    // values go with it unless something else holds them.
    void ReleaseShare(ItemPtr share);
    bool IsReleasingShares() const { return !releasingShares.empty(); }
    SlicedJob& ReleasePass() { return releasePass; }

    // True when a reply was sent. Answers at once, however many files
    // match; OnDirectFileSearch answers a search that many files may match
    // a slice at a time instead, reporting SearchProcessed when done.
    bool ProcessSearch(QString user, quint32 token, QString text);
    // The pass of the searches answered over turns.
    SlicedJob& SearchPass() { return searchPass; }
    void GetSharedFilesAsUserShare(QString user, FileInfoMap& shares, AttributeTranslationTable& attributes);
    // The whole answer to a share-list request, built at once: code 5 and
    // the zlib stream.
    MemStream GetSharedFilesMessage(QString user);
    // Answers a user's share-list request through peer messaging with the
    // same bytes GetSharedFilesMessage gives: at once when the user sees
    // nothing or a list of the same folders is kept, else gathered a slice
    // at a time and built and compressed on the reply thread. A user already
    // waiting gets the one answer; users beyond MaxWaitingShareLists go
    // unanswered.
    void AnswerShareList(QString user);
    // Users whose share list is still to be sent, the one being built first;
    // the first in line is gathered from the share as it stood at its request.
    int ShareListsWaiting() const { return int(shareListUsers.size()); }
    static constexpr size_t MaxWaitingShareLists = 32;
    // A list built is kept for everyone who may see the same shared folders
    // until the shares change, so a crowd of askers costs one build; a few
    // are kept, each for a set of folders, the most recently used first.
    static constexpr size_t KeptShareLists = 4;
    // Share lists gathered and built since the start; tests count them.
    int ShareListsBuilt() const { return shareListsBuilt; }
    // The gathering of share lists over turns: tests count its slices.
    SlicedJob& ShareListPass() { return shareListPass; }
    static QString GetFileItemDisplayString(ItemPtr file);

private:
    // A file's record in share lists and search replies, under the given
    // name; only the name's extension decides whether audio attributes go.
    FileInfo MakeFileInfo(ItemPtr file, std::string name);

    // What decides which files answer a search.
    struct SearchQuery
    {
        ItemSet tokens;
        std::vector<std::string> words;
        std::set<QString> parts;
        std::set<QString> excluded;
        ItemSet visibleFolders;
    };
    // False when the search cannot be answered at all.
    bool PrepareSearch(const QString& user, const QString& text, SearchQuery& query);
    // Adds the file's record when its name passes the part and excluded
    // words; the folder is the file's, already found visible.
    void MatchFile(ItemPtr file, ItemPtr folder, const SearchQuery& query, std::vector<SearchAnswer::Match>& matches);
    bool AnswerNow(const QString& user, quint32 token, const QString& text, const SearchQuery& query);
    SearchAnswer::Header ReplyHeader(quint32 token);
    void SendReply(const QString& user, const QString& text, MemStream& message);

    // A search that many files may match, gone through a slice at a time by
    // folder; the reply is built and compressed on the reply thread. Only
    // paths are held between slices.
    struct SearchJob
    {
        QString user;
        quint32 token = 0;
        QString text;
        std::vector<std::string> words;
        std::set<QString> parts;
        std::set<QString> excluded;
        QSet<QString> visibleRoots;
        QStringList folders;
        int next = 0;
        std::vector<SearchAnswer::Match> matches;
    };
    // Up to this many files held by the rarest word, a search is answered
    // at once: a reply of a few thousand files takes a few milliseconds.
    static constexpr size_t AnswerAtOnceLimit = 2000;
    // Searches waiting beyond this many go unanswered, so a burst of them
    // cannot take memory without bound.
    static constexpr size_t MaxWaitingSearches = 32;
    // Files looked at before a slice looks at the turn's budget; a folder
    // is gone through whole.
    static constexpr int SearchFloor = 256;
    // True once no search may go on: none waits, or a reply is building.
    bool SearchSome(TurnSlice& slice);
    std::deque<std::unique_ptr<SearchJob>> searchJobs;
    SlicedJob searchPass;
    QThread replyThread;
    SearchAnswerBuilder replyBuilder;
    int repliesBuilding = 0;

    // The share list being gathered, a slice at a time by folder and, in a
    // large folder, by file; only paths and places in the store's order are
    // held between slices. The roots are those visible when it started.
    struct ShareListJob
    {
        QString user;
        // The key of the list: the visible roots, sorted.
        QStringList roots;
        QSet<QString> visibleRoots;
        std::vector<std::string> folders;
        size_t next = 0;
        // The store place of the next file of the current folder.
        quint64 nextFile = 0;
        std::unique_ptr<FileInfoMap> shares;
    };
    // Files gathered before a slice looks at the turn's budget.
    static constexpr int ShareListFloor = 512;
    // The folder's share-list key: its path with "\" between components.
    static std::string RemoteFolder(ItemPtr folder);
    // Adds the folder's files from the store place on; false when the
    // slice (if any) ran out first, the place then that of the next.
    bool GatherFolderFiles(ItemPtr folder, std::set<FileInfo>& files, quint64& from, TurnSlice* slice);
    // The shared roots the user may see, sorted: users with the same get
    // the same list.
    static QStringList ListKey(const ItemSet& visible);
    // Sends the user's list at once when it sees nothing or its list is
    // kept; false when it must be built.
    bool AnswerAtOnce(const QString& user);
    void StartShareList();
    // True once no list may be gathered: none waits, or one is building.
    bool ShareListSome(TurnSlice& slice);
    void ShareListBuilt(SearchAnswerBuilder::Done& done);
    void KeepShareList(const QStringList& roots, const MemStream& message);
    // Any change to the shared folders, their files or who may see them.
    void SharesChanged();
    std::deque<QString> shareListUsers;
    std::unique_ptr<ShareListJob> shareListJob;
    SlicedJob shareListPass;
    // A list compresses: the next is gathered once it is built, so that no
    // more than one is held at a time.
    bool shareListBuilding = false;
    // What is building, and whether the shares changed since it started.
    QStringList buildingRoots;
    quint64 buildingGeneration = 0;
    quint64 sharesGeneration = 0;
    int shareListsBuilt = 0;
    struct KeptShareList
    {
        QStringList roots;
        // Shared by every copy sent.
        MemStream message;
    };
    std::deque<KeptShareList> keptShareLists;

    Type* bitrateType;
    Type* bitrateModeType;
    UploadQueue uploadQueue;
    // Hears of the store changes that may narrow what users see.
    void WatchVisibility();
    SlicedJob narrowedPass;

    // Files let go before a slice looks at the turn's budget.
    static constexpr int ReleaseFloor = 512;
    // True once every share is let go.
    bool ReleaseSome(TurnSlice& slice);
    // Shares being taken apart, oldest first.
    std::vector<ItemPtr> releasingShares;
    SlicedJob releasePass;
};

extern SharedFoldersManager* sharedFoldersManager;
