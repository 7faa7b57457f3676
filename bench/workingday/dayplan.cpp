#include "dayplan.h"

#include <QtGlobal>

#include <algorithm>
#include <utility>

DayPlan DayPlan::scaledTo(int steps)
{
    const DayPlan full;
    const double scale = double(steps) / full.total();
    const auto scaled = [scale](int count) { return std::max(1, qRound(count * scale)); };
    return { scaled(full.navigations), scaled(full.tabs), scaled(full.downloads), scaled(full.prints),
             scaled(full.crashes) };
}

QList<Step> DayPlan::schedule() const
{
    QList<std::pair<double, Step>> timed;
    const std::pair<int, Step> kinds[] = { { navigations, Step::Navigate },
                                           { tabs, Step::OpenTab },
                                           { downloads, Step::Download },
                                           { prints, Step::Print },
                                           { crashes, Step::Crash } };
    for (const auto &[count, step] : kinds) {
        for (int k = 0; k < count; ++k)
            timed.append({ (k + 0.5) / count, step });
    }
    std::stable_sort(timed.begin(), timed.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<Step> steps;
    for (const auto &entry : std::as_const(timed))
        steps.append(entry.second);
    return steps;
}
