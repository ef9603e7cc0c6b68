#include "ShareTree.h"

#include <QDir>
#include <QFile>

namespace {
const char* const Words[] = {"Blue", "Night", "River", "Echo", "Stone", "Café", "Ёлка", "Live", "Remix", "Dawn"};
}

QString ShareTree::FolderPath(const QString& root, int top, int sub)
{
    return QString("%1/Artist %2 %3/Album %4 (%5)")
        .arg(root)
        .arg(top)
        .arg(QString::fromUtf8(Words[top % 10]))
        .arg(sub)
        .arg(2000 + sub);
}

QString ShareTree::FileName(int top, int sub, int file)
{
    const int number = top * 1000 + sub * 100 + file;
    QString name = QString::fromUtf8("%1 - %2 %3 %4")
                       .arg(file + 1, 2, 10, QChar('0'))
                       .arg(QString::fromUtf8(Words[file % 10]))
                       .arg(QString::fromUtf8(Words[(file / 10 + top) % 10]))
                       .arg(number);
    if (number % 33331 == 7)
        name += " quixotic";
    // No ".mp3": the audio analysis of 30,000 empty files would keep the
    // scanner thread busy for minutes and measure nothing of interest here.
    return name + (file % 2 ? ".flac" : ".ogg");
}

qint64 ShareTree::FileSize(int top, int sub, int file)
{
    return 3000000 + qint64(top * 1000 + sub * 100 + file) * 61;
}

bool ShareTree::Make(const QString& root, std::vector<std::string>* paths)
{
    for (int t = 0; t < TopFolders; ++t)
        for (int s = 0; s < SubFolders; ++s) {
            const QString folder = FolderPath(root, t, s);
            if (!QDir().mkpath(folder))
                return false;
            for (int f = 0; f < FilesPerFolder; ++f) {
                const QString path = folder + "/" + FileName(t, s, f);
                QFile file(path);
                if (!file.open(QIODevice::WriteOnly) || !file.resize(FileSize(t, s, f)))
                    return false;
                if (paths)
                    paths->push_back(path.toUtf8().toStdString());
            }
        }
    return true;
}
