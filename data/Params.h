#pragma once
// The parameter list of a client dataset: derived from its CommandText,
// packed into the variant that travels with AS_GetRecords, and refreshed from
// the variant the server hands back (output parameters).
//
// Pure functions over values; one thread at a time per list.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "remote/Variant.h"

namespace quor::data {

// Kinds of a parameter as they travel in a packed list.
enum class ParamType : std::int32_t {
  Unknown = 0,
  Input = 1,
  Output = 2,
  InputOutput = 3,
  Result = 4
};

struct Param {
  std::string name;  // GBK, as the statement spells it
  remote::Variant value;
  std::int32_t dataType = 0;  // 0: not known yet
  ParamType paramType = ParamType::Unknown;
};
using ParamList = std::vector<Param>;

// The parameter names of a statement, in order of first appearance, each
// once (names compare without letter case). A parameter is a colon outside
// quotes that is not doubled and is followed by a name: letters, digits,
// '_' and double-byte characters, or a name in double quotes. A doubled
// colon stands for one colon. The two bytes of a double-byte GBK character
// are taken together, so a trail byte never counts as a quote or colon.
std::vector<std::string> ScanParamNames(std::string_view commandTextGbk);

// A new list for the names of `commandTextGbk`, keeping the values of
// parameters of the same name in `old`.
ParamList RebuildParams(std::string_view commandTextGbk, const ParamList& old);

// The packed form: a variant array with one element per parameter, each an
// array of name (UTF-16), value, data type and parameter kind; an empty list
// packs to the null variant.
remote::Variant PackParams(const ParamList& params);

// Takes the values of a packed list into the parameters of the same name.
// Anything that is not a packed list, and elements that are malformed or
// name no parameter of the list, change nothing.
void UnpackParams(const remote::Variant& packed, ParamList& params);

}  // namespace quor::data
