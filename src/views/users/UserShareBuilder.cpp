#include "UserShareBuilder.h"

#include "Data.h"
#include "GeneralFunctions.h"

UserShareBuilder::UserShareBuilder(const FileInfoMap& list) : m_list(&list) {}

UserShareBuilder::UserShareBuilder(FileInfoMap&& list) : m_owned(std::move(list)), m_list(&m_owned) {}

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

bool UserShareBuilder::Build(int budgetMs)
{
    if (!m_started)
        Start();
    if (!m_share || m_share.IsRemoved() || (m_inFolder && m_folderItem.IsRemoved())) {
        m_share = ItemPtr();
        return true;
    }
    QElapsedTimer clock;
    clock.start();
    int made = 0;
    while (m_folder != m_list->end()) {
        if (!m_inFolder)
            EnterFolder();
        for (; m_file != m_folder->second.end(); ++m_file) {
            // The clock is read every few files: reading it costs about as
            // much as a file.
            if (budgetMs > 0 && ++made % 64 == 0 && clock.elapsed() >= budgetMs)
                return false;
            AddFile(*m_file);
        }
        m_inFolder = false;
        ++m_folder;
    }
    m_folders.clear();
    return true;
}
