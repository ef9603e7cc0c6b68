// Size memory: restore-or-record for windows, splitters and trees, widgets
// of one name following each other, value items that are shared or dropped,
// and a round trip through the data file.
#include <QDir>
#include <QHeaderView>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "Data.h"
#include "DataSaver.h"
#include "ResizableWindow.h"
#include "SizeManager.h"

namespace {

class FakeWindow : public ResizableWindow
{
public:
    FakeWindow(int x, int y, int width, int height) : m_x(x), m_y(y), m_width(width), m_height(height) {}

    int GetX() override { return m_x; }
    int GetY() override { return m_y; }
    int GetWidth() override { return m_width; }
    int GetHeight() override { return m_height; }
    void SetPosition(int x, int y) override
    {
        m_x = x;
        m_y = y;
        ++m_restores;
    }
    void SetSize(int width, int height) override
    {
        m_width = width;
        m_height = height;
        ++m_restores;
    }

    // What a real window does when the user moves or resizes it.
    void UserMoves(int x, int y)
    {
        m_x = x;
        m_y = y;
        emit WindowMoved(x, y);
    }
    void UserResizes(int width, int height)
    {
        m_width = width;
        m_height = height;
        emit WindowResized(width, height);
    }

    int m_x, m_y, m_width, m_height;
    int m_restores = 0;
};

// A splitter the test can drag as a user would.
class Splitter : public QSplitter
{
public:
    Splitter()
    {
        addWidget(new QWidget);
        addWidget(new QWidget);
        resize(400, 100);
        show();
    }
    void Drag(int position) { moveSplitter(position, 1); }
    // The room the panes share, without the handle.
    int Total() const
    {
        int total = 0;
        for (int size : sizes())
            total += size;
        return total;
    }
};

QTreeWidget* NewTree(bool stretchLast)
{
    QTreeWidget* tree = new QTreeWidget;
    tree->setColumnCount(3);
    tree->header()->setStretchLastSection(stretchLast);
    for (int i = 0; i < 3; ++i)
        tree->header()->resizeSection(i, 50);
    tree->resize(400, 200);
    return tree;
}

Value Number(int n)
{
    return Value(n);
}

} // namespace

class TestSizeManager : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataSaver> m_saver;
    std::unique_ptr<SizeManager> m_sizes;

    void Start()
    {
        d.Reset();
        m_sizes.reset();
        m_saver.reset(new DataSaver);
        m_sizes.reset(new SizeManager);
    }

    QList<int> RecordedSizes(const char* type, const QString& name, const char* entryType, const char* numberType)
    {
        QMap<int, int> byIndex;
        ItemPtr record = d.GetType(type)->HasItem(name);
        for (const ItemPtr& entry : record.GetItems(entryType))
            byIndex[entry[numberType].AsInt()] = entry["sizer_size"].AsInt();
        return byIndex.values();
    }

    QList<int> TreeRecord(const QString& name)
    {
        return RecordedSizes("sizer_tree", name, "sizer_tree_column", "sizer_tree_column_number");
    }

    QList<int> SplitterRecord(const QString& name)
    {
        return RecordedSizes("sizer_splitter", name, "sizer_splitter_index", "sizer_splitter_index_number");
    }

private slots:
    void init() { Start(); }

    void cleanup()
    {
        m_sizes.reset();
        m_saver.reset();
        d.Reset();
    }

    void windowRecordsThenRestores()
    {
        FakeWindow first(10, 20, 300, 200);
        m_sizes->RegisterResizableWindow("main_window", &first);
        QCOMPARE(first.m_restores, 0);
        ItemPtr record = d.GetType("sizer_window")->HasItem("main_window");
        QCOMPARE(record["sizer_x"].AsInt(), 10);
        QCOMPARE(record["sizer_height"].AsInt(), 200);

        first.UserMoves(15, 25);
        first.UserResizes(640, 480);
        QCOMPARE(record["sizer_x"].AsInt(), 15);
        QCOMPARE(record["sizer_y"].AsInt(), 25);
        QCOMPARE(record["sizer_width"].AsInt(), 640);
        // Old values that nothing holds any more are gone.
        QVERIFY(!d.GetType("sizer_x")->HasItem(Number(10)));
        QVERIFY(!d.GetType("sizer_width")->HasItem(Number(300)));

        // A later window of the name gets the record and takes it over.
        FakeWindow second(0, 0, 1, 1);
        m_sizes->RegisterResizableWindow("main_window", &second);
        QCOMPARE(second.m_x, 15);
        QCOMPARE(second.m_y, 25);
        QCOMPARE(second.m_width, 640);
        QCOMPARE(second.m_height, 480);
        first.UserMoves(99, 99);
        QCOMPARE(record["sizer_x"].AsInt(), 15);
        second.UserMoves(1, 2);
        QCOMPARE(record["sizer_x"].AsInt(), 1);
    }

    void sharedValuesSurvive()
    {
        FakeWindow a(5, 5, 100, 100);
        FakeWindow b(5, 7, 100, 100);
        m_sizes->RegisterResizableWindow("a", &a);
        m_sizes->RegisterResizableWindow("b", &b);
        a.UserMoves(6, 5);
        QVERIFY(d.GetType("sizer_x")->HasItem(Number(5)));
        QCOMPARE(d.GetType("sizer_window")->HasItem("b")["sizer_x"].AsInt(), 5);

        // One size item serves a splitter pane and a tree column at once.
        Splitter splitter;
        m_sizes->RegisterSplitter("s", &splitter, {50, 350});
        std::unique_ptr<QTreeWidget> tree(NewTree(false));
        m_sizes->RegisterTreeWidget("t", tree.get());
        splitter.Drag(120);
        QVERIFY(d.GetType("sizer_size")->HasItem(Number(50)));
        QCOMPARE(TreeRecord("t"), QList<int>({50, 50, 50}));
    }

    void splitterDefaultsPresentSizesAndRestore()
    {
        Splitter first;
        const QList<int> present = first.sizes();
        const QList<int> defaults({100, first.Total() - 100});
        QVERIFY(present != defaults);
        m_sizes->RegisterSplitter("room_splitter", &first, defaults);
        // The defaults are recorded, the splitter itself is left alone.
        QCOMPARE(SplitterRecord("room_splitter"), defaults);
        QCOMPARE(first.sizes(), present);

        Splitter other;
        m_sizes->RegisterSplitter("wish_list_splitter", &other, {});
        QCOMPARE(SplitterRecord("wish_list_splitter"), other.sizes());

        Splitter second;
        m_sizes->RegisterSplitter("room_splitter", &second, {10, second.Total() - 10});
        QCOMPARE(second.sizes(), defaults);
        QCOMPARE(SplitterRecord("room_splitter"), defaults);
    }

    void splittersOfOneNameFollowEachOther()
    {
        Splitter first;
        Splitter second;
        m_sizes->RegisterSplitter("room_splitter", &first, {});
        m_sizes->RegisterSplitter("room_splitter", &second, {});
        first.Drag(150);
        const QList<int> moved = first.sizes();
        QCOMPARE(SplitterRecord("room_splitter"), moved);
        QCOMPARE(second.sizes(), moved);

        // A destroyed splitter leaves the record for the next one.
        const int before = int(d.GetType("sizer_splitter_widget")->Count());
        {
            Splitter gone;
            m_sizes->RegisterSplitter("room_splitter", &gone, {});
            QCOMPARE(int(d.GetType("sizer_splitter_widget")->Count()), before + 1);
        }
        QCOMPARE(int(d.GetType("sizer_splitter_widget")->Count()), before);
        second.Drag(250);
        QCOMPARE(first.sizes(), second.sizes());
        Splitter later;
        m_sizes->RegisterSplitter("room_splitter", &later, {});
        QCOMPARE(later.sizes(), second.sizes());
    }

    void treeColumnsRecordRestoreAndFollow()
    {
        std::unique_ptr<QTreeWidget> first(NewTree(true));
        m_sizes->RegisterTreeWidget("room_user_list", first.get());
        // The stretched last column is not recorded.
        QCOMPARE(TreeRecord("room_user_list"), QList<int>({50, 50}));

        std::unique_ptr<QTreeWidget> second(NewTree(true));
        second->header()->resizeSection(0, 90);
        m_sizes->RegisterTreeWidget("room_user_list", second.get());
        QCOMPARE(second->header()->sectionSize(0), 50);

        first->header()->resizeSection(1, 77);
        QCOMPARE(TreeRecord("room_user_list"), QList<int>({50, 77}));
        QCOMPARE(second->header()->sectionSize(1), 77);
        second->header()->resizeSection(0, 66);
        QCOMPARE(first->header()->sectionSize(0), 66);
        QCOMPARE(TreeRecord("room_user_list"), QList<int>({66, 77}));

        // A destroyed tree leaves the record intact.
        first.reset();
        std::unique_ptr<QTreeWidget> third(NewTree(true));
        m_sizes->RegisterTreeWidget("room_user_list", third.get());
        QCOMPARE(third->header()->sectionSize(0), 66);
        QCOMPARE(third->header()->sectionSize(1), 77);
    }

    void partialTreeRecordsAndForgetting()
    {
        // A record with fewer columns than the tree restores what it has and
        // gains the rest at the first resize.
        std::unique_ptr<QTreeWidget> narrow(new QTreeWidget);
        narrow->setColumnCount(1);
        narrow->header()->setStretchLastSection(false);
        narrow->header()->resizeSection(0, 40);
        m_sizes->RegisterTreeWidget("user_list", narrow.get());
        QCOMPARE(TreeRecord("user_list"), QList<int>({40}));

        std::unique_ptr<QTreeWidget> wide(NewTree(false));
        wide->header()->resizeSection(0, 70);
        m_sizes->RegisterTreeWidget("user_list", wide.get());
        QCOMPARE(wide->header()->sectionSize(0), 40);
        QCOMPARE(wide->header()->sectionSize(2), 50);
        wide->header()->resizeSection(2, 60);
        QCOMPARE(TreeRecord("user_list"), QList<int>({40, 50, 60}));

        m_sizes->ForgetTreeWidget("user_list");
        QVERIFY(!d.GetType("sizer_tree")->HasItem("user_list"));
        wide->header()->resizeSection(0, 45);
        std::unique_ptr<QTreeWidget> fresh(NewTree(false));
        m_sizes->RegisterTreeWidget("user_list", fresh.get());
        QCOMPARE(TreeRecord("user_list"), QList<int>({50, 50, 50}));
        QCOMPARE(fresh->header()->sectionSize(0), 50);
        m_sizes->ForgetTreeWidget("never_registered");
    }

    void recordsSurviveTheDataFile()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString prefix = folder.path() + "/.Quorvane";
        {
            FakeWindow window(30, 40, 800, 600);
            m_sizes->RegisterResizableWindow("main_window", &window);
            window.UserResizes(1024, 700);
            Splitter splitter;
            m_sizes->RegisterSplitter("room_list_splitter", &splitter, {120, splitter.Total() - 120});
            std::unique_ptr<QTreeWidget> tree(NewTree(true));
            m_sizes->RegisterTreeWidget("download_list", tree.get());
            tree->header()->resizeSection(1, 140);
            m_saver->Save(prefix);
        }

        // The next run: a fresh store, the same declarations, the load.
        Start();
        m_saver->Load(prefix);
        FakeWindow window(0, 0, 10, 10);
        m_sizes->RegisterResizableWindow("main_window", &window);
        QCOMPARE(window.m_x, 30);
        QCOMPARE(window.m_y, 40);
        QCOMPARE(window.m_width, 1024);
        QCOMPARE(window.m_height, 700);
        Splitter splitter;
        m_sizes->RegisterSplitter("room_list_splitter", &splitter, {});
        QCOMPARE(splitter.sizes(), QList<int>({120, splitter.Total() - 120}));
        std::unique_ptr<QTreeWidget> tree(NewTree(true));
        m_sizes->RegisterTreeWidget("download_list", tree.get());
        QCOMPARE(tree->header()->sectionSize(0), 50);
        QCOMPARE(tree->header()->sectionSize(1), 140);
        // Widget items belong to one run and were not saved.
        QCOMPARE(d.GetType("sizer_tree_widget")->Count(), size_t(1));
    }
};

QTEST_MAIN(TestSizeManager)
#include "TestSizeManager.moc"
