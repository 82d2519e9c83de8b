#include "CommandLine.h"

#include <QRegularExpression>

#include "HubctlExit.h"
#include "HubctlTexts.h"
#include "base/Result.h"

namespace HubctlCommandLine {

namespace {

const QString& PROGRAM = HubctlTexts::PROGRAM;
const QStringList UPDATE_AND_AUTO{QStringLiteral("update"), QStringLiteral("auto")};

TArgument Channel() {
  return {.name = "CHANNEL",
          .words = {"all"},
          .low = 1,
          .high = 8,
          .range = "the channel is 1 to 8, or all"};
}
TArgument Level() {
  QStringList levels;
  for (int level = 0; level <= 100; level += 10)
    levels << QString::number(level);
  return {
      .name = "LEVEL", .low = 0, .high = 100, .offered = levels, .range = "the level is 0 to 100"};
}

// "every second", "every 2 s": how often something is done every `ms` milliseconds.
QString Every(int ms) {
  constexpr int SECOND_MS = 1000;
  if (ms == SECOND_MS)
    return QStringLiteral("every second");
  return ms % SECOND_MS == 0 ? QStringLiteral("every %1 s").arg(ms / SECOND_MS)
                             : QStringLiteral("every %1 ms").arg(ms);
}
const QString WATCH_EVERY = Every(WATCH_INTERVAL_MS);

}  // namespace

const std::vector<TOption>& Options() {
  static const std::vector<TOption> options = {
      {.name = "--simulate",
       .help = "emulated hubs instead of the machine's (install-udev-rule: write nothing)"},
      {.name = "--device",
       .valueName = "NODE",
       .value = EValue::Node,
       .needs = "a device node such as /dev/hidraw3",
       .help = "the hub at NODE, when several are plugged in"},
      {.name = "--json", .help = "one JSON object per line"},
      {.name = "--hubs",
       .valueName = "N",
       .value = EValue::Number,
       .low = 1,
       .high = 64,
       .needs = "a number of hubs, 1 to 64",
       .withOption = "--simulate",
       .help = "with --simulate: N emulated hubs"},
      {.name = "--all",
       .commands = {"update"},
       .excludes = "--device",
       .help = "every hub plugged in, all at once"},
      {.name = "--image",
       .valueName = "FILE",
       .value = EValue::File,
       .needs = "a file",
       .commands = UPDATE_AND_AUTO,
       .withOption = "--image-version",
       .help = "the firmware image in FILE instead of the built-in one"},
      {.name = "--image-version",
       .valueName = "X.X.XX.XXXX",
       .value = EValue::Version,
       .needs = "a version such as 1.1.15.0906",
       .commands = UPDATE_AND_AUTO,
       .withOption = "--image",
       .help = "the application version the hub reports after that image"},
      {.name = "--force",
       .commands = UPDATE_AND_AUTO,
       .help = "program a hub that already runs the image's version"},
      {.name = "--allow-older",
       .commands = UPDATE_AND_AUTO,
       .help = "program an image older than what the hub runs"},
      {.name = "--log",
       .valueName = "FILE",
       .value = EValue::File,
       .needs = "a file",
       .commands = UPDATE_AND_AUTO,
       .help = "append one JSON line per hub to FILE"},
      {.name = "--watch", .commands = {"status"}, .help = "read " + WATCH_EVERY},
      {.name = "--timeout",
       .valueName = "S",
       .value = EValue::Number,
       .high = 86400,
       .needs = "a number of seconds",
       .commands = {"wait"},
       .help = "give up after S seconds"},
      {.name = "--count",
       .valueName = "N",
       .value = EValue::Number,
       .low = 1,
       .high = 1000000,
       .needs = "a number of hubs",
       .commands = {"auto"},
       .help = "stop after N hubs"},
      {.name = "--parallel",
       .commands = {"auto"},
       .help = "each hub as it comes, without waiting for the others"},
      {.name = "--remove",
       .commands = {"install-udev-rule"},
       .help = "take the copy in /etc/udev/rules.d out again"},
      {.name = "--help",
       .shortName = "-h",
       .help = "this text; with a command, that command's help"},
      {.name = "--version",
       .shortName = "-V",
       .help = "this program's version and that of the built-in firmware"},
  };
  return options;
}

const std::vector<TCommand>& Commands() {
  static const std::vector<TCommand> commands = {
      {.name = "list",
       .summary = "every HID device: node, ids, report lengths, access",
       .description = "Lists every HID device: its node, vendor:product, report lengths and "
                      "access, the hubs marked, with their USB port and serial number."},
      {.name = "version",
       .summary = "the hubs' versions; whether an update is available",
       .description = "The bootloader and application versions of every hub plugged in (or the "
                      "one at --device), the built-in firmware's version and whether an update "
                      "is available."},
      {.name = "update",
       .summary = "programs the built-in firmware (or --image FILE)",
       .description =
           "Saves the hub's LED levels, switches it into its bootloader, sends every record, "
           "reboots it and writes the LED levels back. A hub that already runs the image's "
           "version is left alone unless --force; an image older than the hub's is refused "
           "unless --allow-older. With several hubs plugged in, --device chooses one and --all "
           "takes them all."},
      {.name = "status",
       .summary = "the hub's charging data, once or " + WATCH_EVERY,
       .description = "The hub's voltage, current, channel, state, batteries and counters."},
      {.name = "led",
       .summary = "reads the eight LED levels, or sets them",
       .description = "Without arguments, the hub's eight LED levels. CHANNEL LEVEL sets one "
                      "(channel 1 to 8: 1-4 red, 5-8 green; level 0 to 100), all LEVEL sets all "
                      "eight.",
       .arguments = {Channel(), Level()},
       .argumentsOptional = true,
       .argumentsError = "led takes no arguments, or CHANNEL LEVEL, or all LEVEL"},
      {.name = "wait",
       .summary = "waits until a hub is plugged in",
       .description = "Waits until a hub is plugged in and prints its node."},
      {.name = "auto",
       .summary = "updates every hub as it is plugged in, until Ctrl-C",
       .description =
           "Updates every hub as it is plugged in, one after the other, each whatever it runs, "
           "as the window does. With --parallel each hub starts its own update at once and "
           "follows the rules of update (--force, --allow-older)."},
      {.name = "install-udev-rule",
       .summary = "lets the user at the seat use hubs without root",
       .description = "Writes the udev rule to /etc/udev/rules.d unless the package installed "
                      "it under /usr/lib/udev/rules.d, and tells udev. --remove takes the copy "
                      "out again."},
      {.name = "help",
       .summary = "the usage, or one command's help",
       .description = "The usage, or with a command that command's help (the same as COMMAND "
                      "--help).",
       .arguments = {{.name = "COMMAND"}},
       .argumentsOptional = true,
       .argumentsError = "help takes one command"},
      {.name = "completion",
       .summary = "the bash or zsh completion script",
       .description = "Prints the completion script for bash or zsh (as the package installs "
                      "it).",
       .arguments = {{.name = "SHELL",
                      .words = {"bash", "zsh"},
                      .range = "the shell is bash or zsh"}},
       .argumentsError = "completion takes a shell: bash or zsh"},
  };
  return commands;
}

const TCommand* FindCommand(const QString& name) {
  for (const TCommand& command : Commands()) {
    if (command.name == name)
      return &command;
  }
  return nullptr;
}

const TOption* FindOption(const QString& name) {
  for (const TOption& option : Options()) {
    if (option.name == name || (!option.shortName.isEmpty() && option.shortName == name))
      return &option;
  }
  return nullptr;
}

namespace {

bool IsNumber(const QString& text, int low, int high) {
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
  if (!digits.match(text).hasMatch())
    return false;
  const int value = text.toInt();
  return value >= low && value <= high;
}

QString CommandList(const QStringList& commands) {
  QStringList names = commands;
  if (names.size() > 1)
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + " and " + names.last();
  return names.join(QString());
}

// A usage error: the line the user reads.
TError Wrong(const QString& line) {
  return TError{line};
}

// The word's check against its argument.
TResult<void> CheckArgument(const TArgument& argument, const QString& word) {
  if (argument.name == QLatin1String("COMMAND")) {
    if (!FindCommand(word))
      return Wrong(QStringLiteral("unknown command ") + word);
    return {};
  }
  if (argument.words.contains(word) ||
      (argument.low <= argument.high && IsNumber(word, argument.low, argument.high))) {
    return {};
  }
  return Wrong(argument.range);
}

TResult<void> Check(TParsed& parsed) {
  if (parsed.command.isEmpty()) {
    if (!parsed.help)
      return Wrong(QStringLiteral("no command given"));
    return {};
  }
  const TCommand* command = FindCommand(parsed.command);
  if (!command)
    return Wrong(QStringLiteral("unknown command ") + parsed.command);
  if (parsed.command == QLatin1String("help")) {
    // `help update`: the help of update.
    parsed.help = true;
    if (parsed.arguments.size() > 1)
      return Wrong(command->argumentsError);
    if (parsed.arguments.isEmpty()) {
      parsed.command.clear();
      return {};
    }
    if (!FindCommand(parsed.arguments[0]))
      return Wrong(QStringLiteral("unknown command ") + parsed.arguments[0]);
    parsed.command = parsed.arguments.takeFirst();
    return {};
  }
  if (parsed.help)
    return {};
  for (auto it = parsed.values.cbegin(); it != parsed.values.cend(); ++it) {
    const TOption& option = *FindOption(it.key());
    if (!option.commands.isEmpty() && !option.commands.contains(parsed.command))
      return Wrong(
          QStringLiteral("%1 goes with %2").arg(option.name, CommandList(option.commands)));
    if (!option.withOption.isEmpty() && !parsed.Has(option.withOption)) {
      return Wrong(FindOption(option.withOption)->withOption == option.name
                       ? QStringLiteral("%1 and %2 go together").arg(option.name, option.withOption)
                       : QStringLiteral("%1 goes with %2").arg(option.name, option.withOption));
    }
    if (!option.excludes.isEmpty() && parsed.Has(option.excludes))
      return Wrong(
          QStringLiteral("%1 and %2 exclude each other").arg(option.name, option.excludes));
  }
  const auto& arguments = command->arguments;
  const int given = static_cast<int>(parsed.arguments.size());
  const int expected = static_cast<int>(arguments.size());
  if (given != expected && !(command->argumentsOptional && given == 0)) {
    return Wrong(expected == 0
                     ? QStringLiteral("unexpected ") + parsed.arguments.join(QLatin1Char(' '))
                     : command->argumentsError);
  }
  for (int i = 0; i < given; ++i) {
    if (auto checked = CheckArgument(arguments[i], parsed.arguments[i]); !checked)
      return checked;
  }
  return {};
}

}  // namespace

TParsed Parse(const QStringList& arguments) {
  TParsed parsed;
  bool optionsEnded = false;
  auto word = [&](const QString& text) {
    if (parsed.command.isEmpty())
      parsed.command = text;
    else
      parsed.arguments << text;
  };
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    // A lone "-" or a negative number is a word, for the command to judge.
    if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-") ||
        (a.size() > 1 && a[1].isDigit())) {
      word(a);
      continue;
    }
    if (a == QLatin1String("--")) {
      optionsEnded = true;
      continue;
    }
    const qsizetype equals = a.startsWith(QLatin1String("--")) ? a.indexOf(QLatin1Char('=')) : -1;
    const QString name = equals < 0 ? a : a.left(equals);
    const TOption* option = FindOption(name);
    if (!option) {
      if (parsed.error.isEmpty())
        parsed.error = QStringLiteral("unknown option ") + name;
      continue;
    }
    QString value;
    if (option->value == EValue::None) {
      if (equals >= 0 && parsed.error.isEmpty())
        parsed.error = QStringLiteral("%1 takes no value").arg(option->name);
    } else if (equals >= 0) {
      value = a.mid(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      if (parsed.error.isEmpty())
        parsed.error = QStringLiteral("%1 needs %2").arg(option->name, option->needs);
      continue;
    }
    const bool bad =
        (option->value == EValue::Number && !IsNumber(value, option->low, option->high)) ||
        (option->value != EValue::None && option->value != EValue::Version && value.isEmpty());
    if (bad && parsed.error.isEmpty())
      parsed.error = QStringLiteral("%1 needs %2").arg(option->name, option->needs);
    if (option->name == QLatin1String("--help"))
      parsed.help = true;
    if (option->name == QLatin1String("--json"))
      parsed.json = true;
    parsed.values.insert(option->name, value);
  }
  if (parsed.error.isEmpty() && !parsed.Has(QStringLiteral("--version"))) {
    if (const auto checked = Check(parsed); !checked)
      parsed.error = checked.Error().text;
  }
  return parsed;
}

QString TryHelp() {
  return QStringLiteral("Try '%1 --help'.").arg(PROGRAM);
}

namespace {

QString OptionTitle(const TOption& option) {
  QString title = option.name;
  if (!option.valueName.isEmpty())
    title += QLatin1Char(' ') + option.valueName;
  if (!option.shortName.isEmpty())
    title += QStringLiteral(", ") + option.shortName;
  return title;
}

// Breaks `text` into lines of at most `width` characters.
QStringList WrapWords(const QString& text, int width) {
  QStringList lines;
  QString line;
  for (const QString& w : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (!line.isEmpty() && line.size() + 1 + w.size() > width) {
      lines << line;
      line.clear();
    }
    line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + w;
  }
  return lines << line;
}

// `head` then `text`, the text's lines beginning at column `indent` and ending by column 78.
QString Hanging(const QString& head, const QString& text, int indent) {
  const QString margin(indent, QLatin1Char(' '));
  QString out = head.size() <= indent ? head.leftJustified(indent) : head + '\n' + margin;
  out += WrapWords(text, 78 - indent).join(QLatin1Char('\n') + margin);
  // Words joined by a no-break space stay on one line.
  return out.replace(QChar(0xA0), QLatin1Char(' ')) + QLatin1Char('\n');
}

// "  title                 text", the text beside a title of up to 22 characters, else below.
QString Row(const QString& title, const QString& text) {
  return Hanging(QStringLiteral("  ") + title, text, 24);
}

QString OptionRow(const TOption& option, bool withCommands) {
  QString text = option.help;
  if (withCommands && !option.commands.isEmpty())
    text += QStringLiteral(" (%1)").arg(option.commands.join(QStringLiteral(", ")));
  return Row(OptionTitle(option), text);
}

QString CommandTitle(const TCommand& command) {
  QStringList words{command.name};
  for (const TArgument& argument : command.arguments)
    words << argument.name;
  const QString title = words.join(QLatin1Char(' '));
  return command.argumentsOptional && !command.arguments.empty()
             ? command.name + QStringLiteral(" [") + title.mid(command.name.size() + 1) + ']'
             : title;
}

}  // namespace

QString Usage() {
  QString text = QStringLiteral(
                     "Usage: %1 [OPTIONS] COMMAND [ARGUMENTS]\n"
                     "       %1 help COMMAND    (or COMMAND --help)\n\nCommands:\n")
                     .arg(PROGRAM);
  for (const TCommand& command : Commands())
    text += Row(CommandTitle(command), command.summary);
  text += QStringLiteral("\nOptions (the commands an option goes with in brackets):\n");
  for (const TOption& option : Options())
    text += OptionRow(option, true);
  text += QStringLiteral(
      "\nAn option's value may follow it or be joined to it (--log=FILE); -- ends the "
      "options.\n\n");
  // A code stays on one line with the first word of its meaning.
  QStringList codes;
  for (const TExitCodeMeaning& exit : EXIT_CODES) {
    codes << QString::number(ExitStatus(exit.code)) + QChar(0xA0) + QLatin1String(exit.meaning);
  }
  text += WrapWords(QStringLiteral("Exit codes: ") + codes.join(QStringLiteral(", ")) + '.', 78)
              .join(QLatin1Char('\n'))
              .replace(QChar(0xA0), QLatin1Char(' ')) +
          QStringLiteral("\n\n");
  text += QStringLiteral(
      "SIGHUP and SIGTERM act like a first Ctrl-C: an update in progress runs to its end.\n"
      "HALVEK_SIMULATE_FAST=1 with --simulate: short pauses and a hub that answers at once\n"
      "(for tests and demos). HALVEK_SIMULATE_FAULTS=\"2:no-reply@100,3:vanish@100\" with\n"
      "--simulate: the second emulated hub stops answering from its 100th record, the third\n"
      "drops off the bus at it.\n");
  return text;
}

QString CommandHelp(const TCommand& command) {
  QStringList own;
  for (const TOption& option : Options()) {
    if (option.commands.contains(command.name))
      own << (option.valueName.isEmpty()
                  ? QStringLiteral("[%1]").arg(option.name)
                  : QStringLiteral("[%1%2%3]").arg(option.name, QChar(0xA0), option.valueName));
  }
  QString title = CommandTitle(command);
  title.insert(command.name.size(), own.isEmpty() ? QString() : ' ' + own.join(QLatin1Char(' ')));
  QString text =
      Hanging(QStringLiteral("Usage: "), QStringLiteral("%1 [OPTIONS] %2").arg(PROGRAM, title), 7) +
      QLatin1Char('\n') + WrapWords(command.description, 78).join('\n') + '\n';
  if (!own.isEmpty()) {
    text += QStringLiteral("\nOptions of %1:\n").arg(command.name);
    for (const TOption& option : Options()) {
      if (option.commands.contains(command.name))
        text += OptionRow(option, false);
    }
  }
  text += QStringLiteral("\nOptions of every command:\n");
  for (const TOption& option : Options()) {
    if (option.commands.isEmpty())
      text += OptionRow(option, false);
  }
  return text;
}

namespace {

QStringList ValueOptions() {
  QStringList names;
  for (const TOption& option : Options()) {
    if (option.value != EValue::None)
      names << option.name;
  }
  return names;
}

QStringList CommandNames() {
  QStringList names;
  for (const TCommand& command : Commands())
    names << command.name;
  return names;
}

// What completion offers for an argument: its words and numbers.
QStringList Offered(const TArgument& argument) {
  if (argument.name == QLatin1String("COMMAND"))
    return CommandNames();
  QStringList offered = argument.words;
  if (argument.offered.isEmpty()) {
    for (int n = argument.low; n <= argument.high; ++n)
      offered << QString::number(n);
  }
  return offered + argument.offered;
}

QStringList OptionWords(const QString& command) {
  QStringList words;
  for (const TOption& option : Options()) {
    if (option.commands.isEmpty() || option.commands.contains(command)) {
      words << option.name;
      if (!option.shortName.isEmpty())
        words << option.shortName;
    }
  }
  return words;
}

// zsh: the text of a description, with what _arguments and the shell take specially quoted.
QString ZshText(QString text) {
  text.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
  text.replace(QLatin1Char('['), QStringLiteral("\\["));
  text.replace(QLatin1Char(']'), QStringLiteral("\\]"));
  return text;
}

QString ZshOption(const TOption& option, const QString& indent) {
  QString action;
  switch (option.value) {
    case EValue::None:
      break;
    case EValue::File:
      action = QStringLiteral(":file:_files");
      break;
    case EValue::Node:
      action = QStringLiteral(":node:_files -g \"/dev/hidraw*\"");
      break;
    default:
      action = QStringLiteral(":") + option.valueName.toLower() + QStringLiteral(": ");
      break;
  }
  const QString eq = option.value == EValue::None ? QString() : QStringLiteral("=");
  const QString text = ZshText(option.help);
  if (!option.shortName.isEmpty()) {
    return indent + QStringLiteral("'(- *)'{%1,%2}'[%3]'").arg(option.name, option.shortName, text);
  }
  return indent + QStringLiteral("'%1%2[%3]%4'").arg(option.name, eq, text, action);
}

}  // namespace

QString BashCompletion() {
  QString s = QStringLiteral(
      "# bash completion for halvek-hubctl, made from its table of commands and options:\n"
      "#   halvek-hubctl completion bash\n"
      "_halvek_hubctl() {\n"
      "  local cur prev words cword\n"
      "  _init_completion || return\n"
      "  # A value joined to its option: --log=FILE\n"
      "  if [[ \"$cur\" == --*=* ]]; then\n"
      "    prev=${cur%%=*}\n"
      "    cur=${cur#*=}\n"
      "  fi\n\n"
      "  case \"$prev\" in\n");
  QStringList files, nodes, free;
  for (const TOption& option : Options()) {
    if (option.value == EValue::File)
      files << option.name;
    else if (option.value == EValue::Node)
      nodes << option.name;
    else if (option.value != EValue::None)
      free << option.name;
  }
  s += QStringLiteral(
           "    %1)\n      COMPREPLY=($(compgen -W \"$(compgen -G '/dev/hidraw*')\" "
           "-- \"$cur\"))\n      return\n      ;;\n")
           .arg(nodes.join(QStringLiteral(" | ")));
  s += QStringLiteral("    %1)\n      _filedir\n      return\n      ;;\n")
           .arg(files.join(QStringLiteral(" | ")));
  s += QStringLiteral("    %1)\n      return\n      ;;\n  esac\n\n")
           .arg(free.join(QStringLiteral(" | ")));
  s += QStringLiteral(
           "  # The command and the words after it; options with a value skip it.\n"
           "  local command=\"\" i ended=\"\"\n"
           "  local -a args=()\n"
           "  for ((i = 1; i < cword; i++)); do\n"
           "    case \"${words[i]}\" in\n"
           "      --) [[ -z \"$ended\" ]] && ended=1 && continue ;;&\n"
           "      %1) [[ -z \"$ended\" ]] && ((i++)) && continue ;;&\n"
           "      -*) [[ -z \"$ended\" ]] && continue ;;&\n"
           "      *)\n"
           "        if [[ -z \"$command\" ]]; then\n"
           "          command=\"${words[i]}\"\n"
           "        else\n"
           "          args+=(\"${words[i]}\")\n"
           "        fi\n"
           "        ;;\n"
           "    esac\n"
           "  done\n\n"
           "  local options=\"%2\"\n"
           "  local -a offered=()\n"
           "  case \"$command\" in\n"
           "    \"\") offered=(\"%3\") ;;\n")
           .arg(ValueOptions().join(QStringLiteral(" | ")), OptionWords(QString()).join(' '),
                CommandNames().join(' '));
  for (const TCommand& command : Commands()) {
    QStringList offered;
    for (const TArgument& argument : command.arguments)
      offered << QStringLiteral("\"%1\"").arg(Offered(argument).join(' '));
    s += QStringLiteral("    %1)\n      options=\"%2\"\n")
             .arg(command.name, OptionWords(command.name).join(' '));
    if (!offered.isEmpty())
      s += QStringLiteral("      offered=(%1)\n").arg(offered.join(' '));
    s += QStringLiteral("      ;;\n");
  }
  s += QStringLiteral(
      "  esac\n\n"
      "  if [[ \"$cur\" != -* || -n \"$ended\" ]]; then\n"
      "    if [[ -z \"$command\" ]]; then\n"
      "      COMPREPLY=($(compgen -W \"${offered[0]}\" -- \"$cur\"))\n"
      "    elif ((${#args[@]} < ${#offered[@]})); then\n"
      "      COMPREPLY=($(compgen -W \"${offered[${#args[@]}]}\" -- \"$cur\"))\n"
      "    fi\n"
      "    return\n"
      "  fi\n"
      "  COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      "}\n"
      "complete -F _halvek_hubctl halvek-hubctl\n");
  return s;
}

QString ZshCompletion() {
  QString s = QStringLiteral(
      "#compdef halvek-hubctl\n"
      "# zsh completion for halvek-hubctl, made from its table of commands and options:\n"
      "#   halvek-hubctl completion zsh\n\n"
      "local -a commands\n"
      "commands=(\n");
  for (const TCommand& command : Commands())
    s += QStringLiteral("  '%1:%2'\n").arg(command.name, ZshText(command.summary));
  s += QStringLiteral(")\n\nlocal curcontext=\"$curcontext\" state line\n_arguments -s -S \\\n");
  for (const TOption& option : Options()) {
    if (option.commands.isEmpty())
      s += ZshOption(option, QStringLiteral("    ")) + QStringLiteral(" \\\n");
  }
  s += QStringLiteral(
      "    '1:command:->command' \\\n"
      "    '*::argument:->argument'\n\n"
      "case $state in\n"
      "  command) _describe -t commands 'halvek-hubctl command' commands ;;\n"
      "  argument)\n"
      "    case $words[1] in\n");
  const QString indent(10, QLatin1Char(' '));
  for (const TCommand& command : Commands()) {
    QStringList specs;
    for (const TOption& option : Options()) {
      if (option.commands.contains(command.name))
        specs << ZshOption(option, indent);
    }
    for (std::size_t i = 0; i < command.arguments.size(); ++i) {
      const TArgument& argument = command.arguments[i];
      specs << indent + QStringLiteral("'%1:%2:(%3)'")
                            .arg(i + 1)
                            .arg(argument.name.toLower(), Offered(argument).join(' '));
    }
    if (specs.isEmpty())
      continue;
    s += QStringLiteral("      %1)\n        _arguments -s -S \\\n").arg(command.name) +
         specs.join(QStringLiteral(" \\\n")) + QStringLiteral("\n        ;;\n");
  }
  s += QStringLiteral("    esac\n    ;;\nesac\n");
  return s;
}

}  // namespace HubctlCommandLine
