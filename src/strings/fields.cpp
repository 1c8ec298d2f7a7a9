// GetField, TranslateChars, TrimNull with the runtime's 16-bit position limits.
#include "strings/fields.h"

#include "strings/runtime_error.h"

namespace skov {
namespace {

constexpr long kMax16 = 32767;

// A 16-bit position or count; past 32767 it is error 6.
int16_t Pos16(long value) {
  if (value > kMax16 || value < -32768) Raise(kOverflow);
  return static_cast<int16_t>(value);
}

bool SameChar(char16_t a, char16_t b, bool caseSensitive) {
  return caseSensitive ? a == b : EqualsIgnoreCase(TextView(&a, 1), TextView(&b, 1));
}

}  // namespace

Text TranslateChars(TextView text, TextView from, TextView to, bool caseSensitive) {
  if (static_cast<long>(text.size()) >= kMax16) Raise(kOverflow);
  if (from.empty()) return Text(text);
  Text target(to);
  if (!target.empty()) {
    target.append(from.size(), target.back());
    target.resize(from.size());
  }
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    size_t p = 0;
    while (p < from.size() && !SameChar(from[p], c, caseSensitive)) ++p;
    if (p == from.size()) {
      out.push_back(c);
    } else if (!target.empty()) {
      out.push_back(target[p]);
    }
  }
  return out;
}

Text GetField(TextView line, int16_t n, TextView separators) {
  if (separators.empty()) {
    if (n <= 0) Raise(kInvalidArgument);
    return Text();
  }
  Text translated;
  if (separators.size() > 1) {
    translated = TranslateChars(line, separators, separators.substr(0, 1), true);
    line = translated;
  }
  const char16_t split = separators[0];
  int16_t previous = 0, current = 0, hit = 0, remaining = n;
  while (remaining > 0) {
    previous = current;
    size_t start = static_cast<size_t>(Pos16(long{current} + 1)) - 1;
    size_t found = line.find(split, start);
    hit = found == TextView::npos ? 0 : Pos16(static_cast<long>(found) + 1);
    if (hit > 0) {
      current = hit;
      --remaining;
    } else {
      current = Pos16(static_cast<long>(line.size()) + 1);
      break;
    }
  }
  if (hit != 0 || remaining == n || remaining <= 1) {
    long length = long{current} - previous - 1;
    if (length < 0) Raise(kInvalidArgument);
    return Text(line.substr(static_cast<size_t>(previous), static_cast<size_t>(length)));
  }
  return Text();
}

Text TrimNull(TextView text) {
  size_t p = text.find(u'\0');
  if (p == TextView::npos) return Text(text);
  Pos16(static_cast<long>(p) + 1);
  return Text(text.substr(0, p));
}

SplitSource PrepareSplit(TextView line, TextView separators, Text& scratch) {
  if (separators.empty()) return {};
  // Reaching the line's end is where GetField overflows on long lines.
  if (static_cast<long>(line.size()) >= kMax16) {
    Raise(kOverflow, "line of 32767 characters or more",
          u"Die Zeile ist zu lang (32767 Zeichen oder mehr, erlaubt sind 32766).");
  }
  if (separators.size() > 1) {
    scratch = TranslateChars(line, separators, separators.substr(0, 1), true);
    line = scratch;
  }
  return {line, separators[0]};
}

std::vector<TextView> SplitFieldViews(TextView line, TextView separators, Text& scratch) {
  const SplitSource source = PrepareSplit(line, separators, scratch);
  std::vector<TextView> fields;
  size_t start = 0;
  ForEachFieldEnd(source.text, source.split, [&](uint32_t end) {
    fields.push_back(source.text.substr(start, end - start));
    start = size_t{end} + 1;
  });
  return fields;
}

}  // namespace skov
