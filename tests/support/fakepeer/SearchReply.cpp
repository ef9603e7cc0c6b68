#include "SearchReply.h"

#include "FakeWire.h"

QByteArray SearchReply(const QString& user, quint32 token, const QList<QByteArray>& files, quint8 freeSlot,
                       quint32 speed, quint32 queued)
{
    FakeWire body;
    body.Str(user).U32(token).U32(quint32(files.size()));
    for (const QByteArray& file : files)
        body.Raw(file);
    return body.U8(freeSlot).U32(speed).U32(queued).U32(0).Bytes();
}

QByteArray SearchReplyFile(const QByteArray& path, quint64 size, const QList<QPair<quint32, quint32>>& attributes)
{
    return FakeWire().File(path, size, attributes.isEmpty() ? QByteArray() : "mp3", attributes).Bytes();
}

QByteArray CompressedSearchReply(const QString& user, quint32 token, const QList<QByteArray>& files, quint8 freeSlot,
                                 quint32 speed, quint32 queued)
{
    return FakeWire::Compress(SearchReply(user, token, files, freeSlot, speed, queued));
}
