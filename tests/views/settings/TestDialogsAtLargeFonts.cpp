// The small dialogs at the fonts the Options page offers: every text shows
// whole and no control lies on another, at the default font and at 12 and
// 14 points, including the title and the lines the dialogs fill in, and
// the colour swatches in even columns.
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <memory>

#include "Data.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "TextFit.h"
#include "settings/AdminMessageDialog.h"
#include "settings/ChangeListeningPortDialog.h"
#include "settings/ChangeUsernamePasswordDialog.h"
#include "settings/ColorSelectionDialog.h"
#include "settings/ColorSettings.h"
#include "settings/GiftPrivilegesDialog.h"
#include "shares/AddSharedFolderDialog.h"
#include "shares/SharedFilesRescannedDialog.h"

namespace {

using MakeDialog = std::function<QDialog*()>;

} // namespace

Q_DECLARE_METATYPE(MakeDialog)

class TestDialogsAtLargeFonts : public QObject
{
    Q_OBJECT

private:
    QFont m_startFont;

    // Shows the dialog as the program does and lets its layout settle.
    static void Show(QDialog* dialog)
    {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        m_startFont = QApplication::font();
        defaultPalette = QApplication::palette();
    }

    void init()
    {
        d.Reset();
        DeclareSettingTypes();
        SetSetting("listening_port", "2235");
        SetSetting("username", "marta");
        SetSetting("password", "secret");
        for (const ColorSettings::Entry& entry : ColorSettings::Entries())
            SetSetting(entry.key, ColorSettings::Default(entry, defaultPalette).name());
    }

    void cleanup()
    {
        QApplication::setFont(m_startFont);
        d.Reset();
    }

    void everyTextShowsWhole_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<MakeDialog>("make");
        const QList<QPair<const char*, MakeDialog>> dialogs = {
            {"share folder", [] { return new AddSharedFolderDialog(ItemPtr()); }},
            {"rescan report",
             [] {
                 auto* report = new SharedFilesRescannedDialog;
                 report->setWindowTitle("Shared Files Rescanned");
                 report->Append("12345 files added.");
                 report->Append("1 file removed.");
                 return report;
             }},
            {"listening port", [] { return new ChangeListeningPortDialog; }},
            {"account", [] { return new ChangeUsernamePasswordDialog(false, nullptr); }},
            {"admin message", [] { return new AdminMessageDialog("Back at six."); }},
            {"gift", [] { return new GiftPrivilegesDialog("jonas"); }},
            {"colours", [] { return new ColorSelectionDialog; }},
        };
        for (int points : {0, 12, 14}) {
            for (const auto& dialog : dialogs) {
                const QString name =
                    QString("%1 at %2").arg(dialog.first, points ? QString::number(points) : "default");
                QTest::newRow(qPrintable(name)) << points << dialog.second;
            }
        }
    }

    void everyTextShowsWhole()
    {
        QFETCH(int, points);
        QFETCH(MakeDialog, make);
        QFont font = m_startFont;
        if (points)
            font.setPointSize(points);
        QApplication::setFont(font);

        std::unique_ptr<QDialog> dialog(make());
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        Show(dialog.get());
        const QStringList clipped = TextFit::Clipped(dialog.get());
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
        const QStringList overlapping = TextFit::Overlapping(dialog.get());
        QVERIFY2(overlapping.isEmpty(), qPrintable(overlapping.join("; ")));

        // The time and the port show whole.
        for (const char* name : {"timeEdit", "portEdit"}) {
            if (auto* edit = dialog->findChild<QLineEdit*>(name)) {
                const QStringList cut = TextFit::ClippedEdit(edit);
                QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));
            }
        }

        // The colour swatches keep one width, so each column lines up.
        if (qobject_cast<ColorSelectionDialog*>(dialog.get())) {
            const QList<QLineEdit*> swatches = dialog->findChildren<QLineEdit*>();
            QCOMPARE(swatches.size(), 14);
            for (QLineEdit* swatch : swatches)
                QVERIFY2(swatch->width() == swatches.first()->width(), qPrintable(swatch->objectName()));
        }

        // A report shows all its lines without scrolling.
        if (auto* report = dialog->findChild<QPlainTextEdit*>("plainTextEdit")) {
            QCOMPARE(report->verticalScrollBar()->maximum(), 0);
            QCOMPARE(report->horizontalScrollBar()->maximum(), 0);
        }
    }
};

QTEST_MAIN(TestDialogsAtLargeFonts)
#include "TestDialogsAtLargeFonts.moc"
