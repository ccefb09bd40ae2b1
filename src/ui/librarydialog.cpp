#include "librarydialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace irlearn {

namespace {

enum Column { Brand, Model, Remote, Saved, Coverage, Sha, Id, Columns };

} // namespace

LibraryDialog::LibraryDialog(const TableLibrary &library, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("码库"));
    QStringList problems;
    m_all = library.entries(&problems);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("librarySearch"));
    m_search->setPlaceholderText(QStringLiteral("搜索品牌、型号、遥控器型号、备注"));
    m_search->setClearButtonEnabled(true);

    m_list = new QTableWidget(0, Columns, this);
    m_list->setObjectName(QStringLiteral("libraryList"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("品牌"), QStringLiteral("型号"),
                                       QStringLiteral("遥控器型号"), QStringLiteral("保存时间"),
                                       QStringLiteral("已学/已测"), QStringLiteral("SHA-256"),
                                       QStringLiteral("编号")});
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setStretchLastSection(true);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("libraryStatus"));
    m_status->setWordWrap(true);
    QString status = QStringLiteral("码库：%1").arg(QDir::toNativeSeparators(library.folder()));
    if (!problems.isEmpty())
        status += QStringLiteral("\n未列出的文件：\n") + problems.join(QLatin1Char('\n'));
    m_status->setText(status);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *download =
        buttons->addButton(QStringLiteral("下载"), QDialogButtonBox::AcceptRole);
    download->setObjectName(QStringLiteral("libraryDownloadButton"));
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    download->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTableWidget::itemSelectionChanged, this,
            [this, download] { download->setEnabled(!chosenPath().isEmpty()); });
    connect(m_list, &QTableWidget::cellDoubleClicked, this, &QDialog::accept);
    connect(m_search, &QLineEdit::textChanged, this, &LibraryDialog::fill);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_list);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(720, 400);
    fill();
}

// The search matches what the library's own search matches, on the list read when the dialog
// opened, so typing does not read the folder again.
void LibraryDialog::fill()
{
    m_list->setRowCount(0);
    for (int i = 0; i < m_all.size(); ++i) {
        const TableLibrary::Entry &entry = m_all.at(i);
        const TableLabels &l = entry.labels;
        if (!TableLibrary::matches(entry, m_search->text()))
            continue;
        const int row = m_list->rowCount();
        m_list->insertRow(row);
        const QString cells[Columns] = {
            l.brand,
            l.model,
            l.remote,
            l.saved.isValid() ? l.saved.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString(),
            QStringLiteral("%1/%2").arg(l.keysLearnt()).arg(l.keysTested()),
            entry.sha256.left(12),
            entry.id};
        for (int c = 0; c < Columns; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setData(Qt::UserRole, i);
            m_list->setItem(row, c, item);
        }
    }
    m_list->resizeColumnsToContents();
    if (m_list->rowCount() > 0)
        m_list->selectRow(0);
}

QString LibraryDialog::chosenPath() const
{
    const QList<QTableWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return QString();
    return m_all.at(selected.constFirst()->data(Qt::UserRole).toInt()).path;
}

} // namespace irlearn
