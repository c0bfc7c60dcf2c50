// Command-line options: "--name value" pairs and "--flag" switches after the command word.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

class CliOptions {
public:
    // False with `error` set for an unknown option or a missing value.
    bool Parse(int argc, char** argv, int first, const std::set<std::string>& valued, const std::set<std::string>& flags,
               std::string& error);
    std::optional<std::string> Value(const std::string& name) const;
    bool Has(const std::string& name) const;

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
};

// "1280x720" -> 1280, 720.
bool ParseDimensions(const std::string& text, int& width, int& height);
// Whole non-negative number.
bool ParseCount(const std::string& text, int& value);
