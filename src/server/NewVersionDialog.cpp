#include "NewVersionDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace {
// 20130410 -> "2013.4.10", the form the window title uses.
QString VersionText(qint64 version)
{
    return QString("%1.%2.%3").arg(version / 10000).arg((version % 10000) / 100).arg(version % 100);
}
} // namespace

NewVersionDialog::NewVersionDialog(qint64 version, QString downloadLink, QStringList description, QWidget* parent)
    : QDialog(parent), m_downloadLink(downloadLink)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("New Version Available"));

    QVBoxLayout* layout = new QVBoxLayout(this);
    QLabel* heading = new QLabel(tr("QuorvaneQt build %1 is available.").arg(VersionText(version)), this);
    heading->setObjectName("versionLabel");
    layout->addWidget(heading);

    if (!description.isEmpty()) {
        QLabel* notes = new QLabel(description.join('\n'), this);
        notes->setObjectName("descriptionLabel");
        notes->setTextFormat(Qt::PlainText);
        notes->setWordWrap(true);
        layout->addWidget(notes);
    }

    QLabel* link = new QLabel(this);
    link->setObjectName("downloadLinkLabel");
    link->setTextFormat(Qt::RichText);
    link->setText(QString("<a href=\"%1\">%2</a>").arg(downloadLink.toHtmlEscaped(), downloadLink.toHtmlEscaped()));
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    layout->addWidget(link);

    QDialogButtonBox* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
