#include "SliceTrace.h"

#include <QCoreApplication>

#include "SliceRunner.h"
#include "SlicedJob.h"

bool SliceTrace::NextTurn()
{
    const quint64 turn = SliceRunner::Get().Turns();
    for (int i = 0; i < 100000 && SliceRunner::Get().Turns() == turn; ++i)
        QCoreApplication::processEvents();
    return SliceRunner::Get().Turns() != turn;
}

QList<int> SliceTrace::StepsUntilDone(const SlicedJob& job)
{
    QList<int> steps{job.LastSliceSteps()};
    for (int turn = 0; job.IsRunning(); ++turn) {
        const int slices = job.Slices();
        if (turn == 100000 || !NextTurn()) {
            steps << -1;
            break;
        }
        steps << (job.Slices() == slices + 1 ? job.LastSliceSteps() : -1);
    }
    return steps;
}
