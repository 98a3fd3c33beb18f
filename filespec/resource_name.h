// The naming rule: a resource name is the file's path, upper-cased, without drive
// or server prefix, with '/' as separator; with junked paths only the last component.
#pragma once

#include <string>
#include <string_view>

#include "platform/path_rules.h"

std::string deriveResourceName(std::string_view path, bool junkPaths, const PathRules& rules);
// The same, into `name`, whose storage is reused from file to file.
void deriveResourceName(std::string_view path, bool junkPaths, const PathRules& rules, std::string& name);
