#pragma once

#include <cstddef>
#include <map>
#include <string>

// "type" -> sizeof, "type.field" -> offsetof and constant -> value for the
// entries of LayoutEntries.inc: once as the libraries' -dev headers declare
// them, once as the codec modules declare them for themselves.
std::map<std::string, size_t> HeaderLayouts();
std::map<std::string, size_t> DeclaredLayouts();
