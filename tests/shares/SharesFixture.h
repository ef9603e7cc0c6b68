#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "ItemPtr.h"

class DataSaver;
class DNetManager;
class PeerMessenger;
class Server;
class SharedFoldersManager;

// The store and the engines the shared-folders manager is built on, in the
// order the main window makes them, over a temporary folder for trees.
class SharesFixture
{
public:
    SharesFixture();
    ~SharesFixture();

    // A fresh store with the neighbouring types and a new manager.
    void Start();
    // Deletes the manager and the engines and empties the store; the
    // temporary folder stays.
    void Stop();

    // Path of a name below the temporary folder.
    QString Path(const QString& relative) const;
    // Writes a file of size bytes, making its folders.
    QString WriteFile(const QString& relative, int size = 0) const;
    QString MakeFolder(const QString& relative) const;

    // "folder/name" of every shared file, sorted.
    static QStringList SharedPaths();
    // The values of every item of a type, sorted.
    static QStringList Values(const char* type);
    // The search tokens of a file, sorted.
    static QStringList Tokens(ItemPtr file);

    SharedFoldersManager* manager = nullptr;

private:
    QTemporaryDir m_dir;
    DataSaver* m_saver = nullptr;
    Server* m_server = nullptr;
    PeerMessenger* m_peer = nullptr;
    DNetManager* m_dnet = nullptr;
};
