// The share browser's export of a share to an XML file.
#include "ShareForm.h"

#include <QFile>
#include <QPointer>
#include <QTreeWidget>
#include <QXmlStreamWriter>
#include <vector>

#include "GeneralFunctions.h"
#include "StandardDialogs.h"
#include "ui_ShareForm.h"

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

void WriteFiles(QXmlStreamWriter& writer, ItemPtr folder)
{
    for (const ItemPtr& file : ShareFolderTree::FilesByName(folder)) {
        writer.writeEmptyElement("file");
        writer.writeAttribute("name", XmlText(file["user_share_file_name"].AsString()));
        writer.writeAttribute("size", CommafyNumber(file["file_size"].AsInt64()));
        if (const ItemPtr mode = file["bitrate_mode"])
            writer.writeAttribute("bitrate_mode", XmlText(mode.AsString()));
        if (const ItemPtr bitrate = file["bitrate"])
            writer.writeAttribute("bitrate", XmlText(bitrate.AsString()));
    }
}

} // namespace

void ShareForm::ExportShare()
{
    if (!m_share)
        return;
    // A name may hold anything but "/", which would make it a path.
    QString suggested = m_user;
    suggested.remove(QLatin1Char('/'));
    QPointer<ShareForm> self(this);
    const QString fileName =
        StandardDialogs::SaveFileName(this, tr("Export Share To File"), suggested, tr("XML files (*.xml)"));
    // The chooser ran its own loop: the tab may have been closed.
    if (!self || !m_share || fileName.isEmpty())
        return;
    ExportToFile(fileName);
}

bool ShareForm::ExportToFile(QString fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QXmlStreamWriter writer(&file);
    writer.setAutoFormatting(Tree().DeepestLevel() <= kIndentedDepth);
    writer.writeStartDocument();
    writer.writeStartElement("user");
    writer.writeAttribute("name", XmlText(m_user));
    for (int i = 0; i < ui->folderTree->topLevelItemCount(); ++i)
        WriteSharedFolderToXML(writer, ui->folderTree->topLevelItem(i));
    writer.writeEndElement();
    writer.writeEndDocument();
    return !writer.hasError();
}

void ShareForm::WriteSharedFolderToXML(QXmlStreamWriter& writer, QTreeWidgetItem* node)
{
    // A folder's subfolders come first, then its files; hidden nodes are
    // written like the others.
    struct Frame
    {
        QTreeWidgetItem* node;
        int nextChild;
    };
    std::vector<Frame> pending;
    auto open = [&](QTreeWidgetItem* folderNode) {
        writer.writeStartElement("folder");
        writer.writeAttribute("name", XmlText(folderNode->text(0)));
        pending.push_back({folderNode, 0});
    };
    open(node);
    while (!pending.empty()) {
        Frame& top = pending.back();
        if (top.nextChild < top.node->childCount()) {
            QTreeWidgetItem* child = top.node->child(top.nextChild++);
            open(child);
            continue;
        }
        WriteFiles(writer, Tree().FolderOf(top.node));
        writer.writeEndElement();
        pending.pop_back();
    }
}
