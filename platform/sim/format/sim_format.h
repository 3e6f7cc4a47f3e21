// printf-style formatting of the simulated platform, shared by the log and the shell's output.
//
// Every printf conversion is supported (flags, field width and precision, "*" taken from the arguments, the
// length modifiers hh h l ll z j t L), plus "%r": its argument is a `const void *` to the 4 bytes of an IPv4
// address in network order, printed dotted ("10.1.2.3") with the "-" flag, width and precision applied as
// "%s" applies them. The result has no length limit. An unknown conversion is copied to the output as written
// and consumes no argument.
#pragma once

#include <cstdarg>
#include <string>

namespace sim {

// Formats fmt with the arguments of ap. ap is read through a copy, so the caller's list is left as it was.
std::string vformat(const char *fmt, va_list ap);
// As vformat, appending the text to out ("%n" counts from where this text begins).
void vformat_append(std::string &out, const char *fmt, va_list ap);
// Formats fmt with the arguments that follow it.
std::string format(const char *fmt, ...);

}  // namespace sim
