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
#include "Schema.h"
#include "SearchParser.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFolderInfo.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace
{
// The types of the own shares and of browsed shares, their relations and
// what the data file keeps of them.
void DeclareTypes()
{
    using namespace Schema;
    Declare("shared_folder", Root, Valued);
    Save("shared_folder");
    Declare("shared_file", Node, Valueless);
    Declare("shared_file_name", Node, Valued);
    Declare("shared_file_lowercase_name", Attribute, Valued);
    Declare("shared_file_folder", Node, Valued);
    Declare("shared_file_folder_lowercase_name", Attribute, Valued);
    Declare("shared_file_size", Attribute, Valued);
    Declare("shared_public", Attribute, Valueless);
    Declare("shared_userlist", Attribute, Valueless);
    Declare("is_scanned", Attribute, Valueless);
    Declare("shared_folder_id", Attribute, Valued);

    Relate("shared_folder", "shared_file_folder", many, many);
    Relate("shared_file", "shared_file_folder", one, many);
    Relate("shared_file_folder", "shared_file_folder_lowercase_name", one, many);
    Relate("shared_file", "shared_file_name", one, many);
    Relate("shared_file_name", "shared_file_lowercase_name", one, many);
    Relate("shared_file", "shared_file_size", one, many);
    Relate("shared_folder", "shared_public", one, many);
    Relate("shared_folder", "shared_userlist", one, many);
    Relate("shared_file_folder", "is_scanned", one, many);
    Relate("shared_folder", "user_list_group", many, many);
    Relate("shared_folder", "shared_folder_id", one, one);
    SaveWith("shared_public", "shared_folder");
    SaveWith("shared_userlist", "shared_folder");
    SaveWith("shared_folder_id", "shared_folder");

    Declare("user_share", Root, Valueless);
    Declare("user_share_folder", Node, Valueless);
    Declare("user_share_folder_parent", Node, Valueless);
    Declare("user_share_folder_child", Node, Valueless);
    Declare("user_share_folder_name", Attribute, Valued);
    Declare("user_share_file", Node, Valueless);
    Declare("user_share_file_name", Attribute, Valued);
    Relate("user_share", "user", one, one);
    Relate("user_share", "user_share_folder", many, one);
    Relate("user_share_folder", "user_share_folder_name", one, many);
    Relate("user_share_folder", "user_share_file", many, one);
    Relate("user_share_folder", "user_share_folder_parent", one, one);
    Relate("user_share_folder", "user_share_folder_child", many, one);
    Relate("user_share_folder_parent", "user_share_folder_child", one, one);
    Relate("user_share_file", "user_share_file_name", one, many);
    Relate("user_share_file", "file_size", one, many);

    Declare("search_token", Attribute, Valued);
    Relate("search_token", "shared_file", many, many);

    for (const char* attribute : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate"})
        Relate("shared_file", attribute, one, many);
    Relate("shared_file", "is_scanned", one, many);
    Save("is_scanned");
    SaveWith("shared_file_folder", "shared_folder");
    SaveWith("shared_file", "shared_file_folder");
    for (const char* attribute : {"shared_file_name", "shared_file_size", "mpeg_version", "channel_mode",
                                  "audio_frequency", "bitrate_mode", "bitrate"})
        SaveWith(attribute, "shared_file");
    for (const char* attribute : {"bitrate_mode", "bitrate", "length_seconds"})
        Relate("user_share_file", attribute, one, many);

    Declare("unshared", Attribute, Valueless);
    Relate("user", "unshared", one, many);
    Save("unshared");
    SaveWith("user", "unshared");
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
    for (int i = 0; i <= text.size(); ++i)
    {
        const bool separator = i == text.size() || isSeparator(text[i]);
        if (!separator && start < 0)
            start = i;
        else if (separator && start >= 0)
        {
            tokens.push_back(QStringView(text).mid(start, i - start));
            start = -1;
        }
    }
}
} // namespace

SharedFoldersManager::SharedFoldersManager(QObject* parent)
    : QObject(parent), replyBuilder(this, "OnSearchAnswersBuilt")
{
    sharedFoldersManager = this;

    DeclareTypes();
    sharedFolderType = d.GetType("shared_folder");
    sharedFileType = d.GetType("shared_file");
    fileNameType = d.GetType("shared_file_name");
    lowerNameType = d.GetType("shared_file_lowercase_name");
    fileFolderType = d.GetType("shared_file_folder");
    lowerFolderType = d.GetType("shared_file_folder_lowercase_name");
    fileSizeType = d.GetType("shared_file_size");
    isScannedType = d.GetType("is_scanned");
    searchTokenType = d.GetType("search_token");
    bitrateType = d.GetType("bitrate");
    bitrateModeType = d.GetType("bitrate_mode");

    fileNameType->AddItemAddedHandler(
        new EventHandler<SharedFoldersManager, ItemPtr>(this, &SharedFoldersManager::OnSharedFileNameAdded));
    fileFolderType->AddItemAddedHandler(
        new EventHandler<SharedFoldersManager, ItemPtr>(this, &SharedFoldersManager::OnSharedFileFolderAdded));

    if (peerMessenger)
    {
        connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
                &SharedFoldersManager::OnFilesInFoldersRequested);
        peerMessenger->SetShareListProvider([this](QString user) { return GetSharedFilesMessage(user); });
    }

    if (dnetManager)
        connect(dnetManager, &DNetManager::DNetSearchRequest, this, &SharedFoldersManager::OnDNetSearchRequest);

    scannerThread.setObjectName("File Scanner");
    scannerThread.start(QThread::InheritPriority);
    fileScanner.moveToThread(&scannerThread);

    connect(this, &SharedFoldersManager::MP3ScanRequired, &fileScanner, &FileScanner::OnMP3ScanRequired);
    connect(&fileScanner, &FileScanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);
    if (gp_server)
    {
        connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
        connect(gp_server, &Server::ReceivedUserStats, this, &SharedFoldersManager::OnReceivedUserStats);
    }

    SetSetting("shared_folder_counter", "1");

    if (gp_server)
        connect(gp_server, &Server::DirectFileSearch, this, &SharedFoldersManager::OnDirectFileSearch);
    connect(&fileScanner, &FileScanner::FoldersScanned, this, &SharedFoldersManager::OnFoldersRescanned);
    connect(&fileScanner, &FileScanner::SharesWalked, this, &SharedFoldersManager::OnSharesWalked);
    // One slice of a merge per turn of the event loop while merges wait.
    mergeTimer.setInterval(0);
    connect(&mergeTimer, &QTimer::timeout, this, &SharedFoldersManager::MergeSlice);
    searchTimer.setInterval(0);
    connect(&searchTimer, &QTimer::timeout, this, &SharedFoldersManager::SearchSlice);
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

    PathNode* root = new PathNode(&d, "user");
    new PathNode(root, "user_address", 2);
    d.AddPathEventHandler(root, new EventHandler<SharedFoldersManager, ItemPtr>(
                                    this, &SharedFoldersManager::OnUserAddress));
}

QString SharedFoldersManager::GetAbsoluteFileName(QString path)
{
    // Lower case, "\" as "/", and runs of "/" as one; nothing else, so the
    // key of a local path and of the remote form of it are the same.
    const QString lower = path.toLower();
    QString key;
    key.reserve(lower.size());
    for (QChar c : lower)
    {
        if (c == QLatin1Char('\\'))
            c = QLatin1Char('/');
        if (c == QLatin1Char('/') && key.endsWith(QLatin1Char('/')))
            continue;
        key.append(c);
    }
    return key;
}

ItemPtr SharedFoldersManager::GetSharedFileItem(QString path)
{
    const std::string key = Utf8(GetAbsoluteFileName(path));
    return LookUpSharedFile(GetFileName(key), GetFolder(key));
}

ItemPtr SharedFoldersManager::LookUpSharedFile(const std::string& lowerName, const std::string& lowerFolder) const
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
        byName += size_t(name.CountItems("shared_file"));
    for (const ItemPtr& folder : folders)
        byFolder += size_t(folder.CountItems("shared_file"));
    const ItemSet& walk = byName <= byFolder ? names : folders;
    const ItemSet& other = byName <= byFolder ? folders : names;
    Type* otherType = byName <= byFolder ? fileFolderType : fileNameType;

    ItemPtr best;
    for (const ItemPtr& holder : walk)
        for (const ItemPtr& file : holder.GetItems(sharedFileType))
            if (other.contains(file[otherType]) && (!best || file < best))
                best = file;
    return best;
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

namespace
{
// GetAbsoluteFileName of an ASCII value, byte by byte; false for any other.
// Names are loaded a hundred thousand at a time, and most are ASCII.
bool AsciiKey(const std::string& bytes, std::string& key)
{
    key.clear();
    key.reserve(bytes.size());
    for (char c : bytes)
    {
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
    item += d.GetType("mpeg_version")->GetItem(Value(mpegVersion));
    item += d.GetType("channel_mode")->GetItem(Value(channelMode));
    item += d.GetType("audio_frequency")->GetItem(Value(frequency));
    item += d.GetType("bitrate_mode")->GetItem(Value(isVBR ? "vbr" : "cbr"));
    item += d.GetType("bitrate")->GetItem(Value(bitrate));
    // Saved with the file, so it is not analysed again in a later run.
    item += isScannedType->GetGlobalNullItem();
}

// ---------------------------------------------------------------------------
// Share visibility

void SharedFoldersManager::SetUploadQueue(UploadQueue queue)
{
    uploadQueue = std::move(queue);
}

ItemSet SharedFoldersManager::GetUserSharedFolders(QString user)
{
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    if (userItem.IsConnected("unshared"))
        return ItemSet();
    const ItemSet sharedFolders = sharedFolderType->GetItems();
    ItemSet visible = sharedFolders.Connected("shared_public");
    ItemPtr listed = userItem["in_user_list"];
    if (!listed)
        return visible;
    visible.Add(sharedFolders.Connected("shared_userlist"));
    for (const ItemPtr& group : listed.GetItems("user_list_group"))
        visible.Add(group.GetItems(sharedFolderType));
    return visible;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr file, QString user)
{
    // A user who has no item yet carries no mark, so finding none is the
    // same answer as making one would give.
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    if (userItem.IsConnected("unshared"))
        return false;
    const ItemSet roots = file[fileFolderType].GetItems(sharedFolderType);
    if (!roots.Connected("shared_public").empty())
        return true;
    ItemPtr listed = userItem["in_user_list"];
    if (!listed)
        return false;
    if (!roots.Connected("shared_userlist").empty())
        return true;
    return !roots.Connected(listed.GetItems("user_list_group")).empty();
}

bool SharedFoldersManager::IsUserAddressUnshared(QString user)
{
    ItemPtr address = d.GetType("user")->HasItem(Value(user))["user_address"];
    if (!address)
        return false;
    return !address.GetItems("user").Connected("unshared").empty();
}

void SharedFoldersManager::OnUserAddress(ItemPtr user)
{
    if (!user || user.IsConnected("unshared"))
        return;
    const QString name = user.AsString();
    if (!IsUserAddressUnshared(name))
        return;
    if (uploadQueue.unshareUser)
        uploadQueue.unshareUser(name);
    else
        user.NewItem("unshared");
}

void SharedFoldersManager::RemoveUserShare(QString user)
{
    ItemPtr share = d.GetType("user")->HasItem(Value(user))["user_share"];
    if (!share)
        return;
    {
        Data::Batch batch(&d);
        const ItemSet folders = share.GetItems("user_share_folder");
        folders.GetItems("user_share_file").Remove();
        folders.Remove();
        share.Remove();
    }
    d.RemoveDisconnectedItems();
}

// ---------------------------------------------------------------------------
// Share list and folder contents

void SharedFoldersManager::OnConnectedToServer()
{
    if (!gp_server)
        return;
    gp_server->SendFilesFolders(int(fileFolderType->Count()), int(sharedFileType->Count()));
    gp_server->GetUserStats(GetSetting("username"));
}

void SharedFoldersManager::GetSharedFilesAsUserShare(QString user, FileInfoMap& shares,
                                                     AttributeTranslationTable& attributes)
{
    Q_UNUSED(attributes);
    for (const ItemPtr& folder : GetUserSharedFolders(user).GetItems("shared_file_folder"))
    {
        std::string key = folder.AsStdString();
        std::replace(key.begin(), key.end(), '/', '\\');
        std::set<FileInfo>& files = shares[key];
        for (const ItemPtr& file : folder.GetItems(sharedFileType))
            files.insert(MakeFileInfo(file, file[fileNameType].AsStdString()));
    }
}

MemStream SharedFoldersManager::GetSharedFilesMessage(QString user)
{
    if (IsLogging())
        Log("Shared", 1, QString("Shared file list requested by user %1").arg(user));
    FileInfoMap shares;
    AttributeTranslationTable attributes;
    GetSharedFilesAsUserShare(user, shares, attributes);

    return PeerMessages::WriteShareList(shares, attributes);
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
    if (ItemPtr bitrate = file["bitrate"])
        text += QString::number(bitrate.AsUInt64());
    Type* modeType = d.GetType("bitrate_mode");
    const ItemPtr vbr = modeType->HasItem(Value("vbr"));
    const ItemPtr cbr = modeType->HasItem(Value("cbr"));
    if (vbr && file.IsConnected(vbr))
        text += " VBR";
    else if (cbr && file.IsConnected(cbr))
        text += " CBR";
    if (ItemPtr length = file["length_seconds"])
        text += ", " + FormatSeconds(long(length.AsInt64()));
    return text;
}
