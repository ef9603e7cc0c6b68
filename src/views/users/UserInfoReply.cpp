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
    PeerMessages::UserInfoBody info;
    info.description = contents.description;
    info.description.replace("\n", "\r\n");
    // The description ends at its first zero, as readers of C strings would
    // take it.
    const int zero = info.description.indexOf(QChar(0));
    if (zero >= 0)
        info.description.truncate(zero);

    const qint64 pictureLimit =
        qint64(PeerMessages::MaxFrameLength) - kFixedBytes - kPictureCountBytes - info.description.toUtf8().size();
    info.hasPicture = !contents.picturePath.isEmpty() && pictureLimit >= 0 &&
                      ReadPicture(contents.picturePath, pictureLimit, info.picture);
    info.uploadSlots = contents.uploadSlots;
    info.queuedUploads = contents.queuedUploads;
    info.freeSlot = contents.freeSlot;
    return PeerMessages::WriteUserInfo(info);
}
