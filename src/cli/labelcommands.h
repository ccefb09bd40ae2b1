#pragma once

#include "codefile/tablelabels.h"

#include <QJsonObject>
#include <QStringList>

namespace irlearn::cli {

struct Request;
class Reporter;

// The labels as the command line shows them: one line per label that is set, and the JSON
// object of the label file.
QStringList labelLines(const TableLabels &labels);
QJsonObject labelsJson(const TableLabels &labels);

// The labels of a code file about to be sent to or compared with a device. A damaged label file
// is said and ignored; labels that no longer match the file are a refusal (its text, with the
// changed records), unless the request says to ignore them. json gets what was found.
QString labelRefusal(const labels::Check &check, const Request &request, Reporter &out,
                     QJsonObject &json);

// Rows as columns lined up for a terminal, where a Chinese character takes two cells; the last
// column is not padded.
QString columnsText(const QList<QStringList> &rows);

// --label and its kin applied to labels, in the order given.
void applyLabelFields(TableLabels &labels, const Request &request);

// label FILE, library list/add/show. Each returns its exit code.
int labelFile(const Request &request, Reporter &out);
int runLibrary(const Request &request, Reporter &out);

// The library a request names: --library, else the settings file's, else the default folder.
QString libraryFolder(const Request &request);

} // namespace irlearn::cli
