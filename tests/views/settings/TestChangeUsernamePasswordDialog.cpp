// The user name and password dialog: filled from the settings, stores the
// trimmed values only when both are given, and in change mode goes away by
// itself after OK but not after Cancel.
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "Data.h"
#include "Settings.h"
#include "settings/ChangeUsernamePasswordDialog.h"

class TestChangeUsernamePasswordDialog : public QObject
{
    Q_OBJECT

private:
    static void Enter(QDialog* dialog, const QString& username, const QString& password)
    {
        dialog->findChild<QLineEdit*>("usernameEdit")->setText(username);
        dialog->findChild<QLineEdit*>("passwordEdit")->setText(password);
    }

    static void Press(QDialog* dialog, QDialogButtonBox::StandardButton button)
    {
        dialog->findChild<QDialogButtonBox*>("buttonBox")->button(button)->click();
    }

private slots:
    void init()
    {
        d.Reset();
        DeclareSettingTypes();
    }

    void firstRunStoresTrimmedValuesAndStaysOwnedByTheCaller()
    {
        ChangeUsernamePasswordDialog dialog(true, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("Set Username/Password"));
        QCOMPARE(dialog.findChild<QLineEdit*>("usernameEdit")->text(), QString());
        dialog.show();

        Enter(&dialog, "  alice \t", " pa ss ");
        // Anyone who sees the screen would read a password shown as typed.
        QVERIFY(!dialog.findChild<QLineEdit*>("passwordEdit")->displayText().contains("pa"));
        Press(&dialog, QDialogButtonBox::Ok);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(GetSetting("username"), QString("alice"));
        QCOMPARE(GetSetting("password"), QString("pa ss"));
        // Nothing deletes a first-run dialog but its owner: a deferred
        // delete of this one, on the stack, would crash at the end of scope.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isHidden());
    }

    void emptyFieldsKeepTheDialogOpenAndStoreNothing()
    {
        SetSetting("username", "old");
        SetSetting("password", "oldpw");
        QPointer<ChangeUsernamePasswordDialog> dialog = new ChangeUsernamePasswordDialog(false, nullptr);
        QCOMPARE(dialog->windowTitle(), QString("Change Username/Password"));
        QCOMPARE(dialog->findChild<QLineEdit*>("usernameEdit")->text(), QString("old"));
        QCOMPARE(dialog->findChild<QLineEdit*>("passwordEdit")->text(), QString("oldpw"));
        QVERIFY(!dialog->findChild<QLineEdit*>("passwordEdit")->displayText().contains("old"));
        dialog->show();

        Enter(dialog, "new", "   ");
        Press(dialog, QDialogButtonBox::Ok);
        QVERIFY(dialog->isVisible());
        Enter(dialog, " \t ", "newpw");
        Press(dialog, QDialogButtonBox::Ok);
        QVERIFY(dialog->isVisible());
        QCOMPARE(GetSetting("username"), QString("old"));
        QCOMPARE(GetSetting("password"), QString("oldpw"));

        // Cancel stores nothing, and the dialog goes rather than staying
        // hidden for the rest of the run.
        Enter(dialog, "new", "newpw");
        Press(dialog, QDialogButtonBox::Cancel);
        QVERIFY(!dialog->isVisible());
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(GetSetting("username"), QString("old"));
    }

    void changeModeStoresAndDeletesItself()
    {
        SetSetting("username", "old");
        QWidget owner;
        QPointer<ChangeUsernamePasswordDialog> dialog = new ChangeUsernamePasswordDialog(false, &owner);
        dialog->show();
        Enter(dialog, "new", "newpw");
        Press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(GetSetting("username"), QString("new"));
        QCOMPARE(GetSetting("password"), QString("newpw"));
        QTRY_VERIFY(dialog.isNull());
    }
};

QTEST_MAIN(TestChangeUsernamePasswordDialog)

#include "TestChangeUsernamePasswordDialog.moc"
