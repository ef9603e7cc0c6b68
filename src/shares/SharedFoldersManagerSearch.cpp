// The answers to other users' searches: at once when few files can match,
// else gone through a slice at a time with the reply built and compressed
// on the reply thread, so that a word held by every file of a large share
// never holds up the window.
#include "SharedFoldersManager.h"

#include <QMetaObject>
#include <algorithm>
#include <unordered_map>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerMessenger.h"
#include "SearchParser.h"
#include "Settings.h"
#include "ShareNames.h"
#include "TurnSlice.h"

void SharedFoldersManager::OnDNetSearchRequest(QString user, quint32 req, QString searchText)
{
    OnDirectFileSearch(user, req, searchText);
}

bool SharedFoldersManager::PrepareSearch(const QString& user, const QString& text, SearchQuery& query)
{
    if (IsRuntimeSettingOn("finish_uploads_and_quit"))
        return false;
    SearchParser parser;
    if (!parser.SetSearchText(text))
        return false;
    const std::set<QString>& words = parser.GetIncludedTokenSet();
    if (words.empty())
        return false;
    bool longEnough = false;
    for (const QString& word : words) {
        const std::string bytes = word.toUtf8().toStdString();
        ItemPtr tokenItem = searchTokenType->HasItem(Value(bytes));
        if (!tokenItem)
            return false;
        query.tokens.insert(tokenItem);
        query.words.push_back(bytes);
        longEnough = longEnough || word.size() >= 3;
    }
    if (!longEnough)
        return false;
    // Most searches end here, before anything is read per file.
    query.visibleFolders = GetUserSharedFolders(user);
    if (query.visibleFolders.empty())
        return false;
    query.parts = parser.GetIncludedPartTokenSet();
    query.excluded = parser.GetExcludedTokenSet();
    return true;
}

void SharedFoldersManager::MatchFile(ItemPtr file, ItemPtr folder, const SearchQuery& query,
                                     std::vector<SearchAnswer::Match>& matches)
{
    ItemPtr name = file[fileNameType];
    if (!query.parts.empty() || !query.excluded.empty()) {
        // The words are lower case and the name is not: "-live" keeps
        // "Live.mp3", "*band" does not admit "Bandstand.mp3".
        const QString nameText = name.AsString();
        const auto inName = [&](const QString& word) { return nameText.contains(word); };
        if (std::any_of(query.excluded.begin(), query.excluded.end(), inName) ||
            !std::all_of(query.parts.begin(), query.parts.end(), inName))
            return;
    }
    std::string path = folder.AsStdString() + '/' + name.AsStdString();
    std::replace(path.begin(), path.end(), '/', '\\');
    matches.push_back(SearchAnswer::Match{MakeFileInfo(file, std::move(path)), file.Sequence()});
}

SearchAnswer::Header SharedFoldersManager::ReplyHeader(quint32 token)
{
    SearchAnswer::Header header;
    header.user = GetSetting("username");
    header.token = token;
    header.freeSlot = uploadQueue.isFreeToUpload && uploadQueue.isFreeToUpload() ? 1 : 0;
    header.uploadSpeed = quint32(GetSetting("upload_speed").toInt());
    header.queued = quint32(uploadQueue.queuedUploadCount ? uploadQueue.queuedUploadCount() : 0);
    return header;
}

void SharedFoldersManager::SendReply(const QString& user, const QString& text, MemStream& message)
{
    if (IsLogging())
        Log("Search", 1, QString("Sending search results to user %1 for search string %2").arg(user, text));
    if (peerMessenger)
        peerMessenger->SendMessageToUser(user, message);
}

bool SharedFoldersManager::AnswerNow(const QString& user, quint32 token, const QString& text, const SearchQuery& query)
{
    // Whether a folder lies in a visible share, once per folder.
    std::unordered_map<Item*, bool> folderVisible;
    std::vector<SearchAnswer::Match> matches;
    for (const ItemPtr& file : d.GetItemSubset(query.tokens, ShareNames::SharedFile)) {
        ItemPtr folder = file[fileFolderType];
        auto known = folderVisible.find(folder.GetItemPointer());
        if (known == folderVisible.end())
            known = folderVisible
                        .emplace(folder.GetItemPointer(),
                                 !folder.GetItems(sharedFolderType).Common(query.visibleFolders).empty())
                        .first;
        if (known->second)
            MatchFile(file, folder, query, matches);
    }
    MemStream message;
    if (!SearchAnswer::Build(ReplyHeader(token), std::move(matches), message))
        return false;
    SendReply(user, text, message);
    return true;
}

bool SharedFoldersManager::ProcessSearch(QString user, quint32 token, QString text)
{
    SearchQuery query;
    return PrepareSearch(user, text, query) && AnswerNow(user, token, text, query);
}

void SharedFoldersManager::OnDirectFileSearch(QString user, quint32 req, QString search)
{
    if (user == GetSetting("username"))
        return;
    SearchQuery query;
    if (!PrepareSearch(user, search, query)) {
        emit SearchProcessed(search, false);
        return;
    }
    size_t candidates = size_t(-1);
    for (const ItemPtr& token : query.tokens)
        candidates = std::min(candidates, size_t(token.CountItems(ShareNames::SharedFile)));
    if (candidates <= AnswerAtOnceLimit) {
        const bool sent = AnswerNow(user, req, search, query);
        emit SearchProcessed(search, sent);
        return;
    }
    if (searchJobs.size() >= MaxWaitingSearches) {
        emit SearchProcessed(search, false);
        return;
    }

    auto job = std::make_unique<SearchJob>();
    job->user = user;
    job->token = req;
    job->text = search;
    job->words = query.words;
    job->parts = query.parts;
    job->excluded = query.excluded;
    QSet<QString> seen;
    for (const ItemPtr& shared : query.visibleFolders) {
        job->visibleRoots.insert(shared.AsString());
        for (const ItemPtr& folder : shared.GetItems(fileFolderType)) {
            const QString path = folder.AsString();
            if (!seen.contains(path)) {
                seen.insert(path);
                job->folders << path;
            }
        }
    }
    searchJobs.push_back(std::move(job));
    // Gone through from the next turn: the search came with a burst of
    // messages that has the rest of this one.
    searchPass.StartNextTurn();
}

bool SharedFoldersManager::SearchSome(TurnSlice& slice)
{
    // One reply at a time is built: the next search waits for it, so its
    // matches are not held while an earlier one still compresses.
    if (searchJobs.empty() || repliesBuilding > 0)
        return true;
    Data::Batch batch(&d);
    SearchJob& job = *searchJobs.front();

    SearchQuery query;
    query.parts = job.parts;
    query.excluded = job.excluded;
    bool wordsHeld = true;
    for (const std::string& word : job.words) {
        ItemPtr token = searchTokenType->HasItem(Value(word));
        wordsHeld = wordsHeld && token;
        query.tokens.insert(token);
    }
    // A word gone since the search came matches nothing any more.
    if (!wordsHeld)
        job.next = job.folders.size();
    while (job.next < job.folders.size() && slice.More()) {
        ItemPtr folder = fileFolderType->HasItem(Value(job.folders[job.next++]));
        slice.Step();
        if (!folder)
            continue;
        bool visible = false;
        for (const ItemPtr& shared : folder.GetItems(sharedFolderType))
            if (job.visibleRoots.contains(shared.AsString())) {
                visible = true;
                break;
            }
        if (!visible)
            continue;
        for (const ItemPtr& file : folder.GetItems(sharedFileType)) {
            bool holdsAll = true;
            for (const ItemPtr& token : query.tokens)
                if (!file.IsConnected(token)) {
                    holdsAll = false;
                    break;
                }
            if (holdsAll)
                MatchFile(file, folder, query, job.matches);
            slice.Step();
        }
    }
    if (job.next < job.folders.size())
        return false;

    // The next search starts on the next turn.
    std::unique_ptr<SearchJob> done = std::move(searchJobs.front());
    searchJobs.pop_front();
    if (done->matches.empty()) {
        emit SearchProcessed(done->text, false);
        return searchJobs.empty();
    }
    ++repliesBuilding;
    replyBuilder.Add(
        SearchAnswerBuilder::Job{ReplyHeader(done->token), std::move(done->matches), done->user, done->text, nullptr});
    return true;
}

void SharedFoldersManager::OnSearchAnswersBuilt()
{
    for (SearchAnswerBuilder::Done& done : replyBuilder.TakeDone()) {
        if (done.shareList) {
            ShareListBuilt(done);
            continue;
        }
        --repliesBuilding;
        if (done.answered)
            SendReply(done.user, done.text, done.message);
        emit SearchProcessed(done.text, done.answered);
    }
    if (!searchJobs.empty() && repliesBuilding == 0)
        searchPass.StartNextTurn();
}

FileInfo SharedFoldersManager::MakeFileInfo(ItemPtr file, std::string name)
{
    AttributeMap attributes;
    if (GetFileExtension(name) == "mp3") {
        attributes.SetExtension("mp3");
        if (ItemPtr bitrate = file[bitrateType])
            attributes.Add(AttributeMap::Bitrate, bitrate.AsUInt());
        if (ItemPtr mode = file[bitrateModeType])
            attributes.Add(AttributeMap::VariableBitrate, mode.AsStdString() == "vbr" ? 1 : 0);
    }
    return FileInfo(std::move(name), file[fileSizeType].AsInt64(), std::move(attributes));
}
