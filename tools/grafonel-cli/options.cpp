#include "options.h"

#include <algorithm>

#include "cli.h"
#include "plot/ostrel.h"

namespace cli {

bool ParseOptions(const std::string& command, const Options& table, const std::vector<std::string>& args,
                  std::vector<std::string>& operands, std::string& error)
{
    std::vector<bool> given(table.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-') {
            operands.push_back(a);
            continue;
        }
        const auto o = std::find_if(table.begin(), table.end(), [&](const Option& c) { return c.Name == a; });
        if (o == table.end()) {
            error = command + ": unknown option '" + a + "'";
            return false;
        }
        const bool missing = !o->Value.empty() && i + 1 >= args.size();
        const std::string value = o->Value.empty() || missing ? std::string() : args[++i];
        if (missing || !o->Take(value, error)) {
            if (error.empty())
                error = o->Name + " takes " + o->Takes;
            return false;
        }
        given[static_cast<std::size_t>(o - table.begin())] = true;
    }
    for (std::size_t k = 0; k < table.size(); ++k)
        if (table[k].Required && !given[k]) {
            error = table[k].Name + " is required";
            return false;
        }
    return true;
}

std::string Synopsis(const std::string& nameAndOperands, const Options& table)
{
    std::string text = nameAndOperands;
    std::size_t lineStart = 0;
    for (const Option& o : table) {
        std::string part = o.Name + (o.Value.empty() ? "" : " " + o.Value);
        if (!o.Required)
            part = "[" + part + "]";
        if (text.size() - lineStart + 1 + part.size() > 104) {
            text += "\n      ";
            lineStart = text.size() - 6;
        }
        text += " " + part;
    }
    return text;
}

std::string OptionsHelp(const Options& table, std::size_t column)
{
    std::string help;
    const std::string indent(column, ' ');
    for (const Option& o : table) {
        std::string line = "  " + o.Name + (o.Value.empty() ? "" : " " + o.Value);
        line.resize(std::max(column, line.size() + 1), ' ');
        help += line;
        for (const char c : o.Help) {
            help += c;
            if (c == '\n')
                help += indent;
        }
        help += '\n';
    }
    return help;
}

Option Flag(std::string name, std::string help, std::function<void()> set)
{
    return {std::move(name), "", std::move(help),
            [set = std::move(set)](const std::string&, std::string&) {
                set();
                return true;
            },
            ""};
}

Option Number(std::string name, std::string value, std::string help, std::int64_t lo, std::int64_t hi,
              std::int64_t& out, std::string takes)
{
    return {std::move(name), std::move(value), std::move(help),
            [lo, hi, &out](const std::string& v, std::string&) { return ParseInt(v, lo, hi, out); }, std::move(takes)};
}

Option SpeedOption(int& speed, std::string help)
{
    const std::string range =
        "a whole number from " + std::to_string(kOstrelMinSpeed) + " to " + std::to_string(kOstrelMaxSpeed);
    return {"--speed", "S", std::move(help),
            [&speed, range](const std::string& v, std::string& error) {
                std::int64_t n;
                if (!ParseInt(v, kOstrelMinSpeed, kOstrelMaxSpeed, n)) {
                    error = "--speed takes " + range + ", not '" + v + "'";
                    return false;
                }
                speed = static_cast<int>(n);
                return true;
            },
            range};
}

Option BaudOption(std::int64_t& baud, std::string help)
{
    return Number("--baud", "N", std::move(help), 50, 4000000, baud, "a line rate in bits per second, such as 9600");
}

Options ReadingOptions(TPlotReading& reading)
{
    return {Flag("--plain",
                 "read a plot file with the plain reader: PA, PR, PU, PD, CI, ER, SP and AA\n"
                 "as they are, everything else stepped over (not for SVG drawings)",
                 [&reading] { reading = TPlotReading::Plain; }),
            // Taken out of every command line before the command sees it (see TakeSvgTextOption);
            // listed here for the help and for a caller that did not.
            {"--svg-text", "MODE",
             "an SVG drawing's text: 'outline' (the default) draws the outlines of its\n"
             "glyphs, 'stroke' lays it in the single-stroke face nearest its font family",
             [](const std::string& v, std::string&) {
                 if (v != "stroke" && v != "outline")
                     return false;
                 SvgTextStrokes = v == "stroke";
                 return true;
             },
             "'stroke' or 'outline'"}};
}

}  // namespace cli
