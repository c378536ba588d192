// The tool's messages on standard output.
#pragma once

#include <string>

#include "hid/Device.h"

// Formats one message printf-style and writes it to standard output in one
// piece, flushed at once, so that piped output appears while the tool runs
// and nothing is lost when it ends.
void WriteMessage(const char* format, ...);

// Text in the console's narrow character set: a character the set cannot
// show comes out as '?', and the rest of the text is kept.
std::string ConsoleText(const MaruvelHID::WideString& text);
