// The colours dialog: its swatches start from the palette in force and the
// stored colours, change only through the colour chooser, reset to the
// start-up palette and the fixed defaults, and only "Save Colors" applies,
// stores all fourteen, repaints the transfer rows and closes it.
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "Data.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "StandardDialogAnswers.h"
#include "settings/ColorSelectionDialog.h"
#include "settings/ColorSettings.h"

namespace {

const char* const kSwatches[] = {"windowBackgroundColor", "windowTextColor",       "inputBackgroundColor",
                                 "inputTextColor",        "buttonBackgroundColor", "buttonTextColor",
                                 "transferQueuedColor",   "transferCompleteColor", "transferInProgressColor",
                                 "transferFailedColor",   "transferOtherColor",    "chatUsernameColor",
                                 "chatTimestampColor",    "chatStatusColor"};

QString Swatch(QDialog* dialog, const char* name)
{
    return ColorSelectionDialog::SwatchColor(dialog->findChild<QLineEdit*>(name)).name();
}

void Click(QDialog* dialog, const char* button)
{
    dialog->findChild<QPushButton*>(button)->click();
}

QStringList StoredColours()
{
    QStringList names;
    for (const ColorSettings::Entry& entry : ColorSettings::Entries())
        names << GetSetting(entry.key);
    return names;
}

} // namespace

class TestColorSelectionDialog : public QObject
{
    Q_OBJECT

private:
    QPalette m_start;
    int m_recolours = 0;

private slots:
    void initTestCase()
    {
        m_start = QApplication::palette();
        defaultPalette = m_start;
    }

    void init()
    {
        d.Reset();
        DeclareSettingTypes();
        QApplication::setPalette(m_start);
        m_recolours = 0;
        g_shellHooks.recolorTransfers = [this] { ++m_recolours; };
        for (const ColorSettings::Entry& entry : ColorSettings::Entries())
            SetSetting(entry.key, ColorSettings::Default(entry, m_start).name());
    }

    void cleanup()
    {
        g_shellHooks = ShellHooks();
        QApplication::setPalette(m_start);
    }

    void swatchesShowThePaletteInForceAndTheStoredColours()
    {
        QPalette applied = m_start;
        applied.setColor(QPalette::Window, QColor("#102030"));
        QApplication::setPalette(applied);
        // The stored window colour is not what shows: the palette in force is.
        SetSetting("color_window_background", "#999999");
        SetSetting("color_transfer_queued", "#3366FF");
        SetSetting("color_chat_status", "#abcdef");

        auto* dialog = new ColorSelectionDialog;
        QCOMPARE(Swatch(dialog, "windowBackgroundColor"), QString("#102030"));
        QCOMPARE(Swatch(dialog, "buttonTextColor"), m_start.color(QPalette::ButtonText).name());
        QCOMPARE(Swatch(dialog, "transferQueuedColor"), QString("#3366ff"));
        QCOMPARE(Swatch(dialog, "chatStatusColor"), QString("#abcdef"));
        QCOMPARE(Swatch(dialog, "transferFailedColor"), QString("#ff0a47"));
        delete dialog;
    }

    void aColourChangesOnlyItsSwatchAndOnlyWhenChosen()
    {
        StandardDialogAnswers choosers;
        QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
        const QStringList before = StoredColours();
        Click(dialog, "chatUsernameButton");
        QCOMPARE(choosers.colorsShown.value(0).name(), QString("#0033ff"));
        QCOMPARE(choosers.asked.value(0).parent, static_cast<QWidget*>(dialog));
        QCOMPARE(Swatch(dialog, "chatUsernameColor"), QString("#0033ff"));

        choosers.colors << QColor("#112233");
        Click(dialog, "chatUsernameButton");
        QCOMPARE(Swatch(dialog, "chatUsernameColor"), QString("#112233"));
        QCOMPARE(Swatch(dialog, "chatTimestampColor"), QString("#0066ff"));
        QCOMPARE(StoredColours(), before);

        // Each button reaches its own swatch.
        for (const char* swatch : kSwatches) {
            QString button = swatch;
            button.replace("Color", "Button");
            choosers.colors << QColor("#010203");
            Click(dialog, button.toLatin1().constData());
            QCOMPARE(Swatch(dialog, swatch), QString("#010203"));
        }
        QCOMPARE(StoredColours(), before);
        delete dialog;
    }

    void resetThenCloseChangesNothing()
    {
        StandardDialogAnswers choosers;
        SetSetting("color_transfer_complete", "#123456");
        choosers.colors << QColor("#ffffff");
        QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
        dialog->show();
        Click(dialog, "inputTextButton");
        Click(dialog, "resetToDefaultsButton");
        QCOMPARE(Swatch(dialog, "transferCompleteColor"), QString("#006400"));
        QCOMPARE(Swatch(dialog, "inputTextColor"), m_start.color(QPalette::Text).name());
        const QStringList stored = StoredColours();
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isNull());
        QCOMPARE(StoredColours(), stored);
        QCOMPARE(GetSetting("color_transfer_complete"), QString("#123456"));
        QCOMPARE(QApplication::palette().color(QPalette::Text), m_start.color(QPalette::Text));
        QCOMPARE(m_recolours, 0);
    }

    void saveAppliesStoresRepaintsAndCloses()
    {
        StandardDialogAnswers choosers;
        for (const char* key : {"color_transfer_queued", "color_chat_username", "color_window_text"})
            SetSetting(key, "#777777");
        QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
        dialog->show();
        Click(dialog, "resetToDefaultsButton");
        choosers.colors << QColor("#204060");
        Click(dialog, "buttonBackgroundButton");
        Click(dialog, "saveColorsButton");

        QStringList expected;
        for (const ColorSettings::Entry& entry : ColorSettings::Entries())
            expected << ColorSettings::Default(entry, m_start).name();
        expected[4] = "#204060";
        QCOMPARE(StoredColours(), expected);
        QCOMPARE(StoredColours().mid(6),
                 QStringList({"#3366ff", "#006400", "#0000ff", "#ff0a47", "#000000", "#0033ff", "#0066ff", "#339933"}));
        QCOMPARE(QApplication::palette().color(QPalette::Button).name(), QString("#204060"));
        QCOMPARE(QApplication::palette().color(QPalette::Inactive, QPalette::Button).name(), QString("#204060"));
        QCOMPARE(m_recolours, 1);
        QVERIFY(!dialog->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isNull());
    }

    void disabledControlsStillLookDisabledInTheSavedColours()
    {
        StandardDialogAnswers choosers;
        // The start colours saved as they are: the style's disabled look.
        QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
        Click(dialog, "resetToDefaultsButton");
        Click(dialog, "saveColorsButton");
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::Base}) {
            QCOMPARE(QApplication::palette().color(QPalette::Disabled, role), m_start.color(QPalette::Disabled, role));
            QVERIFY(role == QPalette::Base || QApplication::palette().color(QPalette::Disabled, role) !=
                                                  QApplication::palette().color(QPalette::Active, role));
        }

        // A dark scheme of the user's own: each disabled text is greyed,
        // between its text and its background.
        dialog = new ColorSelectionDialog;
        const struct
        {
            const char* button;
            QColor colour;
        } chosen[] = {{"windowBackgroundButton", QColor("#202020")}, {"windowTextButton", QColor("#e0e0e0")},
                      {"inputBackgroundButton", QColor("#101010")},  {"inputTextButton", QColor("#f0f0f0")},
                      {"buttonBackgroundButton", QColor("#303030")}, {"buttonTextButton", QColor("#ffffff")}};
        for (const auto& c : chosen) {
            choosers.colors << c.colour;
            Click(dialog, c.button);
        }
        Click(dialog, "saveColorsButton");
        const QPalette palette = QApplication::palette();
        const QPair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {{QPalette::WindowText, QPalette::Window},
                                                                         {QPalette::Text, QPalette::Base},
                                                                         {QPalette::ButtonText, QPalette::Button}};
        for (const auto& pair : pairs) {
            const int text = palette.color(QPalette::Active, pair.first).lightness();
            const int behind = palette.color(QPalette::Active, pair.second).lightness();
            const int disabled = palette.color(QPalette::Disabled, pair.first).lightness();
            QCOMPARE(palette.color(QPalette::Inactive, pair.first), palette.color(QPalette::Active, pair.first));
            QVERIFY2(disabled < text - 40 && disabled > behind + 40,
                     qPrintable(QString("%1 %2 %3").arg(text).arg(disabled).arg(behind)));
        }
        QCOMPARE(palette.color(QPalette::Disabled, QPalette::Button).name(), QString("#303030"));
    }

    void twoDialogsKeepTheirOwnSwatchesAndTheLastSaveWins()
    {
        StandardDialogAnswers choosers;
        QPointer<ColorSelectionDialog> first = new ColorSelectionDialog;
        QPointer<ColorSelectionDialog> second = new ColorSelectionDialog;
        first->show();
        second->show();
        choosers.colors << QColor("#aa0000") << QColor("#00bb00");
        Click(first, "transferOtherButton");
        Click(second, "transferOtherButton");

        Click(first, "saveColorsButton");
        QCOMPARE(GetSetting("color_transfer_other"), QString("#aa0000"));
        QVERIFY(second->isVisible());
        QCOMPARE(Swatch(second, "transferOtherColor"), QString("#00bb00"));
        Click(second, "saveColorsButton");
        QCOMPARE(GetSetting("color_transfer_other"), QString("#00bb00"));
        QCOMPARE(m_recolours, 2);
    }
};

QTEST_MAIN(TestColorSelectionDialog)

#include "TestColorSelectionDialog.moc"
