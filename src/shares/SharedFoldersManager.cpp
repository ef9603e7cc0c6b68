#include "SharedFoldersManager.h"

#include <QDir>
#include <QMetaObject>
#include <QStringView>
#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "DNetManager.h"
#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "PeerNames.h"
#include "Schema.h"
#include "SearchParser.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ShareNames.h"
#include "SharedFolderInfo.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace {
// The types of the own shares and of browsed shares, their relations and
// what the data file keeps of them.
void DeclareTypes()
{
    using namespace Schema;
    Declare(ShareNames::SharedFolder, Root, Valued);
    Save(ShareNames::SharedFolder);
    Declare(ShareNames::SharedFile, Node, Valueless);
    Declare(ShareNames::SharedFileName, Node, Valued);
    Declare("shared_file_lowercase_name", Attribute, Valued);
    Declare(ShareNames::SharedFileFolder, Node, Valued);
    Declare("shared_file_folder_lowercase_name", Attribute, Valued);
    Declare(ShareNames::SharedFileSize, Attribute, Valued);
    Declare(ShareNames::SharedPublic, Attribute, Valueless);
    Declare(ShareNames::SharedUserlist, Attribute, Valueless);
    Declare("is_scanned", Attribute, Valueless);
    Declare("shared_folder_id", Attribute, Valued);

    Relate(ShareNames::SharedFolder, ShareNames::SharedFileFolder, many, many);
    Relate(ShareNames::SharedFile, ShareNames::SharedFileFolder, one, many);
    Relate(ShareNames::SharedFileFolder, "shared_file_folder_lowercase_name", one, many);
    Relate(ShareNames::SharedFile, ShareNames::SharedFileName, one, many);
    Relate(ShareNames::SharedFileName, "shared_file_lowercase_name", one, many);
    Relate(ShareNames::SharedFile, ShareNames::SharedFileSize, one, many);
    Relate(ShareNames::SharedFolder, ShareNames::SharedPublic, one, many);
    Relate(ShareNames::SharedFolder, ShareNames::SharedUserlist, one, many);
    Relate(ShareNames::SharedFileFolder, "is_scanned", one, many);
    Relate(ShareNames::SharedFolder, ServerNames::UserListGroup, many, many);
    Relate(ShareNames::SharedFolder, "shared_folder_id", one, one);
    SaveWith(ShareNames::SharedPublic, ShareNames::SharedFolder);
    SaveWith(ShareNames::SharedUserlist, ShareNames::SharedFolder);
    SaveWith("shared_folder_id", ShareNames::SharedFolder);

    Declare(ShareNames::UserShare, Root, Valueless);
    Declare(ShareNames::UserShareFolder, Node, Valueless);
    Declare(ShareNames::UserShareFolderParent, Node, Valueless);
    Declare(ShareNames::UserShareFolderChild, Node, Valueless);
    Declare(ShareNames::UserShareFolderName, Attribute, Valued);
    Declare(ShareNames::UserShareFile, Node, Valueless);
    Declare(ShareNames::UserShareFileName, Attribute, Valued);
    Relate(ShareNames::UserShare, ServerNames::User, one, one);
    Relate(ShareNames::UserShare, ShareNames::UserShareFolder, many, one);
    Relate(ShareNames::UserShareFolder, ShareNames::UserShareFolderName, one, many);
    Relate(ShareNames::UserShareFolder, ShareNames::UserShareFile, many, one);
    Relate(ShareNames::UserShareFolder, ShareNames::UserShareFolderParent, one, one);
    Relate(ShareNames::UserShareFolder, ShareNames::UserShareFolderChild, many, one);
    Relate(ShareNames::UserShareFolderParent, ShareNames::UserShareFolderChild, one, one);
    Relate(ShareNames::UserShareFile, ShareNames::UserShareFileName, one, many);
    Relate(ShareNames::UserShareFile, PeerNames::FileSize, one, many);

    Declare("search_token", Attribute, Valued);
    Relate("search_token", ShareNames::SharedFile, many, many);

    for (const char* attribute : {PeerNames::MpegVersion, PeerNames::ChannelMode, PeerNames::AudioFrequency,
                                  PeerNames::BitrateMode, PeerNames::Bitrate})
        Relate(ShareNames::SharedFile, attribute, one, many);
    Relate(ShareNames::SharedFile, "is_scanned", one, many);
    Save("is_scanned");
    SaveWith(ShareNames::SharedFileFolder, ShareNames::SharedFolder);
    SaveWith(ShareNames::SharedFile, ShareNames::SharedFileFolder);
    for (const char* attribute :
         {ShareNames::SharedFileName, ShareNames::SharedFileSize, PeerNames::MpegVersion, PeerNames::ChannelMode,
          PeerNames::AudioFrequency, PeerNames::BitrateMode, PeerNames::Bitrate})
        SaveWith(attribute, ShareNames::SharedFile);
    for (const char* attribute : {PeerNames::BitrateMode, PeerNames::Bitrate, PeerNames::LengthSeconds})
        Relate(ShareNames::UserShareFile, attribute, one, many);

    Declare(ShareNames::Unshared, Attribute, Valueless);
    Relate(ServerNames::User, ShareNames::Unshared, one, many);
    Save(ShareNames::Unshared);
    SaveWith(ServerNames::User, ShareNames::Unshared);
}

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

bool IsPathWordSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// Appends every maximal run of characters that are not separators.
void Split(const QString& text, bool (*isSeparator)(QChar), std::vector<QStringView>& tokens)
{
    int start = -1;
    for (int i = 0; i <= text.size(); ++i) {
        const bool separator = i == text.size() || isSeparator(text[i]);
        if (!separator && start < 0)
            start = i;
        else if (separator && start >= 0) {
            tokens.push_back(QStringView(text).mid(start, i - start));
            start = -1;
        }
    }
}
} // namespace

SharedFoldersManager::SharedFoldersManager(QObject* parent)
    : QObject(parent), mergePass(MergeFloor, [this](TurnSlice& slice) { return MergeSome(slice); }),
      countsPass(1,
                 [this](TurnSlice&) {
                     SendCountsIfChanged();
                     return true;
                 }),
      searchPass(SearchFloor, [this](TurnSlice& slice) { return SearchSome(slice); }),
      replyBuilder(this, "OnSearchAnswersBuilt"),
      shareListPass(ShareListFloor, [this](TurnSlice& slice) { return ShareListSome(slice); }),
      narrowedPass(1,
                   [this](TurnSlice&) {
                       emit VisibilityNarrowed();
                       return true;
                   }),
      releasePass(ReleaseFloor, [this](TurnSlice& slice) { return ReleaseSome(slice); })
{
    sharedFoldersManager = this;

    DeclareTypes();
    sharedFolderType = d.GetType(ShareNames::SharedFolder);
    sharedFileType = d.GetType(ShareNames::SharedFile);
    fileNameType = d.GetType(ShareNames::SharedFileName);
    lowerNameType = d.GetType("shared_file_lowercase_name");
    fileFolderType = d.GetType(ShareNames::SharedFileFolder);
    lowerFolderType = d.GetType("shared_file_folder_lowercase_name");
    fileSizeType = d.GetType(ShareNames::SharedFileSize);
    isScannedType = d.GetType("is_scanned");
    searchTokenType = d.GetType("search_token");
    bitrateType = d.GetType(PeerNames::Bitrate);
    bitrateModeType = d.GetType(PeerNames::BitrateMode);

    fileNameType->AddItemAddedHandler(
        new EventHandler<SharedFoldersManager, ItemPtr>(this, &SharedFoldersManager::OnSharedFileNameAdded));
    fileFolderType->AddItemAddedHandler(
        new EventHandler<SharedFoldersManager, ItemPtr>(this, &SharedFoldersManager::OnSharedFileFolderAdded));
    for (Type* counted : {fileFolderType, sharedFileType}) {
        counted->AddItemAddedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr) { CountsMayHaveChanged(); }));
        counted->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr) { CountsMayHaveChanged(); }));
    }

    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
                &SharedFoldersManager::OnFilesInFoldersRequested);
        peerMessenger->SetShareListProvider([this](QString user) { AnswerShareList(user); });
    }

    if (dnetManager)
        connect(dnetManager, &DNetManager::DNetSearchRequest, this, &SharedFoldersManager::OnDNetSearchRequest);

    WatchVisibility();
    // A kept share list stands for the shares as they were: any connection
    // of a root, folder or file (a file added, renamed or gone, a folder
    // moved between roots, a root's audience) drops it.
    for (Type* changed : {sharedFolderType, fileFolderType, sharedFileType}) {
        changed->AddConnectedHandler(
            new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo&) { SharesChanged(); }));
        changed->AddDisconnectedHandler(
            new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo&) { SharesChanged(); }));
    }

    d.GetType(ShareNames::UserShare)->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr share) {
        releasingShares.erase(std::remove(releasingShares.begin(), releasingShares.end(), share),
                              releasingShares.end());
    }));

    scannerThread.setObjectName("File Scanner");
    scannerThread.start(QThread::InheritPriority);
    fileScanner.moveToThread(&scannerThread);

    connect(this, &SharedFoldersManager::MP3ScanRequired, &fileScanner, &FileScanner::OnMP3ScanRequired);
    connect(&fileScanner, &FileScanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
        connect(gp_server, &Server::ReceivedUserStats, this, &SharedFoldersManager::OnReceivedUserStats);
    }

    SetSetting("shared_folder_counter", "1");

    if (gp_server)
        connect(gp_server, &Server::DirectFileSearch, this, &SharedFoldersManager::OnDirectFileSearch);
    connect(&fileScanner, &FileScanner::FoldersScanned, this, &SharedFoldersManager::OnFoldersRescanned);
    connect(&fileScanner, &FileScanner::SharesWalked, this, &SharedFoldersManager::OnSharesWalked);
    replyThread.setObjectName("Search Replies");
    replyThread.start(QThread::LowPriority);
    replyBuilder.moveToThread(&replyThread);
}

SharedFoldersManager::~SharedFoldersManager()
{
    // A reply being built finishes first; those waiting are dropped.
    replyThread.quit();
    replyThread.wait();
    fileScanner.Quit();
    scannerThread.exit(0);
    scannerThread.wait();
    // Peer messaging outlives us at exit; it answers with an empty list again.
    if (peerMessenger)
        peerMessenger->SetShareListProvider(nullptr);
    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
}

void SharedFoldersManager::Init()
{
    QStringList folders;
    for (const ItemPtr& folder : sharedFolderType->GetItems())
        folders << folder.AsString();
    walkRoots = QSet<QString>(folders.begin(), folders.end());
    ++walksPending;
    fileScanner.RequestScan(folders);

    PathNode* root = new PathNode(&d, ServerNames::User);
    new PathNode(root, PeerNames::UserAddress, 2);
    d.AddPathEventHandler(root,
                          new EventHandler<SharedFoldersManager, ItemPtr>(this, &SharedFoldersManager::OnUserAddress));
}

QString SharedFoldersManager::NormalizedPath(const QString& path)
{
    // "\" as "/", and runs of "/" as one; letter case is kept.
    QString key;
    key.reserve(path.size());
    for (QChar c : path) {
        if (c == QLatin1Char('\\'))
            c = QLatin1Char('/');
        if (c == QLatin1Char('/') && key.endsWith(QLatin1Char('/')))
            continue;
        key.append(c);
    }
    return key;
}

QString SharedFoldersManager::GetAbsoluteFileName(QString path)
{
    // Lower case too, so the key of a local path and of the remote form of
    // it in any case are the same.
    return NormalizedPath(path.toLower());
}

ItemPtr SharedFoldersManager::GetSharedFileItem(QString path)
{
    const QString exact = NormalizedPath(path);
    const std::string key = Utf8(exact.toLower());
    const std::string exactKey = Utf8(exact);
    return LookUpSharedFile(GetFileName(key), GetFolder(key), GetFileName(exactKey), GetFolder(exactKey));
}

ItemPtr SharedFoldersManager::LookUpSharedFile(const std::string& lowerName, const std::string& lowerFolder,
                                               const std::string& exactName, const std::string& exactFolder) const
{
    ItemPtr nameTwin = lowerNameType->HasItem(lowerName);
    if (!nameTwin)
        return ItemPtr();
    ItemPtr folderTwin = lowerFolderType->HasItem(lowerFolder);
    if (!folderTwin)
        return ItemPtr();
    const ItemSet names = nameTwin.GetItems(fileNameType);
    const ItemSet folders = folderTwin.GetItems(fileFolderType);

    // Walk the files of whichever side holds fewer: a name such as
    // "cover.jpg" may be held by thousands of files, a folder by thousands
    // of names, and either walk alone would make a scan quadratic.
    size_t byName = 0, byFolder = 0;
    for (const ItemPtr& name : names)
        byName += size_t(name.CountItems(ShareNames::SharedFile));
    for (const ItemPtr& folder : folders)
        byFolder += size_t(folder.CountItems(ShareNames::SharedFile));
    const ItemSet& walk = byName <= byFolder ? names : folders;
    const ItemSet& other = byName <= byFolder ? folders : names;
    Type* otherType = byName <= byFolder ? fileFolderType : fileNameType;

    // "A.mp3" and "a.mp3" are two files: the one spelt as asked wins, and a
    // spelling in another case finds a file only when it names just one.
    ItemPtr found;
    int matches = 0;
    for (const ItemPtr& holder : walk)
        for (const ItemPtr& file : holder.GetItems(sharedFileType)) {
            if (!other.contains(file[otherType]))
                continue;
            if (file[fileNameType].AsStdString() == exactName) {
                std::string folder = Utf8(NormalizedPath(file[fileFolderType].AsString()));
                if (!folder.empty() && folder.back() == '/')
                    folder.pop_back();
                if (folder == exactFolder)
                    return file;
            }
            found = file;
            ++matches;
        }
    return matches == 1 ? found : ItemPtr();
}

void SharedFoldersManager::OnReceivedUserStats(QString user, UserStats stats)
{
    if (user != GetSetting("username"))
        return;
    SetSetting("upload_speed", QString::number(qint32(stats.m_averageSpeed)));
}

// ---------------------------------------------------------------------------
// Search-token index and lower-case twins

bool SharedFoldersManager::IsSearchTokenSeparator(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))
        return false;
    if (u < 128)
        return true;
    return u > 255;
}

std::vector<QString> SharedFoldersManager::TokensOf(const QString& lowerText)
{
    std::vector<QStringView> tokens;
    // Word runs: letters and digits of ASCII and Latin-1.
    Split(lowerText, &IsSearchTokenSeparator, tokens);
    // Path words: whatever lies between spaces and slashes, so names in
    // other scripts can still be found by their whole words.
    Split(lowerText, &IsPathWordSeparator, tokens);
    // Both passes find most words; each is looked up once.
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    std::vector<QString> words;
    words.reserve(tokens.size());
    for (QStringView token : tokens)
        words.push_back(token.toString());
    return words;
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file)
{
    const QString text =
        (file[fileFolderType].AsString() + QLatin1Char('\\') + file[fileNameType].AsString()).toLower();
    for (const QString& token : TokensOf(text))
        file += searchTokenType->GetItem(Value(token.toUtf8()));
}

namespace {
// GetAbsoluteFileName of an ASCII value, byte by byte; false for any other.
// Names are loaded a hundred thousand at a time, and most are ASCII.
bool AsciiKey(const std::string& bytes, std::string& key)
{
    key.clear();
    key.reserve(bytes.size());
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        else if (c == '\\')
            c = '/';
        if (c == '/' && !key.empty() && key.back() == '/')
            continue;
        key += c;
    }
    return true;
}

std::string LowerKey(ItemPtr item)
{
    std::string key;
    if (!AsciiKey(item.AsStdString(), key))
        key = SharedFoldersManager::GetAbsoluteFileName(item.AsString()).toUtf8().toStdString();
    return key;
}
} // namespace

void SharedFoldersManager::OnSharedFileNameAdded(ItemPtr name)
{
    name += lowerNameType->GetItem(Value(LowerKey(name)));
}

void SharedFoldersManager::OnSharedFileFolderAdded(ItemPtr folder)
{
    // Without its trailing "/" the twin of a folder shared as "/" or as
    // "/music/" matches the folder part of its files' paths; otherwise
    // those files would never be found and every scan would make them anew.
    std::string key = LowerKey(folder);
    if (!key.empty() && key.back() == '/')
        key.pop_back();
    folder += lowerFolderType->GetItem(Value(key));
}

// ---------------------------------------------------------------------------
// Audio analysis

void SharedFoldersManager::OnMP3Scanned(QString file, int mpegVersion, QString channelMode, int frequency, bool isVBR,
                                        int bitrate)
{
    if (IsLogging())
        Log("MP3 Scanning", 1, QString("Scanned %1").arg(file));
    // The file may have been unshared while it was analysed.
    ItemPtr item = GetSharedFileItem(file);
    if (!item)
        return;
    item += d.GetType(PeerNames::MpegVersion)->GetItem(Value(mpegVersion));
    item += d.GetType(PeerNames::ChannelMode)->GetItem(Value(channelMode));
    item += d.GetType(PeerNames::AudioFrequency)->GetItem(Value(frequency));
    item += d.GetType(PeerNames::BitrateMode)->GetItem(Value(isVBR ? "vbr" : "cbr"));
    item += d.GetType(PeerNames::Bitrate)->GetItem(Value(bitrate));
    // Saved with the file, so it is not analysed again in a later run.
    item += isScannedType->GetGlobalNullItem();
}

// ---------------------------------------------------------------------------
// Share visibility

void SharedFoldersManager::SetUploadQueue(UploadQueue queue)
{
    uploadQueue = std::move(queue);
}

void SharedFoldersManager::WatchVisibility()
{
    // Told a turn later: the store may be in the middle of taking a folder
    // apart, and a rescan cuts thousands of files in one go.
    // Narrowed again while it is told, it is told once more.
    const auto narrowed = [this] { narrowedPass.StartNextTurn(); };
    const auto cutFrom = [narrowed](std::initializer_list<const char*> names) {
        std::vector<const Type*> types;
        for (const char* name : names)
            if (const Type* type = d.HasType(name))
                types.push_back(type);
        return [narrowed, types](ConnectionInfo& cut) {
            if (std::find(types.begin(), types.end(), cut.item2.GetType()) != types.end())
                narrowed();
        };
    };
    // Removing an item cuts its connections, so these hear of removals too.
    sharedFolderType->AddDisconnectedHandler(new FunctionHandler<ConnectionInfo&>(
        this, cutFrom({ShareNames::SharedPublic, ShareNames::SharedUserlist, ServerNames::UserListGroup,
                       ShareNames::SharedFileFolder})));
    sharedFileType->AddDisconnectedHandler(
        new FunctionHandler<ConnectionInfo&>(this, cutFrom({ShareNames::SharedFileFolder})));
    if (Type* listed = d.HasType(ServerNames::InUserList))
        listed->AddDisconnectedHandler(
            new FunctionHandler<ConnectionInfo&>(this, cutFrom({ServerNames::User, ServerNames::UserListGroup})));
    d.GetType(ShareNames::Unshared)
        ->AddConnectedHandler(new FunctionHandler<ConnectionInfo&>(this, cutFrom({ServerNames::User})));
}

ItemSet SharedFoldersManager::GetUserSharedFolders(QString user)
{
    ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(Value(user));
    if (userItem.IsConnected(ShareNames::Unshared))
        return ItemSet();
    const ItemSet sharedFolders = sharedFolderType->GetItems();
    ItemSet visible = sharedFolders.Connected(ShareNames::SharedPublic);
    ItemPtr listed = userItem[ServerNames::InUserList];
    if (!listed)
        return visible;
    visible.Add(sharedFolders.Connected(ShareNames::SharedUserlist));
    for (const ItemPtr& group : listed.GetItems(ServerNames::UserListGroup))
        visible.Add(group.GetItems(sharedFolderType));
    return visible;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr file, QString user)
{
    // A user who has no item yet carries no mark, so finding none is the
    // same answer as making one would give.
    ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(Value(user));
    if (userItem.IsConnected(ShareNames::Unshared))
        return false;
    const ItemSet roots = file[fileFolderType].GetItems(sharedFolderType);
    if (!roots.Connected(ShareNames::SharedPublic).empty())
        return true;
    ItemPtr listed = userItem[ServerNames::InUserList];
    if (!listed)
        return false;
    if (!roots.Connected(ShareNames::SharedUserlist).empty())
        return true;
    return !roots.Connected(listed.GetItems(ServerNames::UserListGroup)).empty();
}

bool SharedFoldersManager::IsUserAddressUnshared(QString user)
{
    ItemPtr address = d.GetType(ServerNames::User)->HasItem(Value(user))[PeerNames::UserAddress];
    if (!address)
        return false;
    return !address.GetItems(ServerNames::User).Connected(ShareNames::Unshared).empty();
}

void SharedFoldersManager::OnUserAddress(ItemPtr user)
{
    if (!user || user.IsConnected(ShareNames::Unshared))
        return;
    const QString name = user.AsString();
    if (!IsUserAddressUnshared(name))
        return;
    if (uploadQueue.unshareUser)
        uploadQueue.unshareUser(name);
    else
        user.NewItem(ShareNames::Unshared);
}

void SharedFoldersManager::RemoveUserShare(QString user)
{
    ItemPtr share = d.GetType(ServerNames::User)->HasItem(Value(user))[ShareNames::UserShare];
    if (!share)
        return;
    {
        Data::Batch batch(&d);
        const ItemSet folders = share.GetItems(ShareNames::UserShareFolder);
        // Folder by folder: gathering every file into one set first costs
        // a merge per folder, quadratic in a large share.
        for (const ItemPtr& folder : folders)
            folder.GetItems(ShareNames::UserShareFile).Remove();
        folders.Remove();
        share.Remove();
    }
    d.RemoveDisconnectedItems();
}

// ---------------------------------------------------------------------------
// Folder contents

void SharedFoldersManager::OnConnectedToServer()
{
    if (!gp_server)
        return;
    sentFolders = int(fileFolderType->Count());
    sentFiles = int(sharedFileType->Count());
    gp_server->SendFilesFolders(sentFolders, sentFiles);
    gp_server->GetUserStats(GetSetting("username"));
}

void SharedFoldersManager::CountsMayHaveChanged()
{
    // Sent a turn later, once for a whole burst of files.
    countsPass.StartNextTurn();
}

void SharedFoldersManager::SendCountsIfChanged()
{
    // A merge under way sends them when it ends; a login sends them anyway.
    if (IsMerging() || !gp_server || gp_server->GetState() != Server::StateLoggedIn)
        return;
    const int folders = int(fileFolderType->Count());
    const int files = int(sharedFileType->Count());
    if (folders == sentFolders && files == sentFiles)
        return;
    sentFolders = folders;
    sentFiles = files;
    gp_server->SendFilesFolders(folders, files);
}

void SharedFoldersManager::OnFilesInFoldersRequested(QString user, quint32 req, QString folder)
{
    QString local = folder;
    local.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // The text is the peer's: a folder we do not have must not become one.
    ItemPtr folderItem = fileFolderType->HasItem(Value(local));
    if (!folderItem || GetUserSharedFolders(user).Connected(folderItem).empty())
        return;

    SharedFolderInfo record;
    for (const ItemPtr& file : folderItem.GetItems(sharedFileType))
        record.Files().insert(FileInfo(file[fileNameType].AsStdString(), file[fileSizeType].AsInt64()));
    // The one folder goes back under the name the peer asked by.
    PeerMessages::FolderContentsBody contents;
    contents.token = req;
    contents.folder = folder;
    contents.folders[PeerMessages::Utf8(folder)] = std::move(record.Files());
    MemStream message = PeerMessages::WriteFolderContents(contents);
    if (peerMessenger)
        peerMessenger->SendMessage(user, message);
}

QString SharedFoldersManager::GetFileItemDisplayString(ItemPtr file)
{
    QString text;
    if (ItemPtr bitrate = file[PeerNames::Bitrate])
        text += QString::number(bitrate.AsUInt64());
    Type* modeType = d.GetType(PeerNames::BitrateMode);
    const ItemPtr vbr = modeType->HasItem(Value("vbr"));
    const ItemPtr cbr = modeType->HasItem(Value("cbr"));
    if (vbr && file.IsConnected(vbr))
        text += " VBR";
    else if (cbr && file.IsConnected(cbr))
        text += " CBR";
    // A length alone (a file without a bitrate) has nothing to follow.
    if (ItemPtr length = file[PeerNames::LengthSeconds])
        text += (text.isEmpty() ? QString() : QStringLiteral(", ")) + FormatSeconds(long(length.AsInt64()));
    return text;
}
