// A folder of small files (0 to 60 KB) downloaded as "Download Folder" does
// it: every file queued at once, then fetched one after the other from a
// peer that uploads over loopback file connections, as a peer with one
// upload slot does. Measured with the transfers page showing (offscreen) and
// without it, at 500 and 2,000 files, against `cp -r` of the same tree in
// the same run. The uploader answers every step as soon as it hears of it,
// so the time is the downloader's own: its engine, peer messaging and page.
// The processor time of the process (all its threads) is printed beside
// each wall-clock figure, as other builds on a shared machine move the
// latter. QV_SMALLFILES=N runs one case of N files alone.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <memory>

#include "BenchSupport.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "ViewFixture.h"
#include "transfers/TransfersForm.h"

namespace {

const QString UploaderName = "alice";
const QString RemoteFolder = "share\\tree";
const quint32 TransferRequest = 40;
const quint32 TransferResponse = 41;
const int TimeoutMs = 600000;

// The tree that is downloaded and copied: files of 0 to 60 KB.
struct SourceTree
{
    QString root;
    QStringList names;
    QList<qint64> sizes;

    bool Make(const QString& at, int files)
    {
        root = at;
        if (!QDir().mkpath(root))
            return false;
        QRandomGenerator random(files);
        for (int i = 0; i < files; ++i) {
            const QString name = QString("file%1.dat").arg(i, 5, 10, QChar('0'));
            QByteArray bytes(int(random.bounded(60 * 1024 + 1)), Qt::Uninitialized);
            for (char& byte : bytes)
                byte = char(random.generate());
            QFile file(root + "/" + name);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return false;
            names << name;
            sizes << bytes.size();
        }
        return true;
    }
};

double ProcessorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// `cp -r` of the tree, the median of three copies: seconds, or -1 when
// one failed.
double CopySeconds(const SourceTree& tree, const QString& target)
{
    std::vector<double> runs;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer clock;
        clock.start();
        QProcess cp;
        cp.start("cp", {"-r", tree.root, target + QString::number(run)});
        if (!cp.waitForFinished(TimeoutMs) || cp.exitCode() != 0)
            return -1;
        runs.push_back(Seconds(clock));
    }
    return Median(runs);
}

// The uploading peer: offers each queued file in turn, opens the file
// connection once the downloader accepted, sends the bytes when asked from
// where, and offers the next when the downloader has finished the last.
class FolderUploader : public QObject
{
public:
    FolderUploader(ViewFixture& f, FakePeerLink* link, const SourceTree& tree) : m_f(f), m_link(link), m_tree(tree)
    {
        connect(link, &FakePeerLink::Received, this, [this] { OnMessages(); });
        connect(f.transfers, &TransferQueueManager::CompleteDownloadAdded, this, [this] {
            ++m_complete;
            Offer();
        });
    }

    void Offer()
    {
        if (m_next >= m_tree.names.size())
            return;
        m_current = m_next++;
        m_token = 7000 + quint32(m_current);
        m_link->SendMessage(TransferRequest, FakeWire()
                                                 .U32(1)
                                                 .U32(m_token)
                                                 .Str(RemoteFolder + "\\" + m_tree.names[m_current])
                                                 .U64(quint64(m_tree.sizes[m_current]))
                                                 .Bytes());
        m_accepted = false;
    }

    int Complete() const { return m_complete; }

private:
    void OnMessages()
    {
        for (; m_read < m_link->messages.size(); ++m_read)
            if (m_link->messages[m_read].first == TransferResponse && !m_accepted) {
                m_accepted = true;
                OpenFileConnection();
            }
    }

    void OpenFileConnection()
    {
        if (m_file)
            m_file->deleteLater();
        m_file = new QTcpSocket(this);
        QTcpSocket* socket = m_file;
        const quint32 token = m_token;
        const int index = m_current;
        connect(socket, &QTcpSocket::connected, this, [socket, token] {
            socket->write(FakeWire::Frame(FakeWire().U8(1).Str(UploaderName).Str("F").U32(token).Bytes()) +
                          FakeWire().U32(token).Bytes());
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] {
            if (socket->bytesAvailable() < 8)
                return;
            socket->readAll();
            QFile source(m_tree.root + "/" + m_tree.names[index]);
            if (source.open(QIODevice::ReadOnly))
                socket->write(source.readAll());
        });
        socket->connectToHost(QHostAddress::LocalHost, m_f.net.peer->ListeningPort());
    }

    ViewFixture& m_f;
    FakePeerLink* m_link;
    const SourceTree& m_tree;
    QTcpSocket* m_file = nullptr;
    int m_read = 0;
    int m_next = 0;
    int m_current = -1;
    int m_complete = 0;
    quint32 m_token = 0;
    bool m_accepted = false;
};

// The whole folder downloaded, the page shown or not: seconds, or -1, and
// the processor seconds of the process meanwhile.
double DownloadSeconds(const SourceTree& tree, bool withPage, double& processor)
{
    ViewFixture f;
    SetSetting("color_transfer_complete", "#006400");
    SetSetting("color_transfer_in_progress", "#0000ff");
    SetSetting("color_transfer_queued", "#3366ff");
    SetSetting("color_transfer_failed", "#ff0a47");
    SetSetting("color_transfer_other", "#000000");
    if (withPage) {
        auto* page = new TransfersForm;
        f.AddPage(page, "Transfers");
        page->Init();
    } else {
        // The user on another page: the window shows, the transfers page
        // does not exist.
        f.AddPage(new QWidget, "Browse");
    }
    f.window->resize(1000, 700);
    if (!f.Start())
        return -1;
    FakePeerLink* link = f.OnlinePeer(UploaderName);
    if (!link)
        return -1;
    FolderUploader uploader(f, link, tree);

    QElapsedTimer clock;
    clock.start();
    const double processorAtStart = ProcessorSeconds();
    for (int i = 0; i < tree.names.size(); ++i)
        f.transfers->AddDownload(UploaderName, tree.names[i].toStdString(), RemoteFolder.toStdString(), tree.sizes[i],
                                 false, 0);
    uploader.Offer();
    const int files = tree.names.size();
    if (!RunUntil([&] { return uploader.Complete() >= files; }, TimeoutMs)) {
        std::printf("  only %d of %d files arrived\n", uploader.Complete(), files);
        return -1;
    }
    processor = ProcessorSeconds() - processorAtStart;
    const double seconds = Seconds(clock);
    // Every byte where it belongs, or the figure counts for nothing.
    qint64 expected = 0, arrived = 0;
    for (qint64 size : tree.sizes)
        expected += size;
    QDirIterator complete(f.DownloadFolder() + "/complete", QDir::Files, QDirIterator::Subdirectories);
    while (complete.hasNext())
        arrived += QFileInfo(complete.next()).size();
    if (arrived != expected) {
        std::printf("  %lld of %lld bytes arrived\n", static_cast<long long>(arrived),
                    static_cast<long long>(expected));
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    std::printf("bench_views_smallfiles: a folder of small files downloaded over loopback, against cp -r\n");

    double perFilePage[2] = {0, 0};
    int counts[2] = {500, 2000};
    const int alone = qEnvironmentVariableIntValue("QV_SMALLFILES");
    if (alone > 0)
        counts[0] = alone;
    for (int c = 0; c < (alone > 0 ? 1 : 2); ++c) {
        const int files = counts[c];
        SourceTree tree;
        if (!tree.Make(folder.path() + QString("/source%1/tree").arg(files), files)) {
            std::printf("  could not write the source tree\n");
            return 1;
        }
        const double copy = CopySeconds(tree, folder.path() + QString("/copy%1").arg(files));
        double shownProcessor = 0, hiddenProcessor = 0;
        const double shown = DownloadSeconds(tree, true, shownProcessor);
        const double hidden = DownloadSeconds(tree, false, hiddenProcessor);
        if (copy <= 0 || shown <= 0 || hidden <= 0) {
            std::printf("  %d files: a run failed\n", files);
            return 1;
        }
        const double copyMs = copy * 1000 / files;
        const double shownMs = shown * 1000 / files;
        const double hiddenMs = hidden * 1000 / files;
        perFilePage[c] = shownMs;
        std::printf("  %d files: cp -r %.3f s (%.3f ms per file), page shown %.2f s (processor %.2f s), "
                    "no page %.2f s (processor %.2f s)\n",
                    files, copy, copyMs, shown, shownProcessor, hidden, hiddenProcessor);
        // 5 ms a file with the page showing, where cp takes about a third
        // of a millisecond; the page adds no more than the download's own
        // work.
        Figure(Detail("%d files, page shown: ms per file", files).c_str(), shownMs, "ms", "<=", 5.0,
               Detail("%.1fx cp's %.3f ms", shownMs / copyMs, copyMs));
        Figure(Detail("%d files, page shown / cp -r, per file", files).c_str(), shownMs / copyMs, "x", "<=", 15.0);
        Figure(Detail("%d files, page shown / no page", files).c_str(), shownMs / hiddenMs, "x", "<=", 2.0,
               Detail("no page: %.2f ms per file", hiddenMs));
    }
    // Four times the files take about four times as long: the same time
    // per file.
    if (alone <= 0)
        Figure("2,000 files / 500 files, page shown, per file", perFilePage[1] / perFilePage[0], "x", "<=", 1.25,
               "time per file at 4x the files");
    return Summary("bench_views_smallfiles");
}
