#include "memoryday.h"

#include <QTextStream>

#include <algorithm>
#include <cmath>

double MemoryDay::meanMiB(qsizetype from, bool tree) const
{
    double sum = 0;
    for (qsizetype i = from; i < from + 10; ++i)
        sum += double(tree ? m_readings.at(i).treeKiB : m_readings.at(i).shellKiB);
    return sum / 10 / 1024;
}

double MemoryDay::growthPercent(bool tree) const
{
    return (lastHourMiB(tree) / firstHourMiB(tree) - 1) * 100;
}

QString MemoryDay::svg(const QString &title) const
{
    constexpr int width = 800, height = 420, left = 60, right = 20, top = 40, bottom = 50;
    qint64 peakKiB = 1;
    for (const Reading &r : m_readings)
        peakKiB = std::max(peakKiB, r.treeKiB);
    // The scale ends at the next round hundred MiB above the peak and the goal.
    const double limitMiB = hasGrowth() ? firstHourMiB() * (1 + goalPercent / 100) : 0;
    const double topMiB = std::ceil(std::max(peakKiB / 1024.0, limitMiB) / 100 + 0.01) * 100;
    const auto x = [&](double hundredth) { return left + hundredth * (width - left - right) / 100; };
    const auto y = [&](double mib) { return height - bottom - mib * (height - top - bottom) / topMiB; };

    QString out;
    QTextStream svg(&out);
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << left << "\" y=\"22\" font-size=\"14\">" << title.toHtmlEscaped() << "</text>\n"
        << "<rect x=\"" << x(0) << "\" y=\"" << top << "\" width=\"" << x(10) - x(0) << "\" height=\""
        << height - top - bottom << "\" fill=\"#eeeeee\"/>\n";
    for (int mib = 0; mib <= topMiB; mib += 100) {
        svg << "<line x1=\"" << left << "\" x2=\"" << width - right << "\" y1=\"" << y(mib) << "\" y2=\""
            << y(mib) << "\" stroke=\"#dddddd\"/><text x=\"" << left - 6 << "\" y=\"" << y(mib) + 4
            << "\" text-anchor=\"end\">" << mib << "</text>\n";
    }
    for (int tenth = 0; tenth <= 10; ++tenth) {
        svg << "<text x=\"" << x(tenth * 10) << "\" y=\"" << height - bottom + 16
            << "\" text-anchor=\"middle\">" << tenth * 10 << "</text>\n";
    }
    svg << "<text x=\"" << (left + width - right) / 2 << "\" y=\"" << height - 12
        << "\" text-anchor=\"middle\">hundredths of the day</text>\n"
        << "<text x=\"14\" y=\"" << (top + height - bottom) / 2 << "\" transform=\"rotate(-90 14 "
        << (top + height - bottom) / 2 << ")\" text-anchor=\"middle\">PSS, MiB</text>\n";
    if (hasGrowth()) {
        svg << "<line x1=\"" << x(10) << "\" x2=\"" << width - right << "\" y1=\"" << y(firstHourMiB())
            << "\" y2=\"" << y(firstHourMiB()) << "\" stroke=\"#888888\" stroke-dasharray=\"2 3\"/>\n"
            << "<line x1=\"" << x(10) << "\" x2=\"" << width - right << "\" y1=\"" << y(limitMiB)
            << "\" y2=\"" << y(limitMiB) << "\" stroke=\"#cc3333\" stroke-dasharray=\"6 4\"/><text x=\""
            << width - right << "\" y=\"" << y(limitMiB) - 4
            << "\" text-anchor=\"end\" fill=\"#cc3333\">goal: +" << goalPercent
            << " % on the second tenth</text>\n";
    }
    const auto line = [&](bool tree, const char *color, const char *name, int row) {
        svg << "<polyline fill=\"none\" stroke=\"" << color << "\" stroke-width=\"1.5\" points=\"";
        for (const Reading &r : m_readings)
            svg << x(r.hundredth) << ',' << y((tree ? r.treeKiB : r.shellKiB) / 1024.0) << ' ';
        svg << "\"/>\n<text x=\"" << left + 10 << "\" y=\"" << top + 14 + row * 16 << "\" fill=\"" << color
            << "\">" << name << "</text>\n";
    };
    line(true, "#1f5fbf", "process tree (shell and QtWebEngineProcess)", 0);
    line(false, "#e07b00", "shell process", 1);
    svg << "</svg>\n";
    return out;
}
