#include "processtree.h"

#include <QDir>
#include <QFile>
#include <QHash>

QList<qint64> ProcessTree::pids() const
{
    // Children of each process, read from /proc/<pid>/stat (the parent follows
    // the name in brackets, which may itself hold brackets or spaces).
    QHash<qint64, QList<qint64>> children;
    const QStringList all = QDir(QStringLiteral("/proc")).entryList({ QStringLiteral("[0-9]*") }, QDir::Dirs);
    for (const QString &pid : all) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children[fields.at(1).toLongLong()].append(pid.toLongLong());
    }
    QList<qint64> tree;
    QList<qint64> pending { m_root };
    while (!pending.isEmpty()) {
        const qint64 pid = pending.takeLast();
        tree.append(pid);
        pending += children.value(pid);
    }
    return tree;
}

qint64 ProcessTree::pssKiB() const
{
    qint64 total = 0;
    for (const qint64 pid : pids())
        total += pssKiB(pid);
    return total;
}

qint64 ProcessTree::pssKiB(qint64 pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}
