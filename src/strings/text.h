// Texts as 16-bit character sequences, and their Windows-1252 / UTF-8 forms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace skov {

using Text = std::u16string;
using TextView = std::u16string_view;

// Every byte decodes, 0x80-0x9F included (the five unassigned ones map to
// U+0081 etc., as Windows does).
Text FromCp1252(std::string_view bytes);
// FromCp1252 into out, reusing its storage.
void AssignCp1252(Text& out, std::string_view bytes);
// Characters without a Windows-1252 form become '?'.
std::string ToCp1252(TextView text);
void AppendCp1252(std::string& out, TextView text);
// The same into out[0, text.size()); returns the end of what was written.
char* EncodeCp1252(TextView text, char* out);

// File names on Linux are UTF-8; invalid sequences decode to U+FFFD.
Text FromUtf8(std::string_view utf8);
std::string ToUtf8(TextView text);
// File names and paths: any bytes, mostly UTF-8. A byte outside valid UTF-8
// stands as U+DC80..U+DCFF (shown as '?' or U+FFFD), so that every name the
// folder gives opens again.
Text FromFileName(std::string_view bytes);
std::string ToFileName(TextView name);

// Letter case ignored for ASCII and Latin-1 letters (the field-name keys).
bool EqualsIgnoreCase(TextView a, TextView b);

// A non-negative number with the sign position as a leading space (" 1").
Text NumberText(long value);

// 16-bit counter step with the runtime's overflow check (error 6).
int16_t Increment16(int16_t value);

}  // namespace skov
