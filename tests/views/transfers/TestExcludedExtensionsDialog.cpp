// The excluded download extensions dialog: endings stored as typed after
// trimming, once each, case kept; several removed at once from the menu;
// the list following the store; one dialog at a time.
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

    QListWidget* List() const { return dialog->findChild<QListWidget*>("extensionListWidget"); }
    void Type(const QString& text)
    {
        dialog->findChild<QLineEdit*>("newExtensionEdit")->setText(text);
        dialog->findChild<QPushButton*>("newExtensionButton")->click();
    }
    QStringList Rows() const
    {
        QStringList texts;
        for (int i = 0; i < List()->count(); ++i)
            texts << List()->item(i)->text();
        return texts;
    }
    static QStringList Stored()
    {
        QStringList texts;
        for (const ItemPtr& item : d.GetType("excluded_download_extension")->GetItems())
            texts << item.AsString();
        texts.sort();
        return texts;
    }

private slots:
    void init()
    {
        f.reset(new ViewFixture);
        d.GetType("excluded_download_extension")->GetItem(".ini");
        dialog = ExcludedExtensionsDialog::Open(f->window);
    }
    void cleanup() { f.reset(); }

    void endingsAreStoredAsTypedOnceEach()
    {
        QCOMPARE(Rows(), QStringList({".ini"}));
        Type("  .zip\t");
        QCOMPARE(Rows(), QStringList({".ini", ".zip"}));
        QCOMPARE(dialog->findChild<QLineEdit*>("newExtensionEdit")->text(), QString());
        Type(".zip");
        Type("   ");
        Type(".avi");
        QCOMPARE(Rows(), QStringList({".avi", ".ini", ".zip"}));
        // No dot is added, and another case is another ending, though it
        // excludes the same files.
        Type("avi");
        Type(".ZIP");
        QCOMPARE(Stored(), QStringList({".ZIP", ".avi", ".ini", ".zip", "avi"}));
        QCOMPARE(List()->count(), 5);
        QVERIFY(f->transfers->HasExcludedDownloadExtension("music\\Movie.AVI"));

        // Endings changed elsewhere show too.
        d.GetType("excluded_download_extension")->GetItem(".tmp");
        d.GetType("excluded_download_extension")->HasItem(".ini").Remove();
        QCOMPARE(List()->findItems(".tmp", Qt::MatchExactly).size(), 1);
        QCOMPARE(List()->findItems(".ini", Qt::MatchExactly).size(), 0);
    }

    void severalSelectedEndingsAreRemovedTogether()
    {
        for (const char* ending : {".a", ".b", ".B", ".c"})
            Type(ending);
        QListWidget* list = List();
        auto row = [&](const QString& text) {
            return list->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive).first();
        };
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
        // The selection is removed, not the row under the pointer.
        QCOMPARE(Stored(), QStringList({".B", ".a", ".ini"}));
        QCOMPARE(list->count(), 3);
    }

    void oneDialogAtATime()
    {
        QCOMPARE(ExcludedExtensionsDialog::Open(f->window), dialog);
        QCOMPARE(f->window->findChildren<ExcludedExtensionsDialog*>().size(), 1);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!excludedExtensionsDialog);
        QVERIFY(f->window->findChildren<ExcludedExtensionsDialog*>().isEmpty());

        d.GetType("excluded_download_extension")->GetItem(".part");
        dialog = ExcludedExtensionsDialog::Open(f->window);
        QCOMPARE(Rows(), QStringList({".ini", ".part"}));
    }
};

QTEST_MAIN(TestExcludedExtensionsDialog)
#include "TestExcludedExtensionsDialog.moc"
