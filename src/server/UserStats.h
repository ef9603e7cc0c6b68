#pragma once

#include <QMetaType>
#include <QtGlobal>

#include "Persistent.h"

// A user's statistics as the server reports them, in wire order.
class UserStats : public Persistent
{
public:
    UserStats() = default;
    UserStats(quint32 averageSpeed, quint64 downloadCount, quint32 fileCount, quint32 folderCount)
        : m_averageSpeed(averageSpeed), m_downloadCount(downloadCount), m_fileCount(fileCount),
          m_folderCount(folderCount)
    {
    }

    bool Read(InputStream& stream) override;
    void Write(OutputStream& stream) const override;

    bool operator==(const UserStats& other) const;

    // Bytes per second of the user's recent uploads.
    quint32 m_averageSpeed = 0;
    quint64 m_downloadCount = 0;
    quint32 m_fileCount = 0;
    quint32 m_folderCount = 0;
};

Q_DECLARE_METATYPE(UserStats)
