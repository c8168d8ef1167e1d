#include "CatalogueStore.h"

namespace quor::tools::catalogue {

// One index per column a terminal statement filters on:
//   select * from singer where SEX="男"                     singer_sex
//   ... from vodinfo where SINGER="name" / Singer="name"    vodinfo_singer
//   ... where TYPE='流行' / SONGLANGUAGE='国语'               vodinfo_type, vodinfo_language
//   ... where FIRSTWORD like "AB%"                          vodinfo_firstword
//   ... where SINGID=10023                                  the primary key, or vodinfo_singid
const std::vector<IndexInfo>& CatalogueIndexes() {
  static const std::vector<IndexInfo> indexes = {
      {"singer_sex", "singer", "SEX"},
      {"vodinfo_singer", "vodinfo", "SINGER"},
      {"vodinfo_type", "vodinfo", "TYPE"},
      {"vodinfo_language", "vodinfo", "SONGLANGUAGE"},
      {"vodinfo_firstword", "vodinfo", "FIRSTWORD"},
      {"vodinfo_singid", "vodinfo", "SINGID"},
  };
  return indexes;
}

}  // namespace quor::tools::catalogue
