#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "DataLoadedEventHandler.h"
#include "Exceptions.h"

// Registry of the saved item types and the reader and writer of the data
// file (layout in docs/data-file.md). Files are named prefix + "." + the
// save time in milliseconds since the epoch.
class DataSaver
{
public:
    DataSaver();
    ~DataSaver();

    void AddSavedType(const std::string& type);
    // Items of type are saved only while connected to an item of byType; a
    // type may be registered with several by-types (any one suffices).
    void AddSavedByConnectionType(const std::string& type, const std::string& byType);

    // Handlers are told in the order they entered.
    void AddDataLoadedEventHandler(DataLoadedEventHandler* handler);
    void RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler);

    // Loads the newest data file that reads completely, then notifies. A file
    // that reads but fails is renamed to ".unreadable" beside it; one that
    // cannot be opened is left as it is (see UnopenedFiles). When every file
    // fails, the store is left as it was and DataLoadFailure is thrown
    // without notifications; NotifyNoData() then starts the run afresh.
    void Load(const QString& prefix);
    // Writes a new file and, once it holds its name, deletes all but the two
    // newest of the others and any dated after it. Files that cannot be
    // opened, and those the last load could not open, are never deleted.
    // Throws DataSaveFailure when the file cannot be written or named, having
    // deleted nothing; the store is unchanged either way.
    void Save(const QString& prefix);
    // Data files the last load could not open, newest first.
    const QStringList& UnopenedFiles() const { return m_unopened; }
    // Runs once the new file is written in full and before it takes its
    // name, so tests can interrupt a save there.
    void SetBeforeCommitHook(std::function<void()> hook) { m_beforeCommit = std::move(hook); }
    // DataLoaded() and NoData() on every handler, as for a first run.
    void NotifyNoData();
    // DataLoaded() on every handler, and NoData() after it when noData: what
    // a load tells them, for a store filled some other way (tests).
    void NotifyLoaded(bool noData);

    // Data files of the prefix, newest first, as (save time, path).
    static std::vector<std::pair<qint64, QString>> DataFiles(const QString& prefix);
    // The file's bytes for the current store (used by Save and benchmarks).
    QByteArray Serialize() const;
    // Parses and applies a whole file's bytes; false (store untouched) when
    // the bytes are not a complete, intact data file.
    bool Apply(const QByteArray& bytes);

private:
    void Rotate(const QString& prefix, qint64 stamp);

    std::vector<std::string> m_savedTypes;
    std::vector<std::pair<std::string, std::string>> m_savedByConnection;
    std::vector<DataLoadedEventHandler*> m_handlers;
    QStringList m_unopened;
    std::function<void()> m_beforeCommit;
};

extern DataSaver* dataSaver;
