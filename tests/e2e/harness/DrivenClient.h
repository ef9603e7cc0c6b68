#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

#include "ClientDataFile.h"

class E2eRun;

// One real client process of an end-to-end run: the test build of the
// program (quorvane-driven, the program plus its driver) with a home folder
// of its own, worked through its window as a user would. Every call is
// bounded; one that fails returns false and E2eRun::Failure() says what
// and for whom (see the STEP macro in E2eRun.h). Locators, keys and menu
// paths are those of the driver (tests/e2e/driver/Driver.h).
class DrivenClient
{
public:
    struct Row
    {
        int depth = 0;
        QStringList cells;
        bool checkable = false;
        bool checked = false;
    };

    // How long the window may take to show the outcome of an action.
    static const int kShowMs = 30000;

    DrivenClient(E2eRun& run, const QString& user, bool withDataFile);
    ~DrivenClient();
    DrivenClient(const DrivenClient&) = delete;
    DrivenClient& operator=(const DrivenClient&) = delete;

    const QString& User() const { return m_user; }
    QString Home() const { return m_home; }
    QString DownloadFolder() const { return m_home + "/Downloads"; }
    QString LogFile() const;
    // What the first start writes as the data file; prepared with the user's
    // account. Changes after the first start are not written.
    ClientDataFile& Data() { return m_data; }

    // Starts the process and waits until its driver answers.
    bool Start();
    // As a user ending the program: it saves its data file and exits with 0.
    bool Quit();
    // Waits for the process to end by itself; *status is its exit status.
    bool WaitForExit(int* status);
    // A signal to the process, as a logout or a Ctrl-C in its terminal.
    bool Signal(int signal);
    // SIGKILL: nothing is saved.
    bool Kill();
    // Stops the process for ms, as a machine too busy to run it may, then
    // lets it go on where it stood (SIGSTOP, SIGCONT); each waits until the
    // system shows the process stopped, or running again. meanwhile is
    // called every few milliseconds all the while, for a test that watches
    // what the others do in the time.
    bool StopFor(int ms, const std::function<void()>& meanwhile = {});
    bool IsRunning() const;

    // Acting.
    bool Tab(const QString& locator, const QString& title);
    bool Click(const QString& locator);
    bool DoubleClick(const QString& locator);
    bool Type(const QString& locator, const QString& text);
    bool Key(const QString& locator, const QString& keys);
    bool Choose(const QString& locator, const QString& item);
    bool Action(const QString& text);
    bool RowClick(const QString& locator, const QStringList& cells);
    bool RowDoubleClick(const QString& locator, const QStringList& cells);
    // Right-clicks the widget, or the row holding the cells, for its menu.
    bool Menu(const QString& locator, const QStringList& cells = QStringList());
    // An entry of the open menu; "Sub>Entry" for one in a submenu.
    bool Pick(const QString& entry);
    // A PNG of the main window, or of the widget or window located.
    bool Screenshot(const QString& path, const QString& locator = QString());

    // Reading.
    bool Read(const QString& locator, QString* text);
    bool State(const QString& locator, QJsonObject* state);
    bool Items(const QString& locator, QStringList* items);
    bool Rows(const QString& locator, QList<Row>* rows);
    bool Windows(QJsonArray* windows);

    // Waiting, bounded, for what the window shows.
    bool WaitText(const QString& locator, const QString& text, int timeoutMs = kShowMs);
    bool WaitTextContaining(const QString& locator, const QString& part, int timeoutMs = kShowMs);
    bool WaitChecked(const QString& locator, bool checked, int timeoutMs = kShowMs);
    bool WaitRow(const QString& locator, const QStringList& cells, int timeoutMs = kShowMs, Row* row = nullptr);
    bool WaitNoRow(const QString& locator, const QStringList& cells, int timeoutMs = kShowMs);
    // A tab title, combo entry or list entry among the widget's items.
    bool WaitItem(const QString& locator, const QString& item, int timeoutMs = kShowMs);
    bool WaitWindow(const QString& title, int timeoutMs = kShowMs);

    // One request to the driver. With report false a failure is only
    // returned in *error, for waits that try again.
    bool Request(const QJsonArray& request, QJsonValue* value = nullptr, bool report = true, QString* error = nullptr);

    // After a failed test: a picture of each window, the window list and
    // the diagnostics pages, into the run's output folder.
    void LeaveEvidence(const QString& folder);

private:
    bool Connect();
    bool WaitShowing(const QString& what, int timeoutMs, const std::function<bool(QString* seen)>& shows);
    bool Fail(const QString& what, const QString& why) const;
    bool Ended(QString* why) const;

    E2eRun& m_run;
    QString m_user;
    QString m_home;
    bool m_withDataFile;
    bool m_dataWritten = false;
    int m_starts = 0;
    ClientDataFile m_data;
    QProcess m_process;
    QLocalSocket m_socket;
};
