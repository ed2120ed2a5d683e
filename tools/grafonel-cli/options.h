#pragma once
// grafonel-cli's options: one table per command gives each option's name, value, help and
// handler, so parsing, usage errors and the help text cannot disagree.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/plotfile.h"

namespace cli {

struct Option {
    std::string Name;   // "--speed"
    std::string Value;  // the value's name in the help ("S"); empty for a flag
    // The description; lines after the first are indented to the description column.
    std::string Help;
    // Takes the value (empty for a flag). False refuses it: with error set, that is the usage
    // error; left empty, the error is "NAME takes TAKES".
    std::function<bool(const std::string& value, std::string& error)> Take;
    std::string Takes;  // what the value must be, for a value missing or refused
    bool Required = false;
};
using Options = std::vector<Option>;

// Reads args by the table: options anywhere, everything else (and "-") an operand. False with
// the usage error's text when an option is unknown to `command`, lacks its value or refuses it.
bool ParseOptions(const std::string& command, const Options& table, const std::vector<std::string>& args,
                  std::vector<std::string>& operands, std::string& error);
// "NAME OPERANDS [--option VALUE] ...", wrapped before 104 columns.
std::string Synopsis(const std::string& nameAndOperands, const Options& table);
// The table's help lines, each description starting at `column`.
std::string OptionsHelp(const Options& table, std::size_t column);

// A flag that runs `set`.
Option Flag(std::string name, std::string help, std::function<void()> set);
// An option whose value is a whole number from lo to hi.
Option Number(std::string name, std::string value, std::string help, std::int64_t lo, std::int64_t hi,
              std::int64_t& out, std::string takes);
// --speed S, 12 to 100.
Option SpeedOption(int& speed, std::string help);
// --baud N, 50 to 4,000,000 bits per second.
Option BaudOption(std::int64_t& baud, std::string help);
// --plain and --svg-text, which every command that reads a drawing takes.
Options ReadingOptions(TPlotReading& reading);

}  // namespace cli
