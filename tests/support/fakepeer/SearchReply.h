#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// A search reply body (peer message 9) as a peer sends it before
// compression: the user, the ticket, the files, then the free slot, the
// upload speed, the queue length and a trailing u32.
QByteArray SearchReply(const QString& user, quint32 token, const QList<QByteArray>& files, quint8 freeSlot = 1,
                       quint32 speed = 5000, quint32 queued = 3);

// One file record of a reply: the remote path with "\" separators, the
// size, and attribute codes with values (an "mp3" extension when any).
QByteArray SearchReplyFile(const QByteArray& path, quint64 size, const QList<QPair<quint32, quint32>>& attributes = {});

// The reply as the message body that goes on the wire: compressed.
QByteArray CompressedSearchReply(const QString& user, quint32 token, const QList<QByteArray>& files,
                                 quint8 freeSlot = 1, quint32 speed = 5000, quint32 queued = 3);
