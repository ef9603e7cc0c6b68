#include "TempTree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

TempTree::TempTree() : m_dir(new QTemporaryDir) {}

void TempTree::Renew()
{
    m_dir.reset(new QTemporaryDir);
}

QString TempTree::Path(const QString& relative) const
{
    return m_dir->filePath(relative);
}

QString TempTree::Remote(const QString& relative) const
{
    return Path(relative).replace('/', '\\');
}

QString TempTree::MakeFolder(const QString& relative) const
{
    const QString path = Path(relative);
    QDir().mkpath(path);
    return path;
}

QString TempTree::WriteFile(const QString& relative, const QByteArray& bytes) const
{
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray TempTree::ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString TempTree::SparseFile(const QString& relative, qint64 size) const
{
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

QStringList TempTree::FilesBelow() const
{
    QStringList files;
    QDirIterator it(m_dir->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(m_dir->path()).relativeFilePath(it.next());
    files.sort();
    return files;
}

QByteArray TempTree::Pattern(qint64 size, quint32 state)
{
    QByteArray bytes(int(size), Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}
