#include "Names.h"

#include <set>

namespace quor::tools::demo {

const std::vector<std::string> kTypes = {"流行", "怀旧", "民歌", "少儿",
                                         "情歌", "军旅", "戏曲", "其他"};
const std::vector<std::string> kLanguages = {"国语", "粤语", "英语", "闽南", "其他"};

namespace {

using Words = std::vector<std::string>;

const Words kSurnames = {"王", "李", "张", "刘", "陈", "杨",   "黄",   "赵",  "吴", "周", "徐",
                         "孙", "马", "朱", "胡", "郭", "何",   "林",   "高",  "罗", "郑", "梁",
                         "谢", "宋", "唐", "许", "韩", "冯",   "邓",   "曹",  "彭", "曾", "田",
                         "董", "潘", "袁", "蔡", "蒋", "余",   "杜",   "叶",  "程", "魏", "苏",
                         "吕", "丁", "沈", "钟", "姜", "崔",   "陆",   "范",  "汪", "石", "金",
                         "夏", "方", "白", "秦", "江", "欧阳", "司马", "上官"};
const Words kMaleGiven = {"伟",   "强",   "磊",   "军",   "洋",   "勇",   "杰",   "涛",
                          "明",   "超",   "辉",   "刚",   "健",   "峰",   "宇",   "浩",
                          "凯",   "鹏",   "翔",   "龙",   "建华", "志强", "俊",   "晨",
                          "博文", "子轩", "天宇", "立新", "海",   "阳",   "文斌", "家豪"};
const Words kFemaleGiven = {"芳",   "娜",   "敏", "静",   "丽",   "艳",   "娟",   "霞",
                            "婷",   "雪",   "琳", "晶",   "颖",   "倩",   "琪",   "佳",
                            "欣",   "悦",   "婉", "蓉",   "薇",   "雨涵", "诗琪", "梦瑶",
                            "晓燕", "美玲", "慧", "若曦", "小凤", "紫萱"};
const Words kGroupHeads = {"星光", "飞鸟", "蓝调", "晨曦", "彩虹", "青春", "旋风", "流星",
                           "北极", "海风", "月光", "火焰", "水晶", "雷霆", "甜心", "银河"};
const Words kGroupTails = {"组合", "乐队", "乐团", "兄弟", "姐妹", "少年团", "合唱团", "二人组"};

const Words kNouns = {"月亮", "星空", "夜空", "春风", "细雨", "海洋", "天空", "城市", "花开",
                      "时光", "岁月", "青春", "梦想", "故乡", "远方", "雪花", "彩虹", "阳光",
                      "玫瑰", "蝴蝶", "微风", "清晨", "黄昏", "秋天", "冬天", "夏天", "春天",
                      "河流", "山丘", "灯火", "街角", "窗外", "心愿", "誓言", "约定", "回忆",
                      "思念", "眼泪", "笑容", "歌声", "旋律", "烟火", "港湾", "小船", "列车",
                      "站台", "信笺", "草原", "长江", "家乡", "妈妈", "朋友", "爱情", "童年"};
const Words kModifiers = {"美丽", "温柔", "孤单", "永远", "遥远", "快乐", "寂寞", "甜蜜", "勇敢",
                          "最初", "最后", "今夜", "明天", "昨天", "心中", "我们", "你",   "我"};
const Words kVerbs = {"等待", "相信", "想念", "守护", "追逐", "拥抱", "告别",
                      "飞向", "回到", "走过", "唱给", "寻找", "带走", "留住"};
const Words kEnglishAdjectives = {"Blue",   "Sweet", "Golden",  "Silent", "Wild",     "Young",
                                  "Lonely", "Happy", "Endless", "Summer", "Midnight", "Little"};
const Words kEnglishNouns = {"Love", "Rain",  "Night", "Dream", "Heart",  "Star", "Moon",
                             "Sky",  "Home",  "Light", "Road",  "Ocean",  "City", "Dance",
                             "Fire", "Angel", "River", "Song",  "Memory", "Wind"};

}  // namespace

std::size_t NameGenerator::Weighted(const std::vector<int>& weights) {
  std::discrete_distribution<std::size_t> d(weights.begin(), weights.end());
  return d(rng_);
}

std::string NameGenerator::PersonName(bool male) {
  return Pick(kSurnames) + Pick(male ? kMaleGiven : kFemaleGiven);
}

std::string NameGenerator::GroupName() {
  return Pick(kGroupHeads) + Pick(kGroupTails);
}

std::vector<Singer> NameGenerator::Singers(int male, int female, int groups) {
  std::vector<Singer> out;
  std::set<std::string> taken;
  auto add = [&](const char* sex, auto make) {
    std::string name;
    do {
      name = make();
    } while (!taken.insert(name).second);
    char file[32];
    std::snprintf(file, sizeof file, "s%03zu.jpg", out.size() + 1);
    out.push_back(Singer{sex, name, file});
  };
  for (int i = 0; i < male; ++i) add("男", [&] { return PersonName(true); });
  for (int i = 0; i < female; ++i) add("女", [&] { return PersonName(false); });
  for (int i = 0; i < groups; ++i) add("组合", [&] { return GroupName(); });
  return out;
}

std::vector<std::string> NameGenerator::ChineseTitle() {
  switch (Weighted({4, 3, 3, 2, 2})) {
    case 0:
      return {Pick(kModifiers), "的", Pick(kNouns)};
    case 1:
      return {Pick(kVerbs), Pick(kNouns)};
    case 2:
      return {Pick(kNouns), Pick(kNouns)};
    case 3:
      return {Pick(kNouns), "的", Pick(kNouns)};
    default:
      return {"在", Pick(kNouns), "里"};
  }
}

std::vector<std::string> NameGenerator::EnglishTitle() {
  switch (Weighted({3, 2, 1})) {
    case 0:
      return {Pick(kEnglishAdjectives), Pick(kEnglishNouns)};
    case 1:
      return {Pick(kEnglishNouns), "of", Pick(kEnglishNouns)};
    default:
      return {"My", Pick(kEnglishNouns)};
  }
}

Song NameGenerator::NextSong(std::size_t singerCount) {
  Song s;
  s.language = kLanguages[Weighted({50, 20, 10, 12, 8})];
  s.type = kTypes[Weighted({30, 12, 10, 6, 20, 5, 5, 12})];
  s.words = s.language == "英语" ? EnglishTitle() : ChineseTitle();
  for (std::size_t i = 0; i < s.words.size(); ++i) {
    if (i > 0 && s.language == "英语") s.title += ' ';
    s.title += s.words[i];
  }
  s.singer = std::uniform_int_distribution<std::size_t>(0, singerCount - 1)(rng_);
  return s;
}

}  // namespace quor::tools::demo
