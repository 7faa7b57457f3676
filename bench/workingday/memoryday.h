#pragma once

#include <QList>
#include <QString>

// The memory read at each hundredth of the day, and what it says about growth.
class MemoryDay
{
public:
    struct Reading
    {
        int hundredth = 0;
        int step = 0;
        qint64 treeKiB = 0; // the whole process tree
        qint64 shellKiB = 0; // the shell's own process
    };

    // Growth the day is held to, from the first hour to the last, in percent.
    static constexpr double goalPercent = 10.0;

    void add(const Reading &reading) { m_readings.append(reading); }
    const QList<Reading> &readings() const { return m_readings; }

    // An hour is a tenth of the day. The first is warm-up (caches, the
    // engine's first processes), so growth runs from the second hour to the
    // last ten readings (the last hour of a whole day). Both need readings of
    // their own: false before twenty.
    bool hasGrowth() const { return m_readings.size() >= 20; }
    double firstHourMiB(bool tree = true) const { return meanMiB(10, tree); }
    double lastHourMiB(bool tree = true) const { return meanMiB(m_readings.size() - 10, tree); }
    double growthPercent(bool tree = true) const;
    bool goalMet() const { return hasGrowth() && growthPercent() <= goalPercent; }

    // An SVG plot of both memories over the day, the warm-up shaded, the first
    // hour's mean and the goal's limit drawn across.
    QString svg(const QString &title) const;

private:
    double meanMiB(qsizetype from, bool tree) const;

    QList<Reading> m_readings;
};
