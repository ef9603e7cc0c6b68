// What the program tells when it cannot start or cannot save at its end:
// the reason in a box when windows reach a user, and at the end a choice
// between trying again and quitting unsaved while someone is there to make
// it.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "ExitSave.h"
#include "StartFailure.h"

class TestStartAndExitFailures : public QObject
{
    Q_OBJECT

    // Each message box shown, answered by its first button as it shows.
    QStringList m_boxes;

    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show) {
            m_boxes << box->windowTitle() + ": " + box->text();
            QMetaObject::invokeMethod(
                box, [box] { box->buttons().first()->click(); }, Qt::QueuedConnection);
        }
        return false;
    }

private slots:
    void aStartFailureIsToldInABoxOnlyWhereWindowsReachAUser()
    {
        QVERIFY(StartFailure::ShownToUser("xcb") && StartFailure::ShownToUser("wayland"));
        QVERIFY(!StartFailure::ShownToUser("offscreen") && !StartFailure::ShownToUser("minimal"));

        qApp->installEventFilter(this);
        const QString reason = "Cannot lock /home/x/.Quorvane.lock: it cannot be created.";
        StartFailure::Tell(reason); // offscreen here
        QVERIFY(m_boxes.isEmpty());
        StartFailure::Tell(reason, true);
        QCOMPARE(m_boxes, QStringList({"QuorvaneQt cannot start: " + reason}));
    }

    void theLastSaveIsRetriedOrGivenUpAsTheUserAnswers_data()
    {
        QTest::addColumn<QStringList>("failures"); // each save's reason; "" saves
        QTest::addColumn<QList<bool>>("answers");  // try again?
        QTest::addColumn<int>("askable");          // questions before a signal leaves no one
        QTest::addColumn<bool>("saved");
        QTest::addColumn<int>("asked");

        QTest::newRow("saved at once") << QStringList{""} << QList<bool>{} << 9 << true << 0;
        QTest::newRow("tried until it holds")
            << QStringList{"disk full", "disk full", ""} << QList<bool>{true, true} << 9 << true << 2;
        QTest::newRow("given up") << QStringList{"disk full"} << QList<bool>{false} << 9 << false << 1;
        QTest::newRow("a quit by signal asks no one") << QStringList{"read-only"} << QList<bool>{} << 0 << false << 0;
        QTest::newRow("a signal after the first answer")
            << QStringList{"disk full", "disk full"} << QList<bool>{true} << 1 << false << 1;
    }

    void theLastSaveIsRetriedOrGivenUpAsTheUserAnswers()
    {
        QFETCH(QStringList, failures);
        QFETCH(QList<bool>, answers);
        QFETCH(int, askable);
        QFETCH(bool, saved);
        QFETCH(int, asked);

        int tried = 0;
        QStringList questions;
        QStringList reports;
        ExitSave exit;
        exit.save = [&] { return failures.value(tried++); };
        exit.someoneThere = [&] { return questions.size() < askable; };
        exit.tryAgain = [&](const QString& reason) {
            questions << reason;
            return answers.value(questions.size() - 1);
        };
        exit.report = [&](const QString& reason) { reports << reason; };

        QCOMPARE(exit.Run(), saved);
        QCOMPARE(tried, failures.size());
        QCOMPARE(questions.size(), asked);
        // Every failure is reported, asked about or not.
        QCOMPARE(reports, failures.mid(0, tried - (saved ? 1 : 0)));
    }
};

QTEST_MAIN(TestStartAndExitFailures)

#include "TestStartAndExitFailures.moc"
