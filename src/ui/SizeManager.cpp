#include "SizeManager.h"

#include "Data.h"
#include "DataSaver.h"
#include "ResizableWindow.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>
#include <algorithm>
#include <utility>
#include <vector>

SizeManager* sizeManager = nullptr;

namespace {

quintptr Address(const QObject* ip_object)
{
    return reinterpret_cast<quintptr>(ip_object);
}

Type* T(const char* name)
{
    return d.GetType(name);
}

// The entries of a record in ascending order of their index numbers;
// entries without a number are left out.
std::vector<std::pair<int, ItemPtr>> NumberedEntries(ItemPtr i_record, const char* i_entryType,
                                                     const char* i_numberType)
{
    std::vector<std::pair<int, ItemPtr>> entries;
    for (const ItemPtr& entry : i_record.GetItems(i_entryType)) {
        ItemPtr number = entry[i_numberType];
        if (number)
            entries.emplace_back(number.AsInt(), entry);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return entries;
}

// The entry of a record for one index, made when missing.
ItemPtr GetEntry(ItemPtr i_record, const char* i_entryType, const char* i_numberType, int i_index)
{
    ItemPtr number = T(i_numberType)->GetItem(i_index);
    ItemPtr entry = d.GetItem(i_record, number, i_entryType);
    if (!entry) {
        entry = T(i_entryType)->NewItem();
        entry += i_record;
        entry += number;
    }
    return entry;
}

void RemoveIfUnused(ItemPtr i_old, ItemPtr i_new)
{
    if (i_old && i_old != i_new && i_old.IsDisconnectedFromAll())
        i_old.Remove();
}

} // namespace

SizeManager::SizeManager(QObject* parent) : QObject(parent)
{
    sizeManager = this;

    Type* window = d.NewType("sizer_window", 0, false, true);
    Type* windowWidget = d.NewType("sizer_window_widget", 0, false, true);
    Type* x = d.NewType("sizer_x", 2, false, true);
    Type* y = d.NewType("sizer_y", 2, false, true);
    Type* width = d.NewType("sizer_width", 2, false, true);
    Type* height = d.NewType("sizer_height", 2, false, true);
    Type* size = d.NewType("sizer_size", 2, false, true);
    Type* tree = d.NewType("sizer_tree", 0, false, true);
    Type* treeWidget = d.NewType("sizer_tree_widget", 0, false, true);
    Type* columnNumber = d.NewType("sizer_tree_column_number", 2, false, true);
    Type* column = d.NewType("sizer_tree_column", 1, true, true);
    Type* splitter = d.NewType("sizer_splitter", 0, false, true);
    Type* splitterWidget = d.NewType("sizer_splitter_widget", 0, false, true);
    Type* indexNumber = d.NewType("sizer_splitter_index_number", 2, false, true);
    Type* index = d.NewType("sizer_splitter_index", 1, true, true);

    // RelateToType(other, how many of this type one other holds,
    //               how many of other one of this type holds, owns).
    window->RelateToType(windowWidget, one, one, false);
    window->RelateToType(x, many, one, false);
    window->RelateToType(y, many, one, false);
    window->RelateToType(width, many, one, false);
    window->RelateToType(height, many, one, false);
    tree->RelateToType(treeWidget, one, many, false);
    column->RelateToType(tree, many, one, false);
    column->RelateToType(columnNumber, many, one, false);
    column->RelateToType(size, many, one, false);
    splitter->RelateToType(splitterWidget, one, many, false);
    index->RelateToType(splitter, many, one, false);
    index->RelateToType(indexNumber, many, one, false);
    index->RelateToType(size, many, one, false);

    if (dataSaver) {
        for (const char* saved : {"sizer_window", "sizer_tree", "sizer_tree_column_number", "sizer_tree_column",
                                  "sizer_splitter", "sizer_splitter_index_number", "sizer_splitter_index", "sizer_x",
                                  "sizer_y", "sizer_width", "sizer_height", "sizer_size"})
            dataSaver->AddSavedType(saved);
    }
}

void SizeManager::RegisterResizableWindow(QString name, ResizableWindow* window)
{
    ItemPtr record = T("sizer_window")->HasItem(name);
    if (record) {
        window->SetPosition(record["sizer_x"].AsInt(), record["sizer_y"].AsInt());
        window->SetSize(record["sizer_width"].AsInt(), record["sizer_height"].AsInt());
    } else {
        record = T("sizer_window")->GetItem(name);
        record += T("sizer_x")->GetItem(window->GetX());
        record += T("sizer_y")->GetItem(window->GetY());
        record += T("sizer_width")->GetItem(window->GetWidth());
        record += T("sizer_height")->GetItem(window->GetHeight());
    }
    record += T("sizer_window_widget")->GetItem(Value(window));
    connect(window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved, Qt::UniqueConnection);
    connect(window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized, Qt::UniqueConnection);
}

void SizeManager::RegisterSplitter(QString name, QSplitter* splitter, QList<int> defaultSizes)
{
    ItemPtr record = T("sizer_splitter")->HasItem(name);
    if (record) {
        QList<int> sizes;
        for (const auto& entry : NumberedEntries(record, "sizer_splitter_index", "sizer_splitter_index_number"))
            sizes << entry.second["sizer_size"].AsInt();
        splitter->setSizes(sizes);
    } else {
        record = T("sizer_splitter")->GetItem(name);
        const QList<int> sizes = defaultSizes.isEmpty() ? splitter->sizes() : defaultSizes;
        for (int i = 0; i < sizes.size(); ++i) {
            ItemPtr entry = T("sizer_splitter_index")->NewItem();
            entry += record;
            entry += T("sizer_splitter_index_number")->GetItem(i);
            entry += T("sizer_size")->GetItem(sizes[i]);
        }
    }
    record += T("sizer_splitter_widget")->GetItem(Value(splitter));
    m_splitters.insert(Address(splitter), splitter);
    connect(splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved, Qt::UniqueConnection);
    connect(splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed, Qt::UniqueConnection);
}

void SizeManager::RegisterTreeWidget(QString name, QTreeWidget* tree)
{
    QHeaderView* header = tree->header();
    const int recorded = RecordedColumnCount(tree);
    ItemPtr record = T("sizer_tree")->HasItem(name);
    if (record) {
        for (const auto& entry : NumberedEntries(record, "sizer_tree_column", "sizer_tree_column_number")) {
            if (entry.first < recorded)
                header->resizeSection(entry.first, entry.second["sizer_size"].AsInt());
        }
    } else {
        record = T("sizer_tree")->GetItem(name);
        for (int i = 0; i < recorded; ++i) {
            ItemPtr entry = T("sizer_tree_column")->NewItem();
            entry += record;
            entry += T("sizer_tree_column_number")->GetItem(i);
            entry += T("sizer_size")->GetItem(header->sectionSize(i));
        }
    }
    record += T("sizer_tree_widget")->GetItem(Value(tree));
    m_trees.insert(Address(tree), tree);
    connect(header, &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved, Qt::UniqueConnection);
    connect(tree, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed, Qt::UniqueConnection);
}

void SizeManager::ForgetTreeWidget(QString name)
{
    ItemPtr record = T("sizer_tree")->HasItem(name);
    if (record)
        record.Remove();
}

void SizeManager::OnWindowMoved(int i_x, int i_y)
{
    RecordWindowValues("sizer_x", i_x, "sizer_y", i_y);
}

void SizeManager::OnWindowResized(int i_width, int i_height)
{
    RecordWindowValues("sizer_width", i_width, "sizer_height", i_height);
}

void SizeManager::RecordWindowValues(const char* i_xType, int i_x, const char* i_yType, int i_y)
{
    ItemPtr record = T("sizer_window_widget")->HasItem(Value(sender()))["sizer_window"];
    if (!record)
        return;
    ItemPtr oldX = record[i_xType];
    ItemPtr oldY = record[i_yType];
    ItemPtr newX = record += T(i_xType)->GetItem(i_x);
    ItemPtr newY = record += T(i_yType)->GetItem(i_y);
    RemoveIfUnused(oldX, newX);
    RemoveIfUnused(oldY, newY);
}

void SizeManager::SetEntrySize(ItemPtr i_entry, int i_size)
{
    ItemPtr old = i_entry["sizer_size"];
    ItemPtr size = i_entry += T("sizer_size")->GetItem(i_size);
    RemoveIfUnused(old, size);
}

void SizeManager::OnSplitterMoved(int i_position, int i_index)
{
    Q_UNUSED(i_position);
    Q_UNUSED(i_index);
    if (m_copying)
        return;
    QSplitter* moved = qobject_cast<QSplitter*>(sender());
    if (!moved)
        return;
    ItemPtr record = T("sizer_splitter_widget")->HasItem(Value(moved))["sizer_splitter"];
    if (!record)
        return;

    const QList<int> sizes = moved->sizes();
    for (int i = 0; i < sizes.size(); ++i)
        SetEntrySize(GetEntry(record, "sizer_splitter_index", "sizer_splitter_index_number", i), sizes[i]);

    m_copying = true;
    for (const ItemPtr& widgetItem : record.GetItems("sizer_splitter_widget")) {
        QSplitter* other = m_splitters.value(widgetItem.AsUInt64());
        if (other && other != moved)
            other->setSizes(sizes);
    }
    m_copying = false;
}

void SizeManager::OnSplitterDestroyed(QObject* ip_splitter)
{
    // The splitter is half torn down: only its address is used.
    m_splitters.remove(Address(ip_splitter));
    ItemPtr widgetItem = T("sizer_splitter_widget")->HasItem(Value(ip_splitter));
    if (widgetItem)
        widgetItem.Remove();
}

void SizeManager::OnTreeColumnResizedMoved(int i_index, int i_newSize, int i_oldSize)
{
    Q_UNUSED(i_index);
    Q_UNUSED(i_newSize);
    Q_UNUSED(i_oldSize);
    if (m_copying)
        return;
    QHeaderView* header = qobject_cast<QHeaderView*>(sender());
    QTreeWidget* tree = header ? qobject_cast<QTreeWidget*>(header->parentWidget()) : nullptr;
    if (!tree)
        return;
    ItemPtr record = T("sizer_tree_widget")->HasItem(Value(tree))["sizer_tree"];
    if (!record)
        return;

    QList<QTreeWidget*> others;
    for (const ItemPtr& widgetItem : record.GetItems("sizer_tree_widget")) {
        QTreeWidget* other = m_trees.value(widgetItem.AsUInt64());
        if (other && other != tree)
            others << other;
    }

    m_copying = true;
    const int recorded = RecordedColumnCount(tree);
    for (int i = 0; i < recorded; ++i) {
        const int width = header->sectionSize(i);
        SetEntrySize(GetEntry(record, "sizer_tree_column", "sizer_tree_column_number", i), width);
        for (QTreeWidget* other : others)
            other->header()->resizeSection(i, width);
    }
    m_copying = false;
}

void SizeManager::OnTreeDestroyed(QObject* ip_tree)
{
    m_trees.remove(Address(ip_tree));
    ItemPtr widgetItem = T("sizer_tree_widget")->HasItem(Value(ip_tree));
    if (widgetItem)
        widgetItem.Remove();
}

int SizeManager::RecordedColumnCount(QTreeWidget* ip_tree)
{
    QHeaderView* header = ip_tree->header();
    const int count = header->count();
    return header->stretchLastSection() && count > 0 ? count - 1 : count;
}
