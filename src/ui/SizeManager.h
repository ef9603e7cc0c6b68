#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "ItemPtr.h"

class QSplitter;
class QTreeWidget;
class ResizableWindow;

// Remembers, across runs, the geometry of windows, the pane sizes of
// splitters and the column widths of trees, as saved items of the store.
// A registration restores a record of its name or makes one from the
// widget's present state; later moves and resizes rewrite the record, and
// splitters and trees of one name follow each other.
class SizeManager : public QObject
{
    Q_OBJECT

public:
    explicit SizeManager(QObject* parent = nullptr);

    void RegisterResizableWindow(QString name, ResizableWindow* window);
    void RegisterSplitter(QString name, QSplitter* splitter, QList<int> defaultSizes);
    void RegisterTreeWidget(QString name, QTreeWidget* tree);
    void ForgetTreeWidget(QString name);

private slots:
    void OnWindowMoved(int i_x, int i_y);
    void OnWindowResized(int i_width, int i_height);
    void OnSplitterMoved(int i_position, int i_index);
    void OnSplitterDestroyed(QObject* ip_splitter);
    void OnTreeColumnResizedMoved(int i_index, int i_newSize, int i_oldSize);
    void OnTreeDestroyed(QObject*);

private:
    void RecordWindowValues(const char* i_xType, int i_x, const char* i_yType, int i_y);
    // Connects the entry to the size item of the value, dropping the old
    // size item once nothing holds it.
    void SetEntrySize(ItemPtr i_entry, int i_size);
    // The columns whose widths are kept: all but a stretched last one.
    static int RecordedColumnCount(QTreeWidget* ip_tree);

    // True while sizes are copied to the other widgets of a name, whose own
    // resize signals must then not be recorded again.
    bool m_copying = false;
    // The live widgets behind the widget items, so that a record never has
    // to turn an address back into a pointer.
    QHash<quintptr, QPointer<QSplitter>> m_splitters;
    QHash<quintptr, QPointer<QTreeWidget>> m_trees;
};

extern SizeManager* sizeManager;
