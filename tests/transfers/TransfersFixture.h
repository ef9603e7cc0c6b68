#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class DataSaver;
class Server;
class TransferQueueManager;

// The store and the engines the transfer engine is built on, made in the
// order the main window makes them, with a temporary folder for files.
class TransfersFixture
{
public:
    TransfersFixture();
    ~TransfersFixture();
    TransfersFixture(const TransfersFixture&) = delete;
    TransfersFixture& operator=(const TransfersFixture&) = delete;

    // A fresh store with the neighbouring types, a new engine and an empty
    // temporary folder; beforeEngine runs just before the engine is made.
    void Start(const std::function<void()>& beforeEngine = nullptr);
    // Deletes the engine and its neighbours and empties the store.
    void Stop();

    QString Path(const QString& name) const;
    // A file of the given bytes below the temporary folder.
    QString WriteFile(const QString& name, const QByteArray& bytes) const;
    // A file of zeros that takes no room on disk, for streams that are
    // stopped or measured long before their end.
    QString SparseFile(const QString& name, qint64 size) const;
    // Bytes that differ from chunk to chunk, so misplaced chunks show.
    static QByteArray Pattern(qint64 size, quint32 seed = 1);

    DataSaver* saver = nullptr;
    Server* server = nullptr;
    TransferQueueManager* engine = nullptr;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
