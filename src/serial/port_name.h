// The port names the program knows: "Com1" to "Com9".
#pragma once

#include <string_view>

namespace tvx::serial {

/// The port number 1..9 of a name "Com1".."Com9" (the letters in any case, as the operator may
/// type them), or 0 for any other name: empty, with wildcards, another prefix, another number.
int ComPortNumber(std::string_view name);

}  // namespace tvx::serial
