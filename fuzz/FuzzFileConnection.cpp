// A file connection after its token, as the other client writes it, with
// the real transfer threads on a loopback pair. First byte even: we
// download; two little-endian u16 then pick the file's size and the size
// of the partial file already here, and the rest is what the uploader
// sends before it closes. Odd: we upload a fixed file; the rest is what
// the downloader sends (its u64 start offset first) before it closes.
// A download keeps the partial file a prefix of what was sent, grown by
// whole pieces or to its end; an upload sends exactly the file from the
// offset asked for.
#include "DownloadThread.h"
#include "FuzzSupport.h"
#include "LoopbackTransfer.h"
#include "UploadThread.h"

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

const int SourceSize = 5000;

QTemporaryDir& Folder()
{
    static QTemporaryDir* folder = new QTemporaryDir;
    return *folder;
}

QByteArray Source()
{
    QByteArray bytes(SourceSize, '\0');
    for (int i = 0; i < SourceSize; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

void Download(const QByteArray& input)
{
    if (input.size() < 4)
        return;
    const auto* b = reinterpret_cast<const uchar*>(input.constData());
    const qint64 fileSize = qFromLittleEndian<quint16>(b) % 40000;
    const qint64 offset = qFromLittleEndian<quint16>(b + 2) % (fileSize + 2);
    const QByteArray sent = input.mid(4);
    const QString path = Folder().filePath("partial");
    {
        QFile partial(path);
        fuzz::Require(partial.open(QIODevice::WriteOnly | QIODevice::Truncate));
        partial.write(QByteArray(int(offset), 'p'));
    }
    QFile target(path);
    fuzz::Require(target.open(QIODevice::WriteOnly | QIODevice::Append));

    LoopbackTransfer transfer;
    fuzz::Require(transfer.Connect());
    transfer.StartDownload(&target, fileSize, offset);
    transfer.uploaderSocket->write(sent);
    transfer.uploaderSocket->disconnectFromHost();
    fuzz::RunUntil([&] { return transfer.DownloadDone(); }, 60000);
    fuzz::Require(transfer.DownloadDone() && transfer.download->wait(5000));

    QFile result(path);
    fuzz::Require(result.open(QIODevice::ReadOnly));
    const QByteArray kept = result.readAll();
    fuzz::Require(kept.left(int(offset)) == QByteArray(int(offset), 'p'));
    const qint64 grown = kept.size() - offset;
    fuzz::Require(grown >= 0 && kept.mid(int(offset)) == sent.left(int(grown)));
    if (transfer.downloadComplete) {
        fuzz::Require(kept.size() == fileSize);
        fuzz::Require(sent.size() >= fileSize - offset);
    } else {
        fuzz::Require(grown % DownloadThread::ChunkSize == 0 || kept.size() == fileSize);
        fuzz::Require(kept.size() <= fileSize || grown == 0);
    }
}

void Upload(const QByteArray& input)
{
    static const QByteArray source = Source();
    const QString path = Folder().filePath("shared");
    if (!QFile::exists(path)) {
        QFile shared(path);
        fuzz::Require(shared.open(QIODevice::WriteOnly));
        shared.write(source);
    }
    QFile file(path);
    fuzz::Require(file.open(QIODevice::ReadOnly));

    LoopbackTransfer transfer;
    fuzz::Require(transfer.Connect());
    transfer.StartUpload(&file, 0x01020304);
    quint32 token = 0;
    fuzz::Require(transfer.ReadToken(token) && token == 0x01020304u);
    QTcpSocket* downloader = transfer.downloaderSocket;
    downloader->write(input);
    qint64 offset = -1;
    if (input.size() >= 8)
        offset = qFromLittleEndian<qint64>(reinterpret_cast<const uchar*>(input.constData()));
    const bool streams = offset >= 0 && offset < SourceSize;
    QByteArray received;
    if (streams)
        fuzz::RunUntil(
            [&] {
                received += downloader->readAll();
                return received.size() >= SourceSize - offset || transfer.UploadDone();
            },
            30000);
    downloader->disconnectFromHost();
    fuzz::RunUntil([&] { return transfer.UploadDone(); }, 60000);
    fuzz::Require(transfer.UploadDone() && transfer.upload->wait(5000));
    received += downloader->readAll();
    if (streams) {
        fuzz::Require(transfer.uploadComplete);
        fuzz::Require(received == source.mid(int(offset)));
    } else {
        fuzz::Require(received.isEmpty());
        fuzz::Require(transfer.uploadComplete == (input.size() >= 8));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    if (size < 1)
        return 0;
    const QByteArray input = fuzz::Bytes(data + 1, size - 1);
    if (data[0] & 1)
        Upload(input);
    else
        Download(input);
    return 0;
}
