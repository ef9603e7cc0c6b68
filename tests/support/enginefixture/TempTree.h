#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A temporary folder for the files a test shares, sends or receives.
class TempTree
{
public:
    TempTree();

    bool IsValid() const { return m_dir->isValid(); }
    // Replaces the folder with a fresh, empty one.
    void Renew();

    QString Path(const QString& relative) const;
    // The remote form of a path below the folder.
    QString Remote(const QString& relative) const;
    QString MakeFolder(const QString& relative) const;
    // A file of the given bytes, its folders made; a file that cannot be
    // written stops the test, since nothing after it would mean anything.
    QString WriteFile(const QString& relative, const QByteArray& bytes) const;
    // A file's bytes; none when it cannot be read.
    static QByteArray ReadAll(const QString& path);
    // A file of zeros that takes no room on disk, for streams that are
    // stopped or measured long before their end.
    QString SparseFile(const QString& relative, qint64 size) const;
    // Every file below the folder, relative to it, sorted.
    QStringList FilesBelow() const;
    // Bytes that differ from chunk to chunk, so misplaced chunks show;
    // each state gives its own sequence.
    static QByteArray Pattern(qint64 size, quint32 state);

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
