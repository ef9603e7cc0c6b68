#pragma once

#include <QObject>
#include <memory>

#include "E2eRun.h"

// The frame of an end-to-end test class: every test function gets a run of
// its own with the test server started, in the output folder
// <class>/<function>; cleanup leaves the evidence of a failed function.
class E2eTestCase : public QObject
{
    Q_OBJECT

protected:
    E2eRun& Run() { return *m_run; }

private slots:
    void init();
    void cleanup();

private:
    std::unique_ptr<E2eRun> m_run;
};
