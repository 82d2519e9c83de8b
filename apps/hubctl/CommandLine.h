#pragma once
// halvek-hubctl's commands and options, declared once: the parser, its checks, the usage text,
// each command's help and the bash and zsh completion all come from the tables below.

#include <QMap>
#include <QString>
#include <QStringList>
#include <vector>

namespace HubctlCommandLine {

// status --watch reads the hub this often.
inline constexpr int WATCH_INTERVAL_MS = 1000;

// What an option's value is, for its check and its completion.
enum class EValue { None, Text, File, Node, Number, Version };

struct TOption {
  QString name{};       // "--device"
  QString shortName{};  // "-V", or empty
  QString valueName{};  // "NODE"; empty for a switch
  EValue value = EValue::None;
  int low = 0, high = 0;   // a number's range
  QString needs{};         // what the value must be, for the usage error ("a device node")
  QStringList commands{};  // the commands it goes with; empty: every one
  QString withOption{};    // another option that must come with it
  QString excludes{};      // one that must not
  QString help{};
};

// A word after the command.
struct TArgument {
  QString name{};          // "CHANNEL"
  QStringList words{};     // words it may be besides a number ("all"), or all it may be
  int low = 0, high = -1;  // a number's range; high < low: no number
  QStringList offered{};   // what completion offers beside `words`
  QString range{};         // the usage error for a word out of range
};

struct TCommand {
  QString name{};
  QString summary{};      // one line, for the usage text and completion
  QString description{};  // for `help COMMAND`
  std::vector<TArgument> arguments{};
  bool argumentsOptional = false;  // all of them, or none
  QString argumentsError{};        // the usage error for a wrong number of them
};

const std::vector<TOption>& Options();
const std::vector<TCommand>& Commands();
const TCommand* FindCommand(const QString& name);
const TOption* FindOption(const QString& nameOrShort);

// A command line taken apart and checked against the tables.
struct TParsed {
  QString command;
  QStringList arguments;
  QMap<QString, QString> values;  // by the option's long name; "" for a switch
  bool help = false;              // --help, -h, `help [COMMAND]`: the help of `command` or all
  QString error;                  // one line; empty when the line is good
  bool json = false;              // --json was given (even on a wrong line)

  bool Has(const QString& option) const { return values.contains(option); }
  QString Value(const QString& option) const { return values.value(option); }
  // A number option's value (checked by Parse).
  int Number(const QString& option) const { return values.value(option).toInt(); }
};

TParsed Parse(const QStringList& arguments);

// The whole usage, and one command's help.
QString Usage();
QString CommandHelp(const TCommand& command);
// "Try 'halvek-hubctl --help'." after a usage error.
QString TryHelp();

// The completion scripts, as installed.
QString BashCompletion();
QString ZshCompletion();

}  // namespace HubctlCommandLine
