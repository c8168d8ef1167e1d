#include "Words.h"

#include <unordered_map>

namespace quor::tools::catalogue {
namespace {

using Table = std::unordered_map<std::string_view, const char*>;

// Keys are normalised: simplified characters, lower-case Latin, no blanks.
const Table& Languages() {
  static const Table table = {
      {"国语", "国语"},     {"普通话", "国语"}, {"华语", "国语"},     {"国", "国语"},
      {"中文", "国语"},     {"汉语", "国语"},   {"mandarin", "国语"}, {"粤语", "粤语"},
      {"广东话", "粤语"},   {"粤", "粤语"},     {"白话", "粤语"},     {"cantonese", "粤语"},
      {"英文", "英语"},     {"英语", "英语"},   {"英", "英语"},       {"english", "英语"},
      {"闽南语", "闽南"},   {"闽南", "闽南"},   {"闽南话", "闽南"},   {"台语", "闽南"},
      {"台湾话", "闽南"},   {"河洛话", "闽南"}, {"hokkien", "闽南"},  {"其他", "其他"},
      {"其它", "其他"},     {"日语", "其他"},   {"日文", "其他"},     {"韩语", "其他"},
      {"韩文", "其他"},     {"泰语", "其他"},   {"外语", "其他"},     {"客家话", "其他"},
      {"japanese", "其他"}, {"korean", "其他"}, {"other", "其他"},    {"others", "其他"},
  };
  return table;
}

const Table& Types() {
  static const Table table = {
      {"流行", "流行"},     {"流行歌曲", "流行"}, {"流行歌", "流行"},   {"pop", "流行"},
      {"怀旧", "怀旧"},     {"怀旧金曲", "怀旧"}, {"老歌", "怀旧"},     {"经典老歌", "怀旧"},
      {"经典", "怀旧"},     {"金曲", "怀旧"},     {"民歌", "民歌"},     {"民谣", "民歌"},
      {"民族", "民歌"},     {"folk", "民歌"},     {"少儿", "少儿"},     {"儿歌", "少儿"},
      {"儿童", "少儿"},     {"童谣", "少儿"},     {"children", "少儿"}, {"情歌", "情歌"},
      {"情歌对唱", "情歌"}, {"对唱", "情歌"},     {"军旅", "军旅"},     {"军歌", "军旅"},
      {"军旅歌曲", "军旅"}, {"部队", "军旅"},     {"戏曲", "戏曲"},     {"戏剧", "戏曲"},
      {"京剧", "戏曲"},     {"越剧", "戏曲"},     {"黄梅戏", "戏曲"},   {"豫剧", "戏曲"},
      {"粤剧", "戏曲"},     {"评剧", "戏曲"},     {"昆曲", "戏曲"},     {"川剧", "戏曲"},
      {"其他", "其他"},     {"其它", "其他"},     {"other", "其他"},    {"others", "其他"},
  };
  return table;
}

const Table& Sexes() {
  static const Table table = {
      {"男", "男"},     {"男歌手", "男"},  {"男歌星", "男"}, {"男星", "男"},   {"男声", "男"},
      {"m", "男"},      {"male", "男"},    {"man", "男"},    {"女", "女"},     {"女歌手", "女"},
      {"女歌星", "女"}, {"女星", "女"},    {"女声", "女"},   {"f", "女"},      {"female", "女"},
      {"woman", "女"},  {"组合", "组合"},  {"乐队", "组合"}, {"乐团", "组合"}, {"团体", "组合"},
      {"组", "组合"},   {"group", "组合"}, {"band", "组合"},
  };
  return table;
}

std::optional<std::string> Find(const Table& table, std::string_view key) {
  if (const auto it = table.find(key); it != table.end()) return std::string(it->second);
  return std::nullopt;
}

}  // namespace

const std::vector<std::string>& LanguageWords() {
  static const std::vector<std::string> words = {"国语", "粤语", "英语", "闽南", "其他"};
  return words;
}

const std::vector<std::string>& TypeWords() {
  static const std::vector<std::string> words = {"流行", "怀旧", "民歌", "少儿",
                                                 "情歌", "军旅", "戏曲", "其他"};
  return words;
}

std::optional<std::string> LanguageOf(std::string_view key) {
  return Find(Languages(), key);
}

std::optional<std::string> TypeOf(std::string_view key) {
  return Find(Types(), key);
}

std::optional<std::string> SexOf(std::string_view key) {
  return Find(Sexes(), key);
}

}  // namespace quor::tools::catalogue
