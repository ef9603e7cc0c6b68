// The share dialog: a new folder is shared with the audience chosen, an
// existing one changes audience, the three levels disable what they make
// moot, and nothing changes before OK, nor for a folder or group that went
// away while the dialog was open.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "Data.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "StandardDialogAnswers.h"
#include "Type.h"
#include "ViewFixture.h"
#include "shares/AddSharedFolderDialog.h"

namespace {

struct Form
{
    explicit Form(QDialog* dialog)
        : everyone(dialog->findChild<QCheckBox*>("everyoneCheckBox")),
          userList(dialog->findChild<QCheckBox*>("userListCheckBox")),
          groups(dialog->findChild<QListWidget*>("groupsListWidget")),
          path(dialog->findChild<QLineEdit*>("selectedFolderEdit")),
          select(dialog->findChild<QPushButton*>("selectFolderButton")),
          buttons(dialog->findChild<QDialogButtonBox*>("buttonBox"))
    {
    }
    void Ok() { buttons->button(QDialogButtonBox::Ok)->click(); }
    void Cancel() { buttons->button(QDialogButtonBox::Cancel)->click(); }
    QListWidgetItem* Group(const QString& name)
    {
        const QList<QListWidgetItem*> found = groups->findItems(name, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }
    QStringList GroupTexts() const
    {
        QStringList texts;
        for (int i = 0; i < groups->count(); ++i)
            texts << groups->item(i)->text();
        return texts;
    }

    QCheckBox* everyone;
    QCheckBox* userList;
    QListWidget* groups;
    QLineEdit* path;
    QPushButton* select;
    QDialogButtonBox* buttons;
};

QStringList GroupsOf(ItemPtr folder)
{
    QStringList names;
    for (const ItemPtr& group : folder.GetItems("user_list_group"))
        names << group.AsString();
    names.sort();
    return names;
}

bool Gone(QPointer<AddSharedFolderDialog>& dialog)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return dialog.isNull();
}

} // namespace

class TestAddSharedFolderDialog : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ViewFixture> m_views;

    Type* Groups() { return d.GetType("user_list_group"); }
    ItemPtr Folder(const QString& relative) { return d.GetType("shared_folder")->HasItem(m_views->Path(relative)); }

    ItemPtr Shared(const QString& relative) { return ShareScanned(m_views->shares, m_views->MakeFolder(relative)); }

private slots:
    void init()
    {
        d.Reset();
        m_views.reset(new ViewFixture);
        for (const char* name : {"friends", "Band", "work"})
            Groups()->GetItem(name);
    }

    void cleanup() { m_views.reset(); }

    void aNewFolderIsSharedWithEveryoneByDefault()
    {
        StandardDialogAnswers choosers;
        QPointer<AddSharedFolderDialog> dialog = new AddSharedFolderDialog(ItemPtr());
        Form form(dialog);
        dialog->show();
        QCOMPARE(dialog->windowTitle(), QString("Add Shared Folder"));
        QVERIFY(form.everyone->isChecked() && form.userList->isChecked());
        QVERIFY(!form.userList->isEnabled() && !form.groups->isEnabled());
        QCOMPARE(form.GroupTexts(), QStringList({"Band", "friends", "work"}));

        // OK without a folder does nothing, silently.
        form.Ok();
        QVERIFY(dialog->isVisible());

        form.select->click();
        QCOMPARE(choosers.asked.value(0).caption, QString("Select Folder to Share"));
        QCOMPARE(choosers.asked.value(0).parent, static_cast<QWidget*>(dialog));
        QVERIFY(form.path->text().isEmpty());
        choosers.paths << m_views->MakeFolder("music");
        form.select->click();
        QCOMPARE(form.path->text(), m_views->Path("music"));
        QCOMPARE(int(d.GetType("shared_folder")->Count()), 0);

        form.Ok();
        QVERIFY(Gone(dialog));
        const ItemPtr folder = Folder("music");
        QVERIFY(folder);
        QVERIFY(folder.IsConnected("shared_public"));
        QVERIFY(!folder.IsConnected("shared_userlist"));
        QVERIFY(GroupsOf(folder).isEmpty());
        // Shared through the manager: it has its id.
        QVERIFY(folder.IsConnected("shared_folder_id"));
    }

    void cancelSharesNothingAndTheDialogGoes()
    {
        QPointer<AddSharedFolderDialog> dialog = new AddSharedFolderDialog(ItemPtr());
        Form form(dialog);
        form.path->setText(m_views->MakeFolder("music"));
        dialog->show();
        form.Cancel();
        QVERIFY(Gone(dialog));
        QCOMPARE(int(d.GetType("shared_folder")->Count()), 0);
    }

    void anExistingFolderShowsAndChangesItsAudience()
    {
        ItemPtr folder = Shared("music");
        folder.NewItem("shared_public");
        folder.Connect(Groups()->GetItem("work"));

        QPointer<AddSharedFolderDialog> dialog = new AddSharedFolderDialog(folder);
        Form form(dialog);
        QCOMPARE(form.path->text(), m_views->Path("music"));
        QVERIFY(!form.path->isEnabled() && !form.select->isEnabled());
        QVERIFY(form.everyone->isChecked() && form.userList->isChecked() && !form.groups->isEnabled());
        QCOMPARE(form.Group("work")->checkState(), Qt::Checked);
        QCOMPARE(form.Group("friends")->checkState(), Qt::Unchecked);

        // To the user list: the groups made earlier stay as they are.
        form.everyone->setChecked(false);
        form.Ok();
        QVERIFY(Gone(dialog));
        QVERIFY(!folder.IsConnected("shared_public"));
        QVERIFY(folder.IsConnected("shared_userlist"));
        QCOMPARE(GroupsOf(folder), QStringList({"work"}));

        // To groups only: exactly the ticked ones.
        dialog = new AddSharedFolderDialog(folder);
        Form groupsForm(dialog);
        QVERIFY(!groupsForm.everyone->isChecked() && groupsForm.userList->isChecked());
        QVERIFY(groupsForm.userList->isEnabled() && !groupsForm.groups->isEnabled());
        groupsForm.userList->setChecked(false);
        QVERIFY(groupsForm.groups->isEnabled());
        groupsForm.Group("work")->setCheckState(Qt::Unchecked);
        groupsForm.Group("Band")->setCheckState(Qt::Checked);
        groupsForm.Group("friends")->setCheckState(Qt::Checked);
        groupsForm.Ok();
        QVERIFY(!folder.IsConnected("shared_public") && !folder.IsConnected("shared_userlist"));
        QCOMPARE(GroupsOf(folder), QStringList({"Band", "friends"}));

        // Nothing ticked: nobody else sees it.
        dialog = new AddSharedFolderDialog(folder);
        Form noneForm(dialog);
        QVERIFY(noneForm.groups->isEnabled());
        noneForm.Group("Band")->setCheckState(Qt::Unchecked);
        noneForm.Group("friends")->setCheckState(Qt::Unchecked);
        noneForm.Ok();
        QVERIFY(GroupsOf(folder).isEmpty());
        QVERIFY(!folder.IsConnected("shared_public") && !folder.IsConnected("shared_userlist"));
    }

    void choosingAFolderAlreadySharedEditsIt()
    {
        ItemPtr folder = Shared("music");
        folder.NewItem("shared_public");
        auto* dialog = new AddSharedFolderDialog(ItemPtr());
        Form form(dialog);
        form.path->setText(m_views->Path("music"));
        form.everyone->setChecked(false);
        form.Ok();
        QCOMPARE(int(d.GetType("shared_folder")->Count()), 1);
        QVERIFY(folder.IsConnected("shared_userlist") && !folder.IsConnected("shared_public"));
    }

    void whatWentAwayMeanwhileStaysAway()
    {
        ItemPtr folder = Shared("music");
        folder.NewItem("shared_public");
        QPointer<AddSharedFolderDialog> dialog = new AddSharedFolderDialog(folder);
        Form form(dialog);
        form.everyone->setChecked(false);
        form.userList->setChecked(false);
        form.Group("work")->setCheckState(Qt::Checked);
        form.Group("Band")->setCheckState(Qt::Checked);

        // A group deleted elsewhere is not made again.
        Groups()->HasItem("Band").Remove();
        form.Ok();
        QVERIFY(!Groups()->HasItem("Band"));
        QCOMPARE(GroupsOf(folder), QStringList({"work"}));

        // A folder unshared elsewhere is not shared again.
        dialog = new AddSharedFolderDialog(folder);
        Form second(dialog);
        second.everyone->setChecked(true);
        folder.Remove();
        d.RemoveDisconnectedItems();
        second.Ok();
        QVERIFY(Gone(dialog));
        QCOMPARE(int(d.GetType("shared_folder")->Count()), 0);
    }
};

QTEST_MAIN(TestAddSharedFolderDialog)

#include "TestAddSharedFolderDialog.moc"
