// JSON text for `list --json`: one object per line, readable by any program
// whatever bytes a name holds.
#pragma once

#include <string>

namespace arcovelo::cli {

// `text` as a JSON string literal. Valid UTF-8 is kept; quote, backslash and
// control characters are escaped; each byte that is not part of valid UTF-8
// becomes \udcXX (XX the byte), the lone surrogate Python's "surrogateescape"
// gives it, so os.fsencode() turns the parsed name back into the very bytes.
std::string JsonString(const std::string& text);

}  // namespace arcovelo::cli
