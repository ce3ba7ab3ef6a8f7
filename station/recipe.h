#ifndef KVX_STATION_RECIPE_H
#define KVX_STATION_RECIPE_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// A recipe: kvx-host commands, one per line, quoted as on a shell command
// line. A line whose first characters (after blanks) are "//" is a comment;
// '#' stays free for raw frames. ${name} takes a value per panel (serial,
// model, port, index, or a column of the values file) outside single quotes.

struct WordPart
{
    QString text;
    bool variable = false; // text is a value's name
};
using RecipeWord = QVector<WordPart>;

struct RecipeStep
{
    int line = 0;
    QVector<RecipeWord> words; // words[0] is the command, never a variable
    QString command() const { return words.value(0).value(0).text; }
};

struct Recipe
{
    QString file;
    QVector<RecipeStep> steps;
    QStringList variables() const; // every ${name} used, once each
};

// The longest line a recipe or values file may have.
constexpr int MaxLineChars = 4096;

// Reads a recipe or values file whole (at most 1 MiB).
bool readInputFile(const QString &path, QByteArray *data, QString *problem);

// Splits text into lines, refusing overlong ones and control characters;
// the problem names file and line.
bool splitLines(const QString &file, const QByteArray &text, QStringList *lines, QString *problem);

// Reads a recipe and checks what can be checked before panels are known:
// quoting, command names, at least one step, nothing after `upgrade`.
// knownCommands are the names a step may start with.
bool readRecipe(const QString &path, const QStringList &knownCommands, Recipe *recipe, QString *problem);
bool parseRecipe(const QString &file, const QByteArray &text, const QStringList &knownCommands, Recipe *recipe,
                 QString *problem);

// The words of one step with the panel's values filled in; false with the
// missing name in *missing.
bool expandStep(const RecipeStep &step, const QHash<QString, QString> &values, QStringList *args, QString *missing);

#endif
