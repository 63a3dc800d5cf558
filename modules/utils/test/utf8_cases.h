#pragma once

// UTF-8 <-> wide text at every length boundary and for every kind of broken sequence, shared by
// the Linux and the Windows tests. The wide side is written as compiler literals, so the table
// holds UTF-16 pairs on Windows and single UTF-32 units on Linux without computing either.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/path.h"

namespace vantisol::test {

struct Utf8Case {
  const char* what;
  std::string utf8;
  std::wstring wide;
  // False: the UTF-8 side is broken and decodes to `wide`, but `wide` encodes to other bytes.
  bool round_trip;
};

inline std::vector<Utf8Case> Utf8Cases() {
  using std::string_literals::operator""s;
  return {
      {"empty", "", L"", true},
      {"U+0000 inside", "a\0b"s, std::wstring(L"a\0b", 3), true},
      {"U+007F, last of one byte", "\x7F", L"\x7F", true},
      {"U+0080, first of two bytes", "\xC2\x80", L"\u0080", true},
      {"U+07FF, last of two bytes", "\xDF\xBF", L"\u07FF", true},
      {"U+0800, first of three bytes", "\xE0\xA0\x80", L"\u0800", true},
      {"U+D7FF, last before the surrogates", "\xED\x9F\xBF", L"\uD7FF", true},
      {"U+E000, first after the surrogates", "\xEE\x80\x80", L"\uE000", true},
      {"U+FFFF, last of three bytes", "\xEF\xBF\xBF", L"\uFFFF", true},
      {"U+10000, first of four bytes", "\xF0\x90\x80\x80", L"\U00010000", true},
      {"U+10FFFF, the last code point", "\xF4\x8F\xBF\xBF", L"\U0010FFFF", true},
      {"a mixed name", "Vid\xC3\xA9o \xD0\x96 \xE2\x82\xAC \xF0\x9F\x8E\xA5",
       L"Vid\u00E9o \u0416 \u20AC \U0001F3A5", true},
      // Cut sequences: one replacement for the cut part, the rest of the text kept.
      {"two-byte sequence cut at the end", "a\xC3", L"a\uFFFD", false},
      {"three-byte sequence cut at the end", "a\xE2\x82", L"a\uFFFD", false},
      {"four-byte sequence cut at the end", "a\xF0\x9F\x98", L"a\uFFFD", false},
      {"sequence cut inside the text", "\xE2\x82z", L"\uFFFDz", false},
      {"lone continuation byte", "\x80", L"\uFFFD", false},
      {"byte that never occurs", "\xFF", L"\uFFFD", false},
      // Overlong forms, surrogates and values past U+10FFFF: every byte is replaced.
      {"overlong U+0000", "\xC0\x80", L"\uFFFD\uFFFD", false},
      {"overlong U+007F", "\xC1\xBF", L"\uFFFD\uFFFD", false},
      {"overlong U+07FF", "\xE0\x9F\xBF", L"\uFFFD\uFFFD\uFFFD", false},
      {"overlong U+FFFF", "\xF0\x8F\xBF\xBF", L"\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"encoded surrogate U+D800", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD", false},
      {"U+110000", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"lead byte of a five-byte form", "\xF8\x88\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD",
       false},
  };
}

// Wide text that has no UTF-8 form: lone surrogates become U+FFFD.
struct WideCase {
  const char* what;
  std::wstring wide;
  std::string utf8;
};

inline std::vector<WideCase> BrokenWideCases() {
  return {
      {"lone high surrogate at the end", std::wstring(L"a") + wchar_t(0xD800), "a\xEF\xBF\xBD"},
      {"high surrogate before a letter", std::wstring(1, wchar_t(0xDBFF)) + L"b",
       "\xEF\xBF\xBD"
       "b"},
      {"lone low surrogate", std::wstring(1, wchar_t(0xDC00)), "\xEF\xBF\xBD"},
  };
}

inline void ExpectUtf8Conversions() {
  for (const Utf8Case& c : Utf8Cases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
    if (c.round_trip) {
      EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
      EXPECT_EQ(path(c.wide, path::windows_path).str(path::windows_path), c.utf8);
    }
  }
  for (const WideCase& c : BrokenWideCases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
  }
}

}  // namespace vantisol::test
