// A sort done a few steps a slice ends as std::stable_sort ends, whatever
// the slices, equal items in the order they came; each item is prepared
// once; a slice stops at its count of steps, after at least one, or once
// its time is gone, after its floor of steps.
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "common/SteppedSort.h"
#include "common/WorkSlice.h"

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
                WorkSlice slice(0, 1 + slices % 5);
                sort.Run(slice);
                ++slices;
            }
            QCOMPARE(sort.Items(), expected);
            QVERIFY(std::all_of(prepared.begin(), prepared.end(), [](int times) { return times == 1; }));
            QVERIFY2(size < 100 || slices > size / 32, qPrintable(QString::number(slices)));
        }
    }

    void aSliceStopsAtItsStepsOrOnceItsTimeIsGone()
    {
        WorkSlice three(0, 3);
        QVERIFY(!three.Spent() && !three.Spent() && !three.Spent());
        QVERIFY(three.Spent() && three.Spent());
        WorkSlice unbounded(0, 0);
        for (int step = 0; step < 100000; ++step)
            QVERIFY(!unbounded.Spent());
        // A slice whose time is gone still takes its floor of steps, then
        // stops at its next look at the clock.
        WorkSlice late(1, 0);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2) {
        }
        for (int step = 0; step < WorkSlice::FloorSteps; ++step)
            QVERIFY(!late.Spent());
        QVERIFY(late.Spent());
    }
};

QTEST_MAIN(TestSteppedSort)
#include "TestSteppedSort.moc"
