#pragma once

#include "codefile/tablecompare.h"
#include "codefile/tablelabels.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace irlearn {

class Settings;

// A folder of labelled code files, ID.bin beside ID.bin.json, where an installer keeps the tables
// of the air conditioners they serve. Every valid code file in the folder is an entry, labelled
// or not; nothing in the folder is ever overwritten by an addition.
class TableLibrary
{
public:
    explicit TableLibrary(QString folder);

    // $XDG_DATA_HOME/irlearn/library, or its equivalent where there is no XDG.
    static QString defaultFolder();
    // The folder the settings file names ([Library] Path=), else the default one.
    static QString folderIn(const Settings &settings);
    static inline const QString section = QStringLiteral("Library");
    static inline const QString pathKey = QStringLiteral("Path");

    QString folder() const { return m_folder; }

    struct Entry
    {
        QString id;   // the file name without ".bin"
        QString path; // the code file
        TableLabels labels;
        labels::Check::State labelState = labels::Check::None; // Damaged: labels left empty
        QString sha256; // the code file's own, lower-case hex
        CodeTable table;
    };

    // Every entry, by id; files that are no code table are left out and, when problems is
    // given, named there with the reason.
    QList<Entry> entries(QStringList *problems = nullptr) const;
    // Entries whose id, brand, model, remote or notes hold every word of text (any case).
    QList<Entry> search(const QString &text) const;
    static bool matches(const Entry &entry, const QString &text);
    std::optional<Entry> find(const QString &id) const;

    // Copies the code file at codePath and its labels (with edits applied on top) into the
    // folder, under an id made from brand and model; a second table for the same name gets
    // "-2", "-3", ... A code file whose labels no longer match it is refused unless
    // acceptChanged, and is then labelled as it is now.
    struct Added
    {
        bool ok = false;
        Entry entry;
        QString error; // Chinese, for the operator
    };
    Added add(const QString &codePath, const TableLabels &edits = {},
              bool acceptChanged = false) const;

    // The id a table of these labels is filed under before any suffix: brand and model, made
    // safe as a file name on every system.
    static QString baseId(const TableLabels &labels);

    // The entry a device's table is: one with equal records, else the one with fewest differing
    // records as long as at most maxDiffering differ, else none.
    struct Match
    {
        enum Kind { Exact, Closest, Unknown };
        Kind kind = Unknown;
        Entry entry;
        QList<tables::RecordDifference> differing;
    };
    static constexpr int maxDiffering = 8;
    Match identify(const CodeTable &table) const;
    static Match identify(const CodeTable &table, const QList<Entry> &entries);

private:
    QString m_folder;
};

} // namespace irlearn
