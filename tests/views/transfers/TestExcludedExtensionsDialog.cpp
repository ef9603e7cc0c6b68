// The excluded download extensions dialog: endings stored as typed after
// trimming, once each, case kept; the list following the store; several
// removed at once from the menu; a new dialog once the last one closed.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "TransferQueueManager.h"
#include "TransfersPageHarness.h"
#include "transfers/ExcludedExtensionsDialog.h"

class TestExcludedExtensionsDialog : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ViewFixture> f;
    ExcludedExtensionsDialog* dialog = nullptr;
    Type* endings = nullptr;

    QListWidget* List() const { return dialog->findChild<QListWidget*>("extensionListWidget"); }
    QLineEdit* Edit() const { return dialog->findChild<QLineEdit*>("newExtensionEdit"); }
    void Enter(const QString& text)
    {
        Edit()->setText(text);
        dialog->findChild<QPushButton*>("newExtensionButton")->click();
    }
    QStringList Rows() const
    {
        QStringList texts;
        for (int i = 0; i < List()->count(); ++i)
            texts << List()->item(i)->text();
        return texts;
    }
    QStringList Stored() const
    {
        QStringList texts;
        for (const ItemPtr& item : endings->GetItems())
            texts << item.AsString();
        texts.sort();
        return texts;
    }

private slots:
    void init()
    {
        f.reset(new ViewFixture);
        endings = d.GetType("excluded_download_extension");
        endings->GetItem(".ini");
        dialog = ExcludedExtensionsDialog::Open(f->window);
    }
    void cleanup() { f.reset(); }

    void endingsAreStoredAsTypedOnceEach()
    {
        Enter("  .zip\t");
        QCOMPARE(Edit()->text(), QString());
        Enter(".zip");
        Enter("   ");
        Enter(".avi");
        QCOMPARE(Rows(), QStringList({".avi", ".ini", ".zip"}));
        // No dot is added, and another case is another ending, though it
        // excludes the same files.
        Enter("avi");
        Enter(".ZIP");
        QCOMPARE(Stored(), QStringList({".ZIP", ".avi", ".ini", ".zip", "avi"}));
        QCOMPARE(List()->count(), 5);
        QVERIFY(f->transfers->HasExcludedDownloadExtension("music\\Movie.AVI"));

        // Endings changed elsewhere show too.
        endings->GetItem(".tmp");
        endings->HasItem(".ini").Remove();
        QCOMPARE(Rows().filter(".tmp").size(), 1);
        QCOMPARE(Rows().filter(".ini").size(), 0);
    }

    void theSelectedEndingsAreRemovedFromTheMenu()
    {
        for (const char* ending : {".a", ".b", ".B", ".c"})
            Enter(ending);
        QListWidget* list = List();
        auto row = [&](const QString& text) { return list->item(Rows().indexOf(text)); };
        row(".b")->setSelected(true);
        row(".c")->setSelected(true);
        // Below the last row there is nothing to remove.
        QVERIFY(!TransfersPageHarness::WithMenu(list, QPoint(5, list->viewport()->height() - 2), [](QMenu*) {}));
        list->doItemsLayout();
        QStringList offered;
        QVERIFY(TransfersPageHarness::WithMenu(list, list->visualItemRect(row(".a")).center(), [&](QMenu* menu) {
            offered = TransfersPageHarness::Texts(menu);
            TransfersPageHarness::Trigger(menu, "Remove");
        }));
        QCOMPARE(offered, QStringList({"Remove"}));
        // The selection goes, not the row under the pointer.
        QCOMPARE(Stored(), QStringList({".B", ".a", ".ini"}));
        QCOMPARE(list->count(), 3);

        // Closed, the dialog goes; the next one lists what is stored then.
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!excludedExtensionsDialog);
        endings->GetItem(".part");
        dialog = ExcludedExtensionsDialog::Open(f->window);
        QCOMPARE(Stored(), QStringList({".B", ".a", ".ini", ".part"}));
        QCOMPARE(List()->count(), 4);
    }
};

QTEST_MAIN(TestExcludedExtensionsDialog)
#include "TestExcludedExtensionsDialog.moc"
