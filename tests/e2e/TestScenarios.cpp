#include <QTest>
#include "E2eRun.h"
class TestScenarios : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QSKIP("later"); }
};
QTEST_GUILESS_MAIN(TestScenarios)
#include "TestScenarios.moc"
