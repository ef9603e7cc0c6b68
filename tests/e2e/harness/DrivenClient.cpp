#include "DrivenClient.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>

#include "ClientHome.h"
#include "E2eRun.h"

#include <csignal>

namespace {

// The driver answers at once unless the program is busy; a start-up loads
// the data file and builds every engine first. Bounds for a sanitized build
// on a machine busy with other work: a wait that is met ends at once.
const int kAnswerMs = 30000;
const int kStopMs = 60000;
// How often a stop looks at the time and calls its meanwhile: often enough
// for a test that reads a transfer's progress in the time.
const int kStoppedPollMs = 10;

QJsonArray WithCells(const QString& command, const QString& locator, const QStringList& cells)
{
    QJsonArray request{command, locator};
    for (const QString& cell : cells)
        request.append(cell);
    return request;
}

QList<DrivenClient::Row> RowsFrom(const QJsonValue& value)
{
    QList<DrivenClient::Row> rows;
    for (const QJsonValue& entry : value.toArray()) {
        const QJsonObject object = entry.toObject();
        DrivenClient::Row row;
        row.depth = object.value("depth").toInt();
        for (const QJsonValue& cell : object.value("cells").toArray())
            row.cells << cell.toString();
        row.checkable = object.contains("checked");
        row.checked = object.value("checked").toBool();
        rows.append(row);
    }
    return rows;
}

bool HoldsAll(const DrivenClient::Row& row, const QStringList& cells)
{
    for (const QString& cell : cells)
        if (!row.cells.contains(cell))
            return false;
    return true;
}

// The state of the process as the system shows it ('T' while a signal
// keeps it stopped); 0 when it cannot be read.
char ProcessState(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The state follows the command name, which is in parentheses and may
    // hold any character, parentheses too.
    const int name = line.lastIndexOf(')');
    return name >= 0 && name + 2 < line.size() ? line[name + 2] : 0;
}

QString Describe(const QJsonArray& request)
{
    QStringList parts;
    for (const QJsonValue& part : request)
        parts << part.toString();
    return parts.join(' ');
}

} // namespace

DrivenClient::DrivenClient(E2eRun& run, const QString& user, bool withDataFile)
    : m_run(run), m_user(user), m_home(run.Root() + "/" + user), m_withDataFile(withDataFile)
{
    ClientHome::MakeFolders(m_home);
    if (withDataFile)
        ClientHome::SetAccount(m_data, m_home, user);
    // The diagnostics pages are part of the evidence of a failed run.
    m_data.SetSetting("show_diagnostics", "yes");
}

DrivenClient::~DrivenClient()
{
    Kill();
}

QString DrivenClient::LogFile() const
{
    return m_run.Output() + "/" + m_user + ".log";
}

bool DrivenClient::Start()
{
    if (IsRunning())
        return Fail("start", "it is running already");
    if (m_withDataFile && !m_dataWritten) {
        QString error;
        if (!m_data.Write(m_home + "/.Quorvane", &error))
            return Fail("start", "cannot write its data file: " + error);
        m_dataWritten = true;
    }
    QFile log(LogFile());
    if (log.open(QIODevice::Append))
        log.write(QString("--- start %1 of %2\n").arg(++m_starts).arg(m_user).toUtf8());
    log.close();

    QProcessEnvironment environment = ClientHome::Environment(m_home, m_run.ServerPort(), m_run.WebAddress());
    environment.insert("QUORVANE_DRIVER", m_home + "/runtime/driver");
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(LogFile(), QIODevice::Append);
    m_process.start(QUORVANE_DRIVEN, QStringList());
    if (!m_process.waitForStarted(E2eRun::kStartMs))
        return Fail("start", m_process.errorString());
    return Connect();
}

bool DrivenClient::Connect()
{
    m_socket.abort();
    QDeadlineTimer deadline(E2eRun::kStartMs);
    QString why;
    while (!Ended(&why)) {
        m_socket.connectToServer(m_home + "/runtime/driver");
        if (m_socket.waitForConnected(1000))
            return Request({"ping"});
        if (deadline.hasExpired())
            return Fail("start", "its driver never answered: " + m_socket.errorString());
        QTest::qWait(100);
    }
    return Fail("start", why);
}

bool DrivenClient::Quit()
{
    int status = -1;
    if (!Request({"quit"}) || !WaitForExit(&status))
        return false;
    return status == 0 || Fail("quit", QString("it ended with status %1").arg(status));
}

bool DrivenClient::WaitForExit(int* status)
{
    if (IsRunning() && !m_process.waitForFinished(kStopMs))
        return Fail("end", QString("it is still running after %1 s").arg(kStopMs / 1000));
    m_socket.abort();
    if (m_process.exitStatus() != QProcess::NormalExit)
        return Fail("end", "it crashed");
    *status = m_process.exitCode();
    return true;
}

bool DrivenClient::Signal(int signal)
{
    return (IsRunning() && ::kill(pid_t(m_process.processId()), signal) == 0) || Fail("signal", "it is not running");
}

bool DrivenClient::Kill()
{
    m_socket.abort();
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.kill();
    return m_process.waitForFinished(kStopMs) ? true : Fail("kill", "it does not end");
}

bool DrivenClient::StopFor(int ms, const std::function<void()>& meanwhile)
{
    const qint64 pid = m_process.processId();
    if (!Signal(SIGSTOP))
        return false;
    QElapsedTimer stopped;
    stopped.start();
    const auto passing = [&](const std::function<bool()>& done) {
        return [&meanwhile, done] {
            if (meanwhile)
                meanwhile();
            return done();
        };
    };
    const bool held = E2eRun::WaitUntil(m_user + " to show as stopped", kAnswerMs,
                                        passing([&] { return ProcessState(pid) == 'T'; }), kStoppedPollMs) &&
                      E2eRun::WaitUntil(QString("%1 ms of %2 stopped").arg(ms).arg(m_user), ms + kAnswerMs,
                                        passing([&] { return stopped.elapsed() >= ms; }), kStoppedPollMs);
    // Let go of it whatever happened: a process left stopped would hold up
    // every wait after this one.
    if (::kill(pid_t(pid), SIGCONT) != 0)
        return Fail("go on", "it is not running");
    return held && E2eRun::WaitUntil(m_user + " to run again", kAnswerMs,
                                     passing([&] { return ProcessState(pid) != 'T'; }), kStoppedPollMs);
}

bool DrivenClient::IsRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool DrivenClient::Ended(QString* why) const
{
    if (IsRunning())
        return false;
    *why = QString("its process ended (status %1); see %2").arg(m_process.exitCode()).arg(LogFile());
    return true;
}

bool DrivenClient::Fail(const QString& what, const QString& why) const
{
    return E2eRun::Fail(QString("%1: %2: %3").arg(m_user, what, why));
}

bool DrivenClient::Request(const QJsonArray& request, QJsonValue* value, bool report, QString* error)
{
    QString why;
    if (Ended(&why) || m_socket.state() != QLocalSocket::ConnectedState) {
        if (why.isEmpty())
            why = "not connected to its driver";
    } else {
        m_socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        m_socket.flush();
        QDeadlineTimer deadline(kAnswerMs);
        while (!m_socket.canReadLine() && !deadline.hasExpired() && !Ended(&why))
            m_socket.waitForReadyRead(100);
        if (m_socket.canReadLine()) {
            const QJsonObject answer = QJsonDocument::fromJson(m_socket.readLine()).object();
            if (answer.value("ok").toBool()) {
                if (value)
                    *value = answer.value("value");
                return true;
            }
            why = answer.value("error").toString("an answer it cannot read");
        } else if (why.isEmpty()) {
            why = QString("no answer within %1 s").arg(kAnswerMs / 1000);
        }
    }
    if (error)
        *error = why;
    return report ? Fail(Describe(request), why) : false;
}

bool DrivenClient::Tab(const QString& locator, const QString& title)
{
    return Request({"tab", locator, title});
}

bool DrivenClient::Click(const QString& locator)
{
    return Request({"click", locator});
}

bool DrivenClient::DoubleClick(const QString& locator)
{
    return Request({"double-click", locator});
}

bool DrivenClient::Type(const QString& locator, const QString& text)
{
    return Request({"type", locator, text});
}

bool DrivenClient::Key(const QString& locator, const QString& keys)
{
    return Request({"key", locator, keys});
}

bool DrivenClient::Choose(const QString& locator, const QString& item)
{
    return Request({"choose", locator, item});
}

bool DrivenClient::Action(const QString& text)
{
    return Request({"action", text});
}

bool DrivenClient::RowClick(const QString& locator, const QStringList& cells)
{
    return Request(WithCells("row-click", locator, cells));
}

bool DrivenClient::RowDoubleClick(const QString& locator, const QStringList& cells)
{
    return Request(WithCells("row-double-click", locator, cells));
}

bool DrivenClient::Menu(const QString& locator, const QStringList& cells)
{
    return Request(WithCells("menu", locator, cells));
}

bool DrivenClient::Pick(const QString& entry)
{
    return Request({"pick", entry});
}

bool DrivenClient::Screenshot(const QString& path, const QString& locator)
{
    return Request(locator.isEmpty() ? QJsonArray{"screenshot", path} : QJsonArray{"screenshot", path, locator});
}

bool DrivenClient::Read(const QString& locator, QString* text)
{
    QJsonValue value;
    if (!Request({"text", locator}, &value))
        return false;
    *text = value.toString();
    return true;
}

bool DrivenClient::State(const QString& locator, QJsonObject* state)
{
    QJsonValue value;
    if (!Request({"state", locator}, &value))
        return false;
    *state = value.toObject();
    return true;
}

bool DrivenClient::Items(const QString& locator, QStringList* items)
{
    QJsonValue value;
    if (!Request({"items", locator}, &value))
        return false;
    items->clear();
    for (const QJsonValue& item : value.toArray())
        *items << item.toString();
    return true;
}

bool DrivenClient::Rows(const QString& locator, QList<Row>* rows)
{
    QJsonValue value;
    if (!Request({"rows", locator}, &value))
        return false;
    *rows = RowsFrom(value);
    return true;
}

bool DrivenClient::Windows(QJsonArray* windows)
{
    QJsonValue value;
    if (!Request({"windows"}, &value))
        return false;
    *windows = value.toArray();
    return true;
}

bool DrivenClient::WaitShowing(const QString& what, int timeoutMs, const std::function<bool(QString* seen)>& shows)
{
    QString seen;
    QString why;
    const bool shown = E2eRun::WaitUntil(what, timeoutMs, [&] { return Ended(&why) || shows(&seen); });
    if (!why.isEmpty())
        return Fail("waiting for " + what, why);
    if (!shown)
        return Fail("gave up waiting " + QString::number(timeoutMs / 1000.0) + " s for " + what, seen);
    return true;
}

bool DrivenClient::WaitText(const QString& locator, const QString& text, int timeoutMs)
{
    return WaitShowing(QString("%1 to show \"%2\"").arg(locator, text), timeoutMs, [&](QString* seen) {
        QJsonValue value;
        if (!Request({"text", locator}, &value, false, seen))
            return false;
        *seen = QString("it shows \"%1\"").arg(value.toString());
        return value.toString() == text;
    });
}

bool DrivenClient::WaitTextContaining(const QString& locator, const QString& part, int timeoutMs)
{
    return WaitShowing(QString("%1 to show \"%2\" among its text").arg(locator, part), timeoutMs, [&](QString* seen) {
        QJsonValue value;
        if (!Request({"text", locator}, &value, false, seen))
            return false;
        *seen = QString("it shows \"%1\"").arg(value.toString().right(400));
        return value.toString().contains(part);
    });
}

bool DrivenClient::WaitChecked(const QString& locator, bool checked, int timeoutMs)
{
    return WaitShowing(QString("%1 to be %2").arg(locator, checked ? "checked" : "unchecked"), timeoutMs,
                       [&](QString* seen) {
                           QJsonValue value;
                           if (!Request({"state", locator}, &value, false, seen))
                               return false;
                           const QJsonDocument state(value.toObject());
                           *seen = "its state: " + QString::fromUtf8(state.toJson(QJsonDocument::Compact));
                           return value.toObject().value("checked") == QJsonValue(checked);
                       });
}

bool DrivenClient::WaitRow(const QString& locator, const QStringList& cells, int timeoutMs, Row* found)
{
    return WaitShowing(QString("%1 to show a row with %2").arg(locator, cells.join(", ")), timeoutMs,
                       [&](QString* seen) {
                           QJsonValue value;
                           if (!Request({"rows", locator}, &value, false, seen))
                               return false;
                           QStringList shown;
                           for (const Row& row : RowsFrom(value)) {
                               if (HoldsAll(row, cells)) {
                                   if (found)
                                       *found = row;
                                   return true;
                               }
                               shown << row.cells.join(" | ");
                           }
                           *seen = "its rows: " + (shown.isEmpty() ? QString("none") : shown.join("; "));
                           return false;
                       });
}

bool DrivenClient::WaitNoRow(const QString& locator, const QStringList& cells, int timeoutMs)
{
    return WaitShowing(QString("%1 to show no row with %2").arg(locator, cells.join(", ")), timeoutMs,
                       [&](QString* seen) {
                           QJsonValue value;
                           if (!Request({"rows", locator}, &value, false, seen))
                               return false;
                           for (const Row& row : RowsFrom(value)) {
                               if (HoldsAll(row, cells)) {
                                   *seen = "it still shows " + row.cells.join(" | ");
                                   return false;
                               }
                           }
                           return true;
                       });
}

bool DrivenClient::WaitItem(const QString& locator, const QString& item, int timeoutMs)
{
    return WaitShowing(QString("%1 to offer \"%2\"").arg(locator, item), timeoutMs, [&](QString* seen) {
        QJsonValue value;
        if (!Request({"items", locator}, &value, false, seen))
            return false;
        QStringList items;
        for (const QJsonValue& entry : value.toArray())
            items << entry.toString();
        *seen = "it offers: " + items.join(", ");
        return items.contains(item);
    });
}

bool DrivenClient::WaitWindow(const QString& title, int timeoutMs)
{
    return WaitShowing(QString("a window titled \"%1\"").arg(title), timeoutMs, [&](QString* seen) {
        QJsonValue value;
        if (!Request({"windows"}, &value, false, seen))
            return false;
        QStringList titles;
        for (const QJsonValue& window : value.toArray())
            titles << window.toObject().value("title").toString();
        *seen = "its windows: " + titles.join(", ");
        return titles.contains(title);
    });
}

void DrivenClient::LeaveEvidence(const QString& folder)
{
    if (!IsRunning() || m_socket.state() != QLocalSocket::ConnectedState)
        return;
    const QString prefix = folder + "/" + m_user;
    Request({"screenshot", prefix + ".png"}, nullptr, false);
    QJsonValue windows;
    if (Request({"windows"}, &windows, false)) {
        for (const QJsonValue& window : windows.toArray())
            if (window.toObject().value("modal").toBool())
                Request({"screenshot", prefix + "-dialog.png", "@modal"}, nullptr, false);
        Request({"screenshot", prefix + "-menu.png", "@popup"}, nullptr, false);
        ClientHome::WriteFile(prefix + "-windows.json", QJsonDocument(windows.toArray()).toJson());
    }
    QJsonValue diagnostics;
    if (Request({"diagnostics"}, &diagnostics, false)) {
        QString text;
        const QJsonObject areas = diagnostics.toObject();
        for (auto area = areas.begin(); area != areas.end(); ++area)
            text += QString("== %1\n%2\n").arg(area.key(), area.value().toString());
        if (!text.isEmpty())
            ClientHome::WriteFile(prefix + "-diagnostics.txt", text.toUtf8());
    }
}
