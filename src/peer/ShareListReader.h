#pragma once

#include <QByteArray>
#include <functional>
#include <memory>
#include <set>

#include "FileInfo.h"
#include "MemStream.h"
#include "PeerMessages.h"

struct z_stream_s;

// A share list (the body of message 5) read a slice at a time, so that a
// list of hundreds of thousands of files never holds the event loop for
// long. A compressed body is inflated a chunk at a time and each record is
// read as soon as it is whole, so its inflated bytes are never held whole
// either. The rules are those of a list read in one go: the zlib stream
// must end within the body and inflate to at most the limit, and the body
// must hold every field; bytes after the last field are ignored. A list
// holds at most so many entries (folders, files, attribute names): the
// reader stops at the first one past them, so that a frame inflating to
// minimal records cannot become gigabytes of files in memory.
class ShareListReader
{
public:
    enum class Status
    {
        Reading,
        Done,
        // The stream would inflate past the limit.
        TooLarge,
        // The list holds more entries than the entry limit.
        TooManyEntries,
        // The stream is broken, or the body ends before it does.
        Corrupt,
        // The body ends before its last field.
        Malformed
    };

    // A compressed body, inflated to at most inflateLimit bytes.
    ShareListReader(const QByteArray& compressed, int inflateLimit,
                    qint64 entryLimit = PeerMessages::ShareListEntryLimit);
    // A body already inflated.
    explicit ShareListReader(const QByteArray& plain, qint64 entryLimit = PeerMessages::ShareListEntryLimit);
    ~ShareListReader();
    ShareListReader(const ShareListReader&) = delete;
    ShareListReader& operator=(const ShareListReader&) = delete;

    // Reads on until the list ends, fails, or goOn (asked every few
    // records, never when it is null) says to stop for now.
    Status Read(const std::function<bool()>& goOn = nullptr);
    Status GetStatus() const { return m_status; }

    // Once Done: the list, handed over; the reader keeps none of it.
    std::shared_ptr<FileInfoMap> TakeList();
    AttributeTranslationTable TakeAttributes();
    // The files, the entries (folders, files, table entries) and all
    // records (the entries and the two counts) read so far.
    qint64 FileCount() const { return m_files; }
    qint64 EntryCount() const { return m_entries; }
    qint64 RecordCount() const { return m_records; }
    qint64 EntryLimit() const { return m_entryLimit; }
    qint64 InflatedBytes() const { return m_inflated; }

private:
    enum class Field
    {
        FolderCount,
        Folder,
        File,
        TableCount,
        TableEntry,
        // The list is read; the rest of a compressed stream must still end
        // within the limit.
        StreamEnd
    };

    // Reads the next field or record whole, or nothing (false) when its
    // bytes are not all there.
    bool ReadField();
    // Whether one more entry may be read; if not, the list is refused.
    bool RoomForEntry();
    // Inflates one more chunk behind what is unread; false when there is
    // nothing more, the status then saying why.
    bool InflateMore();

    MemStream m_in;
    QByteArray m_compressed;
    std::unique_ptr<z_stream_s> m_stream;
    int m_limit = 0;
    bool m_streamEnded = true;
    qint64 m_inflated = 0;

    Status m_status = Status::Reading;
    Field m_field = Field::FolderCount;
    quint32 m_foldersLeft = 0;
    quint32 m_filesLeft = 0;
    quint32 m_entriesLeft = 0;
    std::set<FileInfo>* m_folder = nullptr;
    std::shared_ptr<FileInfoMap> m_list;
    AttributeTranslationTable m_attributes;
    qint64 m_entryLimit = 0;
    qint64 m_files = 0;
    qint64 m_entries = 0;
    qint64 m_records = 0;
};
