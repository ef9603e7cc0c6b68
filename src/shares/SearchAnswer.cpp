#include "SearchAnswer.h"

#include <algorithm>
#include <memory>
#include <zlib.h>

#include "PeerMessages.h"

bool SearchAnswer::Build(const Header& header, std::vector<Match> matches, MemStream& message)
{
    if (matches.empty())
        return false;
    // By remote path in byte order, the earlier file in the store first;
    // one record per path.
    std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        const int byPath = a.file.Name().compare(b.file.Name());
        return byPath != 0 ? byPath < 0 : a.order < b.order;
    });
    matches.erase(std::unique(matches.begin(), matches.end(),
                              [](const Match& a, const Match& b) { return a.file.Name() == b.file.Name(); }),
                  matches.end());

    MemStream body;
    body.Write(header.user);
    body.Write(quint32(header.token));
    body.Write(quint32(matches.size()));
    for (const Match& match : matches)
        match.file.Write(body);
    body.Write(quint8(header.freeSlot));
    body.Write(quint32(header.uploadSpeed));
    body.Write(quint32(header.queued));
    body.Write(quint32(0));
    message = Compress(PeerMessages::FileSearchResult, body.GetBytes());
    return true;
}

MemStream SearchAnswer::Compress(quint32 code, const QByteArray& body)
{
    struct StreamEnd
    {
        void operator()(z_stream* z) const
        {
            if (z)
                deflateEnd(z);
            delete z;
        }
    };
    thread_local const std::unique_ptr<z_stream, StreamEnd> stream([] {
        auto* z = new z_stream{};
        if (deflateInit(z, 9) == Z_OK)
            return z;
        delete z;
        return static_cast<z_stream*>(nullptr);
    }());
    if (!stream || deflateReset(stream.get()) != Z_OK)
        return PeerMessages::Compressed(code, body);
    QByteArray packed(int(deflateBound(stream.get(), uLong(body.size()))), Qt::Uninitialized);
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
    stream->avail_in = uInt(body.size());
    stream->next_out = reinterpret_cast<Bytef*>(packed.data());
    stream->avail_out = uInt(packed.size());
    if (deflate(stream.get(), Z_FINISH) != Z_STREAM_END)
        return PeerMessages::Compressed(code, body);
    packed.resize(int(stream->total_out));
    MemStream message;
    message.Write(code);
    message.Append(packed);
    return message;
}
