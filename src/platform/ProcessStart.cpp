#include "platform/ProcessStart.h"

#include <QProcess>

#include <cerrno>

namespace platform
{

namespace
{

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

// Characters a backslash escapes inside double quotes.
bool EscapableInDoubleQuotes(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\\') || c == QLatin1Char('$') ||
           c == QLatin1Char('`') || c == QLatin1Char('\n');
}

} // namespace

bool SplitCommandLine(const QString& commandLine, QStringList& words)
{
    words.clear();
    QString word;
    bool inWord = false; // a word has begun, even an empty quoted one
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine.at(i);
        if (IsBlank(c)) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\\')) {
            if (++i >= commandLine.size())
                return false;
            word += commandLine.at(i);
        } else if (c == QLatin1Char('\'')) {
            const qsizetype end = commandLine.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return false;
            word += commandLine.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == QLatin1Char('"')) {
            for (++i;; ++i) {
                if (i >= commandLine.size())
                    return false;
                const QChar q = commandLine.at(i);
                if (q == QLatin1Char('"'))
                    break;
                if (q == QLatin1Char('\\') && i + 1 < commandLine.size() &&
                    EscapableInDoubleQuotes(commandLine.at(i + 1)))
                    word += commandLine.at(++i);
                else
                    word += q;
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return true;
}

bool Shell(const QString& commandLine, int& errorNumber)
{
    errorNumber = 0;
    QStringList words;
    if (!SplitCommandLine(commandLine, words)) {
        errorNumber = EINVAL;
        return false;
    }
    if (words.isEmpty()) {
        errorNumber = ENOENT;
        return false;
    }
    const QString program = words.takeFirst();
    if (!QProcess::startDetached(program, words)) {
        errorNumber = ENOENT;
        return false;
    }
    return true;
}

} // namespace platform
