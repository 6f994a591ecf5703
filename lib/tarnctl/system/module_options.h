// Module option strings: parsing ("name=value" tokens), formatting, and the
// checks of values against the C types the module file declares.
#pragma once

#include <map>
#include <string>

#include "system/module_info.h"

namespace TarnCtl::System {

using ModuleOptionMap = std::map<std::string, std::string>;

// Splits at white space; a token without '=' is a parameter with an empty
// value, otherwise the name ends at the first '='. A later token for the same
// name replaces the earlier value.
ModuleOptionMap ParseOptions(const std::string& text);
// "name=value" tokens (a bare name for an empty value), space-separated.
std::string FormatOptions(const ModuleOptionMap& options);

// True when `value` passes the check of C type `type` ("int", "ushort",
// "byte", "array of uint", ...). Types without a check pass.
bool CheckParameterValue(const std::string& type, const std::string& value);

// Checks every option of `module` against the file's declared parameters:
// "Unable to set invalid module parameter " + name for an undeclared one,
// "Invalid value " + value + " for module parameter " + name for a value that
// fails its type, and the max_vfs format. A valid max_vfs posts the host event
// warning that per-device SR-IOV settings may override it.
void ValidateOptions(const std::string& module, const ModuleOptionMap& options, const ModuleFileInfo& info);

}  // namespace TarnCtl::System
