#include "UserShareBuilder.h"

#include <utility>

#include "Data.h"
#include "GeneralFunctions.h"
#include "TurnSlice.h"

UserShareBuilder::UserShareBuilder(std::shared_ptr<FileInfoMap> list) : m_list(std::move(list)) {}

void UserShareBuilder::Start()
{
    m_started = true;
    m_folderName = d.GetType("user_share_folder_name");
    m_fileName = d.GetType("user_share_file_name");
    m_fileSize = d.GetType("file_size");
    m_bitrate = d.GetType("bitrate");
    m_length = d.GetType("length_seconds");
    m_mode = d.GetType("bitrate_mode");
    m_share = d.GetType("user_share")->NewItem();
    m_folders.reserve(m_list->size());
    m_folder = m_list->begin();
    m_folderCount = qint64(m_list->size());
    for (const auto& folder : *m_list)
        m_fileCount += qint64(folder.second.size());
    // Room for the paths and sizes at once, each mostly of its own in a
    // share: the store growing its index of them on the way would hold a
    // turn for as long as several slices. Names repeat too often ("cover.jpg"
    // in every album) for room by the file count.
    m_folderName->Reserve(m_folderName->Count() + size_t(m_folderCount));
    m_fileSize->Reserve(m_fileSize->Count() + size_t(m_fileCount));
}

void UserShareBuilder::EnterFolder()
{
    const std::string& path = m_folder->first;
    ItemPtr folder = m_share.NewItem("user_share_folder");
    folder += m_folderName->GetItem(Value(path));
    const std::string parentPath = GetParentFolder(path);
    if (parentPath != path) {
        const auto parent = m_folders.find(parentPath);
        if (parent != m_folders.end() && !parent->second.IsRemoved())
            folder.NewItem("user_share_folder_parent") += parent->second.NewItem("user_share_folder_child");
    }
    m_folders.emplace(path, folder);
    m_folderItem = folder;
    m_file = m_folder->second.begin();
    m_inFolder = true;
}

void UserShareBuilder::AddFile(const FileInfo& info)
{
    ItemPtr file = m_folderItem.NewItem("user_share_file");
    file += m_fileName->GetItem(Value(info.Name()));
    file += m_fileSize->GetItem(Value(static_cast<long long>(info.Size())));
    for (const auto& attribute : info.Attributes().Values()) {
        const int value = static_cast<qint32>(attribute.second);
        if (attribute.first == AttributeMap::Bitrate)
            file += m_bitrate->GetItem(Value(value));
        else if (attribute.first == AttributeMap::LengthSeconds)
            file += m_length->GetItem(Value(value));
        else if (attribute.first == AttributeMap::VariableBitrate)
            file += m_mode->GetItem(Value(value ? "vbr" : "cbr"));
    }
}

ItemPtr UserShareBuilder::Abandon()
{
    m_started = true;
    return std::exchange(m_share, ItemPtr());
}

bool UserShareBuilder::Build(TurnSlice& slice)
{
    if (!m_started)
        Start();
    if (!m_share || m_share.IsRemoved() || (m_inFolder && m_folderItem.IsRemoved())) {
        m_share = ItemPtr();
        m_done = LetGo(slice);
        return m_done;
    }
    // A folder counts as much as a file: a list may hold folders only.
    while (m_folder != m_list->end()) {
        if (!m_inFolder) {
            if (!slice.Take())
                return false;
            EnterFolder();
        }
        std::set<FileInfo>& files = m_folder->second;
        while (m_file != files.end()) {
            if (!slice.Take())
                return false;
            AddFile(*m_file);
            ++m_filesMade;
            m_file = Owned() ? files.erase(m_file) : std::next(m_file);
        }
        m_inFolder = false;
        m_folder = Owned() ? m_list->erase(m_folder) : std::next(m_folder);
    }
    m_folders.clear();
    m_done = true;
    return true;
}

bool UserShareBuilder::LetGo(TurnSlice& slice)
{
    m_inFolder = false;
    m_folders.clear();
    // Another holder lets the list go when it is done with it.
    if (!Owned()) {
        m_list = std::make_shared<FileInfoMap>();
        return true;
    }
    while (!m_list->empty()) {
        std::set<FileInfo>& files = m_list->begin()->second;
        while (!files.empty()) {
            if (!slice.Take())
                return false;
            files.erase(files.begin());
        }
        if (!slice.Take())
            return false;
        m_list->erase(m_list->begin());
    }
    return true;
}
