#pragma once

#include "codefile/tablelibrary.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QTableWidget;

namespace irlearn {

// The code-table library as a list to choose a table from, narrowed by a search box. Accepting
// it (the download button or a double click) chooses the selected entry's code file.
class LibraryDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LibraryDialog(const TableLibrary &library, QWidget *parent = nullptr);

    // The chosen entry's code file; empty when none is selected.
    QString chosenPath() const;

private:
    void fill();

    QList<TableLibrary::Entry> m_all;
    QLineEdit *m_search = nullptr;
    QTableWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
};

} // namespace irlearn
