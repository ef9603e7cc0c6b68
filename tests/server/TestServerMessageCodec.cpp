// The server message codec on its own: every writer against the documented
// layout, every reader against a whole body, the same body with bytes after
// it and every truncation of it, and the framing of a byte stream.
#include <QTest>
#include <functional>

#include "ServerMessages.h"
#include "TestMessage.h"

namespace {
using M = ServerMessages;
// Reads a body and renders what it read as text; false when refused.
using Reader = std::function<bool(const QByteArray&, QString&)>;

QString Text(const QString& text)
{
    return text;
}
QString Text(quint32 value)
{
    return QString::number(value);
}
QString Text(const UserStats& stats)
{
    return QString("%1/%2/%3/%4")
        .arg(stats.m_averageSpeed)
        .arg(stats.m_downloadCount)
        .arg(stats.m_fileCount)
        .arg(stats.m_folderCount);
}
QString Text(const QStringList& names)
{
    return "[" + names.join(",") + "]";
}
QString Text(const M::RoomUser& user)
{
    return user.name + " " + Text(user.stats) + " " + user.country;
}
template <typename First, typename Second>
QString Text(const std::pair<First, Second>& pair)
{
    return Text(pair.first) + ":" + Text(pair.second);
}
template <typename T>
QString Text(const std::vector<T>& list)
{
    QStringList parts;
    for (const T& entry : list)
        parts.append(Text(entry));
    return Text(parts);
}
template <typename... T>
QString Join(const T&... values)
{
    return QStringList{Text(values)...}.join("|");
}

template <typename Body, typename Show>
Reader Reading(bool (*read)(const QByteArray&, Body&), Show show)
{
    return [read, show](const QByteArray& bytes, QString& shown) {
        Body body{};
        if (!read(bytes, body))
            return false;
        shown = show(body);
        return true;
    };
}

QByteArray Message(quint32 code, const TestMessage& body)
{
    return TestMessage().U32(code).Bytes(body.Body()).Body();
}
} // namespace

Q_DECLARE_METATYPE(Reader)

class TestServerMessageCodec : public QObject
{
    Q_OBJECT

private slots:
    void writersFollowTheDocumentedLayout_data();
    void writersFollowTheDocumentedLayout();
    void readersTakeWholeBodiesAndRefuseTruncatedOnes_data();
    void readersTakeWholeBodiesAndRefuseTruncatedOnes();
    void readersRefuseImpossibleValuesAndKeepTheirOutput();
    void framesAreTakenWholeFromAStream();
    void aReaderHoldsNoMoreThanTheLimitSaveTheWholeFrameAtItsHead();
};

void TestServerMessageCodec::writersFollowTheDocumentedLayout_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("expected");
    const TestMessage none;
    M::DistributedStateBody state;
    state.hasParent = true;
    state.branchRoot = "root";
    state.level = 2;
    state.childCount = 3;
    state.childLimit = 5;
    state.depth = 1;

    QTest::newRow("1") << M::WriteLogin("alice", "secret", 20130410)
                       << Message(1, TestMessage().Str("alice").Str("c4e31313222cf05fcdd1fc068af5570e").U32(20130410));
    QTest::newRow("2") << M::WriteSetListenPorts(2234, 0) << Message(2, TestMessage().U32(2234).U32(0));
    QTest::newRow("3") << M::WriteGetPeerAddress("bob") << Message(3, TestMessage().Str("bob"));
    QTest::newRow("5") << M::WriteAddUser("bob") << Message(5, TestMessage().Str("bob"));
    QTest::newRow("13") << M::WriteSayInRoom("lobby", "hi") << Message(13, TestMessage().Str("lobby").Str("hi"));
    QTest::newRow("14") << M::WriteJoinRoom("club", true) << Message(14, TestMessage().Str("club").U32(1));
    QTest::newRow("15") << M::WriteLeaveRoom("lobby") << Message(15, TestMessage().Str("lobby"));
    QTest::newRow("18") << M::WriteConnectToPeer(7, "bob", "F")
                        << Message(18, TestMessage().U32(7).Str("bob").Str("F"));
    QTest::newRow("22") << M::WritePrivateChat("bob", "hé") << Message(22, TestMessage().Str("bob").Str("hé"));
    QTest::newRow("26") << M::WriteFileSearch(9, "mp3") << Message(26, TestMessage().U32(9).Str("mp3"));
    QTest::newRow("28") << M::WriteSetStatus(M::StatusAway) << Message(28, TestMessage().U32(1));
    QTest::newRow("32") << M::WriteKeepAlive() << Message(32, none);
    QTest::newRow("35") << M::WriteSharedFoldersFiles(4, 120) << Message(35, TestMessage().U32(4).U32(120));
    QTest::newRow("36") << M::WriteGetUserStats("bob") << Message(36, TestMessage().Str("bob"));
    QTest::newRow("42") << M::WriteUserSearch("bob", 9, "x") << Message(42, TestMessage().Str("bob").U32(9).Str("x"));
    QTest::newRow("64") << M::WriteRoomList() << Message(64, none);
    QTest::newRow("92") << M::WriteOwnPrivileges() << Message(92, none);
    QTest::newRow("103") << M::WriteWishListSearch(9, "x") << Message(103, TestMessage().U32(9).Str("x"));
    QTest::newRow("116") << M::WriteSetRoomWallMessage("lobby", "") << Message(116, TestMessage().Str("lobby").Str(""));
    QTest::newRow("120") << M::WriteRoomSearch("lobby", 9, "x")
                         << Message(120, TestMessage().Str("lobby").U32(9).Str("x"));
    QTest::newRow("121") << M::WriteUploadSpeed(51200) << Message(121, TestMessage().U32(51200));
    QTest::newRow("123") << M::WriteGivePrivileges("bob", 30) << Message(123, TestMessage().Str("bob").U32(30));
    QTest::newRow("134") << M::WritePrivateRoomAddMember("club", "bob")
                         << Message(134, TestMessage().Str("club").Str("bob"));
    QTest::newRow("135") << M::WritePrivateRoomRemoveMember("club", "bob")
                         << Message(135, TestMessage().Str("club").Str("bob"));
    QTest::newRow("136") << M::WritePrivateRoomDismember("club") << Message(136, TestMessage().Str("club"));
    QTest::newRow("137") << M::WritePrivateRoomDisown("club") << Message(137, TestMessage().Str("club"));
    QTest::newRow("141") << M::WritePrivateRoomToggle(true) << Message(141, TestMessage().U8(1));
    QTest::newRow("143") << M::WritePrivateRoomAddOperator("club", "bob")
                         << Message(143, TestMessage().Str("club").Str("bob"));
    QTest::newRow("144") << M::WritePrivateRoomRemoveOperator("club", "bob")
                         << Message(144, TestMessage().Str("club").Str("bob"));
    QTest::newRow("149") << M::WriteMessageUsers({"bob", "carol"}, "hi")
                         << Message(149, TestMessage().U32(2).Str("bob").Str("carol").Str("hi"));
    QTest::newRow("153") << M::WriteRelatedSearch("jazz") << Message(153, TestMessage().Str("jazz"));
    QTest::newRow("1001") << M::WriteCantConnect(7, "bob") << Message(1001, TestMessage().U32(7).Str("bob"));
    QTest::newRow("1100") << M::WriteParentCandidates() << Message(1100, none);
    QTest::newRow("1101") << M::WriteDistributedState(state)
                          << Message(1101, TestMessage().U8(1).Str("root").U32(2).U32(3).U32(5).U32(1));
}

void TestServerMessageCodec::writersFollowTheDocumentedLayout()
{
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, expected);
    QCOMPARE(written.toHex(' '), expected.toHex(' '));
}

void TestServerMessageCodec::readersTakeWholeBodiesAndRefuseTruncatedOnes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Reader>("reader");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const TestMessage& body, Reader reader, const char* expected) {
        QTest::newRow(name) << body.Body() << reader << QString::fromUtf8(expected);
    };
    auto text = [](const QString& value) { return value; };
    auto names = [](const QStringList& value) { return Text(value); };
    auto roomAndUser = [](const M::RoomAndUserBody& m) { return Join(m.room, m.user); };
    auto roomText = [](const M::RoomTextBody& m) { return Join(m.room, m.user, m.text); };
    auto search = [](const M::SearchRequestBody& m) { return Join(m.user, m.token, m.text); };

    row("1 accepted", TestMessage().U8(1).Str("welcome").U8(1),
        Reading(M::ReadLoginReply,
                [](const M::LoginReplyBody& m) { return Join(quint32(m.accepted), m.greeting, quint32(m.supporter)); }),
        "1|welcome|1");
    row("1 refused", TestMessage().U8(0).Str("INVALIDPASS"),
        Reading(M::ReadLoginReply, [](const M::LoginReplyBody& m) { return Join(quint32(m.accepted), m.reason); }),
        "0|INVALIDPASS");
    row("3", TestMessage().Str("bob").Str("10.0.0.2").U32(2234).U32(0),
        Reading(M::ReadPeerAddress,
                [](const M::PeerAddressBody& m) { return Join(m.user, m.address, m.port, m.obfuscatedPort); }),
        "bob|10.0.0.2|2234|0");
    auto addUser = [](const M::AddUserReplyBody& m) {
        return Join(m.user, quint32(m.exists), m.status, m.stats, m.country);
    };
    row("5 exists", TestMessage().Str("bob").U8(1).U32(2).Stats(2048, 9, 120, 4).Str("NZ"),
        Reading(M::ReadAddUserReply, addUser), "bob|1|2|2048/9/120/4|NZ");
    row("5 unknown", TestMessage().Str("nobody").U8(0), Reading(M::ReadAddUserReply, addUser), "nobody|0|0|0/0/0/0|");
    row("7", TestMessage().Str("bob").U32(1),
        Reading(M::ReadUserStatus, [](const M::UserStatusBody& m) { return Join(m.user, m.status); }), "bob|1");
    row("13", TestMessage().Str("lobby").Str("bob").Str("hi"), Reading(M::ReadRoomChat, roomText), "lobby|bob|hi");
    row("14",
        TestMessage().Str("lobby").U32(2).Str("bob").Stats(1, 2, 3, 4).Str("DE").Str("eve").Stats(0, 0, 0, 0).Str(""),
        Reading(M::ReadJoinedRoom, [](const M::JoinedRoomBody& m) { return Join(m.room, m.users); }),
        "lobby|[bob 1/2/3/4 DE,eve 0/0/0/0 ]");
    row("15", TestMessage().Str("lobby"), Reading(M::ReadLeftRoom, text), "lobby");
    row("16", TestMessage().Str("lobby").Str("bob").Stats(1, 2, 3, 4).Str("DE"),
        Reading(M::ReadUserJoinedRoom, [](const M::UserJoinedRoomBody& m) { return Join(m.room, m.user); }),
        "lobby|bob 1/2/3/4 DE");
    row("17", TestMessage().Str("lobby").Str("bob"), Reading(M::ReadUserLeftRoom, roomAndUser), "lobby|bob");
    row("18", TestMessage().Str("bob").Str("P").Str("10.0.0.2").U32(2234).U32(2235).U32(77),
        Reading(M::ReadPeerConnectionRequest,
                [](const M::PeerConnectionRequestBody& m) {
                    return Join(m.user, m.type, m.address, m.port, m.obfuscatedPort, m.token);
                }),
        "bob|P|10.0.0.2|2234|2235|77");
    row("22", TestMessage().U32(1700000000).Str("bob").Str("hi").U8(1),
        Reading(M::ReadPrivateChat,
                [](const M::PrivateChatBody& m) { return Join(m.time, m.user, m.text, quint32(m.spontaneous)); }),
        "1700000000|bob|hi|1");
    row("26", TestMessage().Str("bob").U32(9).Str("mp3"), Reading(M::ReadSearchRequest, search), "bob|9|mp3");
    row("36", TestMessage().Str("bob").Stats(3000, 2, 30, 2),
        Reading(M::ReadUserStats, [](const M::UserStatsBody& m) { return Join(m.user, m.stats); }), "bob|3000/2/30/2");
    auto room = [](const M::RoomListEntry& e) { return Join(e.name, e.users, quint32(e.roles)); };
    row("64", TestMessage().U32(1).Str("lobby").U32(12).U32(1).Str("club").U32(3).U8(5),
        Reading(M::ReadRoomList,
                [room](const M::RoomListBody& m) {
                    return room(m.publicRooms.at(0)) + " " + room(m.privateRooms.at(0)) + " " +
                           Join(quint32(m.publicRooms.size()), quint32(m.privateRooms.size()));
                }),
        "lobby|12|0 club|3|5 1|1");
    row("66", TestMessage().Str("maintenance"), Reading(M::ReadAdminMessage, text), "maintenance");
    row("69", TestMessage().U32(2).Str("bob").Str("carol"), Reading(M::ReadPrivilegedUsers, names), "[bob,carol]");
    row("92", TestMessage().I32(-5),
        Reading(M::ReadOwnPrivileges, [](const qint32& seconds) { return QString::number(seconds); }), "-5");
    row("104", TestMessage().U32(720),
        Reading(M::ReadWishListInterval, [](const quint32& seconds) { return Text(seconds); }), "720");
    row("113", TestMessage().Str("lobby").U32(2).Str("bob").Str("first").Str("eve").Str("second"),
        Reading(M::ReadRoomWall, [](const M::RoomWallBody& m) { return Join(m.room, m.messages); }),
        "lobby|[bob:first,eve:second]");
    row("114", TestMessage().Str("lobby").Str("bob").Str(""), Reading(M::ReadRoomWallMessage, roomText), "lobby|bob|");
    row("133", TestMessage().Str("club").Str("carol").U32(2).Str("bob").Str("eve").U32(1).Str("bob"),
        Reading(M::ReadPrivateRoomState,
                [](const M::PrivateRoomStateBody& m) { return Join(m.room, m.owner, m.members, m.operators); }),
        "club|carol|[bob,eve]|[bob]");
    row("134", TestMessage().Str("club").Str("bob"), Reading(M::ReadPrivateRoomChange, roomAndUser), "club|bob");
    row("139", TestMessage().Str("club"), Reading(M::ReadPrivateRoomDissolved, text), "club");
    row("141", TestMessage().U8(2),
        Reading(M::ReadPrivateRoomToggle, [](const bool& enabled) { return Text(quint32(enabled)); }), "1");
    row("153", TestMessage().Str("jazz").U32(2).Str("swing").U32(7).Str("blues").U32(3),
        Reading(M::ReadCorrelations, [](const M::CorrelationsBody& m) { return Join(m.text, m.related); }),
        "jazz|[swing:7,blues:3]");
    row("1001", TestMessage().U32(7).Str("bob"),
        Reading(M::ReadCantConnect, [](const M::CantConnectBody& m) { return Join(m.token, m.user); }), "7|bob");
    row("1100", TestMessage().U32(1).Str("bob"), Reading(M::ReadParentCandidates, names), "[bob]");
    row("1102", TestMessage().Str("bob").U32(9).Str("mp3"), Reading(M::ReadDistributedSearch, search), "bob|9|mp3");
}

void TestServerMessageCodec::readersTakeWholeBodiesAndRefuseTruncatedOnes()
{
    QFETCH(QByteArray, body);
    QFETCH(Reader, reader);
    QFETCH(QString, expected);

    QString shown;
    QVERIFY(reader(body, shown));
    QCOMPARE(shown, expected);
    // A later server may append fields.
    shown.clear();
    QVERIFY(reader(body + QByteArray("\x01\x02\x03", 3), shown));
    QCOMPARE(shown, expected);
    for (int length = 0; length < body.size(); ++length)
        QVERIFY2(!reader(body.left(length), shown), qPrintable(QString("read from %1 bytes").arg(length)));
}

void TestServerMessageCodec::readersRefuseImpossibleValuesAndKeepTheirOutput()
{
    // Ports beyond 65535.
    M::PeerAddressBody address;
    address.user = "kept";
    QVERIFY(!M::ReadPeerAddress(TestMessage().Str("bob").Str("10.0.0.2").U32(65536).U32(0).Body(), address));
    QCOMPARE(address.user, QString("kept"));
    M::PeerConnectionRequestBody request;
    QVERIFY(!M::ReadPeerConnectionRequest(
        TestMessage().Str("bob").Str("P").Str("10.0.0.2").U32(2234).U32(70000).U32(1).Body(), request));

    // Counts the body cannot hold, each followed by one entry.
    QStringList names{"kept"};
    QVERIFY(!M::ReadPrivilegedUsers(TestMessage().U32(0xffffffff).Str("bob").Body(), names));
    QCOMPARE(names, QStringList{"kept"});
    M::JoinedRoomBody joined;
    QVERIFY(
        !M::ReadJoinedRoom(TestMessage().Str("lobby").U32(1000000).Str("x").Stats(1, 1, 1, 1).Str("").Body(), joined));
    M::RoomWallBody wall;
    QVERIFY(!M::ReadRoomWall(TestMessage().Str("lobby").U32(5).Str("bob").Str("hi").Body(), wall));
    M::RoomListBody list;
    QVERIFY(!M::ReadRoomList(TestMessage().U32(0).U32(2).Str("club").U32(3).U8(1).Body(), list));
    QVERIFY(list.privateRooms.empty());
}

void TestServerMessageCodec::framesAreTakenWholeFromAStream()
{
    const QByteArray first = M::Framed(M::WriteCantConnect(7, "bob"));
    QCOMPARE(first, TestMessage::Frame(1001, TestMessage().U32(7).Str("bob").Body()));
    const QByteArray empty = TestMessage::Frame(41, QByteArray());
    const QByteArray stream = first + empty + first;

    // Every cut inside a frame waits for more; whole frames come out in order.
    for (int cut = 0; cut < stream.size(); ++cut) {
        const QByteArray received = stream.left(cut);
        int position = 0;
        M::Frame frame;
        QList<quint32> codes;
        M::FrameStatus status;
        while ((status = M::TakeFrame(received, position, frame)) == M::FrameStatus::Complete)
            codes.append(frame.code);
        QCOMPARE(status, M::FrameStatus::Incomplete);
        const QList<quint32> whole = {1001, 41, 1001};
        QCOMPARE(codes, whole.mid(0, codes.size()));
        QVERIFY(position <= cut);
    }
    int position = first.size();
    M::Frame frame;
    QCOMPARE(M::TakeFrame(stream, position, frame), M::FrameStatus::Complete);
    QCOMPARE(frame.code, quint32(41));
    QVERIFY(frame.body.isEmpty());
    QCOMPARE(M::TakeFrame(stream, position, frame), M::FrameStatus::Complete);
    M::CantConnectBody cantConnect;
    QVERIFY(M::ReadCantConnect(frame.body, cantConnect));
    QCOMPARE(cantConnect.user, QString("bob"));
    QCOMPARE(position, stream.size());

    // Lengths that cannot be trusted, whatever follows them.
    for (quint32 length : {0u, 3u, M::MaxFrameLength + 1, 0xffffffffu}) {
        int at = 0;
        QCOMPARE(M::TakeFrame(TestMessage().U32(length).U32(1).Body(), at, frame), M::FrameStatus::Invalid);
        QCOMPARE(frame.length, length);
        QCOMPARE(at, 0);
    }
}

void TestServerMessageCodec::aReaderHoldsNoMoreThanTheLimitSaveTheWholeFrameAtItsHead()
{
    const qint64 limit = 1000;
    const QByteArray small = TestMessage::Frame(66, TestMessage().Str("hi").Body());
    QCOMPARE(M::ReadAllowance(small.left(2), limit), limit - 2);
    QCOMPARE(M::ReadAllowance(small.repeated(200), limit), 0);

    const QByteArray large = TestMessage::Frame(66, TestMessage().Str(QString(3 * limit, 'y')).Body());
    QCOMPARE(M::ReadAllowance(large.left(100), limit), large.size() - 100);
    QCOMPARE(M::ReadAllowance(large + small, limit), 0);
    // An untrusted length never lets the reader hold more.
    QCOMPARE(M::ReadAllowance(TestMessage().U32(M::MaxFrameLength + 1).U32(1).Body(), limit), limit - 8);
}

QTEST_GUILESS_MAIN(TestServerMessageCodec)
#include "TestServerMessageCodec.moc"
