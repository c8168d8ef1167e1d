#include "ui/Keypad.h"

#include <algorithm>

namespace quor::ui {

KeyLetters LettersOfKey(int key) {
  if (key < 1 || key > 8) return {};
  const char first = static_cast<char>('A' + 3 * (key - 1));
  return {first, static_cast<char>(first + 1), static_cast<char>(first + 2)};
}

LetterEntry CycleLetter(LetterEntry entry, char first, char second, char third) {
  if (entry.text.empty()) {
    entry.text.assign(1, first);
  } else if (entry.nextLetterPending) {
    entry.text.push_back(first);
    entry.nextLetterPending = false;
  } else {
    char& last = entry.text.back();
    last = last == first ? second : last == second ? third : first;
  }
  return entry;
}

LetterEntry CycleYZ(LetterEntry entry) {
  if (entry.text.empty()) {
    entry.text.assign(1, 'Y');
  } else if (entry.nextLetterPending) {
    entry.text.push_back('Y');
    entry.nextLetterPending = false;
  } else {
    char& last = entry.text.back();
    last = last == 'Y' ? 'Z' : 'Y';
  }
  return entry;
}

LetterEntry DeleteLetter(LetterEntry entry) {
  entry.nextLetterPending = false;
  if (!entry.text.empty()) entry.text.pop_back();
  return entry;
}

bool KeypadLetters(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool KeypadDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace quor::ui
