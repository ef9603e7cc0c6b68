#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

#include "DrivenClient.h"

// A step of a scenario: on failure the test ends with the account of what
// failed, for whom, and what the window showed instead.
#define STEP(expression) QVERIFY2((expression), qPrintable(E2eRun::Failure()))

// One end-to-end run: the standalone test server on 127.0.0.1 and the client
// processes of one test, each with a home of its own in a temporary folder.
// The output folder (build/tests/e2e/output/<test>/, or under $QV_E2E_OUTPUT)
// receives each client's log as it runs; Finish() adds a picture of every
// window and the clients' diagnostics when the test failed, and removes the
// folder when it passed.
class E2eRun
{
public:
    static const int kLoginMs = 60000;
    static const int kStartMs = 60000;

    explicit E2eRun(const QString& name);
    ~E2eRun();
    E2eRun(const E2eRun&) = delete;
    E2eRun& operator=(const E2eRun&) = delete;

    bool StartServer();
    quint16 ServerPort() const { return m_serverPort; }
    // Where no web host listens, so the clients' version check fails at once.
    QString WebAddress() const { return m_web; }

    // A client with a home under the run's folder and, unless told
    // otherwise, a data file holding its account (see DrivenClient::Data).
    DrivenClient& AddClient(const QString& user, bool withDataFile = true);

    // How often the server has seen the user log in so far.
    int Logins(const QString& user);
    bool WaitForLogin(const QString& user, int count = 1, int timeoutMs = kLoginMs);

    QString Output() const { return m_output; }
    QString Root() const { return m_root.path(); }

    // Stops everything; leaves the evidence of a failed test.
    void Finish(bool failed);

    // How often a wait looks, unless it says otherwise.
    static const int kPollMs = 100;

    // Polls done() every pollMs until it holds, processing events in
    // between; on the deadline records "gave up waiting for <what>" and
    // returns false.
    static bool WaitUntil(const QString& what, int timeoutMs, const std::function<bool()>& done, int pollMs = kPollMs);
    static bool Fail(const QString& why);
    static QString Failure();

private:
    void ReadServer();

    QString m_output;
    QTemporaryDir m_root;
    QProcess m_server;
    quint16 m_serverPort = 0;
    QString m_web;
    QStringList m_serverLines;
    std::vector<std::unique_ptr<DrivenClient>> m_clients;
    bool m_finished = false;
};
