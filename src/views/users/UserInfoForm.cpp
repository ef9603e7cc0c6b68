#include "UserInfoForm.h"

#include <QTextCursor>

#include "Data.h"
#include "DescriptionMarkup.h"
#include "EventToolBar.h"
#include "PeerMessenger.h"
#include "UserPictureLoader.h"
#include "common/InertTextDocument.h"
#include "common/PeerText.h"
#include "ui_UserInfoForm.h"

namespace {

const char* const kPictureName = "UserImage";

// A description is another user's markup: it may show the picture that came
// with it and nothing else it names, neither a file nor an address.
class UserInfoDocument : public InertTextDocument
{
public:
    using InertTextDocument::InertTextDocument;

    // Null for none. Handed out by loadResource rather than added as a
    // resource: a null picture added would send the toolkit to read a file
    // of that name instead.
    void SetPicture(const QImage& picture) { m_picture = picture; }

protected:
    QVariant loadResource(int type, const QUrl& name) override
    {
        if (type == QTextDocument::ImageResource && name == QUrl(kPictureName) && !m_picture.isNull())
            return m_picture;
        return InertTextDocument::loadResource(type, name);
    }

private:
    QImage m_picture;
};

} // namespace

UserInfoForm::UserInfoForm(QWidget* parent) : QWidget(parent), ui(new Ui_UserInfoForm)
{
    ui->setupUi(this);
    ui->userInfoText->setDocument(new UserInfoDocument(ui->userInfoText));
    ui->userInfoText->setOpenLinks(false);
    ui->userInfoText->setOpenExternalLinks(false);
    ui->userInfoText->setWordWrapMode(DescriptionMarkup::Wrap);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoReceived, this, &UserInfoForm::OnUserInfoReceived);
}

UserInfoForm::~UserInfoForm()
{
    // The users page finds a user's view by this item: it must never name a
    // view that is gone.
    if (Type* forms = d.HasType("user_info_form")) {
        if (ItemPtr item = forms->HasItem(Value(this)))
            item.Remove();
    }
    delete ui;
}

void UserInfoForm::Init(QString user)
{
    m_user = user;
    if (peerMessenger)
        peerMessenger->GetUserInfo(user);
    m_waiting = true;
    m_answerDue = true;
    ++m_request;
    ui->userInfoText->setHtml(tr("Requesting..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &UserInfoForm::OnConnectionToUserFailed,
                Qt::UniqueConnection);
}

void UserInfoForm::OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture, char* ip_picture,
                                      int i_pictureLength, int i_uploadSlots, int i_queuedUploads, bool i_freeSlot)
{
    // An answer nobody asked for may come any number of times.
    if (i_user != m_user || !m_answerDue)
        return;
    m_answerDue = false;
    m_waiting = false;
    // The counts are unsigned on the wire; peer messaging hands them on as
    // int.
    ui->uploadSlotsEdit->setText(QString::number(quint32(i_uploadSlots)));
    ui->queuedUploadsEdit->setText(QString::number(quint32(i_queuedUploads)));
    ui->freeToUploadEdit->setText(i_freeSlot ? tr("Yes") : tr("No"));

    if (!i_description.isEmpty() || i_hasPicture)
        m_descriptionHtml = DescriptionMarkup::Sanitize(i_description).html;
    else
        m_descriptionHtml = tr("No user info.");
    m_hasPicture = false;
    m_pictureNotice.clear();
    static_cast<UserInfoDocument*>(ui->userInfoText->document())->SetPicture(QImage());
    if (i_hasPicture && ip_picture && i_pictureLength > 0) {
        if (i_pictureLength > UserPicture::MaxBytes) {
            m_pictureNotice = UserPicture::Notice(UserPicture::Refusal::TooManyBytes);
        } else {
            // The bytes are valid only during this call.
            UserPictureLoader::Instance()->Load(
                QByteArray(ip_picture, i_pictureLength), QSize(PictureWidth, PictureHeight), this,
                [this, request = m_request](const QImage& picture, UserPicture::Refusal refusal) {
                    OnPictureDecoded(request, picture, refusal);
                });
        }
    }
    ShowAnswer();

    if (eventToolBar)
        eventToolBar->AddEvent(PeerText::Title(m_user), ":/icons/info_icon", this, QString(), "user_info", false);
}

void UserInfoForm::OnPictureDecoded(quint64 request, const QImage& picture, UserPicture::Refusal refusal)
{
    if (request != m_request)
        return;
    m_pictureNotice = UserPicture::Notice(refusal);
    m_hasPicture = !picture.isNull();
    static_cast<UserInfoDocument*>(ui->userInfoText->document())->SetPicture(picture);
    if (m_hasPicture || !m_pictureNotice.isEmpty())
        ShowAnswer();
}

void UserInfoForm::ShowAnswer()
{
    QString html;
    if (m_hasPicture)
        html = QString("<img source=\"%1\" /><p>").arg(kPictureName);
    else if (!m_pictureNotice.isEmpty())
        html = "<p>" + m_pictureNotice.toHtmlEscaped() + "</p>";
    ui->userInfoText->setHtml(html + m_descriptionHtml);
    ui->userInfoText->moveCursor(QTextCursor::Start);
}

void UserInfoForm::OnConnectionToUserFailed(QString i_user, QString i_type)
{
    if (!m_waiting || i_user != m_user || i_type != "P")
        return;
    m_waiting = false;
    ui->userInfoText->setPlainText(tr("A connection could not be successfully formed to the user."));
    if (eventToolBar)
        eventToolBar->AddEvent(PeerText::Title(m_user), ":/icons/info_icon", this, QString(), QString(), false);
}

void UserInfoForm::showEvent(QShowEvent* event)
{
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
    QWidget::showEvent(event);
}
