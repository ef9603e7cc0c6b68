#pragma once

#include <QString>
#include <QWidget>

#include "UserPicture.h"

class QShowEvent;
class Ui_UserInfoForm;

// What another user publishes about themselves: a description (markup, with
// an optional picture) and the state of their upload queue. One per user,
// as a closable tab of the users page; opening it asks the user (peer
// message 15) and it shows "Requesting..." until the answer or the failure
// to reach the user comes. One answer is taken per request: one that comes
// unasked, or after the first, changes nothing. The picture is decoded away
// from the window's thread and shown when ready.
class UserInfoForm : public QWidget
{
    Q_OBJECT

public:
    // The picture is shown within this box.
    static constexpr int PictureWidth = 800;
    static constexpr int PictureHeight = 400;

    explicit UserInfoForm(QWidget* parent = nullptr);
    ~UserInfoForm() override;

    // Sends the request; the view waits for its answer from then on.
    void Init(QString user);

    QString User() const { return m_user; }
    bool IsWaiting() const { return m_waiting; }

public slots:
    void OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture, char* ip_picture,
                            int i_pictureLength, int i_uploadSlots, int i_queuedUploads, bool i_freeSlot);
    void OnConnectionToUserFailed(QString i_user, QString i_type);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnPictureDecoded(quint64 request, const QImage& picture, UserPicture::Refusal refusal);
    // The answer as it stands: the picture or the notice in its place, then
    // the description.
    void ShowAnswer();

    Ui_UserInfoForm* ui;
    QString m_user;
    bool m_waiting = false;
    bool m_answerDue = false;
    // Counts the requests, so that a picture decoded for an earlier one is
    // dropped.
    quint64 m_request = 0;
    QString m_descriptionHtml;
    QString m_pictureNotice;
    bool m_hasPicture = false;
};
