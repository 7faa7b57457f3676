#include "filedialoguser.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

FileDialogUser::FileDialogUser(const QString &answer, std::function<bool()> ready)
    : m_answer(answer), m_ready(std::move(ready))
{
    connect(&m_timer, &QTimer::timeout, this, &FileDialogUser::lookForDialog);
    m_timer.start(20);
}

void FileDialogUser::lookForDialog()
{
    QFileDialog *dialog = nullptr;
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *candidate = qobject_cast<QFileDialog *>(window);
        if (candidate && candidate->isVisible() && !m_answered.contains(candidate))
            dialog = candidate;
    }
    if (!dialog || !m_ready())
        return;

    // Dialogs may be shown again later; each showing is answered once.
    m_answered << dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog] { m_answered.removeAll(dialog); });
    ++shown;
    auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    seen = { dialog->windowTitle(), dialog->directory().absolutePath(), nameEdit ? nameEdit->text() : QString(),
             dialog->nameFilters(), dialog->fileMode() };
    if (m_answer.isEmpty() || !nameEdit) {
        dialog->reject();
        return;
    }
    nameEdit->selectAll();
    QTest::keyClicks(nameEdit, m_answer);
    QTest::keyClick(nameEdit, Qt::Key_Return);
}
