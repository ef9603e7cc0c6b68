#include "ItemLogDialog.h"

#include <QHash>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <algorithm>
#include <vector>

#include "Data.h"
#include "ServerNames.h"
#include "UserWindows.h"

void ItemLogDialog::Init()
{
    g_userWindows.itemLog = [](const QString& user) {
        (new ItemLogDialog(d.GetType(ServerNames::User)->GetItem(user), nullptr))->show();
    };
}

ItemLogDialog::ItemLogDialog(ItemPtr item, QWidget* parent) : QDialog(parent), m_item(item)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    m_allPage = NewPage(tr("All"));
    // Without the program log's record types nothing is ever logged here.
    if (!d.HasType("item_log") || !m_item)
        return;

    // The program log connects a record to its item last, once it is
    // complete.
    auto* path = new PathNode(&d, "item_log");
    new PathNode(path, m_item, 2);
    d.AddPathEventHandler(path, new EventHandler<ItemLogDialog, ItemPtr>(this, &ItemLogDialog::OnItemLog));

    std::vector<std::pair<qint64, ItemPtr>> records;
    for (const ItemPtr& record : m_item.GetItems("item_log"))
        records.emplace_back(record["log_order"].AsInt64(), record);
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // Each page gets its lines at once, as plain text, and lays them out in
    // the background; line by line, a long log would keep the window from
    // opening for a good while.
    QHash<QTextBrowser*, QStringList> lines;
    for (const auto& record : records) {
        const QString line = LogLine(record.second);
        lines[AreaPage(record.second["log_area"].AsString())] << line;
        lines[m_allPage] << line;
    }
    for (auto page = lines.begin(); page != lines.end(); ++page)
        page.key()->setPlainText(page.value().join('\n'));
}

QString ItemLogDialog::LogLine(ItemPtr logRecord)
{
    const int level = logRecord["log_level"].AsInt();
    const QString indent(3 * qMax(0, level - 1), ' ');
    return "[" + logRecord["log_time"].AsString() + "] " + indent + logRecord["log_text"].AsString();
}

void ItemLogDialog::OnItemLog(ItemPtr logRecord)
{
    const QString line = LogLine(logRecord);
    AppendLine(AreaPage(logRecord["log_area"].AsString()), line);
    AppendLine(m_allPage, line);
}

QTextBrowser* ItemLogDialog::NewPage(const QString& area)
{
    auto* page = new QTextBrowser(ui.logTabWidget);
    page->setOpenLinks(false);
    page->setOpenExternalLinks(false);
    // A log only grows: keeping every insertion to undo it would double it.
    page->document()->setUndoRedoEnabled(false);
    ui.logTabWidget->addTab(page, area);
    return page;
}

// The first tab of that title, "All" included, as long as it is a log page.
QTextBrowser* ItemLogDialog::AreaPage(const QString& area)
{
    for (int i = 0; i < ui.logTabWidget->count(); ++i) {
        if (ui.logTabWidget->tabText(i) != area)
            continue;
        if (auto* page = qobject_cast<QTextBrowser*>(ui.logTabWidget->widget(i)))
            return page;
        break;
    }
    return NewPage(area);
}

void ItemLogDialog::AppendLine(QTextBrowser* page, const QString& line)
{
    QScrollBar* bar = page->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextCursor cursor(page->document());
    cursor.movePosition(QTextCursor::End);
    // Every line starts with its time stamp: an empty document has none yet.
    if (!page->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    if (atBottom)
        bar->setValue(bar->maximum());
}
