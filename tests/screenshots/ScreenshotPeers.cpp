// Other users for scripts/screenshots: fake peers that log in to the test
// server and answer every search of the photographed client with files of
// their shares, over a message connection, as other clients would; and
// that search the client's shares now and then, for its received searches.
//   quorvane-screenshot-peers SERVER-PORT USER
// Runs until it is ended.
#include <QCoreApplication>
#include <QHash>
#include <QTextStream>
#include <QTimer>

#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "SearchReply.h"

namespace {

struct Share
{
    const char* name;
    quint8 freeSlot;
    quint32 speed;
    quint32 queued;
    QList<QByteArray> files;
};

QList<QByteArray> Album(const char* folder, const QStringList& tracks, quint32 bitrate, quint64 size)
{
    QList<QByteArray> files;
    // Lossless files carry their length only, as a client reports them.
    for (int i = 0; i < tracks.size(); ++i) {
        QList<QPair<quint32, quint32>> attributes{{1, quint32(240 + 37 * i)}};
        if (bitrate)
            attributes << qMakePair(0u, bitrate) << qMakePair(2u, 0u);
        files << SearchReplyFile(QByteArray(folder) + "\\" + tracks[i].toUtf8(), size + quint64(i) * 917311,
                                 attributes);
    }
    return files;
}

QList<Share> Shares()
{
    return {
        {"jonas", 1, 412000, 0,
         Album("C:\\Users\\jonas\\Music\\John Coltrane - Blue Train (1957)",
               {"01 Blue Train.mp3", "02 Moment's Notice.mp3", "03 Locomotion.mp3", "04 I'm Old Fashioned.mp3",
                "05 Lazy Bird.mp3"},
               320, 16234567)},
        {"ilse", 0, 96000, 4,
         Album("\\home\\ilse\\music\\jazz\\Coltrane\\Blue Train", {"blue train.flac", "lazy bird.flac"}, 0, 61234567)},
        {"rafael", 0, 1830000, 12,
         Album("D:\\Shared\\Mixes", {"late night blue train mix.mp3"}, 192, 88012345) +
             Album("D:\\Shared\\Live\\Blue Train live 1961", {"blue train (live).mp3", "my favorite things.mp3"},
                   256, 21345678)},
    };
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: quorvane-screenshot-peers SERVER-PORT USER\n";
        return 2;
    }
    const quint16 serverPort = quint16(QString(argv[1]).toUShort());
    const QString client = QString::fromLocal8Bit(argv[2]);

    struct Peer
    {
        Share share;
        FakePeer* fake;
        FakePeerLink* link = nullptr;
        int answered = 0;
    };
    QList<Peer> peers;
    for (const Share& share : Shares()) {
        auto* fake = new FakePeer(share.name, &app);
        if (!fake->Listen(false) || !fake->LogIn(serverPort)) {
            err << "cannot log " << share.name << " in\n";
            return 1;
        }
        peers.append({share, fake});
    }

    QTextStream(stdout) << "ready" << Qt::endl;

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (Peer& peer : peers) {
            for (; peer.answered < peer.fake->searchRequests.size(); ++peer.answered) {
                const FakePeer::SearchRequest request = peer.fake->searchRequests.at(peer.answered);
                if (request.user != client)
                    continue;
                if (!peer.link) {
                    peer.fake->AskAddress(client);
                    if (!peer.fake->WaitForAddress(client))
                        continue;
                    peer.link = peer.fake->Greet(peer.fake->listeningPorts.value(client), false, "P", 1);
                    if (!peer.link)
                        continue;
                }
                peer.link->SendMessage(9, CompressedSearchReply(peer.share.name, request.ticket, peer.share.files,
                                                                peer.share.freeSlot, peer.share.speed,
                                                                peer.share.queued));
            }
        }
    });
    poll.start(100);

    // Searches of the client's shares, some of which its files answer.
    const QStringList searches = {
        "coltrane giant steps flac", "rain on a tin roof",   "bill evans waltz for debby", "blue room encore",
        "nina simone",               "harbour dawn",         "art blakey moanin",         "slow blues in g",
        "miles davis kind of blue",  "ornette coleman 1959", "field recordings",          "thelonious monk"};
    int searched = 0;
    QTimer asking;
    QObject::connect(&asking, &QTimer::timeout, [&] {
        if (searched == searches.size()) {
            asking.stop();
            return;
        }
        FakePeer* from = peers[searched % peers.size()].fake;
        from->SendToServer(42, FakeWire().Str(client).U32(quint32(1000 + searched)).Str(searches[searched]).Bytes());
        ++searched;
    });
    asking.start(400);
    return app.exec();
}
