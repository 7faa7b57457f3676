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
    // A dialog is answered on the tick after it appeared, once it has settled.
    if (dialog != m_appeared) {
        m_appeared = dialog;
        return;
    }
    if (!dialog || !m_ready())
        return;
    m_appeared = nullptr;

    // Dialogs may be shown again later; each showing is answered once.
    m_answered << dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog] { m_answered.removeAll(dialog); });
    ++shown;
    auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    seen = { dialog->windowTitle(),
             dialog->directory().absolutePath(),
             nameEdit ? nameEdit->text() : QString(),
             dialog->nameFilters(),
             dialog->fileMode(),
             dialog->acceptMode(),
             dialog->labelText(QFileDialog::FileName),
             dialog->labelText(QFileDialog::Accept) };
    if (m_answer.isEmpty() || !nameEdit) {
        dialog->reject();
        return;
    }
    // Set, not typed: typing would open the name completer, which then takes the Return.
    nameEdit->setText(m_answer);
    QTest::keyClick(nameEdit, Qt::Key_Return);
}
