// The listening-port dialog: it refuses ports outside 1 to 65535 and the
// current port, keeping itself open; an accepted port is only pending until
// the next start; either way it is gone once closed.
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "Data.h"
#include "DialogAnswerer.h"
#include "Settings.h"
#include "settings/ChangeListeningPortDialog.h"

namespace {

void Enter(QDialog* dialog, const QString& text)
{
    QLineEdit* edit = dialog->findChild<QLineEdit*>("portEdit");
    edit->selectAll();
    edit->del();
    QTest::keyClicks(edit, text);
}

void Press(QDialog* dialog, QDialogButtonBox::StandardButton button)
{
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(button)->click();
}

bool Gone(QPointer<ChangeListeningPortDialog>& dialog)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return dialog.isNull();
}

} // namespace

class TestChangeListeningPortDialog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        d.Reset();
        DeclareSettingTypes();
        SetSetting("listening_port", "2235");
    }

    void refusedPortsKeepTheDialogOpenAndStoreNothing()
    {
        QPointer<ChangeListeningPortDialog> dialog = new ChangeListeningPortDialog;
        QCOMPARE(dialog->windowTitle(), QString("Change Listening Port"));
        auto* edit = dialog->findChild<QLineEdit*>("portEdit");
        QCOMPARE(edit->text(), QString("2235"));
        QCOMPARE(edit->inputMask(), QString("D9999"));
        dialog->show();

        DialogAnswerer answers;
        for (int i = 0; i < 5; ++i)
            answers.Then(DialogAnswerer::Press(QMessageBox::Ok));
        Enter(dialog, "65536");
        Press(dialog, QDialogButtonBox::Ok);
        Enter(dialog, "");
        Press(dialog, QDialogButtonBox::Ok);
        // The mask keeps a zero out of the first place, so it counts as
        // nothing there.
        Enter(dialog, "0");
        Press(dialog, QDialogButtonBox::Ok);
        Enter(dialog, "2235");
        Press(dialog, QDialogButtonBox::Ok);
        SetSetting("new_listening_port", "4000");
        Press(dialog, QDialogButtonBox::Ok);

        QCOMPARE(answers.Titles(), QStringList({"Invalid Port Number", "Invalid Port Number", "Invalid Port Number",
                                                "Port Number Not Changed", "Port Number Not Changed"}));
        QCOMPARE(answers.Texts().value(0), QString("Port number must be in the range of 1 to 65535."));
        QCOMPARE(answers.Texts().value(3), QString("Port number has not been changed."));
        QVERIFY(dialog->isVisible());
        QCOMPARE(GetSetting("new_listening_port"), QString("4000"));

        // Cancel takes the dialog away too.
        Press(dialog, QDialogButtonBox::Cancel);
        QVERIFY(Gone(dialog));
    }

    void anAcceptedPortIsPendingAndTheLastOneWins()
    {
        for (const char* port : {"65535", "3000"}) {
            QPointer<ChangeListeningPortDialog> dialog = new ChangeListeningPortDialog;
            dialog->show();
            DialogAnswerer answers;
            answers.Then(DialogAnswerer::Press(QMessageBox::Ok));
            Enter(dialog, port);
            Press(dialog, QDialogButtonBox::Ok);
            QCOMPARE(answers.Titles(), QStringList({"Change to Listening Port Pending"}));
            QCOMPARE(answers.Texts().value(0),
                     QString("Changes to the listening port will take effect after a client restart."));
            QCOMPARE(GetSetting("new_listening_port"), port);
            QVERIFY(Gone(dialog));
        }
        QCOMPARE(GetSetting("listening_port"), QString("2235"));
    }
};

QTEST_MAIN(TestChangeListeningPortDialog)

#include "TestChangeListeningPortDialog.moc"
