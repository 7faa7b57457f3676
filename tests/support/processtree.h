#pragma once

#include <QList>
#include <QtGlobal>

// The proportional memory (PSS) of a process and everything it started, read
// from /proc: a shared page counts once, split between the processes that map
// it. Linux only; elsewhere every reading is 0.
class ProcessTree
{
public:
    explicit ProcessTree(qint64 root) : m_root(root) { }

    // The root and its descendants, as they are now.
    QList<qint64> pids() const;
    // Of the whole tree, in KiB.
    qint64 pssKiB() const;
    // Of one process, in KiB; 0 when it is gone.
    static qint64 pssKiB(qint64 pid);

private:
    qint64 m_root;
};
