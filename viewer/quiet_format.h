// The quiet rewrite of output formats: blanks become tabs, parentheses and
// field widths disappear.
#pragma once

namespace zel {

// Rewrites format into a static buffer of 256 bytes (each call replaces the
// previous result, so use it at once). Returns format unchanged when quiet is
// off.
const char* QuietFormat(const char* format, bool quiet);

}  // namespace zel
