// Reading a recipe: lines, shell-like words and ${name} references.

#include "recipe.h"

#include <QFile>
#include <algorithm>

namespace {

// The largest recipe or values file read; a line station has no use for more.
constexpr qint64 MaxFileBytes = qint64(1024) * 1024;

bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-'); }

void addText(RecipeWord *word, QChar c)
{
    if (word->isEmpty() || word->last().variable)
        word->append(WordPart());
    word->last().text += c;
}

// The state of the word splitter between two characters.
enum class Quote { None, Single, Double };

// Splits one line into words; *problem says what is wrong (without place).
bool splitWords(const QString &line, QVector<RecipeWord> *words, QString *problem)
{
    Quote quote = Quote::None;
    bool inWord = false;
    RecipeWord word;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quote == Quote::None && c.isSpace()) {
            if (inWord)
                words->append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (quote == Quote::Single) {
            if (c == QLatin1Char('\''))
                quote = Quote::None;
            else
                addText(&word, c);
        } else if (c == QLatin1Char('\'') && quote == Quote::None) {
            quote = Quote::Single;
            word.append(WordPart()); // '' is an empty word, not none
        } else if (c == QLatin1Char('"')) {
            quote = quote == Quote::Double ? Quote::None : Quote::Double;
            word.append(WordPart());
        } else if (c == QLatin1Char('\\')) {
            if (++i >= line.size()) {
                *problem = QStringLiteral("a backslash ends the line");
                return false;
            }
            addText(&word, line.at(i));
        } else if (c == QLatin1Char('$') && line.mid(i + 1, 1) == QLatin1String("{")) {
            const int end = line.indexOf(QLatin1Char('}'), i + 2);
            const QString name = end < 0 ? QString() : line.mid(i + 2, end - i - 2);
            if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isNameChar)) {
                *problem = QStringLiteral("\"${\" starts no value name (${NAME} with letters, digits, '_' or '-')");
                return false;
            }
            word.append({ name, true });
            i = end;
        } else {
            addText(&word, c);
        }
    }
    if (quote != Quote::None) {
        *problem = QStringLiteral("a %1 quote is not closed").arg(quote == Quote::Single ? "single" : "double");
        return false;
    }
    if (inWord)
        words->append(word);
    return true;
}

} // namespace

QStringList Recipe::variables() const
{
    QStringList names;
    for (const RecipeStep &step : steps) {
        for (const RecipeWord &word : step.words) {
            for (const WordPart &part : word) {
                if (part.variable && !names.contains(part.text))
                    names << part.text;
            }
        }
    }
    return names;
}

bool splitLines(const QString &file, const QByteArray &text, QStringList *lines, QString *problem)
{
    const QList<QByteArray> raw = text.split('\n');
    for (int i = 0; i < raw.size(); ++i) {
        QByteArray line = raw.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > MaxLineChars) {
            *problem
                = QStringLiteral("%1:%2: the line is longer than %3 characters").arg(file).arg(i + 1).arg(MaxLineChars);
            return false;
        }
        for (char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                *problem = QStringLiteral("%1:%2: the line holds a control character").arg(file).arg(i + 1);
                return false;
            }
        }
        lines->append(QString::fromUtf8(line));
    }
    return true;
}

bool parseRecipe(const QString &file, const QByteArray &text, const QStringList &knownCommands, Recipe *recipe,
                 QString *problem)
{
    QStringList lines;
    if (!splitLines(file, text, &lines, problem))
        return false;
    recipe->file = file;
    for (int i = 0; i < lines.size(); ++i) {
        const QString where = QStringLiteral("%1:%2: ").arg(file).arg(i + 1);
        const QString trimmed = lines.at(i).trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("//")))
            continue;
        RecipeStep step;
        step.line = i + 1;
        if (!splitWords(lines.at(i), &step.words, problem)) {
            *problem = where + *problem;
            return false;
        }
        const RecipeWord &first = step.words.at(0);
        if (first.size() != 1 || first.at(0).variable || !knownCommands.contains(first.at(0).text)) {
            *problem = where + QStringLiteral("unknown command \"%1\"").arg(trimmed.section(QLatin1Char(' '), 0, 0));
            return false;
        }
        if (!recipe->steps.isEmpty() && recipe->steps.last().command() == QLatin1String("upgrade")) {
            *problem = where
                + QStringLiteral("nothing can follow upgrade on line %1: the panel reboots after it")
                      .arg(recipe->steps.last().line);
            return false;
        }
        recipe->steps.append(step);
    }
    if (recipe->steps.isEmpty()) {
        *problem = QStringLiteral("%1: the recipe holds no command").arg(file);
        return false;
    }
    return true;
}

bool readInputFile(const QString &path, QByteArray *data, QString *problem)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    *data = f.read(MaxFileBytes + 1);
    if (data->size() > MaxFileBytes) {
        *problem = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(MaxFileBytes);
        return false;
    }
    if (f.error() != QFileDevice::NoError) {
        *problem = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

bool readRecipe(const QString &path, const QStringList &knownCommands, Recipe *recipe, QString *problem)
{
    QByteArray text;
    return readInputFile(path, &text, problem) && parseRecipe(path, text, knownCommands, recipe, problem);
}

bool expandStep(const RecipeStep &step, const QHash<QString, QString> &values, QStringList *args, QString *missing)
{
    args->clear();
    for (const RecipeWord &word : step.words) {
        QString text;
        for (const WordPart &part : word) {
            if (!part.variable) {
                text += part.text;
            } else if (values.contains(part.text)) {
                text += values.value(part.text);
            } else {
                *missing = part.text;
                return false;
            }
        }
        args->append(text);
    }
    return true;
}
