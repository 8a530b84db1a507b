#include "common/textoutput.h"
#include "pollreply.h"

namespace TextOutput {

QString jsonString(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            // Every control character, C1 too: the same string to a JSON reader, nothing a
            // terminal acts on when the line is shown.
            if (ArtNetPoll::isControlCharacter(c))
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

void JsonObject::addRaw(const char* key, const QString& json)
{
    members.append(jsonString(QString::fromLatin1(key)) + QLatin1Char(':') + json);
}

void JsonObject::add(const char* key, const QString& value)
{
    addRaw(key, jsonString(value));
}

void JsonObject::add(const char* key, qint64 value)
{
    addRaw(key, QString::number(value));
}

void JsonObject::add(const char* key, double value, int decimals)
{
    addRaw(key, QString::number(value, 'f', decimals));
}

void JsonObject::add(const char* key, bool value)
{
    addRaw(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void JsonObject::add(const char* key, const QList<int>& values)
{
    QStringList numbers;
    for (const int value : values)
        numbers.append(QString::number(value));
    addRaw(key, QLatin1Char('[') + numbers.join(QLatin1Char(',')) + QLatin1Char(']'));
}

QString JsonObject::text() const
{
    return QLatin1Char('{') + members.join(QLatin1Char(',')) + QLatin1Char('}');
}

Table::Table(const QStringList& header)
{
    rows.append(header);
}

void Table::add(const QStringList& cells)
{
    rows.append(cells);
}

QStringList Table::lines() const
{
    QList<int> widths;
    for (const QStringList& cells : rows) {
        for (int i = 0; i < cells.size(); ++i) {
            if (i >= widths.size())
                widths.append(0);
            widths[i] = qMax(widths[i], int(cells[i].size()));
        }
    }
    QStringList out;
    for (const QStringList& cells : rows) {
        QString line;
        for (int i = 0; i < cells.size(); ++i) {
            if (i > 0)
                line += QStringLiteral("  ");
            line += i + 1 < cells.size() ? cells[i].leftJustified(widths[i]) : cells[i];
        }
        out.append(line);
    }
    return out;
}

QStringList fittedLines(const QList<Column>& columns, const QList<QStringList>& rows, int width)
{
    // Each column's width with its separator.
    QList<int> widths(columns.size(), 0);
    for (qsizetype c = 0; c < columns.size(); ++c) {
        widths[c] = int(columns[c].header.size());
        for (const QStringList& row : rows)
            widths[c] = qMax(widths[c], int(row.value(c).size()));
    }
    QList<bool> shown(columns.size(), true);
    const auto total = [&] {
        int sum = 0;
        int count = 0;
        for (qsizetype c = 0; c < columns.size(); ++c) {
            if (shown[c]) {
                sum += widths[c];
                ++count;
            }
        }
        return sum + 2 * qMax(0, count - 1);
    };
    int lowest = 0;
    for (const Column& column : columns)
        lowest = qMax(lowest, column.rank);
    for (int rank = lowest; width > 0 && rank > 0 && total() > width - 1; --rank) {
        for (qsizetype c = 0; c < columns.size(); ++c) {
            if (columns[c].rank == rank)
                shown[c] = false;
        }
    }

    QStringList header;
    QList<QStringList> body(rows.size());
    for (qsizetype c = 0; c < columns.size(); ++c) {
        if (!shown[c])
            continue;
        header.append(columns[c].header);
        for (qsizetype i = 0; i < rows.size(); ++i)
            body[i].append(rows[i].value(c));
    }
    Table table(header);
    for (const QStringList& line : body)
        table.add(line);
    QStringList lines = table.lines();
    if (width > 0) {
        for (QString& line : lines)
            line.truncate(qMax(0, width - 1));
    }
    return lines;
}

} // namespace TextOutput
