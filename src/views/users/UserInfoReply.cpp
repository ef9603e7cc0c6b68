#include "UserInfoReply.h"

#include <QFile>
#include <QFileInfo>

#include "PeerMessages.h"
#include "Settings.h"
#include "TransferQueueManager.h"

namespace {

// The code, the description's count, the picture flag, the two counts and
// the free-slot flag.
const qint64 kFixedBytes = 4 + 4 + 1 + 4 + 4 + 1;
const qint64 kPictureCountBytes = 4;

// The picture file's bytes when it is a readable file of at most limit
// bytes; false otherwise, without reading a byte of a larger one.
bool ReadPicture(const QString& path, qint64 limit, QByteArray& bytes)
{
    // Only a plain file: a device or a pipe has no size to check and may
    // never end.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > limit)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size > limit)
        return false;
    bytes = file.read(size);
    return bytes.size() == size;
}

} // namespace

UserInfoReply::Contents UserInfoReply::Current()
{
    Contents contents;
    contents.description = GetSetting("user_description");
    contents.picturePath = GetSetting("user_picture_file");
    contents.uploadSlots = GetSetting("upload_slots").toUInt();
    if (transferQueueManager) {
        contents.queuedUploads = quint32(qMax(0, transferQueueManager->QueuedUploadCount()));
        contents.freeSlot = transferQueueManager->IsFreeToUpload();
    }
    return contents;
}

MemStream UserInfoReply::Build(const Contents& contents)
{
    QString description = contents.description;
    description.replace("\n", "\r\n");
    QByteArray text = description.toUtf8();
    // The description ends at its first zero byte, as readers of C strings
    // would take it.
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);

    const qint64 pictureLimit = qint64(PeerMessages::MaxFrameLength) - kFixedBytes - kPictureCountBytes - text.size();
    QByteArray picture;
    const bool hasPicture =
        !contents.picturePath.isEmpty() && pictureLimit >= 0 && ReadPicture(contents.picturePath, pictureLimit, picture);

    MemStream message;
    message.Write(quint32(PeerMessages::UserInfoReply));
    message.Write(std::string(text.constData(), size_t(text.size())));
    message.Write(quint8(hasPicture ? 1 : 0));
    if (hasPicture) {
        message.Write(quint32(picture.size()));
        message.WriteBuffer(picture.constData(), static_cast<unsigned long>(picture.size()));
    }
    message.Write(contents.uploadSlots);
    message.Write(contents.queuedUploads);
    message.Write(quint8(contents.freeSlot ? 1 : 0));
    return message;
}
