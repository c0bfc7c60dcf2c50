#include "cli_options.h"

#include "settings/program_settings.h"

bool CliOptions::Parse(int argc, char** argv, int first, const std::set<std::string>& valued,
                       const std::set<std::string>& flags, std::string& error)
{
    for (int i = first; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--", 0) != 0) {
            error = "unexpected argument '" + argument + "'";
            return false;
        }
        std::string name = argument.substr(2);
        if (flags.count(name)) {
            flags_.insert(name);
        } else if (valued.count(name)) {
            if (i + 1 >= argc) {
                error = "option --" + name + " needs a value";
                return false;
            }
            values_[name] = argv[++i];
        } else {
            error = "unknown option --" + name;
            return false;
        }
    }
    return true;
}

std::optional<std::string> CliOptions::Value(const std::string& name) const
{
    auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

bool CliOptions::Has(const std::string& name) const { return flags_.count(name) || values_.count(name); }

bool ParseDimensions(const std::string& text, int& width, int& height)
{
    size_t x = text.find('x');
    return x != std::string::npos && ParseCount(text.substr(0, x), width) && ParseCount(text.substr(x + 1), height);
}

bool ParseCount(const std::string& text, int& value)
{
    return !text.empty() && text[0] != '-' && text[0] != '+' && ParseDecimalInt(text, value);
}
