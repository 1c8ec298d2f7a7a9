// Field extraction from delimited lines: GetField, TranslateChars, TrimNull.
#pragma once

#include <cstdint>
#include <vector>

#include "strings/text.h"

namespace skov {

// The n-th field (from 1) of a line; every character of the separator
// setting splits, the first one being the split character. Error 5 for
// n <= 0, error 6 where a position would pass 32767.
Text GetField(TextView line, int16_t n, TextView separators);

// Maps each character found in `from` onto the character at the same
// position of `to` (extended with its last character, or dropped if `to`
// is empty). Error 6 for texts of 32767 characters or more.
Text TranslateChars(TextView text, TextView from, TextView to, bool caseSensitive);

// The text before its first NUL. Error 6 when that NUL lies past 32767.
Text TrimNull(TextView text);

// Where the fields of `text` end when it is split at `split`: the position
// of each split character, then text.size(); k split characters give k + 1
// ends, and field i runs from the end before it (plus one) to ends[i].
void FieldEnds(TextView text, char16_t split, std::vector<uint32_t>& ends);

// All fields of a line at once, exactly as GetField(line, 1..k+1) gives them
// for a line with k split characters; one pass instead of one per field.
// Raises the errors GetField raises on the way to the line's end. Returns
// the text the fields lie in: `line`, or `scratch` where the setting maps
// characters onto the split character; `ends` as FieldEnds gives them.
TextView SplitFieldEnds(TextView line, TextView separators, Text& scratch, std::vector<uint32_t>& ends);
// The same fields as views into the returned text; valid while it lives.
std::vector<TextView> SplitFieldViews(TextView line, TextView separators, Text& scratch);

}  // namespace skov
