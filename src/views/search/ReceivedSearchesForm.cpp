#include "ReceivedSearchesForm.h"

#include <QColor>
#include <QTreeWidgetItem>

#include "ActionSetToolBar.h"
#include "SharedFoldersManager.h"
#include "ui_ReceivedSearchesForm.h"

ReceivedSearchesForm* receivedSearchesForm = nullptr;

namespace {

const char* const kPause = "pause_unpause";
const QColor kMatchColour(0, 85, 0);

} // namespace

ReceivedSearchesForm::ReceivedSearchesForm(QWidget* parent) : QWidget(parent), ui(new Ui_ReceivedSearchesForm)
{
    ui->setupUi(this);
    receivedSearchesForm = this;
    ui->searchList->setColumnCount(2);
    ui->searchList->setHeaderLabels(QStringList() << tr("Search") << tr("Match"));
    ui->searchList->setColumnWidth(0, 320);
    ui->searchList->setColumnWidth(1, 50);
}

ReceivedSearchesForm::~ReceivedSearchesForm()
{
    if (receivedSearchesForm == this)
        receivedSearchesForm = nullptr;
    delete ui;
}

void ReceivedSearchesForm::Init()
{
    if (sharedFoldersManager)
        connect(sharedFoldersManager, &SharedFoldersManager::SearchProcessed, this,
                &ReceivedSearchesForm::OnSearchProcessed);
    if (actionBar) {
        actionBar->AddSetAction("received_searches", kPause, tr("Pause"), ":/icons/pause_icon", false);
        actionBar->RegisterWidget(this, "received_searches");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ReceivedSearchesForm::OnActionTriggered);
    }
}

void ReceivedSearchesForm::OnSearchProcessed(QString search, bool matched)
{
    if (m_paused)
        return;
    QTreeWidget* list = ui->searchList;
    list->setCurrentItem(nullptr);
    // Plain text: a search is another user's words, never markup.
    auto* row = new QTreeWidgetItem;
    row->setText(0, search);
    if (matched) {
        row->setForeground(1, kMatchColour);
        row->setText(1, tr("Match"));
    }
    list->insertTopLevelItem(0, row);
    if (list->topLevelItemCount() > Capacity)
        delete list->takeTopLevelItem(Capacity);
}

void ReceivedSearchesForm::OnActionTriggered(QWidget* widget, QString action)
{
    if (widget != this || action != kPause)
        return;
    m_paused = !m_paused;
    if (actionBar)
        actionBar->SetWidgetActionText(this, kPause, m_paused ? tr("Resume") : tr("Pause"));
}
