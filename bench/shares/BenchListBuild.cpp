// One build of the share list of a 600,000-file share, as other users ask
// for it over the loopback (gathered over turns, built and compressed on
// the reply thread), against zlib compressing the same body at the level
// the list uses, in the same run. Then eight askers at addresses of their
// own asking at once: one build for all, the last served within a few
// times one alone.
#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <algorithm>
#include <cstdio>
#include <vector>
#include <zlib.h>

#include "BenchSupport.h"
#include "DNetManager.h"
#include "Data.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerEngineFixture.h"
#include "PeerMessages.h"
#include "Settings.h"
#include "SharedFoldersManager.h"

namespace {
const int Folders = 1200;
const int FilesPerFolder = 500;
const char* const Root = "/home/someone/Music";
// The level the list is compressed at.
const int ListLevel = 9;
const double BuildAim = 3;
const int Askers = 8;
const double AskersAim = 2;
const char* const Words[] = {"amber", "brook", "cedar", "delta", "ember", "fable", "grove", "harbor", "iris"};

void MakeShare(SharedFoldersManager* manager)
{
    Type* fileType = d.GetType("shared_file");
    Type* folderType = d.GetType("shared_file_folder");
    Type* nameType = d.GetType("shared_file_name");
    Type* sizeType = d.GetType("shared_file_size");
    Type* bitrateType = d.GetType("bitrate");
    ItemPtr shared = d.GetType("shared_folder")->GetItem(Value(QString(Root)));
    shared.NewItem("shared_public");
    Data::Batch batch(&d);
    for (int f = 0; f < Folders; ++f) {
        ItemPtr folder = folderType->GetItem(Value(QString("%1/Band %2/Album %3").arg(Root).arg(f / 10).arg(f)));
        shared += folder;
        for (int i = 0; i < FilesPerFolder; ++i) {
            const int number = f * FilesPerFolder + i;
            ItemPtr file = fileType->NewItem();
            file += folder;
            file += nameType->GetItem(
                Value(QString("%1 %2 take %3.mp3").arg(i + 1, 3, 10, QChar('0')).arg(Words[number % 9]).arg(number)));
            file += sizeType->GetItem(Value(static_cast<long long>(3000000 + number)));
            if (i % 3 == 0)
                file += bitrateType->GetItem(Value(128 + 32 * (i % 7)));
            manager->TokenizeSharedFile(file);
        }
    }
}

QByteArray Inflate(const QByteArray& bytes)
{
    return FakeWire::Inflate(bytes);
}

// Seconds zlib takes to compress the body at the list's level, best of three.
double ZlibSeconds(const QByteArray& body, qint64& packedBytes)
{
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        uLongf length = compressBound(uLong(body.size()));
        std::vector<Bytef> packed(length);
        QElapsedTimer timer;
        timer.start();
        if (compress2(packed.data(), &length, reinterpret_cast<const Bytef*>(body.constData()), uLong(body.size()),
                      ListLevel) != Z_OK)
            qFatal("zlib failed");
        best = std::min(best, Seconds(timer));
        packedBytes = qint64(length);
    }
    return best;
}

// Seconds until every asker has a list it had not, asked at once; the
// lists' bodies in lists.
double AskAtOnce(const std::vector<FakePeerLink*>& askers, std::vector<QByteArray>& lists)
{
    std::vector<int> before;
    for (FakePeerLink* asker : askers)
        before.push_back(PeerEngineFixture::Received(asker, PeerMessages::SharedFileList).size());
    QElapsedTimer clock;
    clock.start();
    for (FakePeerLink* asker : askers)
        asker->SendMessage(PeerMessages::SharedFileListRequest, {});
    auto all = [&] {
        for (size_t i = 0; i < askers.size(); ++i)
            if (PeerEngineFixture::Received(askers[i], PeerMessages::SharedFileList).size() <= before[i])
                return false;
        return true;
    };
    if (!RunUntil(all, 600000))
        qFatal("the share lists did not arrive");
    const double seconds = Seconds(clock);
    lists.clear();
    for (FakePeerLink* asker : askers)
        lists.push_back(PeerEngineFixture::Received(asker, PeerMessages::SharedFileList).last());
    return seconds;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    PeerEngineFixture net;
    if (!net.Start())
        qFatal("no login to the loopback server");
    // The program logs nothing unless asked to.
    SetSetting("show_diagnostics", "no");
    DNetManager* dnet = new DNetManager;
    SharedFoldersManager* manager = new SharedFoldersManager;
    std::vector<FakePeerLink*> askers;
    for (int i = 0; i <= Askers; ++i) {
        askers.push_back(
            net.LinkedPeer(QString("asker%1").arg(i), QHostAddress(quint32(0x7F000000 | (30 << 8) | (i + 1)))));
        if (!askers.back())
            qFatal("no fake peer");
    }
    QElapsedTimer made;
    made.start();
    MakeShare(manager);
    std::printf("== Share list build: %d files in %d folders (made in %.1f s)\n", Folders * FilesPerFolder, Folders,
                Seconds(made));

    // One asker alone: the build as others cause it.
    std::vector<QByteArray> lists;
    const double one = AskAtOnce({askers[0]}, lists);
    const QByteArray list = lists[0];
    const QByteArray body = Inflate(list);
    if (body.isEmpty())
        qFatal("the share list does not inflate");
    qint64 packed = 0;
    const double zlib = ZlibSeconds(body, packed);
    Figure("one share-list build, asked over the loopback, vs zlib -9 of its body", one / zlib, "x", "<=", BuildAim,
           Detail("%.2f s against %.2f s; body %.1f MB, list %.1f MB (zlib alone %.1f MB)", one, zlib,
                  body.size() / 1e6, list.size() / 1e6, packed / 1e6));

    // The shares change, then eight ask at once: one build serves them.
    ItemPtr file = d.GetType("shared_file")->GetItems().First();
    file.Remove();
    const int builds = manager->ShareListsBuilt();
    const double eight = AskAtOnce(std::vector<FakePeerLink*>(askers.begin() + 1, askers.end()), lists);
    const QByteArray now = manager->GetSharedFilesMessage("anyone").GetBytes().mid(4);
    const int differing = int(std::count_if(lists.begin(), lists.end(), [&](const QByteArray& l) { return l != now; }));
    Figure("builds for eight askers at once", manager->ShareListsBuilt() - builds, "", "<=", 1);
    Figure("askers sent other than the list built at once", differing, "", "<=", 0);
    Figure("eight askers at once served / one alone", eight / one, "x", "<=", AskersAim,
           Detail("%.2f s against %.2f s", eight, one));

    delete manager;
    delete dnet;
    return Summary("listbuild");
}
