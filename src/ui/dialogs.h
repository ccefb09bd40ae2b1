#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

// The window's dialogs, behind one seam: an observer sees every dialog right before it runs, so a
// test can read it and answer it (accept, reject, choose a file) as an operator would.
namespace irlearn::dialogs {

using Observer = std::function<void(QDialog *dialog)>;
void setObserver(Observer observer);

// A box titled "系统提示" with the information icon and one OK button. It opens without blocking;
// closed runs once the operator has closed it.
void information(QWidget *parent, const QString &text, std::function<void()> closed = {});

// A question titled "系统提示" with 是 and 否, modal; true only for 是.
bool question(QWidget *parent, const QString &text);

// Any other dialog of the window, modal, seen by the observer first; what QDialog::exec returns.
int exec(QDialog &dialog);

// Code file dialogs ("二进制文件", *.bin), modal; empty when cancelled.
QString openCodeFile(QWidget *parent, const QString &title);
QString saveCodeFile(QWidget *parent, const QString &title);
// The log pane's save dialog ("文本文件", *.txt), modal; empty when cancelled.
QString saveLogFile(QWidget *parent, const QString &title);

} // namespace irlearn::dialogs
