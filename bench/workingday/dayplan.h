#pragma once

#include <QList>

// What a user does in one step of the working day.
enum class Step { Navigate, OpenTab, Download, Print, Crash };

// How many steps of each kind a day has.
struct DayPlan
{
    int navigations = 2000;
    int tabs = 300;
    int downloads = 100;
    int prints = 50;
    int crashes = 20;

    int total() const { return navigations + tabs + downloads + prints + crashes; }

    // A day of about `steps` steps in the full day's proportions, each kind at least once.
    static DayPlan scaledTo(int steps);
    // The steps in order, each kind spread evenly over the day: the k-th of n
    // falls at (k + 1/2) / n of it.
    QList<Step> schedule() const;
};
