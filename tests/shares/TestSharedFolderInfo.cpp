#include <QtTest>

#include "MemStream.h"
#include "SharedFolderInfo.h"

// The per-folder record of the folder-contents reply.
class TestSharedFolderInfo : public QObject
{
    Q_OBJECT

    static MemStream Records(quint32 count, quint32 written, quint32 trailer)
    {
        MemStream stream;
        stream.Write(count);
        for (quint32 i = 0; i < written; ++i)
            FileInfo("f" + std::to_string(i % 1000), qint64(i / 1000)).Write(stream);
        stream.Write(trailer);
        return stream;
    }

private slots:
    void roundTripInSetOrder()
    {
        SharedFolderInfo info;
        AttributeMap mp3("mp3");
        mp3.Add(AttributeMap::Bitrate, 192);
        info.Files().insert(FileInfo("b.txt", 2));
        info.Files().insert(FileInfo("a.mp3", 5, mp3));
        info.Files().insert(FileInfo("B.txt", 1));
        info.Files().insert(FileInfo("a.mp3", 4));
        info.Files().insert(FileInfo("b.txt", 2)); // equal in name and size: once

        MemStream stream;
        info.Write(stream);
        MemStream expected;
        expected.Write(quint32(4));
        FileInfo("B.txt", 1).Write(expected);
        FileInfo("a.mp3", 4).Write(expected);
        FileInfo("a.mp3", 5, mp3).Write(expected);
        FileInfo("b.txt", 2).Write(expected);
        expected.Write(quint32(0));
        QCOMPARE(stream.GetBytes(), expected.GetBytes());

        SharedFolderInfo back;
        back.Files().insert(FileInfo("stale", 1));
        QVERIFY(back.Read(stream));
        QCOMPARE(back.Files().size(), size_t(4));
        QCOMPARE(back.Files().begin()->Name(), std::string("B.txt"));
        QCOMPARE(std::next(back.Files().begin(), 2)->Attributes(), mp3);
        QCOMPARE(stream.Remaining(), 0ul);
    }

    void countLimitAndDamage()
    {
        SharedFolderInfo info;
        MemStream full = Records(SharedFolderInfo::MaxCount, SharedFolderInfo::MaxCount, 77);
        QVERIFY(info.Read(full)); // the trailer's value is ignored
        QCOMPARE(info.Files().size(), size_t(SharedFolderInfo::MaxCount));

        MemStream over = Records(SharedFolderInfo::MaxCount + 1, 3, 0);
        QVERIFY(!info.Read(over));
        QVERIFY(info.Files().empty());

        // A short stream keeps what was read; a missing trailer fails too.
        MemStream shortStream = Records(5, 3, 0);
        QVERIFY(!info.Read(shortStream));
        QCOMPARE(info.Files().size(), size_t(3));
        MemStream noTrailer;
        noTrailer.Write(quint32(1));
        FileInfo("x", 1).Write(noTrailer);
        QVERIFY(!info.Read(noTrailer));
        QCOMPARE(info.Files().size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestSharedFolderInfo)
#include "TestSharedFolderInfo.moc"
