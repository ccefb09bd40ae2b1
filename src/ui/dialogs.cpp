#include "dialogs.h"

#include "engine/messages.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>

namespace irlearn::dialogs {

namespace {

Observer &observer()
{
    static Observer instance;
    return instance;
}

int run(QDialog &dialog)
{
    if (observer())
        observer()(&dialog);
    return dialog.exec();
}

QString chooseFile(QWidget *parent, const QString &title, QFileDialog::AcceptMode mode,
                   const QString &filter, const QString &suffix)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    // The operator chose this file by name; replacing it needs no second question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString codeFile(QWidget *parent, const QString &title, QFileDialog::AcceptMode mode)
{
    return chooseFile(parent, title, mode, QStringLiteral("二进制文件 (*.bin)"),
                      QStringLiteral("bin"));
}

} // namespace

void setObserver(Observer o)
{
    observer() = std::move(o);
}

void information(QWidget *parent, const QString &text, std::function<void()> closed)
{
    auto *box =
        new QMessageBox(QMessageBox::Information, messages::title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] {
        if (closed)
            closed();
    });
    if (observer())
        observer()(box);
    box->open();
}

bool question(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Question, messages::title, text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    run(box);
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

int exec(QDialog &dialog)
{
    return run(dialog);
}

QString openCodeFile(QWidget *parent, const QString &title)
{
    return codeFile(parent, title, QFileDialog::AcceptOpen);
}

QString saveCodeFile(QWidget *parent, const QString &title)
{
    return codeFile(parent, title, QFileDialog::AcceptSave);
}

QString saveLogFile(QWidget *parent, const QString &title)
{
    return chooseFile(parent, title, QFileDialog::AcceptSave, QStringLiteral("文本文件 (*.txt)"),
                      QStringLiteral("txt"));
}

} // namespace irlearn::dialogs
