#pragma once

#include <QApplication>
#include <QString>

class QLocalServer;
class QSessionManager;

// The program's application object, one instance per user: the first process
// of an id answers on a local socket, and a later start with the same id
// finds it there. A short-lived lock file makes the look-up and the start of
// listening one step, so two starts at the same moment cannot both win; a
// lock or socket left behind by a crashed process does not count.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(const QString& id, int& argc, char** argv);
    ~Application() override;

    // True when another live process with the same id was found at start.
    bool isRunning() const;

    // Where the instance of an id listens and where its start-up lock lies:
    // in the user's runtime folder, so ids never meet across users.
    static QString ServerName(const QString& id);
    static QString LockFilePath(const QString& id);

public slots:
    // The desktop session asks us to save before it ends.
    void commitData(QSessionManager& manager);

private:
    void FindOrBecomeInstance();
    void OnInstanceConnection();

    QString m_id;
    bool m_running = false;
    QLocalServer* m_server = nullptr;
};
