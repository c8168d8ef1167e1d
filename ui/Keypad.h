#pragma once
// The keypad's letter entry. Keys 1 to 8 each carry three upper-case
// letters, A to X in order (key 1: A B C, key 2: D E F, ... key 8: V W X);
// key 9 carries Y and Z; key 10 ("next letter") makes the next letter key
// append instead of changing the last letter. A key pressed again cycles
// its letters in place (multi-tap). These are not a telephone keypad's
// groups. Pure functions, any thread.

#include <string>

namespace quor::ui {

// The letters typed so far and the pending "next letter" flag.
struct LetterEntry {
  std::string text;
  bool nextLetterPending = false;
};

// The letters of keys 1 to 8 (first, second, third); key outside 1..8: 0s.
struct KeyLetters {
  char first = 0;
  char second = 0;
  char third = 0;
};
KeyLetters LettersOfKey(int key);

// A three-letter key: empty text becomes first (the flag stays as it is);
// with the flag set, first is appended and the flag cleared; otherwise the
// last letter moves on: first to second, second to third, third to first,
// and a letter of another key becomes first.
LetterEntry CycleLetter(LetterEntry entry, char first, char second, char third);

// Key 9: empty text becomes "Y"; with the flag set, "Y" is appended and the
// flag cleared; otherwise a last "Y" becomes "Z" and any other last letter,
// "Z" included, becomes "Y".
LetterEntry CycleYZ(LetterEntry entry);

// The letter delete: the flag is cleared and the last letter removed.
LetterEntry DeleteLetter(LetterEntry entry);

// Whether text is made only of the letters the keypad types (A to Z), or
// only of decimal digits; the empty text is neither.
bool KeypadLetters(const std::string& text);
bool KeypadDigits(const std::string& text);

}  // namespace quor::ui
