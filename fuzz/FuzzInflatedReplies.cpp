// Search replies and folder contents as they arrive: compressed, inflated
// with the limit peer messaging applies to their code (a search reply's is
// far below the others', and exact: a stream that stops there inflates to
// more), then read. The first byte says
// which reader (bit 0) and whether the rest is the compressed stream as a
// peer sent it (bit 1) or the plain body, compressed here so that the
// fuzzer works on the structure behind the compression. What reads must
// write a message that reads back the same.
#include "FuzzSupport.h"
#include "MemStream.h"
#include "PeerMessages.h"

namespace {

bool Inflate(quint32 code, const QByteArray& compressed, QByteArray& plain)
{
    using Result = PeerMessages::InflateResult;
    const int limit = PeerMessages::InflateLimitFor(code);
    const Result result = PeerMessages::Inflate(compressed.constData(), compressed.size(), limit, plain);
    fuzz::Require(result != Result::Ok || plain.size() <= limit);
    if (result == Result::TooLarge) {
        QByteArray past;
        const Result beyond = PeerMessages::Inflate(compressed.constData(), compressed.size(), limit + 1, past);
        fuzz::Require(beyond != Result::Ok || past.size() == limit + 1);
    }
    return result == Result::Ok;
}

// A written message's body after its code, inflated.
QByteArray Written(quint32 code, const MemStream& message)
{
    QByteArray plain;
    fuzz::Require(Inflate(code, message.GetBytes().mid(4), plain));
    return plain;
}

void SearchReply(const QByteArray& plain)
{
    PeerMessages::SearchReplyBody reply;
    if (!PeerMessages::ReadSearchReply(plain, reply))
        return;
    PeerMessages::SearchReplyBody again;
    fuzz::Require(PeerMessages::ReadSearchReply(
        Written(PeerMessages::FileSearchResult, PeerMessages::WriteSearchReply(reply)), again));
    fuzz::Require(again.user == reply.user && again.token == reply.token && again.files.size() == reply.files.size() &&
                  again.speed == reply.speed && again.queued == reply.queued && again.attributes == reply.attributes);
}

// Records that compare equal by name and size, and with equal attributes.
bool SameFolders(const FileInfoMap& a, const FileInfoMap& b)
{
    if (a.size() != b.size())
        return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        if (i->first != j->first || i->second.size() != j->second.size())
            return false;
        for (auto x = i->second.begin(), y = j->second.begin(); x != i->second.end(); ++x, ++y)
            if (x->Name() != y->Name() || x->Size() != y->Size() || !(x->Attributes() == y->Attributes()))
                return false;
    }
    return true;
}

void FolderContents(const QByteArray& plain)
{
    PeerMessages::FolderContentsBody contents;
    if (!PeerMessages::ReadFolderContents(plain, contents))
        return;
    PeerMessages::FolderContentsBody again;
    fuzz::Require(PeerMessages::ReadFolderContents(
        Written(PeerMessages::FolderContents, PeerMessages::WriteFolderContents(contents)), again));
    fuzz::Require(again.token == contents.token && again.folder == contents.folder &&
                  SameFolders(again.folders, contents.folders));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool searchReply = (data[0] & 1) == 0;
    const bool asSent = data[0] & 2;
    const QByteArray rest = fuzz::Bytes(data + 1, size - 1);
    const quint32 code = searchReply ? PeerMessages::FileSearchResult : PeerMessages::FolderContents;
    QByteArray plain;
    if (asSent) {
        if (!Inflate(code, rest, plain))
            return 0;
    } else {
        plain = Written(code, PeerMessages::Compressed(code, rest));
        fuzz::Require(plain == rest);
    }
    if (searchReply)
        SearchReply(plain);
    else
        FolderContents(plain);
    return 0;
}
