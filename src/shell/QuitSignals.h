#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a kill, a Ctrl-C in a terminal, a logout
// without session management) into the program's orderly quit, so the data
// file is saved and the transfer threads stop as on a close. The handler
// only writes the signal's number to a socket pair; the event loop reads it
// and emits QuitRequested. A second signal while that quit runs ends the
// process at once, for a user who does not want to wait for it.
// One instance at a time; the default handlers return when it goes.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // True once a signal was read, for a start-up that meets it before its
    // event loop runs.
    bool Received() const { return m_received; }

signals:
    void QuitRequested(int signal);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
    bool m_received = false;
};
