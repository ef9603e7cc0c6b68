// The administrator message window: the text as sent with its arrival
// time, markup shown as formatting but nothing it names loaded, the window
// gone when closed, and of many messages the newest, each whole up to a
// bound far beyond a chat line's, in a text that lays out at once.
#include <QAbstractTextDocumentLayout>
#include <QDateTime>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include "common/PeerText.h"
#include "settings/AdminMessageDialog.h"

class TestAdminMessageDialog : public QObject
{
    Q_OBJECT

private slots:
    void showsTheMessageWithItsArrivalTime()
    {
        const QDateTime before = QDateTime::currentDateTime();
        QPointer<AdminMessageDialog> dialog = new AdminMessageDialog("Maintenance tonight.\nBack at six.");
        QCOMPARE(dialog->windowTitle(), QString("QuorvaneQt Admin Message"));
        auto* text = dialog->findChild<QTextEdit*>("textEdit");
        QVERIFY(text->isReadOnly());
        QCOMPARE(text->focusPolicy(), Qt::NoFocus);
        QCOMPARE(text->toPlainText(), QString("Maintenance tonight.\nBack at six."));
        const QString time = dialog->findChild<QLineEdit*>("timeEdit")->text();
        // Any second from before the dialog was made to now.
        QStringList allowed;
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        for (QDateTime second = before; second < after; second = second.addSecs(1))
            allowed << second.toString("MMM d h:mm:ss ap");
        QVERIFY2(allowed.contains(time), qPrintable(time));

        dialog->show();
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isNull());
    }

    void markupIsFormattedButLoadsNothing()
    {
        QTemporaryDir dir;
        const QString picture = dir.filePath("big.png");
        QImage big(600, 900, QImage::Format_RGB32);
        big.fill(Qt::red);
        QVERIFY(big.save(picture));

        AdminMessageDialog dialog(QString("<b>Read</b> this<img src=\"%1\"><img src=\"file://%1\">").arg(picture));
        dialog.resize(337, 166);
        dialog.show();
        auto* text = dialog.findChild<QTextEdit*>("textEdit");
        QTextDocument* document = text->document();
        QCOMPARE(document->toPlainText().left(9), QString("Read this"));
        QVERIFY(document->toHtml().contains("font-weight:600"));
        // Laid out with the picture it names, the text would be 900 high.
        const QSizeF size = document->documentLayout()->documentSize();
        QVERIFY2(size.height() < 200, qPrintable(QString::number(size.height())));
        QVERIFY(
            document->resource(QTextDocument::ImageResource, QUrl::fromLocalFile(picture)).value<QImage>().width() <=
            1);
    }

    void manyMessagesKeepTheNewestWhateverTheirMarkup()
    {
        AdminMessageDialog dialog("<h1>first</h1>");
        const int count = AdminMessageDialog::KeptMessages + 5;
        for (int i = 1; i <= count; ++i) {
            dialog.AddMessage(i % 2 ? QString("<table><tr><td>cell %1</td></tr></table><ul><li>item</li></ul>").arg(i)
                                    : QString("plain %1\nsecond line").arg(i));
        }
        auto* text = dialog.findChild<QTextEdit*>("textEdit");
        QTRY_VERIFY(text->toPlainText().contains(QString("cell %1").arg(count)));
        const QString shown = text->toPlainText();
        QVERIFY2(shown.startsWith("6 older messages not shown.\nSent "), qPrintable(shown.left(80)));
        QCOMPARE(shown.count("Sent "), AdminMessageDialog::KeptMessages);
        QVERIFY(!shown.contains("cell 5\n") && !shown.contains("first"));
        QVERIFY(shown.contains("plain 6\nsecond line\nSent "));
        // What a user reads: the places to break a long word are invisible.
        const auto read = [text] { return text->toPlainText().remove(QChar(0x200b)); };
        // An operator's notice far longer than a chat line shows whole.
        const QString notice = "<b>Terms</b> " + QString(2700, 'z');
        dialog.AddMessage(notice);
        QTRY_VERIFY(read().endsWith("Terms " + QString(2700, 'z')));
        // Cut short inside a tag, one past the window's bound still says
        // what was left out.
        const int cap = AdminMessageDialog::MessageCap;
        const QString longOne = "<b>" + QString(cap, 'y') + "<img src=\"x.png\"></b>";
        dialog.AddMessage(longOne);
        QTRY_VERIFY(read().endsWith(PeerText::LeftOutNotice(longOne.size() - cap)));
        QVERIFY(read().startsWith("8 older messages not shown.\nSent "));
        // Another as long leaves room for no other: the window keeps no more
        // than it can lay out again at once, and no word in it is longer
        // than a few hundred characters.
        dialog.AddMessage(QString(cap, 'w'));
        QTRY_VERIFY(read().endsWith(QString(cap, 'w')));
        QVERIFY(read().startsWith("37 older messages not shown.\nSent "));
        QCOMPARE(read().count("Sent "), 2);
        QCOMPARE(text->toPlainText().split(QRegularExpression("[\\s\\x{200b}]")).filter(QRegularExpression(".{201}")),
                 QStringList());
    }
};

QTEST_MAIN(TestAdminMessageDialog)

#include "TestAdminMessageDialog.moc"
