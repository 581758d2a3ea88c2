#include "ctl/commandline.h"

#include <optional>

namespace {

struct Syntax
{
    const char *command;
    int minOperands;
    int maxOperands;
    QStringList valued; // options that take a value
    QStringList flags;
};

const QList<Syntax> &syntaxes()
{
    static const QList<Syntax> all = {
        {"list", 0, 0, {}, {QStringLiteral("json")}},
        {"get", 1, 1, {}, {QStringLiteral("json")}},
        {"set", 1, 1,
         {QStringLiteral("freq"), QStringLiteral("power"), QStringLiteral("rf"), QStringLiteral("ref"),
          QStringLiteral("ref-freq"), QStringLiteral("divider"), QStringLiteral("pll")},
         {}},
        {"sweep", 1, 1,
         {QStringLiteral("freq"), QStringLiteral("power"), QStringLiteral("list"), QStringLiteral("points"),
          QStringLiteral("dwell")},
         {QStringLiteral("log"), QStringLiteral("down"), QStringLiteral("up-down"), QStringLiteral("repeat")}},
        {"preset", 1, 3, {QStringLiteral("rf")}, {}},
    };
    return all;
}

const Syntax *syntaxOf(const QString &command)
{
    for (const Syntax &syntax : syntaxes()) {
        if (command == QLatin1String(syntax.command))
            return &syntax;
    }
    return nullptr;
}

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        problem = QStringLiteral("no command given");
        return;
    }
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        help = true;
        if (arguments.size() > 1 && syntaxOf(arguments.at(1)))
            name = arguments.at(1);
        return;
    }
    const Syntax *syntax = syntaxOf(first);
    if (!syntax) {
        problem = QStringLiteral("unknown command \"%1\"").arg(first);
        return;
    }
    name = first;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            help = true;
            return;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            positionals << argument;
            continue;
        }
        QString option = argument.mid(2);
        std::optional<QString> inlineValue;
        if (const int equals = int(option.indexOf(QLatin1Char('='))); equals >= 0) {
            inlineValue = option.mid(equals + 1);
            option.truncate(equals);
        }
        if (options.contains(option)) {
            problem = QStringLiteral("--%1 given twice").arg(option);
            return;
        }
        if (syntax->flags.contains(option)) {
            if (inlineValue) {
                problem = QStringLiteral("--%1 takes no value").arg(option);
                return;
            }
            options.insert(option, QString());
        } else if (syntax->valued.contains(option)) {
            // The next argument is the value whatever it looks like: -5dBm.
            if (!inlineValue && i + 1 >= arguments.size()) {
                problem = QStringLiteral("--%1 needs a value").arg(option);
                return;
            }
            options.insert(option, inlineValue ? *inlineValue : arguments.at(++i));
        } else {
            problem = QStringLiteral("unknown option \"%1\" for %2").arg(argument, name);
            return;
        }
        order << option;
    }
    if (positionals.size() < syntax->minOperands)
        problem = QStringLiteral("%1 needs %2").arg(name, syntax->minOperands == 1 && name != QLatin1String("preset")
                                                              ? QStringLiteral("a SERIAL")
                                                              : QStringLiteral("more operands"));
    else if (positionals.size() > syntax->maxOperands)
        problem = QStringLiteral("unexpected operand \"%1\"").arg(positionals.at(syntax->maxOperands));
}

QString CommandLine::usage(const QString &command)
{
    if (command == QLatin1String("list"))
        return QStringLiteral(
            "Usage: usbsynth-ctl list [--json]\n"
            "Lists the supported instruments: serial, model, firmware, frequency range\n"
            "and unit, VISA resource. One tab-separated line each, or a JSON array.\n");
    if (command == QLatin1String("get"))
        return QStringLiteral(
            "Usage: usbsynth-ctl get SERIAL|all [--json]\n"
            "Reads the instrument's state as one refresh pass of the panel does:\n"
            "frequency, actual frequency, lock, power and its status, RF output,\n"
            "reference source, frequency and divider, PLL mode, temperature (models\n"
            "with a sensor). A reading the instrument did not give is left out.\n"
            "With all, every supported instrument; --json gives an object (an array\n"
            "of objects for all).\n");
    if (command == QLatin1String("set"))
        return QStringLiteral(
            "Usage: usbsynth-ctl set SERIAL|all [--freq F] [--power P|min|max] [--rf on|off]\n"
            "         [--ref int|ext] [--ref-freq MHZ] [--divider N] [--pll frac|int]\n"
            "Sends the lines the panel sends for the same settings, in this order:\n"
            "  --rf off, --ref, --ref-freq, --divider, --pll, --freq, --power, --rf on\n"
            "  --freq      output frequency in the model's unit (MHz or GHz), or with a\n"
            "              unit: 2.4G, 2400M, 100k, 2400MHz; within the model's range\n"
            "  --power     -90 to 90 dBm (-5, -5dBm), or min or max\n"
            "  --ref-freq  external reference frequency, 10 to 100 MHz\n"
            "  --divider   reference divider, 1 to 127\n"
            "Every value is checked first: one refused value refuses the whole call\n"
            "and nothing is sent.\n");
    if (command == QLatin1String("sweep"))
        return QStringLiteral(
            "Usage: usbsynth-ctl sweep SERIAL (--freq START:STOP:STEP | --freq START:STOP --points N [--log]\n"
            "         | --power START:STOP:STEP | --list FILE) [--dwell MS] [--down | --up-down] [--repeat]\n"
            "Steps the instrument through frequencies (model's unit), powers (dBm) or\n"
            "the points of a list file (frequency[,power[,dwell ms]] a line), as the\n"
            "panel's sweep window does. Each point is held for the dwell (default 100,\n"
            "at least 10 ms). Progress goes to standard error when it is a terminal.\n"
            "SIGINT, SIGTERM and SIGHUP stop the sweep after the current point; it\n"
            "says where it stopped and exits with 130, 143 or 129.\n");
    if (command == QLatin1String("preset"))
        return QStringLiteral(
            "Usage: usbsynth-ctl preset list\n"
            "       usbsynth-ctl preset apply SERIAL|all NAME|FILE [--rf on|off]\n"
            "Lists the panel's presets (name and settings, tab-separated), or applies\n"
            "one with the lines the panel's presets window sends: RF off, reference,\n"
            "reference frequency (external only), divider, PLL mode, frequency, power,\n"
            "and RF on with --rf on. NAME is one of the panel's presets; an operand\n"
            "with a '/' or ending in .json is a preset file, whose first preset is\n"
            "applied. The preset must fit the instrument's range, or nothing is sent.\n");
    return QStringLiteral(
        "Usage: usbsynth-ctl COMMAND [OPTIONS]\n"
        "Controls the panel's instruments from a shell, without a window.\n"
        "\n"
        "Commands:\n"
        "  list [--json]                     the supported instruments\n"
        "  get SERIAL|all [--json]           read the state\n"
        "  set SERIAL|all OPTIONS            change settings\n"
        "  sweep SERIAL OPTIONS              step through frequencies, powers or a list\n"
        "  preset list | apply SERIAL NAME   the panel's presets\n"
        "\n"
        "usbsynth-ctl COMMAND --help describes a command.\n"
        "The VISA library is chosen as the panel chooses it (USBSYNTH_VISA_LIBRARY,\n"
        "\"sim\" for the simulated instruments).\n"
        "Exit status: 0 done, 1 a value refused, 2 usage error, 3 instrument not\n"
        "found or not reachable; 129, 130, 143 a sweep stopped by a signal.\n");
}
