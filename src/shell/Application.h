#pragma once

#include <QApplication>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;
class QSessionManager;

// The program's application object, one instance per user: the first process
// of an id answers on a local socket, and a later start with the same id
// finds it there. A short-lived lock file makes the look-up and the start of
// listening one step, so two starts at the same moment cannot both win; a
// lock or socket left behind by a crashed process does not count.
//
// The runtime folder alone does not make one client per data file: two
// sessions with one home and different runtime folders would both run and
// the last save would win. So the instance also holds, for its whole life, a
// lock beside its data file.
class Application : public QApplication
{
    Q_OBJECT

public:
    // homeLock: the lock file beside the data file (none when empty).
    Application(const QString& id, int& argc, char** argv, const QString& homeLock = QString());
    ~Application() override;

    // True when another live process with the same id was found at start.
    bool isRunning() const;

    // Why this start can neither run nor tell that another one runs (a lock
    // that cannot be written, or something else in a lock file's place);
    // empty when it can.
    QString startError() const;
    // Set when the instance found running uses the same data file from
    // another runtime folder, so the user learns where it is.
    QString runningElsewhere() const;

    // Where the instance of an id listens and where its start-up lock lies:
    // in the user's runtime folder, so ids never meet across users.
    static QString ServerName(const QString& id);
    static QString LockFilePath(const QString& id);

public slots:
    // The desktop session asks us to save before it ends.
    void commitData(QSessionManager& manager);

private:
    void FindOrBecomeInstance();
    bool LockHome();
    void OnInstanceConnection();

    QString m_id;
    QString m_homeLockPath;
    bool m_running = false;
    QString m_startError;
    QString m_runningElsewhere;
    QLocalServer* m_server = nullptr;
    std::unique_ptr<QLockFile> m_homeLock;
};
