#include "UploadQueuePolicy.h"

#include "Data.h"
#include "Settings.h"
#include "ShareNames.h"

UploadQueuePolicy::Limits UploadQueuePolicy::CurrentLimits()
{
    Limits limits;
    limits.filesEnabled = IsSettingOn("max_queued_uploads_per_user_enabled");
    limits.maxFiles = GetSetting("max_queued_uploads_per_user").toInt();
    limits.megabytesEnabled = IsSettingOn("max_queued_mb_per_user_enabled");
    limits.maxMegabytes = GetSetting("max_queued_mb_per_user").toInt();
    return limits;
}

UploadQueuePolicy::Refusal UploadQueuePolicy::Check(const Limits& limits, int queuedFiles, qint64 queuedBytes)
{
    if (limits.filesEnabled && queuedFiles >= limits.maxFiles)
        return TooManyFiles;
    // Whole megabytes only, so a queue a little over the limit still passes.
    if (limits.megabytesEnabled && queuedBytes / 1048576 > limits.maxMegabytes)
        return TooManyMegabytes;
    return Accepted;
}

QString UploadQueuePolicy::ReasonText(Refusal refusal)
{
    switch (refusal) {
    case TooManyFiles:
        return "Too many files";
    case TooManyMegabytes:
        return "Too many megabytes";
    case Accepted:
        break;
    }
    return QString();
}

QString UploadQueuePolicy::LogText(Refusal refusal)
{
    switch (refusal) {
    case TooManyFiles:
        return "Denied, too many files already queued by user";
    case TooManyMegabytes:
        return "Denied, too many megabytes already queued by user";
    case Accepted:
        break;
    }
    return QString();
}

QString UploadQueuePolicy::LocalPath(const QString& requested)
{
    QString path = requested;
    return path.replace('\\', '/');
}

namespace {
ItemPtr Attribute(ItemPtr sharedFile, const char* type)
{
    Type* t = d.HasType(type);
    return t ? sharedFile[t] : ItemPtr();
}
} // namespace

QString UploadQueuePolicy::SharedFileName(ItemPtr sharedFile)
{
    return Attribute(sharedFile, ShareNames::SharedFileName).AsString();
}

qint64 UploadQueuePolicy::SharedFileSize(ItemPtr sharedFile)
{
    return Attribute(sharedFile, ShareNames::SharedFileSize).AsInt64();
}

QString UploadQueuePolicy::SharedFilePath(ItemPtr sharedFile)
{
    const ItemPtr folder = Attribute(sharedFile, ShareNames::SharedFileFolder);
    const ItemPtr name = Attribute(sharedFile, ShareNames::SharedFileName);
    if (!folder || !name)
        return QString();
    // Taken as stored: turning a backslash inside a local name into a separator
    // would make a path the shares never held.
    return folder.AsString() + "/" + name.AsString();
}
