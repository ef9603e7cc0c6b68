// User information both ways: the reply to other users' requests, byte for
// byte, and the view of another user's reply, with hostile markup and
// pictures of any size.
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextBrowser>

#include "DrawnText.h"
#include "PeerEngineFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "UsersSetup.h"
#include "users/DescriptionMarkup.h"
#include "users/UserInfoForm.h"
#include "users/UserInfoReply.h"
#include "users/UserPicture.h"
#include "users/UserPictureLoader.h"

namespace {

QByteArray Png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage Filled(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(Qt::darkCyan);
    return image;
}

QByteArray Encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A GIF whose one frame of width x height lies at left, top on a logical
// screen of screenWidth x screenHeight.
QByteArray Gif(int screenWidth, int screenHeight, int left, int top, int width, int height)
{
    QByteArray bytes("GIF89a");
    auto u16 = [&](int value) { bytes.append(char(value & 0xff)).append(char(value >> 8)); };
    u16(screenWidth);
    u16(screenHeight);
    bytes.append(QByteArray::fromHex("800000000000ffffff2c"));
    for (int value : {left, top, width, height})
        u16(value);
    return bytes.append(QByteArray::fromHex("0002024401003b"));
}

QByteArray Jpeg(const QImage& image, bool progressive = true)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// The JPEG with its last scan sent over and over, as a hostile one is: each
// scan is one more pass over the whole picture.
QByteArray ManyScans(const QByteArray& jpeg, int scans)
{
    const int last = jpeg.lastIndexOf("\xff\xda");
    const QByteArray scan = jpeg.mid(last, jpeg.size() - 2 - last);
    return jpeg.left(jpeg.size() - 2) + scan.repeated(scans) + "\xff\xd9";
}

} // namespace

class TestUserInfo : public QObject
{
    Q_OBJECT

private:
    UsersSetup s;

    static QTextBrowser* Text(UserInfoForm* view) { return view->findChild<QTextBrowser*>("userInfoText"); }
    static QString Field(UserInfoForm* view, const char* name) { return view->findChild<QLineEdit*>(name)->text(); }
    static QSize Picture(UserInfoForm* view)
    {
        return Text(view)->document()->resource(QTextDocument::ImageResource, QUrl("UserImage")).value<QImage>().size();
    }
    QTabWidget* Tabs() const { return s.page->findChild<QTabWidget*>("userInfoTabs"); }

    // Bob linked and his information open and shown, as a user opens it;
    // null when a step fails.
    UserInfoForm* BobsInfo(FakePeerLink*& bob)
    {
        s.Make();
        if (!s.Start() || !(bob = s.fixture->LinkedPeer("bob")))
            return nullptr;
        UserListForm::ShowUserInfo("bob");
        auto* view = qobject_cast<UserInfoForm*>(Tabs()->currentWidget());
        return view && view->isVisible() ? view : nullptr;
    }

    // Asks again as a fresh view would (one answer is taken per request),
    // then replies.
    bool Answer(UserInfoForm* view, FakePeerLink* link, const QString& description, const QByteArray* picture)
    {
        view->Init(view->User());
        return Reply(link, description, picture);
    }

    // Sends the reply and waits until the views have had it.
    bool Reply(FakePeerLink* link, const QString& description, const QByteArray* picture, quint32 uploadSlots = 2,
               quint32 queued = 0, bool free = true)
    {
        TestMessage body;
        body.Str(description).U8(picture ? 1 : 0);
        if (picture)
            body.U32(quint32(picture->size())).Bytes(*picture);
        body.U32(uploadSlots).U32(queued).U8(free ? 1 : 0);
        QSignalSpy received(s.fixture->net.peer, &PeerMessenger::UserInfoReceived);
        link->SendMessage(16, body.Body());
        return received.wait(30000);
    }

private slots:
    void cleanup() { s.Stop(); }

    void theReplyIsTheOwnInformationByteForByte()
    {
        s.Make();
        QVERIFY(s.Start());
        SetSetting("user_description", "a\nb");
        SetSetting("upload_slots", "3");
        FakePeerLink* bob = s.fixture->LinkedPeer("bob");
        QVERIFY(bob);
        bob->SendMessage(15, QByteArray());
        QVERIFY(PeerEngineFixture::WaitFor(bob, 16, 1));
        QCOMPARE(PeerEngineFixture::Received(bob, 16).first(),
                 TestMessage().Str("a\r\nb").U8(0).U32(3).U32(0).U8(1).Body());

        // The picture: none for a missing file, an empty one for an empty
        // file, and none for one that no peer would accept in one frame.
        const QString path = s.fixture->Path("me.png");
        auto build = [&](const QString& description) {
            UserInfoReply::Contents contents;
            contents.description = description;
            contents.picturePath = path;
            contents.uploadSlots = 4294967295u;
            contents.queuedUploads = 7;
            return UserInfoReply::Build(contents).GetBytes();
        };
        const QByteArray tail = TestMessage().U32(4294967295u).U32(7).U8(0).Body();
        const QByteArray code = TestMessage().U32(16).Body();
        QCOMPARE(build(""), code + TestMessage().Str("").U8(0).Body() + tail);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(build("x"), code + TestMessage().Str("x").U8(1).U32(0).Body() + tail);
        file.write("\x89PNG");
        file.flush();
        QCOMPARE(build("x"), code + TestMessage().Str("x").U8(1).U32(4).Bytes("\x89PNG").Body() + tail);
        const qint64 fits = qint64(PeerMessages::MaxFrameLength) - 4 - (4 + 1) - 1 - 4 - 9;
        QVERIFY(file.resize(fits));
        const QByteArray whole = build("x");
        QCOMPARE(whole.size(), int(PeerMessages::MaxFrameLength));
        QCOMPARE(whole.at(9), '\x01');
        QVERIFY(file.resize(fits + 1));
        QCOMPARE(build("x"), code + TestMessage().Str("x").U8(0).Body() + tail);
    }

    // A peer that keeps asking and reads nothing holds one answer of ours,
    // and another peer asking meanwhile has its answer whole.
    void aPeerThatNeverReadsIsAnsweredOnceAndOthersStillAre()
    {
        s.Make();
        QVERIFY(s.Start());
        // Larger than the system's buffers on the way take, so the first
        // answer still waits in the client while the rest are asked.
        const QByteArray picture = TempTree::Pattern(6 * 1024 * 1024, 7);
        QVERIFY(s.fixture->WriteFile("me.png", picture).size() > 0);
        SetSetting("user_picture_file", s.fixture->Path("me.png"));
        FakePeerLink* mallory = s.fixture->LinkedPeer("mallory");
        FakePeerLink* bob = s.fixture->LinkedPeer("bob");
        QVERIFY(mallory && bob);
        mallory->StopReading();
        QSignalSpy handled(s.fixture->net.peer, &PeerMessenger::UploadPlaceInLineRequested);
        for (int i = 0; i < 30; ++i)
            mallory->SendMessage(15, QByteArray());
        mallory->SendMessage(51, TestMessage().Str("last").Body());
        bob->SendMessage(15, QByteArray());
        QVERIFY(handled.wait(30000));
        QVERIFY(PeerEngineFixture::WaitFor(bob, 16, 1, 30000));
        const QByteArray answer = PeerEngineFixture::Received(bob, 16).first();
        QCOMPARE(answer.mid(9, picture.size()), picture);
        const qint64 waiting = s.fixture->net.peer->UnwrittenBytes("mallory");
        QVERIFY2(waiting <= 8 + answer.size(), qPrintable(QString("%1 bytes wait").arg(waiting)));

        // Reading, it has had the one answer; asked again, it has another.
        mallory->ResumeReading();
        QVERIFY(PeerEngineFixture::WaitFor(mallory, 16, 1, 30000));
        SetSetting("user_description", "again");
        mallory->SendMessage(15, QByteArray());
        const QByteArray again = TestMessage().Str("again").Body();
        QTRY_VERIFY_WITH_TIMEOUT(PeerEngineFixture::Received(mallory, 16).value(1).startsWith(again) ||
                                     PeerEngineFixture::Received(mallory, 16).size() > 2,
                                 20000);
        QCOMPARE(PeerEngineFixture::Received(mallory, 16).size(), 2);
    }

    void aUserInfoTabShowsTheReply()
    {
        s.Make();
        QVERIFY(s.Start());
        d.GetType("event_sound")->GetItem("user_info") += d.GetType("event_sound_file")->GetItem("/s/info.wav");
        FakePeerLink* bob = s.fixture->LinkedPeer("bob");
        QVERIFY(bob);
        UserInfoForm* view = s.page->GetUserInfoForm("bob");
        QCOMPARE(s.page->GetUserInfoForm("bob"), view);
        QCOMPARE(Tabs()->count(), 1);
        QCOMPARE(Text(view)->toPlainText(), QString("Requesting..."));
        QVERIFY(PeerEngineFixture::WaitFor(bob, 15, 1));

        // Counts are unsigned on the wire; line ends are one break each,
        // with nothing of the carriage return left.
        QVERIFY(Reply(bob, "hello\r\n<b>world</b>", nullptr, 4294967295u, 3, false));
        QCOMPARE(Text(view)->toPlainText(), QString("hello\nworld"));
        QCOMPARE(Field(view, "uploadSlotsEdit"), QString("4294967295"));
        QCOMPARE(Field(view, "queuedUploadsEdit"), QString("3"));
        QCOMPARE(Field(view, "freeToUploadEdit"), QString("No"));
        QCOMPARE(s.fixture->sounds, QStringList{"/s/info.wav"});
        QCOMPARE(PeerEngineFixture::Received(bob, 15).size(), 1);

        // Sent again unasked, the answer changes nothing.
        const QByteArray wide = Png(Filled(1600, 400));
        QVERIFY(Reply(bob, "unasked", &wide, 1, 1, true));
        QCOMPARE(Text(view)->toPlainText(), QString("hello\nworld"));
        QCOMPARE(Field(view, "uploadSlotsEdit") + Field(view, "freeToUploadEdit"), QString("4294967295No"));
        QCOMPARE(s.fixture->sounds.size(), 1);

        QVERIFY(Answer(view, bob, "", nullptr));
        QCOMPARE(Text(view)->toPlainText(), QString("No user info."));
        QVERIFY(Answer(view, bob, "wide", &wide));
        QTRY_COMPARE(Picture(view), QSize(800, 200));
        const QByteArray fitting = Png(Filled(800, 400));
        QVERIFY(Answer(view, bob, "", &fitting));
        QTRY_COMPARE(Picture(view), QSize(800, 400));
        QVERIFY(Text(view)->document()->size().height() > 400);
        const QByteArray junk("no picture at all");
        QVERIFY(Answer(view, bob, "", &junk));
        QCOMPARE(Text(view)->toPlainText(), QString());

        // Closed, the tab forgets the user; opened again it asks again.
        emit Tabs()->tabCloseRequested(0);
        QCOMPARE(Tabs()->count(), 0);
        QVERIFY(!UsersSetup::User("bob")["user_info_form"]);
        QVERIFY(s.page->GetUserInfoForm("bob") != nullptr);
        QVERIFY(PeerEngineFixture::WaitFor(bob, 15, 6));
    }

    void onlyAFailedMessageConnectionEndsTheWait()
    {
        s.Make();
        QVERIFY(s.Start());
        FakePeerLink* bob = s.fixture->LinkedPeer("bob");
        QVERIFY(bob);
        UserInfoForm* view = s.page->GetUserInfoForm("bob");
        emit s.fixture->net.peer->ConnectionToUserFailed("bob", "F");
        QCOMPARE(Text(view)->toPlainText(), QString("Requesting..."));

        // Nobody of that name is online: every way to reach them fails.
        UserInfoForm* ghost = s.page->GetUserInfoForm("ghost");
        QTRY_COMPARE(Text(ghost)->toPlainText(), QString("A connection could not be successfully formed to the user."));
        QVERIFY(!ghost->IsWaiting());
    }

    void hostileMarkupAndPicturesAreInert()
    {
        FakePeerLink* bob = nullptr;
        UserInfoForm* view = BobsInfo(bob);
        QVERIFY(view);

        // Neither a device, nor a local picture, nor a link is followed.
        const QString local = s.fixture->Path("local.png");
        QFile file(local);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(Png(Filled(600, 600))) > 0);
        file.close();
        QVERIFY(Reply(bob,
                      QString("<img src=\"/dev/zero\"><img src=\"%1\"><img src=\"%2\"><a href=\"file:///etc/passwd\">"
                              "link</a>")
                          .arg(local, QUrl::fromLocalFile(local).toString()),
                      nullptr));
        QVERIFY(Text(view)->document()->size().height() < 200);
        QTextCursor at = Text(view)->document()->find("link");
        QVERIFY(!at.isNull());
        QTest::mouseClick(Text(view)->viewport(), Qt::LeftButton, {}, Text(view)->cursorRect(at).center());
        QVERIFY(Text(view)->source().isEmpty());
        QVERIFY(Text(view)->toPlainText().endsWith("link"));

        // Pictures larger than a screen are refused before decoding, with
        // a word in their place.
        const QByteArray tooWide = Png(Filled(UserPicture::MaxSide + 1, 1));
        const QByteArray tooMany = Png(Filled(2049, 2048, QImage::Format_Grayscale8));
        for (const QByteArray* picture : {&tooWide, &tooMany}) {
            QVERIFY(Answer(view, bob, "refused", picture));
            QTRY_COMPARE(Text(view)->toPlainText(),
                         UserPicture::Notice(UserPicture::Refusal::TooManyPixels) + "\nrefused");
            QCOMPARE(Picture(view), QSize(1, 1));
        }
    }

    void hostileDescriptionsAreShownBoundedAndWrapped()
    {
        FakePeerLink* bob = nullptr;
        UserInfoForm* view = BobsInfo(bob);
        QVERIFY(view);

        // Tables nested thousands deep once overflowed the stack of the
        // layout, and a megabyte without a space froze the window.
        QString tables;
        for (int i = 0; i < 5000; ++i)
            tables += "<table><tr><td>";
        QVERIFY(Reply(bob, tables + "deep", nullptr));
        QCOMPARE(Text(view)->toPlainText(), QString("deep"));
        QVERIFY(Answer(view, bob, QString(DescriptionMarkup::MaxSource + 1, 'w'), nullptr));
        const QString shown = Text(view)->toPlainText();
        QVERIFY(shown.startsWith(QString(DescriptionMarkup::MaxText, 'w') + "\n"));
        QVERIFY(shown.size() < DescriptionMarkup::MaxText + 200);
        // The long word is broken into the view's width, not scrolled along.
        QTRY_COMPARE_WITH_TIMEOUT(Text(view)->horizontalScrollBar()->maximum(), 0, 30000);
        QVERIFY(Text(view)->verticalScrollBar()->maximum() > 0);
        QVERIFY(Text(view)->toPlainText().contains("left out"));
    }

    void aPictureIsDecodedAwayFromTheWindowsThread()
    {
        FakePeerLink* bob = nullptr;
        UserInfoForm* view = BobsInfo(bob);
        QVERIFY(view);
        // Seen as the view has taken the answer: the description is shown,
        // the picture not yet.
        QString shownAtOnce;
        QSize pictureAtOnce;
        connect(s.fixture->net.peer, &PeerMessenger::UserInfoReceived, view, [&] {
            shownAtOnce = Text(view)->toPlainText();
            pictureAtOnce = Picture(view);
        });

        const QByteArray honest = Png(Filled(1600, 400));
        QVERIFY(Reply(bob, "honest", &honest));
        QCOMPARE(shownAtOnce, QString("honest"));
        QCOMPARE(pictureAtOnce, QSize(1, 1));
        QTRY_COMPARE(Picture(view), QSize(800, 200));

        // A picture that would take thousands of passes is never decoded.
        const QByteArray hostile = ManyScans(Jpeg(Filled(64, 64)), 2000);
        QVERIFY(Answer(view, bob, "hostile", &hostile));
        QCOMPARE(shownAtOnce, QString("hostile"));
        QTRY_COMPARE(Text(view)->toPlainText(), UserPicture::Notice(UserPicture::Refusal::TooManyScans) + "\nhostile");
    }

    void picturesDecodedTogetherComeBackEachToItsReceiverOnce()
    {
        // Many at once, each its own width, handed back while the window's
        // thread is busy or asleep between turns.
        const QSize bounds(UserInfoForm::PictureWidth, UserInfoForm::PictureHeight);
        const int count = 40;
        std::vector<std::unique_ptr<QObject>> receivers;
        QMap<int, QList<int>> widths;
        for (int i = 0; i < count; ++i) {
            receivers.emplace_back(new QObject);
            UserPictureLoader::Instance()->Load(
                Png(Filled(i + 1, 1)), bounds, receivers.back().get(),
                [&widths, i](const QImage& picture, UserPicture::Refusal refusal) {
                    widths[i] << (refusal == UserPicture::Refusal::None ? picture.width() : -1);
                });
        }
        // A receiver gone before its picture is back hears nothing of it.
        for (int i = 0; i < count; i += 3)
            receivers[i].reset();
        QTRY_COMPARE_WITH_TIMEOUT(widths.size(), count - (count + 2) / 3, 30000);
        for (int i = 0; i < count; ++i)
            QCOMPARE(widths.value(i), i % 3 ? QList<int>{i + 1} : QList<int>());
    }

    void picturesAreRefusedForWhatTheyWouldCostToDecode()
    {
        const QSize bounds(UserInfoForm::PictureWidth, UserInfoForm::PictureHeight);
        auto refusal = [&](const QByteArray& bytes) {
            UserPicture::Refusal why = UserPicture::Refusal::None;
            const QImage picture = UserPicture::Decode(bytes, bounds, &why);
            return picture.isNull() ? why : UserPicture::Refusal::None;
        };
        using R = UserPicture::Refusal;

        // A GIF decodes onto its whole screen, grown to where its frame
        // lies, however small the frame.
        QCOMPARE(refusal(Gif(10000, 4000, 0, 0, 1, 1)), R::TooManyPixels);
        QCOMPARE(refusal(Gif(0, 0, 3000, 3000, 1, 1)), R::TooManyPixels);
        QCOMPARE(refusal(Png(Filled(2049, 2048, QImage::Format_Grayscale8))), R::TooManyPixels);

        // A JPEG of one sequential scan is decoded straight to the size
        // shown, a camera's thumbnail beside it or not; a progressive one is
        // held whole.
        const QImage large = Filled(2100, 2100);
        const QByteArray sequential = Jpeg(large, false);
        const QByteArray thumbnail = Jpeg(Filled(16, 16), false);
        const QByteArray app1 = QByteArray("\xff\xe1", 2) + char((thumbnail.size() + 2) >> 8) +
                                char((thumbnail.size() + 2) & 0xff) + thumbnail;
        QCOMPARE(refusal(sequential), R::None);
        QCOMPARE(refusal(sequential.left(2) + app1 + sequential.mid(2)), R::None);
        QCOMPARE(refusal(Jpeg(large)), R::TooManyPixels);

        const QByteArray progressive = Jpeg(Filled(64, 64));
        QCOMPARE(UserPicture::Decode(progressive, bounds).size(), QSize(64, 64));
        QCOMPARE(refusal(ManyScans(progressive, UserPicture::MaxScans)), R::TooManyScans);

        // Any picture's bytes are bounded, those of a JPEG held whole more.
        const QByteArray padded = Png(Filled(4, 4)).leftJustified(UserPicture::MaxBytes + 1, '\0');
        QCOMPARE(refusal(padded), R::TooManyBytes);
        const int held = UserPicture::MaxHeldJpegBytes + 1;
        QCOMPARE(refusal(progressive.leftJustified(held, '\0')), R::TooManyBytes);
        QCOMPARE(refusal(Jpeg(Filled(64, 64), false).leftJustified(held, '\0')), R::None);
    }

    void aUsersNameIsItsTabTitleAsItIs()
    {
        s.Make();
        QVERIFY(s.Start());
        const QString name = QString("r&b") + QChar(0x202e) + "gnp.exe";
        UserInfoForm* view = s.page->GetUserInfoForm(name);
        QVERIFY(view && view->User() == name);
        QVERIFY(DrawsName(Tabs()->tabText(Tabs()->indexOf(view)), name));
        QCOMPARE(s.page->GetUserInfoForm(name), view);
    }

    void picturesAreReadOnlyInRasterFormats()
    {
        const QSize bounds(UserInfoForm::PictureWidth, UserInfoForm::PictureHeight);
        const QImage image = Filled(40, 20);
        for (const char* format : {"PNG", "JPEG", "BMP"}) {
            const QByteArray bytes = Encoded(image, format);
            QVERIFY2(!bytes.isEmpty(), format);
            QCOMPARE(UserPicture::Decode(bytes, bounds).size(), QSize(40, 20));
        }
        // The smallest GIF there is: one pixel.
        const QByteArray gif =
            QByteArray::fromHex("47494638396101000100800000000000ffffff21f90401000000002c0000000001000"
                                "1000002024401003b");
        QCOMPARE(UserPicture::Decode(gif, bounds).size(), QSize(1, 1));

        // Drawings and the toolkit's other readers are never reached, nor
        // is any reader but the one the signature names.
        const QByteArray svg("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" height=\"20\">"
                             "<rect width=\"40\" height=\"20\" fill=\"red\"/></svg>");
        if (QImageReader::supportedImageFormats().contains("svg"))
            QVERIFY(!QImage::fromData(svg).isNull());
        const QByteArray xpm("/* XPM */\nstatic char *x[] = {\"2 1 1 1\", \". c #ff0000\", \"..\"};\n");
        QVERIFY(!QImage::fromData(xpm).isNull());
        for (const QByteArray& other :
             {svg, xpm, Encoded(image, "PPM"), QByteArray("BM") + svg, QByteArray("GIF89a") + Encoded(image, "PNG")})
            QVERIFY(UserPicture::Decode(other, bounds).isNull());
    }
};

QTEST_MAIN(TestUserInfo)
#include "TestUserInfo.moc"
