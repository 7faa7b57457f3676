#pragma once

#include <QFileDialog>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

// Answers file dialogs as a user would: notes what a shown dialog offers, then
// types the answer into its name field and confirms, or cancels. It acts from
// a timer, so it also reaches dialogs that wait in a nested event loop.
class FileDialogUser : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString folder;
        QString name;
        QStringList filters;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
        QString fileNameLabel; // Qt's own texts around the name field
        QString acceptLabel;
    };

    // An empty answer cancels. Each dialog is answered once `ready` holds.
    explicit FileDialogUser(
            const QString &answer, std::function<bool()> ready = [] { return true; });

    // The answer for the dialogs still to come.
    void setAnswer(const QString &answer) { m_answer = answer; }

    int shown = 0;
    Seen seen; // of the last dialog shown

private:
    void lookForDialog();

    QString m_answer;
    std::function<bool()> m_ready;
    QTimer m_timer;
    QList<QFileDialog *> m_answered;
    QFileDialog *m_appeared = nullptr;
};
