// The two shapes every command prints the same values in: JSON Lines for scripts and aligned
// columns for people.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace TextOutput {

// One JSON object, written on one line with its keys in the order they were added.
class JsonObject
{
public:
    void add(const char* key, const QString& value);
    void add(const char* key, qint64 value);
    void add(const char* key, double value, int decimals);
    void add(const char* key, bool value);
    void add(const char* key, const QList<int>& values);
    QString text() const;

private:
    void addRaw(const char* key, const QString& json);
    QStringList members;
};

// A JSON string literal: quotes, backslashes and control characters (C0, DEL and C1) escaped.
QString jsonString(const QString& text);

// Columns as wide as their widest cell, separated by two spaces; the last column is not padded.
class Table
{
public:
    explicit Table(const QStringList& header);
    void add(const QStringList& cells);
    QStringList lines() const;

private:
    QList<QStringList> rows;
};

// A table column that gives way on a narrow terminal: the highest rank is left out first, rank 0
// never.
struct Column
{
    QString header;
    int rank = 0;
};

// The lines of a Table of these columns and rows (a cell per column), fitted to a terminal width
// columns wide: whole columns are left out, the highest rank first, until the lines are at most
// width - 1 characters, and a line still longer is cut there, so a terminal never wraps one (a
// line that fills the last column leaves the cursor in between). 0: no width, every column.
QStringList fittedLines(const QList<Column>& columns, const QList<QStringList>& rows, int width);

} // namespace TextOutput
