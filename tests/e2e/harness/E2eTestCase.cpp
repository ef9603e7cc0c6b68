#include "E2eTestCase.h"

#include <QTest>

void E2eTestCase::init()
{
    m_run = std::make_unique<E2eRun>(QString("%1/%2").arg(metaObject()->className(), QTest::currentTestFunction()));
    QVERIFY2(m_run->StartServer(), qPrintable(E2eRun::Failure()));
}

void E2eTestCase::cleanup()
{
    m_run->Finish(QTest::currentTestFailed());
    m_run.reset();
}
