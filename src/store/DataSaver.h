#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DataLoadedEventHandler.h"
#include "Exceptions.h"
#include "SavedChangeWatch.h"
#include "SlicedJob.h"

class QObject;
class SaveSweep;
class SavedRecords;
class TurnSlice;

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
    // that reads but fails is renamed to ".unreadable" beside it (see
    // SetAsideFiles); one that cannot be opened is left as it is (see
    // UnopenedFiles). When every file fails, the store is left as it was and
    // DataLoadFailure is thrown without notifications; NotifyNoData() then
    // starts the run afresh.
    void Load(const QString& prefix);
    // Writes a new file and, once it holds its name, deletes all but the two
    // newest of the others and any dated after it. Files that cannot be
    // opened, and those the last load could not open, are never deleted.
    // Throws DataSaveFailure, saying why, when the file cannot be written or
    // named, having deleted nothing; the store is unchanged either way. A
    // write that SaveChanges started is waited for first.
    void Save(const QString& prefix);
    // The half-minute save: when what the file keeps changed since the last
    // save or load, the store is taken a slice per turn of the event loop,
    // what changes meanwhile with it, so that the file is the store as it
    // stands when the last slice ends; then the file is laid out, written,
    // synced and rotated as by Save on a worker thread, so that the event
    // loop waits neither for a large store nor for the disk. While such a
    // write runs, the call is remembered and made again when it ends; while
    // the store is being taken, the call is answered by that save. False
    // when nothing changed.
    bool SaveChanges(const QString& prefix);
    // Whether a saved item or connection changed since the last save or
    // load; true before the first load, when nothing is known to be saved.
    bool HasUnsavedChanges();
    // Blocks until a save SaveChanges started has been written and its end
    // reported, taking what is left of the store at once.
    void WaitForSave();
    // Whether such a save is being taken or written, or its end is yet to
    // be reported.
    bool IsWriting() const { return m_taking.IsRunning() || m_writer.joinable(); }
    // While held, SaveChanges starts no write, and one being taken is given
    // up: a save that waits for the user's answer owns the file until it is
    // done, so nothing is written, or fails, behind the question.
    void HoldChanges(bool held);
    // Told on the event loop when a write SaveChanges started failed; its
    // changes count as unsaved again, so the next call tries again.
    void SetSaveFailedHandler(std::function<void()> handler) { m_saveFailed = std::move(handler); }
    // Data files the last load could not open, newest first.
    const QStringList& UnopenedFiles() const { return m_unopened; }
    // Data files the last load could not read, newest first, each as
    // (its name, the name it was set aside under).
    const std::vector<std::pair<QString, QString>>& SetAsideFiles() const { return m_setAside; }
    // The save time of the file the last load read (ms since the epoch), 0
    // when it read none.
    qint64 LoadedSaveTime() const { return m_loadedSaveTime; }
    // The taking of the store, so that tests count its slices and cut it
    // small.
    SlicedJob& TakingJob() { return m_taking; }
    // Runs once the new file is written in full and before it takes its
    // name, so tests can interrupt a save there; on the worker thread for a
    // write SaveChanges started.
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
    // The file's bytes written under a new name and rotation after it; runs
    // on either thread and touches nothing of the store. Empty when it
    // worked, else why it did not.
    static QString Write(const QString& prefix, const QByteArray& bytes, const QStringList& unopened,
                         const std::function<void()>& beforeCommit);
    static void Rotate(const QString& prefix, qint64 stamp, const QStringList& unopened);
    // Joins the worker and reports its outcome; without wait only once it
    // has finished.
    void EndWrite(bool wait);
    // A slice of the half-minute save's taking of the store; once it is
    // whole, the write starts.
    bool TakeSlice(TurnSlice& slice);
    void StartWrite(const QString& prefix, SavedRecords records);
    // Gives up a save being taken: a whole save or a load follows.
    void StopTaking();

    std::vector<std::string> m_savedTypes;
    std::vector<std::pair<std::string, std::string>> m_savedByConnection;
    std::vector<DataLoadedEventHandler*> m_handlers;
    QStringList m_unopened;
    std::vector<std::pair<QString, QString>> m_setAside;
    qint64 m_loadedSaveTime = 0;
    std::function<void()> m_beforeCommit;
    SavedChangeWatch m_watch;
    std::thread m_writer;
    std::atomic<bool> m_writeOk{false};
    std::atomic<bool> m_writeDone{false};
    std::function<void()> m_saveFailed;
    QString m_queuedPrefix;
    bool m_held = false;
    // The half-minute save while the store is being taken, and its prefix.
    std::unique_ptr<SaveSweep> m_sweep;
    QString m_takingPrefix;
    SlicedJob m_taking;
    // Lives on the event loop: the worker's report is queued to it, and
    // dropped with it.
    std::unique_ptr<QObject> m_loop;
};

extern DataSaver* dataSaver;
