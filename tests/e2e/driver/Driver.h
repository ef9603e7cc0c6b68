#pragma once

#include <QJsonArray>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <functional>

class QLocalServer;
class QLocalSocket;

// Drives the program it runs in through its widgets, for the end-to-end
// tests: it listens on a local socket and answers one request a line, a JSON
// array of strings ["command", arguments...], with one line
// {"ok": true, "value": ...} or {"ok": false, "error": "..."}.
//
// Reading:   ping | windows | text LOC | state LOC | items LOC | rows LOC | diagnostics
// Acting:    click LOC | double-click LOC | type LOC TEXT | key LOC KEYS | choose LOC ITEM
//            tab LOC TITLE | action TEXT | menu LOC [CELL...] | pick ENTRY[>ENTRY]
//            row-click LOC CELL... | row-double-click LOC CELL... | screenshot PATH [LOC] | quit
//            tick (the half-minute timer fires)
// (LOC: see WidgetQuery.h; KEYS as a key sequence such as "Return" or
// "Ctrl+A"; CELL: texts that the row's cells hold, all of them.)
//
// An action answers first and acts afterwards, so an action that opens a
// menu or a modal dialog does not hold its answer back; the requests that
// follow are served inside the dialog's or menu's own event loop.
class Driver : public QObject
{
    Q_OBJECT

public:
    // Starts a driver when QUORVANE_DRIVER names a socket path; otherwise
    // nothing happens and the program runs as it would.
    static void StartFromEnvironment();

    // What a request comes to: an error, or a value and an action to run
    // once the answer is out.
    struct Outcome
    {
        QString error;
        QJsonValue value;
        std::function<void()> then;
    };
    struct Command
    {
        int arguments; // at least
        std::function<Outcome(const QJsonArray& request)> run;
    };
    // The requests, by name (DriverCommands.cpp).
    static QMap<QString, Command> Commands();

private:
    explicit Driver(const QString& path);
    bool Listen(QString* error);
    void OnNewConnection();
    void OnReadyRead();
    void Serve();
    Outcome Run(const QJsonArray& request);
    void Answer(const Outcome& outcome);

    QString m_path;
    QLocalServer* m_server;
    QPointer<QLocalSocket> m_socket;
    QQueue<QJsonArray> m_requests;
    QMap<QString, Command> m_commands;
};
