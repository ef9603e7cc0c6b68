// A sort done a few steps a slice ends as std::stable_sort ends, whatever
// the slices, equal items in the order they came; each item is prepared
// once.
#include <QTest>
#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "TurnSlice.h"
#include "common/SteppedSort.h"

class TestSteppedSort : public QObject
{
    Q_OBJECT

private slots:
    void endsAsAStableSortWhateverTheSlices()
    {
        std::mt19937 random(7);
        for (int size : {0, 1, 15, 16, 17, 33, 1000, 4097}) {
            // Keys from few values, so that most items have equals.
            std::vector<std::pair<int, int>> items;
            for (int i = 0; i < size; ++i)
                items.emplace_back(-1, i);
            std::vector<int> keys(size);
            for (int& key : keys)
                key = int(random() % 10);
            std::vector<std::pair<int, int>> expected = items;
            for (auto& item : expected)
                item.first = keys[item.second];
            const auto less = [](const std::pair<int, int>& a, const std::pair<int, int>& b) {
                return a.first < b.first;
            };
            std::stable_sort(expected.begin(), expected.end(), less);

            std::vector<int> prepared(size);
            SteppedSort<std::pair<int, int>> sort(items, less, [&](std::pair<int, int>& item) {
                ++prepared[item.second];
                item.first = keys[item.second];
            });
            int slices = 0;
            while (!sort.Done() && slices < 100000) {
                TurnSlice slice = TurnSlice::Whole(1 + slices % 5);
                sort.Run(slice);
                ++slices;
            }
            QCOMPARE(sort.Items(), expected);
            QVERIFY(std::all_of(prepared.begin(), prepared.end(), [](int times) { return times == 1; }));
            QVERIFY2(size < 100 || slices > size / 32, qPrintable(QString::number(slices)));
        }
    }
};

QTEST_MAIN(TestSteppedSort)
#include "TestSteppedSort.moc"
