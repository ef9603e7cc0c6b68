// Other users for scripts/screenshots: fake peers that log in to the test
// server, answer the photographed client's searches with the files of their
// shares that hold every word searched for, over a message connection, send
// the files of their shares that the client queues over a file connection
// (most at once, one slowly, so that it is seen downloading), search the
// client's shares now and then (its received searches), take every file
// the client uploads to them, and answer requests for their user
// information, one of them with a picture, and for their whole share list,
// as other clients would. One of them queues the file WANTED, a path of the
// client's shares, as soon as the client is about. One of them keeps an
// archive of concert tapes so large that a search of "live" brings the client
// more results than a search keeps of one user; he answers in several
// replies, as large shares do. Three more keep shares far larger than the
// rest: a radio archive of 600,000 recordings, a collection of a million
// files whose list is too long for any client to take, and a map tile
// cache whose list is short but holds more files than a client takes. Each file sent whole is
// reported on stdout as "served PATH", each search of the client answered as
// "answered NAME FILES", each answer about themselves as "informed NAME",
// each share list sent as "listed NAME" (and "refused NAME" when the client
// closed the connection it went on), each upload of the client that starts as
// "receiving PATH".
//   quorvane-screenshot-peers SERVER-PORT USER [WANTED]
// Runs until it is ended.
#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QDate>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QSet>
#include <QTextStream>
#include <QTimer>
#include <QtMath>
#include <chrono>
#include <future>

#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "SearchReply.h"

namespace {

// Files of a share: as search replies list them, and their sizes and
// attributes by path.
struct Files
{
    QList<QByteArray> listed;
    QHash<QString, quint64> sizes;
    QHash<QString, QList<QPair<quint32, quint32>>> attributes = {};
    // The path of each listed file, in the same order.
    QStringList paths = {};

    Files& operator+=(const Files& other)
    {
        listed += other.listed;
        paths += other.paths;
        for (auto it = other.sizes.constBegin(); it != other.sizes.constEnd(); ++it)
            sizes.insert(it.key(), it.value());
        for (auto it = other.attributes.constBegin(); it != other.attributes.constEnd(); ++it)
            attributes.insert(it.key(), it.value());
        return *this;
    }
    Files operator+(const Files& other) const
    {
        Files both = *this;
        return both += other;
    }
};

struct Share
{
    const char* name;
    quint8 freeSlot;
    quint32 speed;
    quint32 queued;
    Files files;
    // What the user tells the server of the share, and publishes about
    // themselves to whoever asks.
    quint32 fileCount = 0;
    quint32 folderCount = 0;
    QString description = QString();
    bool picture = false;
    // Further folders the whole share list holds beside what searches find.
    Files library = Files();
    // Files sent slowly when queued, and whether the user queues the
    // client's WANTED file.
    Files slow = Files();
    bool wants = false;
    // Whether the user searches the client's shares now and then, and how
    // many files one search reply holds at most (0: all in one).
    bool searches = true;
    int perReply = 0;
    // A whole share list far larger than what searches find, made the
    // first time it is asked for: the message with its frame.
    QByteArray (*largeList)(const Files& found) = nullptr;
};

// What a search finds among the files: those whose path holds every word,
// in any case, as a client matches.
QList<QByteArray> Matching(const Files& files, const QString& text)
{
    const QStringList words = text.toLower().split(' ', Qt::SkipEmptyParts);
    QList<QByteArray> found;
    for (int i = 0; i < files.paths.size(); ++i) {
        const QString path = files.paths[i].toLower();
        bool all = !words.isEmpty();
        for (const QString& word : words)
            all = all && path.contains(word);
        if (all)
            found << files.listed[i];
    }
    return found;
}

// A record sleeve of rings and stripes, made pixel by pixel.
QByteArray Sleeve()
{
    QImage image(200, 200, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int dx = x - 100, dy = y - 112;
            const int ring = int(qSqrt(dx * dx + dy * dy)) / 8;
            const QColor base = y < 66 ? QColor(16, 42, 92) : QColor(24, 24, 30);
            image.setPixelColor(x, y,
                                ring < 9 && y >= 66 ? (ring % 2 ? QColor(40, 110, 190) : QColor(230, 232, 236))
                                                    : base.lighter(100 + (x / 22) % 2 * 12));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The answer to a request for the user's information (peer message 16).
QByteArray UserInfo(const Share& share)
{
    FakeWire body;
    body.Str(share.description).U8(share.picture ? 1 : 0);
    if (share.picture) {
        const QByteArray picture = Sleeve();
        body.U32(quint32(picture.size())).Raw(picture);
    }
    return body.U32(3).U32(share.queued).U8(share.freeSlot).Bytes();
}

Files Album(const char* folder, const QStringList& tracks, quint32 bitrate, quint64 size)
{
    Files files;
    // Lossless files carry their length only, as a client reports them.
    for (int i = 0; i < tracks.size(); ++i) {
        QList<QPair<quint32, quint32>> attributes{{1, quint32(240 + 37 * i)}};
        if (bitrate)
            attributes << qMakePair(0u, bitrate) << qMakePair(2u, 0u);
        const QString path = QString(folder) + "\\" + tracks[i];
        const quint64 bytes = size + quint64(i) * 917311;
        files.listed << SearchReplyFile(path.toUtf8(), bytes, attributes);
        files.paths << path;
        files.sizes.insert(path, bytes);
        files.attributes.insert(path, attributes);
    }
    return files;
}

// Concert tapes, 40 artists of 132 nights of 10 tunes each: 52,800 files, all
// under a folder named "Live Tapes".
Files Tapes()
{
    const QStringList artists = {"Art Blakey & the Jazz Messengers",
                                 "Bill Evans Trio",
                                 "Thelonious Monk Quartet",
                                 "Sonny Rollins",
                                 "Dexter Gordon",
                                 "Cannonball Adderley Quintet",
                                 "Horace Silver Quintet",
                                 "Charles Mingus",
                                 "Dizzy Gillespie",
                                 "Stan Getz",
                                 "Wes Montgomery",
                                 "Oscar Peterson Trio",
                                 "Ahmad Jamal Trio",
                                 "Max Roach",
                                 "Clifford Brown",
                                 "Lee Morgan",
                                 "Hank Mobley",
                                 "Kenny Dorham",
                                 "Freddie Hubbard",
                                 "Jackie McLean",
                                 "Bud Powell",
                                 "Erroll Garner",
                                 "Dave Brubeck Quartet",
                                 "Gerry Mulligan",
                                 "Chet Baker",
                                 "Modern Jazz Quartet",
                                 "Ornette Coleman",
                                 "Eric Dolphy",
                                 "Roland Kirk",
                                 "Yusef Lateef",
                                 "Benny Golson",
                                 "Art Farmer",
                                 "Wynton Kelly Trio",
                                 "Red Garland Trio",
                                 "Sonny Stitt",
                                 "Zoot Sims",
                                 "Johnny Griffin",
                                 "Donald Byrd",
                                 "McCoy Tyner",
                                 "Elvin Jones"};
    const QStringList venues = {"Village Vanguard", "Birdland",           "Five Spot",      "Half Note",
                                "Newport",          "Montreux",           "Ronnie Scott's", "Keystone Korner",
                                "Slugs' Saloon",    "Jazz Workshop",      "Blackhawk",      "Lighthouse",
                                "Showboat",         "Minton's Playhouse", "Town Hall",      "Carnegie Hall"};
    const QStringList tunes = {"'Round Midnight",
                               "Autumn Leaves",
                               "All the Things You Are",
                               "A Night in Tunisia",
                               "Softly, as in a Morning Sunrise",
                               "Bye Bye Blackbird",
                               "Stella by Starlight",
                               "On Green Dolphin Street",
                               "Body and Soul",
                               "Straight, No Chaser",
                               "Now's the Time",
                               "Blues for Alice",
                               "Confirmation",
                               "Oleo",
                               "Airegin",
                               "Doxy",
                               "St. Thomas",
                               "Moanin'",
                               "Whisper Not",
                               "I Remember Clifford",
                               "Jordu",
                               "Cherokee",
                               "Star Eyes",
                               "My Funny Valentine",
                               "Just Friends",
                               "There Will Never Be Another You",
                               "Yardbird Suite",
                               "Bags' Groove",
                               "Solar",
                               "Milestones"};
    Files files;
    for (int artist = 0; artist < artists.size(); ++artist) {
        for (int night = 0; night < 132; ++night) {
            // A night every half year or so, a different one for each artist.
            const QDate date = QDate(1957, 1, 4).addDays(artist * 3 + night * 173);
            const QString folder =
                QString("E:\\Live Tapes\\%1\\%2 %3")
                    .arg(artists[artist], date.toString("yyyy-MM-dd"), venues[(artist + night) % venues.size()]);
            QStringList set;
            for (int tune = 0; tune < 10; ++tune)
                set << QString("%1 %2.mp3")
                           .arg(tune + 1, 2, 10, QChar('0'))
                           .arg(tunes[(artist * 7 + night * 3 + tune) % tunes.size()]);
            files += Album(folder.toUtf8().constData(), set, 192, 5123456 + 104729 * quint64(night));
        }
    }
    return files;
}

// The whole share list (peer message 5, compressed): every file by its
// folder.
QByteArray ShareList(const Files& files)
{
    QMap<QString, QStringList> folders;
    for (auto it = files.sizes.constBegin(); it != files.sizes.constEnd(); ++it)
        folders[it.key().section('\\', 0, -2)] << it.key();
    FakeWire body;
    body.U32(quint32(folders.size()));
    for (auto folder = folders.constBegin(); folder != folders.constEnd(); ++folder) {
        body.Str(folder.key()).U32(quint32(folder.value().size()));
        for (const QString& path : folder.value()) {
            const auto attributes = files.attributes.value(path);
            body.File(path.section('\\', -1).toUtf8(), files.sizes.value(path),
                      attributes.isEmpty() ? QByteArray() : QByteArray("mp3"), attributes);
        }
    }
    return FakeWire::Compress(body.U32(0).Bytes());
}

// A number that looks random, the same for the same n, i and k.
quint32 Scramble(quint32 n, quint32 i, quint32 k)
{
    quint32 x = n * 2654435761u ^ (i + 1) * 40503u ^ (k + 1) * 2246822519u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return x;
}

// The sizes of large shares' files: of a few megabytes to 60 MB.
quint64 SongSize(int n, int i)
{
    return 2000000 + Scramble(quint32(n), quint32(i), 3) % 60000000;
}

// A large share list, its folders made by folder(n) with perFolder files
// each named by file(n, i), of size(n, i) bytes and carrying the extension
// and attributes(n, i), after the folders that searches find; every folder
// above them is listed too, without files of its own, as a client lists its
// shares. The whole message frame, compressed.
template <class Folder, class Name, class Attributes>
QByteArray LargeList(const Files& found, int files, int perFolder, const char* extension, Folder folder, Name file,
                     quint64 (*size)(int n, int i), Attributes attributes)
{
    QMap<QString, QStringList> foundFolders;
    for (const QString& path : found.paths)
        foundFolders[path.section('\\', 0, -2)] << path;
    FakeWire folders;
    quint32 count = 0;
    QSet<QString> listed;
    auto list = [&](const QString& path, quint32 files) {
        for (QString above = path.section('\\', 0, -2); above.contains('\\') && !listed.contains(above);
             above = above.section('\\', 0, -2)) {
            listed.insert(above);
            folders.Str(above).U32(0);
            ++count;
        }
        listed.insert(path);
        folders.Str(path).U32(files);
        ++count;
    };
    for (auto it = foundFolders.constBegin(); it != foundFolders.constEnd(); ++it) {
        list(it.key(), quint32(it.value().size()));
        for (const QString& path : it.value())
            folders.File(path.section('\\', -1).toUtf8(), found.sizes.value(path), "mp3", found.attributes.value(path));
    }
    for (int n = 0; n * perFolder < files; ++n) {
        const int here = qMin(perFolder, files - n * perFolder);
        list(folder(n), quint32(here));
        for (int i = 0; i < here; ++i)
            folders.File(file(n, i).toUtf8(), size(n, i), extension, attributes(n, i));
    }
    return FakeWire::Message(5, FakeWire::Compress(FakeWire().U32(count).Raw(folders.Bytes()).U32(0).Bytes()));
}

const QStringList kComposers = {"Bach",     "Haydn",   "Mozart",    "Beethoven", "Schubert", "Schumann",   "Chopin",
                                "Brahms",   "Liszt",   "Dvorak",    "Debussy",   "Ravel",    "Janacek",    "Bartok",
                                "Sibelius", "Britten", "Prokofiev", "Poulenc",   "Faure",    "Mendelssohn"};
const QStringList kWorks = {"Sonata in A",  "Impromptu in G flat", "Nocturne in E flat",
                            "Partita No 2", "String Quartet in D", "Piano Trio in B flat",
                            "Ballade No 1", "Fantasia in F minor", "Variations on a theme",
                            "Suite in G",   "Etude in C minor",    "Intermezzo in A",
                            "Sonatina",     "Prelude and Fugue",   "Rhapsody",
                            "Serenade"};
const QStringList kVenues = {"Wigmore Hall", "Konzerthaus",        "Musikverein",   "Royal Albert Hall",
                             "Salle Pleyel", "Rudolfinum",         "Carnegie Hall", "Concertgebouw",
                             "Tonhalle",     "Palau de la Musica", "Philharmonie",  "Usher Hall"};

// Greta's radio archive: 600,000 concert recordings of the years 1962 to
// 2004, a dozen pieces a night, lossless with their lengths.
QByteArray RadioArchive(const Files& found)
{
    return LargeList(
        found, 600000, 12, "mp3",
        [](int n) {
            const QDate date = QDate(1962, 1, 6).addDays(n / 4);
            return QString("D:\\Radio Archive\\%1\\%2 %3")
                .arg(date.year())
                .arg(date.toString("yyyy-MM-dd"), kVenues[n % kVenues.size()]);
        },
        [](int n, int i) {
            return QString("%1 %2 - %3.flac")
                .arg(i + 1, 2, 10, QChar('0'))
                .arg(kComposers[(n * 7 + i) % kComposers.size()], kWorks[(n * 5 + i * 3) % kWorks.size()]);
        },
        SongSize,
        [](int n, int i) {
            return QList<QPair<quint32, quint32>>{{1, quint32(180 + (n * 31 + i * 17) % 900)}};
        });
}

const QStringList kGenres = {"Jazz",   "Blues", "Soul",       "Funk",      "Rock",    "Folk",
                             "Reggae", "Latin", "Electronic", "Classical", "Country", "Gospel"};
const QStringList kWords = {
    "Midnight", "River",   "Golden", "Shadow",  "Velvet",  "Harbor",  "Silver", "Morning", "Desert",  "Thunder",
    "Crimson",  "Lantern", "Willow", "Station", "Highway", "Garden",  "Mirror", "Feather", "Comet",   "Kingdom",
    "Valley",   "Ocean",   "Paper",  "Summer",  "Winter",  "Island",  "Forest", "Falcon",  "Copper",  "Orchid",
    "Marble",   "Prairie", "Ember",  "Frost",   "Raven",   "Tiger",   "Cobalt", "Amber",   "Circus",  "Sparrow",
    "Hollow",   "Evening", "Street", "Window",  "Letter",  "Diamond", "Spirit", "Shelter", "Horizon", "Candle",
    "Thief",    "Prayer",  "Signal", "Border",  "Season",  "Echo",    "Dream",  "Heart",   "Road",    "City",
    "Angel",    "Storm",   "Glass",  "Smoke",   "Dance",   "Wild",    "Sun",    "Ghost",   "Moon",    "Rain",
    "Stone",    "Fire",    "Light",  "Blue",    "Train",   "Night",   "Gold",   "Love",    "Home",    "Time"};

QString Words(quint32 n, quint32 i, int count)
{
    QStringList words;
    for (int k = 0; k < count; ++k)
        words << kWords[int(Scramble(n, i, quint32(k)) % quint32(kWords.size()))];
    return words.join(' ');
}

// Tomasz's collection: a million songs by genre and artist, an album of a
// dozen a folder, at 128 to 320 kbit/s.
QByteArray Collection(const Files& found)
{
    return LargeList(
        found, 1000000, 12, "mp3",
        [](int n) {
            const int artist = n / 9;
            return QString("E:\\Everything\\%1\\%2\\%3 - %4")
                .arg(kGenres[artist % kGenres.size()], Words(quint32(artist), 99, 2))
                .arg(1955 + Scramble(quint32(n), 0, 9) % 65)
                .arg(Words(quint32(n), 98, 1 + int(Scramble(quint32(n), 0, 7) % 3)));
        },
        [](int n, int i) {
            return QString("%1 %2.mp3")
                .arg(i + 1, 2, 10, QChar('0'))
                .arg(Words(quint32(n), quint32(i), 2 + int(Scramble(quint32(n), quint32(i), 8) % 4)));
        },
        SongSize,
        [](int n, int i) {
            const quint32 shape = Scramble(quint32(n), quint32(i), 5);
            return QList<QPair<quint32, quint32>>{
                {0, 128 + 32 * (shape % 7)}, {1, 90 + (shape >> 8) % 500}, {2, (shape >> 20) % 2}};
        });
}

// Wen's map tile cache: 2,600,000 tiles of one zoom level, a column of 256
// a folder, nearly all of them open sea, one small picture over and over:
// a list that fits a message and holds more files than a client takes.
quint64 TileSize(int n, int i)
{
    const quint32 land = Scramble(quint32(n), quint32(i), 4);
    return land % 50 ? 103 : 2000 + land % 30000;
}

QByteArray TileCache(const Files& found)
{
    return LargeList(
        found, 2600000, 256, "png", [](int n) { return QString("F:\\Maps\\Tiles\\15\\%1").arg(9000 + n); },
        [](int, int i) { return QString("%1.png").arg(11000 + i); }, TileSize,
        [](int, int) { return QList<QPair<quint32, quint32>>(); });
}

QList<Share> Shares()
{
    return {
        {"jonas", 1, 412000, 0,
         Album("C:\\Users\\jonas\\Music\\John Coltrane - Blue Train (1957)",
               {"01 Blue Train.mp3", "02 Moment's Notice.mp3", "03 Locomotion.mp3", "04 I'm Old Fashioned.mp3",
                "05 Lazy Bird.mp3"},
               320, 16234567),
         4210, 312,
         "Hard bop and West Coast jazz, mostly first pressings ripped at 320.\r\n"
         "<b>Listening party</b> every Friday at 9 pm in <i>jazz lounge</i>.\r\n"
         "Please queue no more than ten files at a time.",
         true,
         Album("C:\\Users\\jonas\\Music\\John Coltrane - Giant Steps (1960)",
               {"01 Giant Steps.mp3", "02 Cousin Mary.mp3", "03 Countdown.mp3", "04 Spiral.mp3",
                "05 Syeeda's Song Flute.mp3", "06 Naima.mp3", "07 Mr. P.C..mp3"},
               320, 14012345) +
             Album("C:\\Users\\jonas\\Music\\Miles Davis - Kind of Blue (1959)",
                   {"01 So What.mp3", "02 Freddie Freeloader.mp3", "03 Blue in Green.mp3", "04 All Blues.mp3",
                    "05 Flamenco Sketches.mp3"},
                   256, 18234567) +
             Album("C:\\Users\\jonas\\Music\\Miles Davis - Kind of Blue (1959)\\Bonus",
                   {"06 Flamenco Sketches (alternate take).mp3"}, 256, 19876543) +
             Album("C:\\Users\\jonas\\Music\\Sonny Clark - Cool Struttin' (1958)",
                   {"01 Cool Struttin'.flac", "02 Blue Minor.flac", "03 Sippin' at Bells.flac", "04 Deep Night.flac"},
                   0, 71234567) +
             Album("C:\\Users\\jonas\\Music\\John Coltrane - Blue Train (1957)\\Artwork", {"front.jpg", "back.jpg"}, 0,
                   412345) +
             Album("C:\\Users\\jonas\\Music", {"listening party.m3u"}, 0, 2345),
         Album("C:\\Users\\jonas\\Music\\Coltrane - Blue Train", {"01 Blue Train.flac"}, 0, 61234567)},
        {"ilse", 0, 96000, 4,
         Album("\\home\\ilse\\music\\jazz\\Coltrane\\Blue Train", {"blue train.flac", "lazy bird.flac"}, 0, 61234567),
         1388, 97, "Field recordings and lossless jazz. Slow line, be patient."},
        {"rafael", 0, 1830000, 12,
         Album("D:\\Shared\\Mixes", {"late night blue train mix.mp3"}, 192, 88012345) +
             Album("D:\\Shared\\Live\\Blue Train live 1961", {"blue train (live).mp3", "my favorite things.mp3"}, 256,
                   21345678),
         9816, 455, QString(), false, Files(), Files(), true},
        {"harlan", 0, 264000, 31, Tapes(), 53312, 5333, QString(), false, Files(), Files(), false, false, 2800},
        {"greta", 1, 920000, 0,
         Album("D:\\Radio Archive\\1987\\1987-03-14 Wigmore Hall recital",
               {"01 Schubert - Impromptu in G flat.flac", "02 Schubert - Sonata in A.flac",
                "03 Schumann - Fantasia in C.flac", "04 Chopin - Nocturne in E flat.flac"},
               0, 48123457),
         600004, 50037, "Concerts from the radio, 1962 to 2004, one night a folder.", false, Files(), Files(), false,
         false, 0, RadioArchive},
        {"tomasz", 0, 2410000, 2,
         Album("E:\\Everything\\Jazz\\Art Pepper\\Art Pepper - Complete Discography",
               {"Art Pepper Meets the Rhythm Section.mp3", "Smack Up.mp3", "Gettin' Together.mp3"}, 320, 92345678),
         1000003, 84532, QString(), false, Files(), Files(), false, false, 0, Collection},
        {"wen", 0, 5120000, 0, Album("F:\\Maps", {"North Sea coast flyover.mp4"}, 0, 48123457), 2600001, 10160,
         "Map tiles for offline use, zoom 15 of the North Sea coast.", false, Files(), Files(), false, false, 0,
         TileCache},
    };
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 3 && argc != 4) {
        err << "usage: quorvane-screenshot-peers SERVER-PORT USER [WANTED]\n";
        return 2;
    }
    const quint16 serverPort = quint16(QString(argv[1]).toUShort());
    const QString client = QString::fromLocal8Bit(argv[2]);
    // As the client's share list names it.
    const QString wanted = argc == 4 ? QString::fromLocal8Bit(argv[3]).replace('/', '\\') : QString();

    // A file the client asked for: offered on the message link it came
    // by, sent over a file link once the client accepts.
    struct Upload
    {
        FakePeerLink* link;
        quint32 token;
        QString path;
        quint64 size;
        FakePeerLink* file = nullptr;
        bool sent = false;
        bool slow = false;
        bool started = false;
        quint64 offset = 0;
    };
    struct Peer
    {
        Share share;
        FakePeer* fake;
        FakePeerLink* link = nullptr;
        int answered = 0;
        QHash<FakePeerLink*, int> read = {};
        QList<Upload> uploads = {};
        // File links of the client's uploads that were told where to start.
        QSet<FakePeerLink*> receiving = {};
        bool asked = false;
        // A large share list, made on a thread of its own from the start,
        // the links waiting for it and those it went on.
        std::shared_future<QByteArray> largeList = {};
        QList<FakePeerLink*> largeListAsked = {};
        QSet<FakePeerLink*> listedOn = {};
    };
    QTextStream out(stdout);
    quint32 nextToken = 7000;
    // Queue requests (43) for files of the share are offered (40) at once;
    // an accepted offer (41) gets its file link, and once the client has
    // said where to start, the rest of the file goes, a slow file a piece
    // at each turn. The client's own offers (40) are accepted (41), and its
    // file links told to start at the beginning.
    auto Serve = [&](auto& peer) {
        // A copy: opening a file link below adds to the peer's links.
        const QList<FakePeerLink*> links = peer.fake->links;
        for (FakePeerLink* link : links) {
            if (link->GetMode() != FakePeerLink::Mode::Messages)
                continue;
            for (int& i = peer.read[link]; i < link->messages.size(); ++i) {
                FakeWire in(link->messages.at(i).second);
                const quint32 code = link->messages.at(i).first;
                QString path;
                quint32 token = 0;
                quint8 allowed = 0;
                if (code == 15) {
                    link->SendMessage(16, UserInfo(peer.share));
                    out << "informed " << peer.share.name << Qt::endl;
                } else if (code == 4 && peer.share.largeList) {
                    peer.largeListAsked << link;
                } else if (code == 4) {
                    link->SendMessage(5, ShareList(peer.share.files + peer.share.library));
                    out << "listed " << peer.share.name << Qt::endl;
                } else if (code == 43 && in.ReadStr(path) &&
                           (peer.share.files.sizes.contains(path) || peer.share.slow.sizes.contains(path))) {
                    const bool slow = peer.share.slow.sizes.contains(path);
                    const quint64 size = (slow ? peer.share.slow : peer.share.files).sizes.value(path);
                    peer.uploads.append({link, ++nextToken, path, size});
                    peer.uploads.last().slow = slow;
                    link->SendMessage(40, FakeWire().U32(1).U32(nextToken).Str(path).U64(size).Bytes());
                } else if (code == 40) {
                    quint32 direction = 0;
                    quint64 size = 0;
                    if (in.ReadU32(direction) && in.ReadU32(token) && in.ReadStr(path) && in.ReadU64(size) &&
                        direction == 1) {
                        link->SendMessage(41, FakeWire().U32(token).U8(1).Bytes());
                        out << "receiving " << path << Qt::endl;
                    }
                } else if (code == 41 && in.ReadU32(token) && in.ReadU8(allowed) && allowed == 1) {
                    for (auto& upload : peer.uploads) {
                        if (upload.token != token || upload.file)
                            continue;
                        if (!peer.fake->listeningPorts.contains(client)) {
                            peer.fake->AskAddress(client);
                            peer.fake->WaitForAddress(client);
                        }
                        upload.file = peer.fake->Greet(peer.fake->listeningPorts.value(client), false, "F", token);
                        if (upload.file)
                            upload.file->SendRaw(FakeWire().U32(token).Bytes());
                    }
                }
            }
        }
        // A large list goes once made, to every link that asked for it.
        if (!peer.largeListAsked.isEmpty() &&
            peer.largeList.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            for (FakePeerLink* link : peer.largeListAsked) {
                link->SendRaw(peer.largeList.get());
                peer.listedOn << link;
                out << "listed " << peer.share.name << Qt::endl;
            }
            peer.largeListAsked.clear();
        }
        for (FakePeerLink* link : QSet<FakePeerLink*>(peer.listedOn)) {
            if (link->IsClosed()) {
                peer.listedOn.remove(link);
                out << "refused " << peer.share.name << Qt::endl;
            }
        }
        for (FakePeerLink* link : peer.fake->links) {
            if (link->IsAccepted() && link->opening.type == "F" && link->raw.size() >= 4 &&
                !peer.receiving.contains(link)) {
                peer.receiving.insert(link);
                link->SendRaw(FakeWire().U64(0).Bytes());
            }
        }
        for (auto& upload : peer.uploads) {
            if (!upload.file || upload.sent)
                continue;
            if (!upload.started) {
                quint64 offset = 0;
                if (upload.file->raw.size() < 8 || !FakeWire(upload.file->raw.left(8)).ReadU64(offset) ||
                    offset > upload.size)
                    continue;
                upload.started = true;
                upload.offset = offset;
            }
            // A slow file goes a piece at each turn, a tenth of a second
            // apart; the others go whole.
            const quint64 rest = upload.size - upload.offset;
            const quint64 now = upload.slow ? qMin<quint64>(rest, 48 * 1024) : rest;
            upload.file->SendRaw(QByteArray(int(now), '\x5a'));
            upload.offset += now;
            if (upload.offset == upload.size) {
                upload.sent = true;
                out << "served " << upload.path << Qt::endl;
            }
        }
    };

    QList<Peer> peers;
    for (const Share& share : Shares()) {
        auto* fake = new FakePeer(share.name, &app);
        if (!fake->Listen(false) || !fake->LogIn(serverPort)) {
            err << "cannot log " << share.name << " in\n";
            return 1;
        }
        fake->SendToServer(35, FakeWire().U32(share.folderCount).U32(share.fileCount).Bytes());
        fake->SendToServer(121, FakeWire().U32(share.speed).Bytes());
        peers.append({share, fake});
        if (share.largeList)
            peers.last().largeList = std::async(std::launch::async, share.largeList, share.files).share();
    }

    out << "ready" << Qt::endl;

    // Searches of the client's shares, some of which its files answer;
    // they start once the client is about (its first search arrives).
    const QStringList searches = {"coltrane giant steps flac", "rain on a tin roof", "bill evans waltz for debby",
                                  "blue room encore",          "nina simone",        "harbour dawn",
                                  "art blakey moanin",         "slow blues in g",    "miles davis kind of blue",
                                  "ornette coleman 1959",      "field recordings",   "thelonious monk"};
    QList<FakePeer*> searchers;
    for (const Peer& peer : peers)
        if (peer.share.searches)
            searchers << peer.fake;
    int searched = 0;
    QTimer asking;
    QObject::connect(&asking, &QTimer::timeout, [&] {
        if (searched == searches.size()) {
            asking.stop();
            return;
        }
        FakePeer* from = searchers[searched % searchers.size()];
        from->SendToServer(42, FakeWire().Str(client).U32(quint32(1000 + searched)).Str(searches[searched]).Bytes());
        ++searched;
    });

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (Peer& peer : peers) {
            for (; peer.answered < peer.fake->searchRequests.size(); ++peer.answered) {
                const FakePeer::SearchRequest request = peer.fake->searchRequests.at(peer.answered);
                if (request.user != client)
                    continue;
                if (!searched && !asking.isActive())
                    asking.start(400);
                if (!peer.link) {
                    peer.fake->AskAddress(client);
                    if (!peer.fake->WaitForAddress(client))
                        continue;
                    peer.link = peer.fake->Greet(peer.fake->listeningPorts.value(client), false, "P", 1);
                    if (!peer.link)
                        continue;
                }
                const QList<QByteArray> found = Matching(peer.share.files, request.text);
                const int perReply = peer.share.perReply > 0 ? peer.share.perReply : qMax(1, found.size());
                for (int first = 0; first < found.size(); first += perReply)
                    peer.link->SendMessage(9, CompressedSearchReply(peer.share.name, request.ticket,
                                                                    found.mid(first, perReply), peer.share.freeSlot,
                                                                    peer.share.speed, peer.share.queued));
                if (!found.isEmpty())
                    out << "answered " << peer.share.name << " " << found.size() << Qt::endl;
                if (peer.share.wants && !peer.asked && !wanted.isEmpty()) {
                    peer.asked = true;
                    peer.link->SendMessage(43, FakeWire().Str(wanted).Bytes());
                }
            }
            Serve(peer);
        }
    });
    poll.start(100);

    return app.exec();
}
