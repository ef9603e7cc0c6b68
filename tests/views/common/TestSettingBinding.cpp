// Controls bound to settings: showing a stored value writes nothing, a
// user's change writes once, and no number is ever stored below its minimum.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include "Data.h"
#include "DataHandler.h"
#include "Settings.h"
#include "common/SettingBinding.h"

class TestSettingBinding : public QObject
{
    Q_OBJECT

private:
    QStringList m_written; // "key=value" for every value connected to a key

    void OnConnected(ConnectionInfo& info) { m_written << info.item1.AsString() + "=" + info.item2.AsString(); }

    struct Recorder : DataHandler
    {
        TestSettingBinding* test;
        void Record(ConnectionInfo& info) { test->OnConnected(info); }
    } m_recorder;

private slots:
    void init()
    {
        d.Reset();
        DeclareSettingTypes();
        m_recorder.test = this;
        d.AddConnectionEventHandler(d.GetType("global"), d.GetType("global_value"),
                                    new EventHandler<Recorder, ConnectionInfo&>(&m_recorder, &Recorder::Record));
        m_written.clear();
    }

    void showingStoredValuesWritesNothing()
    {
        SetSetting("a_switch", "yes");
        SetSetting("a_number", "70");
        SetSetting("a_choice", "two");
        SetSetting("a_text", "hello");
        m_written.clear();

        QCheckBox box;
        QSpinBox spin;
        spin.setRange(0, 99999);
        QComboBox combo;
        combo.addItems({"One", "Two", "Three"});
        QLineEdit edit;
        SettingBinding::Bind(&box, "a_switch");
        SettingBinding::Bind(&spin, "a_number", 50);
        SettingBinding::Bind(&combo, "a_choice", {"one", "two", "other"});
        SettingBinding::Bind(&edit, "a_text");
        QVERIFY(box.isChecked());
        QCOMPARE(spin.value(), 70);
        QCOMPARE(combo.currentIndex(), 1);
        QCOMPARE(edit.text(), QString("hello"));
        // Shown again later, as after a change elsewhere: still no write.
        SettingBinding::ShowNumber(&spin, "a_number");
        SettingBinding::ShowChoice(&combo, "a_choice", {"one", "two", "other"});
        QCOMPARE(m_written, QStringList());

        // A stored word the box does not list leaves it as it is.
        SetSetting("a_choice", "nine");
        SettingBinding::ShowChoice(&combo, "a_choice", {"one", "two", "other"});
        QCOMPARE(combo.currentIndex(), 1);
    }

    void aUsersChangeWritesOnce()
    {
        QCheckBox box;
        QList<bool> after;
        SettingBinding::Bind(&box, "a_switch", [&](bool on) { after << on; });
        box.click();
        box.click();
        QCOMPARE(m_written, QStringList({"a_switch=yes", "a_switch=no"}));
        QCOMPARE(after, QList<bool>({true, false}));
        // The program setting the box is not the user.
        box.setChecked(true);
        QCOMPARE(m_written.size(), 2);

        QComboBox combo;
        combo.addItems({"One", "Two", "Three", "Four"});
        SettingBinding::Bind(&combo, "a_choice", {"one", "two", "other"});
        combo.setCurrentIndex(1);
        combo.setCurrentIndex(3);
        QCOMPARE(GetSetting("a_choice"), QString("other"));
        QCOMPARE(m_written.mid(2), QStringList({"a_choice=two", "a_choice=other"}));

        QLineEdit edit;
        SettingBinding::Bind(&edit, "a_text");
        edit.setText("set by the program");
        QTest::keyClicks(&edit, "ab");
        QCOMPARE(GetSetting("a_text"), QString("set by the programab"));
        QCOMPARE(m_written.mid(4), QStringList({"a_text=set by the programa", "a_text=set by the programab"}));
    }

    void numbersNeverGoBelowTheirMinimum()
    {
        QSpinBox spin;
        spin.setRange(0, 99999);
        SettingBinding::Bind(&spin, "a_number", 50);
        spin.setValue(49);
        QCOMPARE(spin.value(), 50);
        QCOMPARE(m_written, QStringList({"a_number=50"}));
        spin.setValue(120);
        QCOMPARE(m_written, QStringList({"a_number=50", "a_number=120"}));
        // Zero, as a cleared box reports it, is stored as the minimum.
        spin.setValue(0);
        QCOMPARE(spin.value(), 50);
        QCOMPARE(m_written.last(), QString("a_number=50"));
        for (const QString& write : m_written)
            QVERIFY2(write.mid(9).toInt() >= 50, qPrintable(write));
    }
};

QTEST_MAIN(TestSettingBinding)
#include "TestSettingBinding.moc"
