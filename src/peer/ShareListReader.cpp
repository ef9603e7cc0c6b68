#include "ShareListReader.h"

#include <zlib.h>

namespace {
// What one step inflates: a few hundred records, a fraction of a millisecond.
const int kChunk = 65536;
// Records read between two questions whether to go on.
const int kRecordsPerAsk = 64;
} // namespace

ShareListReader::ShareListReader(const QByteArray& compressed, int inflateLimit, qint64 entryLimit)
    : m_compressed(compressed), m_stream(new z_stream_s()), m_limit(inflateLimit), m_streamEnded(false),
      m_list(std::make_shared<FileInfoMap>()), m_entryLimit(entryLimit)
{
    if (inflateInit(m_stream.get()) != Z_OK) {
        m_stream.reset();
        m_status = Status::Corrupt;
        return;
    }
    m_stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m_compressed.constData()));
    m_stream->avail_in = uInt(m_compressed.size());
}

ShareListReader::ShareListReader(const QByteArray& plain, qint64 entryLimit)
    : m_in(plain), m_inflated(plain.size()), m_list(std::make_shared<FileInfoMap>()), m_entryLimit(entryLimit)
{
}

ShareListReader::~ShareListReader()
{
    if (m_stream)
        inflateEnd(m_stream.get());
}

ShareListReader::Status ShareListReader::Read(const std::function<bool()>& goOn)
{
    int sinceAsked = 0;
    while (m_status == Status::Reading) {
        if (goOn && ++sinceAsked >= kRecordsPerAsk) {
            sinceAsked = 0;
            if (!goOn())
                break;
        }
        const unsigned long at = m_in.GetReadPosition();
        if (ReadField()) {
            ++m_records;
            continue;
        }
        if (m_status != Status::Reading)
            continue;
        // A field read in part is read again whole once more bytes are in.
        m_in.SetReadPosition(at);
        if (!InflateMore() && m_status == Status::Reading)
            m_status = Status::Malformed;
        // A chunk inflated is worth many records.
        sinceAsked = kRecordsPerAsk - 1;
    }
    if (m_status != Status::Reading) {
        if (m_stream) {
            inflateEnd(m_stream.get());
            m_stream.reset();
        }
        m_in = MemStream();
        m_compressed = QByteArray();
        if (m_status != Status::Done)
            m_list.reset();
    }
    return m_status;
}

bool ShareListReader::ReadField()
{
    switch (m_field) {
    case Field::FolderCount:
        if (!m_in.Read(m_foldersLeft))
            return false;
        m_field = m_foldersLeft ? Field::Folder : Field::TableCount;
        return true;
    case Field::Folder:
    {
        std::string path;
        quint32 files = 0;
        if (!RoomForEntry() || !m_in.Read(path) || !m_in.Read(files))
            return false;
        ++m_entries;
        // A path listed twice gathers the files of both.
        m_folder = &(*m_list)[path];
        m_filesLeft = files;
        --m_foldersLeft;
        m_field = m_filesLeft ? Field::File : m_foldersLeft ? Field::Folder : Field::TableCount;
        return true;
    }
    case Field::File:
    {
        FileInfo file;
        if (!RoomForEntry() || !file.Read(m_in))
            return false;
        m_folder->insert(std::move(file));
        ++m_entries;
        ++m_files;
        if (--m_filesLeft == 0)
            m_field = m_foldersLeft ? Field::Folder : Field::TableCount;
        return true;
    }
    case Field::TableCount:
        if (!m_in.Read(m_entriesLeft))
            return false;
        m_field = m_entriesLeft ? Field::TableEntry : Field::StreamEnd;
        return true;
    case Field::TableEntry:
    {
        quint32 code = 0;
        std::string name;
        if (!RoomForEntry() || !m_in.Read(code) || !m_in.Read(name))
            return false;
        ++m_entries;
        m_attributes[int(code)] = name;
        if (--m_entriesLeft == 0)
            m_field = Field::StreamEnd;
        return true;
    }
    case Field::StreamEnd:
        // What follows the last field is only inflated, to see the stream end.
        if (m_streamEnded)
            m_status = Status::Done;
        return false;
    }
    return false;
}

bool ShareListReader::RoomForEntry()
{
    if (m_entries < m_entryLimit)
        return true;
    m_status = Status::TooManyEntries;
    return false;
}

bool ShareListReader::InflateMore()
{
    if (m_streamEnded)
        return false;
    // The bytes read so far go, so that only a chunk and the record read
    // in part are held at a time.
    m_in.DiscardRead();
    char chunk[kChunk];
    m_stream->next_out = reinterpret_cast<Bytef*>(chunk);
    m_stream->avail_out = sizeof chunk;
    const int status = inflate(m_stream.get(), Z_NO_FLUSH);
    const int produced = int(sizeof chunk - m_stream->avail_out);
    if (produced > m_limit - m_inflated) {
        m_status = Status::TooLarge;
        return false;
    }
    m_inflated += produced;
    if (m_field != Field::StreamEnd)
        m_in.Append(QByteArray(chunk, produced));
    if (status == Z_STREAM_END) {
        m_streamEnded = true;
        // The last field read, the list is done; otherwise the fields not yet
        // read say whether the body was whole.
        if (m_field == Field::StreamEnd)
            m_status = Status::Done;
        return true;
    }
    // Anything else, Z_BUF_ERROR included, means the input ended before the
    // stream did or the stream is broken.
    if (status != Z_OK) {
        m_status = Status::Corrupt;
        return false;
    }
    return true;
}

std::shared_ptr<FileInfoMap> ShareListReader::TakeList()
{
    return m_status == Status::Done ? std::move(m_list) : nullptr;
}

AttributeTranslationTable ShareListReader::TakeAttributes()
{
    AttributeTranslationTable taken;
    taken.swap(m_attributes);
    return taken;
}
