#include "ShareFolderFilter.h"

#include <QTreeWidget>
#include <algorithm>

#include "Data.h"
#include "FilterParser.h"
#include "TurnSlice.h"

namespace {

// A change of a node's visibility lays the whole tree out again; a node
// that keeps its state need not cost that.
void SetHidden(QTreeWidgetItem* node, bool hidden)
{
    if (node->isHidden() != hidden)
        node->setHidden(hidden);
}

} // namespace

// A node entered: what its name left of the filter, its children entered so
// far, whether it shows yet, and while they are read, its folder's files
// that may make it show.
struct ShareFolderFilter::Frame
{
    QTreeWidgetItem* node;
    FilterParser remainder;
    int nextChild;
    bool visible;
    ItemList files;
    size_t nextFile;
    int matching;
    int needed;
};

ShareFolderFilter::ShareFolderFilter(FolderOf folderOf) : m_folderOf(std::move(folderOf)) {}

ShareFolderFilter::~ShareFolderFilter() = default;

void ShareFolderFilter::Start(QTreeWidget* tree, const QString& text)
{
    Stop();
    m_tree = tree;
    m_text = text;
    m_filter.reset(new FilterParser);
    m_filter->Parse(text);
    m_nextTopLevel = 0;
    // Every file of a large share may be read at each keystroke: the types
    // are looked up once, not per file.
    m_files = d.GetType("user_share_file");
    m_names = d.GetType("user_share_file_name");
}

void ShareFolderFilter::Stop()
{
    m_tree = nullptr;
    std::vector<Frame>().swap(m_pending);
}

bool ShareFolderFilter::Run(TurnSlice& slice)
{
    while (m_tree) {
        if (m_pending.empty() && m_nextTopLevel >= m_tree->topLevelItemCount()) {
            Stop();
            return true;
        }
        if (!slice.Take())
            return false;
        Step();
    }
    return true;
}

void ShareFolderFilter::Enter(QTreeWidgetItem* node, const FilterParser& filter)
{
    FilterParser remainder;
    const int match = filter.IsMatching(node->text(0), &remainder, ItemPtr());
    if (match == FilterParser::Rejected) {
        SetHidden(node, true);
        return;
    }
    const bool needsFiles =
        remainder.HasAttributes() || match != FilterParser::Matching || remainder.MinFilesInFolder() > 0;
    Frame frame{node, remainder, 0, !needsFiles, ItemList(), 0, 0, std::max(remainder.MinFilesInFolder(), 1)};
    if (needsFiles) {
        if (const ItemPtr folder = m_folderOf(node))
            frame.files = folder.GetItems(m_files).List();
    }
    m_pending.push_back(std::move(frame));
}

void ShareFolderFilter::Step()
{
    if (m_pending.empty()) {
        Enter(m_tree->topLevelItem(m_nextTopLevel++), *m_filter);
        return;
    }
    Frame& top = m_pending.back();
    if (top.nextFile < top.files.size()) {
        const ItemPtr file = top.files[top.nextFile++];
        const bool matches =
            top.remainder.IsMatching(file[m_names].AsString(), nullptr, file) == FilterParser::Matching;
        if ((matches && ++top.matching >= top.needed) || top.nextFile == top.files.size()) {
            top.visible = top.visible || top.matching >= top.needed;
            ItemList().swap(top.files);
        }
        return;
    }
    if (top.nextChild < top.node->childCount()) {
        QTreeWidgetItem* child = top.node->child(top.nextChild++);
        // Entering the child may move the frames.
        const FilterParser remainder = top.remainder;
        Enter(child, remainder);
        return;
    }
    const bool visible = top.visible;
    SetHidden(top.node, !visible);
    m_pending.pop_back();
    if (visible && !m_pending.empty())
        m_pending.back().visible = true;
}
