// A folder shared by the user and asked for at once, as on a first run:
// shares of 3,003 and 30,003 files on disk, each
//   - shared (the Options "add shared folder"): the longest stall of the
//     event loop until its files are in the store, and its whole time
//     against walking and stating the same tree with QDirIterator;
//   - asked for by a peer straight after (a share-list request over a real
//     message connection on 127.0.0.1): the longest stall until the list
//     has arrived, and its whole time against building and compressing the
//     same list at once;
// and how each whole time grows from the small share to the large one
// (aim: about 10x per 10x files).
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "BenchSupport.h"
#include "DNetManager.h"
#include "Data.h"
#include "FakePeerLink.h"
#include "PeerEngineFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "StallProbe.h"

namespace {
const double StallAimMs = 100;
const int FilesPerFolder = 100;

// folders x 100 files, and three more at the top, as a user's music folder
// with a few loose files.
bool MakeTree(const QString& root, int folders)
{
    for (int i = 0; i < 3; ++i) {
        QFile loose(QString("%1/loose %2.txt").arg(root).arg(i));
        if (!QDir().mkpath(root) || !loose.open(QIODevice::WriteOnly))
            return false;
    }
    for (int f = 0; f < folders; ++f) {
        const QString folder = QString("%1/Artist %2/Album %3").arg(root).arg(f / 10).arg(f % 10);
        if (!QDir().mkpath(folder))
            return false;
        for (int n = 0; n < FilesPerFolder; ++n) {
            QFile file(
                QString("%1/%2 - Track %3 of folder %4.ogg").arg(folder).arg(n + 1, 2, 10, QChar('0')).arg(n).arg(f));
            if (!file.open(QIODevice::WriteOnly) || !file.resize(1000 + f * FilesPerFolder + n))
                return false;
        }
    }
    return true;
}

// The plain walk: every entry listed and stated, the sizes summed.
double PlainWalkSeconds(const QString& root, int& files)
{
    QElapsedTimer timer;
    timer.start();
    qint64 bytes = 0;
    files = 0;
    QDirIterator it(root, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        bytes += it.fileInfo().size();
        ++files;
    }
    return bytes >= 0 ? Seconds(timer) : -1;
}

struct Round
{
    double shareSeconds = 0;
    double shareStallMs = 0;
    double walkSeconds = 0;
    double listSeconds = 0;
    double listStallMs = 0;
    double listAtOnceSeconds = 0;
};

Round Measure(SharedFoldersManager* manager, FakePeerLink* link, StallProbe& probe, const QString& root, int files)
{
    Round round;
    int walked = 0;
    round.walkSeconds = BestOf(3, [&] { return PlainWalkSeconds(root, walked); });
    if (walked != files)
        qFatal("the plain walk found %d files of %d", walked, files);

    QElapsedTimer clock;
    QTimer::singleShot(0, manager, [&] {
        probe.Reset();
        clock.start();
        manager->AddSharedFolder(root).NewItem("shared_public");
    });
    if (!RunUntil([&] { return clock.isValid() && !manager->IsScanningNewFolder(root); }, 300000))
        qFatal("the share's scan did not end");
    round.shareSeconds = Seconds(clock);
    round.shareStallMs = LongestGapNow(probe);
    if (d.GetType("shared_file")->Count() != size_t(files))
        qFatal("the share holds %zu files of %d", d.GetType("shared_file")->Count(), files);

    // Asked for straight after, as a browsing peer does on a first run.
    const int before = PeerEngineFixture::Received(link, PeerMessages::SharedFileList).size();
    clock.invalidate();
    QTimer::singleShot(0, manager, [&] {
        probe.Reset();
        clock.start();
        link->SendMessage(PeerMessages::SharedFileListRequest, {});
    });
    if (!RunUntil([&] { return PeerEngineFixture::Received(link, PeerMessages::SharedFileList).size() > before; },
                  120000))
        qFatal("the share list did not arrive");
    round.listSeconds = Seconds(clock);
    round.listStallMs = LongestGapNow(probe);

    round.listAtOnceSeconds = BestOf(3, [&] {
        QElapsedTimer timer;
        timer.start();
        const MemStream message = manager->GetSharedFilesMessage("browser");
        return message.GetLength() > 0 ? Seconds(timer) : -1;
    });

    // Unshared again for the next size, and the sweep let finish.
    d.GetType("shared_folder")->HasItem(Value(root)).Remove();
    d.RemoveDisconnectedItems();
    return round;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    PeerEngineFixture net;
    if (!net.Start())
        qFatal("no login to the loopback server");
    SetSetting("show_diagnostics", "no");
    DNetManager dnet;
    SharedFoldersManager manager;
    FakePeerLink* link = net.LinkedPeer("browser");
    if (!link)
        qFatal("no fake peer");

    const int smallFolders = 30, largeFolders = 300;
    const QString small = dir.filePath("small"), large = dir.filePath("large");
    if (!MakeTree(small, smallFolders) || !MakeTree(large, largeFolders))
        qFatal("cannot make the trees");
    const int smallFiles = smallFolders * FilesPerFolder + 3, largeFiles = largeFolders * FilesPerFolder + 3;
    std::printf("== A folder shared and asked for at once: %d and %d files\n", smallFiles, largeFiles);

    StallProbe probe;
    probe.Start();
    const Round s = Measure(&manager, link, probe, small, smallFiles);
    const Round l = Measure(&manager, link, probe, large, largeFiles);

    Figure("sharing 30,003 files: longest stall", l.shareStallMs, "ms", "<", StallAimMs,
           Detail("scanned and in the store in %.0f ms; plain walk %.0f ms (%.1fx)", l.shareSeconds * 1e3,
                  l.walkSeconds * 1e3, l.shareSeconds / l.walkSeconds));
    Figure("sharing: cost 3,003 -> 30,003 files", l.shareSeconds / s.shareSeconds, "x", "<=", 15,
           Detail("%.0f ms and %.0f ms; plain walks %.1fx", s.shareSeconds * 1e3, l.shareSeconds * 1e3,
                  l.walkSeconds / s.walkSeconds));
    Figure("share list of 30,003 files just shared: longest stall", l.listStallMs, "ms", "<", StallAimMs,
           Detail("arrived in %.0f ms; built at once %.0f ms (%.1fx)", l.listSeconds * 1e3, l.listAtOnceSeconds * 1e3,
                  l.listSeconds / l.listAtOnceSeconds));
    Figure("share list: cost 3,003 -> 30,003 files", l.listSeconds / s.listSeconds, "x", "<=", 15,
           Detail("%.0f ms and %.0f ms; built at once %.1fx", s.listSeconds * 1e3, l.listSeconds * 1e3,
                  l.listAtOnceSeconds / s.listAtOnceSeconds));
    return Summary("fresh share");
}
