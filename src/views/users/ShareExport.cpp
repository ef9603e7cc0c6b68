#include "ShareExport.h"

#include <QFile>
#include <QTreeWidget>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "GeneralFunctions.h"
#include "ShareFolderTree.h"
#include "TurnSlice.h"

namespace {

// Beyond this depth the file is written without line breaks and
// indentation: indenting by depth makes the file (and the writer's work,
// even with an empty indent) grow with the square of the depth, and a
// peer's share may nest thousands of folders.
const int kIndentedDepth = 100;

// Names come from the peer and may hold characters that XML 1.0 forbids
// (most control characters, lone surrogates, U+FFFE and U+FFFF); the
// writer would put them out as they are and leave a file no reader takes.
QString XmlText(const QString& text)
{
    QString safe;
    safe.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            safe += c;
            safe += text.at(++i);
            continue;
        }
        const ushort u = c.unicode();
        const bool allowed =
            u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF) || (u >= 0xE000 && u <= 0xFFFD);
        safe += allowed ? c : QChar(QChar::ReplacementCharacter);
    }
    return safe;
}

// The system's reason, or that it gave none.
QString Reason(const QString& error)
{
    return error.isEmpty() ? QObject::tr("the system gave no reason") : error;
}

} // namespace

ShareExport::ShareExport(const ShareFolderTree& tree, QTreeWidget* folderTree, const QString& user,
                         const QString& fileName)
    : m_tree(tree), m_folderTree(folderTree), m_user(user), m_fileName(fileName), m_file(fileName + ".XXXXXX")
{
}

bool ShareExport::Open()
{
    // Named from the start, beside the file asked for, so that the name
    // can be taken over at the end.
    if (!m_file.open() || m_file.fileName().isEmpty()) {
        m_error = Reason(m_file.errorString());
        return false;
    }
    // As a file written in place would be readable, not as a temporary one.
    const QFile::Permissions kept = QFile::permissions(m_fileName);
    m_file.setPermissions(kept ? kept
                               : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                                     QFile::ReadGroup | QFile::ReadOther);
    m_writer.setDevice(&m_file);
    m_writer.setAutoFormatting(m_tree.DeepestLevel() <= kIndentedDepth);
    m_writer.writeStartDocument();
    m_writer.writeStartElement("user");
    m_writer.writeAttribute("name", XmlText(m_user));
    return true;
}

bool ShareExport::WriteSome(TurnSlice& slice)
{
    for (;;) {
        if (m_pending.empty() && m_nextTopLevel >= m_folderTree->topLevelItemCount())
            return Finish();
        if (!slice.Take())
            return false;
        if (m_pending.empty()) {
            OpenFolder(m_folderTree->topLevelItem(m_nextTopLevel++));
            continue;
        }
        // A folder's subfolders come first, then its files.
        Frame& top = m_pending.back();
        if (top.nextChild < top.node->childCount()) {
            OpenFolder(top.node->child(top.nextChild++));
            continue;
        }
        if (!m_readingFiles) {
            m_files = ShareFolderTree::FilesByName(m_tree.FolderOf(top.node));
            m_nextFile = 0;
            m_readingFiles = true;
        }
        if (!m_files.Run(slice))
            return false;
        if (m_nextFile < m_files.Items().size()) {
            if (const ItemPtr file = m_files.Items()[m_nextFile++].second)
                WriteFile(file);
            continue;
        }
        m_files = SteppedSort<std::pair<QString, ItemPtr>>();
        m_readingFiles = false;
        m_writer.writeEndElement();
        m_pending.pop_back();
    }
}

void ShareExport::OpenFolder(QTreeWidgetItem* node)
{
    m_writer.writeStartElement("folder");
    m_writer.writeAttribute("name", XmlText(node->text(0)));
    m_pending.push_back({node, 0});
}

void ShareExport::WriteFile(ItemPtr file)
{
    m_writer.writeEmptyElement("file");
    m_writer.writeAttribute("name", XmlText(file["user_share_file_name"].AsString()));
    m_writer.writeAttribute("size", CommafyNumber(file["file_size"].AsInt64()));
    if (const ItemPtr mode = file["bitrate_mode"])
        m_writer.writeAttribute("bitrate_mode", XmlText(mode.AsString()));
    if (const ItemPtr bitrate = file["bitrate"])
        m_writer.writeAttribute("bitrate", XmlText(bitrate.AsString()));
}

bool ShareExport::Finish()
{
    if (m_finished)
        return true;
    m_finished = true;
    m_writer.writeEndElement();
    m_writer.writeEndDocument();
    // The writer stops at the first failed write; the file says why.
    if (m_writer.hasError() || !m_file.flush()) {
        m_error = Reason(m_file.errorString());
        return true;
    }
    const QString written = m_file.fileName();
    m_file.close();
    // In place of any file of that name at once, never a moment without.
    if (std::rename(QFile::encodeName(written).constData(), QFile::encodeName(m_fileName).constData()) != 0) {
        m_error = Reason(QString::fromLocal8Bit(std::strerror(errno)));
        return true;
    }
    m_file.setAutoRemove(false);
    return true;
}
