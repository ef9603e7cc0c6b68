// The share browser's export of a share to an XML file.
#include "ShareForm.h"

#include <QDir>
#include <QMessageBox>
#include <QPointer>

#include "ShareExport.h"
#include "StandardDialogs.h"
#include "TurnSlice.h"
#include "ui_ShareForm.h"

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
    std::unique_ptr<ShareExport> export_(new ShareExport(Tree(), ui->folderTree, m_user, fileName));
    if (!export_->Open()) {
        ReportExportFailure(fileName, export_->Error());
        return false;
    }
    m_exports.push_back(std::move(export_));
    // A turn already coming writes this after the exports asked for before.
    if (m_exportJob.IsRunning())
        return true;
    // An export cut short by the share's going leaves no file.
    m_exportJob.Over(m_share, [this] { StopWork(); });
    m_exportJob.Start();
    return true;
}

bool ShareForm::ExportSome(TurnSlice& slice)
{
    while (!m_exports.empty() && m_exports.front()->WriteSome(slice)) {
        const std::unique_ptr<ShareExport> done = std::move(m_exports.front());
        m_exports.pop_front();
        if (!done->Error().isEmpty())
            ReportExportFailure(done->FileName(), done->Error());
    }
    return m_exports.empty();
}

void ShareForm::ReportExportFailure(const QString& fileName, const QString& error)
{
    // Told without a loop of its own: the export runs on meanwhile, and the
    // tab may close under it.
    auto* box =
        new QMessageBox(QMessageBox::Warning, tr("Export Share To File"),
                        tr("The share could not be saved to %1: %2").arg(QDir::toNativeSeparators(fileName), error),
                        QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
