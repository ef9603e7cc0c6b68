// What the program tells when it cannot start or cannot save at its end:
// the reason on standard error, in a box when windows reach a user, and at
// the end a choice between trying again and quitting unsaved while someone
// is there to make it.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <unistd.h>

#include "ExitSave.h"
#include "StartFailure.h"

namespace {

// Presses the first button of each message box as it shows, and records it.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer() { qApp->installEventFilter(this); }
    QStringList shown;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show) {
            shown << box->windowTitle() + ": " + box->text();
            QMetaObject::invokeMethod(
                box, [box] { box->buttons().first()->click(); }, Qt::QueuedConnection);
        }
        return false;
    }
};

// What is written to standard error while it lives.
class ErrorCapture
{
public:
    ErrorCapture() : m_saved(::dup(STDERR_FILENO))
    {
        m_file.open();
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~ErrorCapture() { Text(); }
    QString Text()
    {
        if (m_saved >= 0) {
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    QTemporaryFile m_file;
    int m_saved;
};

} // namespace

class TestStartAndExitFailures : public QObject
{
    Q_OBJECT

private slots:
    void aStartFailureIsToldInABoxOnlyWhereWindowsReachAUser()
    {
        QVERIFY(StartFailure::ShownToUser("xcb"));
        QVERIFY(StartFailure::ShownToUser("wayland"));
        QVERIFY(!StartFailure::ShownToUser("offscreen"));
        QVERIFY(!StartFailure::ShownToUser("minimal"));

        const QString reason = "Cannot lock /home/x/.Quorvane.lock: it cannot be created.";
        BoxAnswerer answerer;
        ErrorCapture headless;
        StartFailure::Tell(reason);
        QCOMPARE(headless.Text(), reason + "\n");
        QVERIFY(answerer.shown.isEmpty());

        ErrorCapture desktop;
        StartFailure::Tell(reason, true);
        QCOMPARE(desktop.Text(), reason + "\n");
        QCOMPARE(answerer.shown, QStringList({"QuorvaneQt cannot start: " + reason}));
    }

    void theLastSaveIsRetriedOrGivenUpAsTheUserAnswers_data()
    {
        QTest::addColumn<QStringList>("failures"); // each save's reason; "" saves
        QTest::addColumn<QList<bool>>("answers");  // try again?
        QTest::addColumn<int>("askable");          // questions before a signal leaves no one
        QTest::addColumn<bool>("saved");
        QTest::addColumn<int>("saves");
        QTest::addColumn<int>("asked");

        QTest::newRow("saved at once") << QStringList{""} << QList<bool>{} << 9 << true << 1 << 0;
        QTest::newRow("tried until it holds")
            << QStringList{"disk full", "disk full", ""} << QList<bool>{true, true} << 9 << true << 3 << 2;
        QTest::newRow("given up") << QStringList{"disk full"} << QList<bool>{false} << 9 << false << 1 << 1;
        QTest::newRow("a quit by signal asks no one")
            << QStringList{"read-only"} << QList<bool>{} << 0 << false << 1 << 0;
        QTest::newRow("a signal after the first answer")
            << QStringList{"disk full", "disk full"} << QList<bool>{true} << 1 << false << 2 << 1;
    }

    void theLastSaveIsRetriedOrGivenUpAsTheUserAnswers()
    {
        QFETCH(QStringList, failures);
        QFETCH(QList<bool>, answers);
        QFETCH(int, askable);
        QFETCH(bool, saved);
        QFETCH(int, saves);
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
        QCOMPARE(tried, saves);
        QCOMPARE(questions.size(), asked);
        // Every failure is reported, asked about or not.
        QCOMPARE(reports, failures.mid(0, saves - (saved ? 1 : 0)));
    }
};

QTEST_MAIN(TestStartAndExitFailures)

#include "TestStartAndExitFailures.moc"
