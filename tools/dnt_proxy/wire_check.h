// The one place where text the proxy did not read off the wire itself is
// judged before it is written: into an HTTP head (what the engine's scripts
// ask for: fields, a request target, a reason phrase), or into the text
// access log. Base scripts are data from outside; the proxy never writes a
// head it would refuse to parse, nor a log line that reads as two.
#pragma once

#include <string>
#include <string_view>

namespace dnt_proxy {

/// A field name: one or more token characters.
bool IsFieldName(std::string_view name);

/// A field value: visible characters, blanks and bytes beyond ASCII; no
/// control character (CR and LF among them) but the tab.
bool IsFieldValue(std::string_view value);

/// A reason phrase: as a field value.
bool IsReasonPhrase(std::string_view reason);

/// A request target in origin form: '/' then visible characters or bytes
/// beyond ASCII; no blank, no control character, no '#'.
bool IsOriginTarget(std::string_view target);

/// `text` for one line of the text log: control characters (C0, DEL and
/// C1), the Unicode line and paragraph separators and bytes that are not
/// UTF-8 are written as escapes ("\n", "\r", "\t", "\xHH"), and a
/// backslash as "\\", so that the line cannot be read as two nor hide
/// what it holds.
std::string LogText(std::string_view text);

}  // namespace dnt_proxy
