#pragma once
// Word lists and the generator of the demo catalogue's singers and songs.
// Everything is drawn from a seeded generator, so one seed always gives the
// same catalogue. Names and titles are made up from common words; no real
// person's name is needed. Texts are UTF-8.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quor::tools::demo {

// The eight category words and the five language words of the catalogue.
extern const std::vector<std::string> kTypes;
extern const std::vector<std::string> kLanguages;

struct Singer {
  std::string sex;    // 男, 女 or 组合
  std::string name;   // unique
  std::string photo;  // file name under Photo/
};

struct Song {
  std::string title;
  // The title's words: their initials make FIRSTWORD (computed per word).
  std::vector<std::string> words;
  std::string type;
  std::string language;
  std::size_t singer = 0;  // index into the singers
};

class NameGenerator {
 public:
  explicit NameGenerator(std::uint32_t seed) : rng_(seed) {}

  // male + female + groups singers, in that order, with unique names.
  std::vector<Singer> Singers(int male, int female, int groups);
  Song NextSong(std::size_t singerCount);

 private:
  std::string PersonName(bool male);
  std::string GroupName();
  std::vector<std::string> ChineseTitle();
  std::vector<std::string> EnglishTitle();
  template <class T>
  const T& Pick(const std::vector<T>& v) {
    return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng_)];
  }
  std::size_t Weighted(const std::vector<int>& weights);

  std::mt19937 rng_;
};

}  // namespace quor::tools::demo
