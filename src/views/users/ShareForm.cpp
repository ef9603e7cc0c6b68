#include "ShareForm.h"

#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>
#include <QUrlQuery>
#include <algorithm>
#include <cmath>
#include <utility>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "EventToolBar.h"
#include "GeneralFunctions.h"
#include "NetworkHosts.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "ShareExport.h"
#include "common/PeerText.h"
#include "ui_ShareForm.h"

ShareForm::ShareForm(QString user, QWidget* parent)
    : ShareBrowser(user, "user_share_tab", parent), ui(new Ui_ShareForm),
      m_downloadJob(ShareFolderTree::SliceFloor, [this](TurnSlice& slice) { return DownloadSome(slice); }),
      m_exportJob(ShareFolderTree::SliceFloor, [this](TurnSlice& slice) { return ExportSome(slice); })
{
    ui->setupUi(this);
    SetUpBrowser(ui->folderTree, ui->fileList, ui->filterEdit,
                 {ui->folderTree, ui->fileList, ui->filterEdit, ui->filterHelpButton});
    ui->folderTree->setExpandsOnDoubleClick(true);
    if (actionBar) {
        actionBar->RegisterWidget(this, "share_folders");
        // A set without actions: the file list shows none.
        actionBar->RegisterWidget(ui->fileList, "share_files");
    }
    FitMessageBox();
    ui->messageBrowser->append(tr("Requesting file list..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &ShareForm::OnConnectionToUserFailed);
}

ShareForm::~ShareForm()
{
    // An export not yet whole leaves no file behind.
    m_exports.clear();
    delete ui;
}

ShareForm* ShareForm::Of(ItemPtr user)
{
    return qobject_cast<ShareForm*>(ShareBrowser::Of(user, "user_share_tab"));
}

QTextBrowser* ShareForm::messageBrowser() const
{
    return ui->messageBrowser;
}

// ---------------------------------------------------------------------------
// The share arrives, or cannot

void ShareForm::PostEvent(QWidget* widget)
{
    if (eventToolBar)
        eventToolBar->AddEvent(PeerText::Title(m_user), ":/icons/browse_icon", widget, QString(), "browse", false);
}

void ShareForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(ui->folderTree);
}

void ShareForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The user's font comes after the page is made.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitMessageBox();
}

void ShareForm::FitMessageBox()
{
    // The form's 60 pixels hold three lines at the usual font; a longer
    // notice wraps, and a larger font would leave it half shown.
    QTextBrowser* box = ui->messageBrowser;
    QTextDocument threeLines;
    threeLines.setDefaultFont(box->font());
    threeLines.setDocumentMargin(box->document()->documentMargin());
    threeLines.setPlainText("\n\n");
    const int needed = int(std::ceil(threeLines.size().height())) + 2 * box->frameWidth();
    box->setMaximumHeight(std::max(60, needed));
}

void ShareForm::OnConnectionToUserFailed(QString user, QString connectionType)
{
    if (m_received || user != m_user || connectionType != QLatin1String("P"))
        return;
    QUrl page = NetworkHosts::WebUrl("porttest.php");
    QUrlQuery query;
    query.addQueryItem("port", GetSetting("listening_port"));
    page.setQuery(query);
    ui->messageBrowser->append(tr("A connection could not be successfully formed to the user. If this is happening "
                                  "to you a lot, <a href=\"%1\">Check here</a> to make sure that your port is open")
                                   .arg(page.toString(QUrl::FullyEncoded).toHtmlEscaped()));
    PostEvent(ui->messageBrowser);
}

void ShareForm::SetShare(ItemPtr share)
{
    // A repeated list: the share on screen stays as it is.
    if (m_received)
        return;
    m_received = true;
    m_share = share;
    d.GetType("user_share")
        ->AddItemRemovedHandler(new EventHandler<ShareForm, ItemPtr>(this, &ShareForm::OnUserShareItemRemoved));
    if (!share.IsConnected("user_share_folder")) {
        ui->messageBrowser->append(tr("No files returned. The user is either not sharing any files, or is sharing "
                                      "all of their files privately."));
        PostEvent(ui->messageBrowser);
        return;
    }
    ShowShare(share, ShareFolderTree::FolderOrder::IgnoringCase, true);
}

void ShareForm::ShowFilling(qint64 filesMade, qint64 files, qint64 folders)
{
    m_filesMade = filesMade;
    m_files = files;
    m_folders = folders;
    // A list made at once says nothing, unless its tree takes longer.
    if (filesMade < files || m_fillingBlock >= 0)
        UpdateFillingNotice();
}

void ShareForm::Filling()
{
    UpdateFillingNotice();
}

void ShareForm::UpdateFillingNotice()
{
    // A folder's node takes about as long as two files' items.
    const double steps = double(m_files) + 2.0 * double(m_folders);
    const double done =
        IsFilling() ? double(m_files) + Tree().BuiltShare() * 2.0 * double(m_folders) : double(m_filesMade);
    const int percent = steps > 0 ? int(100 * done / steps) : int(100 * Tree().BuiltShare());
    const QString text =
        m_files > 0 ? tr("The file list has arrived: %1 files in %2 folders. Getting them ready to browse: %3%")
                          .arg(CommafyNumber(m_files), CommafyNumber(m_folders))
                          .arg(percent)
                    : tr("Getting the file list ready to browse: %1%").arg(percent);
    if (text == m_fillingText)
        return;
    m_fillingText = text;
    QTextDocument* document = ui->messageBrowser->document();
    if (m_fillingBlock < 0) {
        ui->messageBrowser->append(text.toHtmlEscaped());
        m_fillingBlock = document->blockCount() - 1;
        return;
    }
    QTextCursor line(document->findBlockByNumber(m_fillingBlock));
    line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    line.insertText(text);
}

void ShareForm::ShareShown()
{
    ui->messageBrowser->hide();
    PostEvent(ui->folderTree);
    connect(ui->fileList, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFileDoubleClicked);
    if (!m_pendingFolder.isEmpty())
        BrowseToFolder(std::exchange(m_pendingFolder, QString()));
}

void ShareForm::ShareListRefused(PeerMessenger::ShareListRefusal why, qint64 size, qint64 bound)
{
    if (m_received)
        return;
    // Sizes in megabytes of 2^20 bytes, a refused size rounded up so that
    // it never reads as the bound it passed.
    auto megabytes = [](qint64 bytes, bool up) {
        const double tenths = double(bytes) * 10.0 / 1048576.0;
        return QString::number((up ? std::ceil(tenths) : std::floor(tenths)) / 10.0, 'f', 1);
    };
    QString text;
    switch (why) {
    case PeerMessenger::ShareListRefusal::TooLong:
        text = tr("The user's file list is too large to take: it is %1 MB, and a message from another user may be "
                  "at most %2 MB.")
                   .arg(megabytes(size, true), megabytes(bound, false));
        break;
    case PeerMessenger::ShareListRefusal::InflatesTooFar:
        text = tr("The user's file list is too large to take: unpacked it would pass %1 MB, the most a message "
                  "from another user may hold.")
                   .arg(megabytes(bound, false));
        break;
    case PeerMessenger::ShareListRefusal::HoldsTooMany:
        text = tr("The user's file list is too large to take: it holds more than %1 files and folders.")
                   .arg(CommafyNumber(bound));
        break;
    case PeerMessenger::ShareListRefusal::Unreadable:
        text = tr("The user's file list could not be read: it is cut short or damaged.");
        break;
    }
    ui->messageBrowser->append(text.toHtmlEscaped());
    PostEvent(ui->messageBrowser);
}

void ShareForm::OnUserShareItemRemoved(ItemPtr item)
{
    if (item != m_share)
        return;
    m_share = ItemPtr();
    // Its folders and files go with it: every pass over them ends, and
    // their rows go.
    StopShowing();
}

void ShareForm::BrowseToFolder(QString folder)
{
    // Until the tree shows whole, the folder asked for last waits for it.
    if (!m_share || !IsShown()) {
        if (!m_received || m_share)
            m_pendingFolder = folder;
        return;
    }
    // Never made here: the path may be anything a search result named.
    const ItemPtr name = d.GetType("user_share_folder_name")->HasItem(Value(folder));
    const ItemPtr shareFolder = name ? d.GetItem(name, m_share, "user_share_folder") : ItemPtr();
    if (QTreeWidgetItem* node = Tree().NodeOf(shareFolder))
        Tree().Select(node);
}

void ShareForm::Delete()
{
    StopWork();
    m_share = ItemPtr();
    Close(d.GetType("user")->GetItem(Value(m_user))["user_share"]);
}

void ShareForm::StopWork()
{
    m_downloadJob.Stop();
    m_folderReads.clear();
    m_pendingDownloads.clear();
    m_exportJob.Stop();
    m_exports.clear();
}

void ShareForm::SetSliceSteps(int steps)
{
    ShareBrowser::SetSliceSteps(steps);
    m_downloadJob.SetMostSteps(steps);
    m_exportJob.SetMostSteps(steps);
}

void ShareForm::OnOwnAction(const QString& action)
{
    if (action == QLatin1String("save_to_file"))
        ExportShare();
}
